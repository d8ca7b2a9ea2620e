#pragma once

// Builder test doubles: a point of contract values read through an accessor that counts its
// calls, test-only host types wider than the host's own (8 and 24 bytes), and read-back of the
// cloud a builder holds.

#include "builder/PointCloudDataBuilderFactory.h"
#include "host/core/Factory.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

namespace builder_test
{

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataBuilder;
using orv::Data::Cloud::PointCloudDataBuilderFactory;
using orv::DataProxy::RgbaColor;

// One point's contract values; indices 0..3 of every component.
struct TestPoint
{
    GPointDouble position{0.0, 0.0, 0.0};
    std::optional<GVector3> vector3[4];
    std::optional<std::uint64_t> unsignedInteger[4];
    std::optional<std::int64_t> signedInteger[4];
    std::optional<double> real[4];
    std::optional<RgbaColor> color[4];

    // Sets value i of the component of v's type; gives that component.
    C Set(std::uint8_t i, GVector3 v) { return vector3[i] = v, C::Vector3; }
    C Set(std::uint8_t i, std::uint64_t v) { return unsignedInteger[i] = v, C::UnsignedInteger; }
    C Set(std::uint8_t i, std::int64_t v) { return signedInteger[i] = v, C::SignedInteger; }
    C Set(std::uint8_t i, double v) { return real[i] = v, C::Real; }
    C Set(std::uint8_t i, RgbaColor v) { return color[i] = v, C::Color; }
};

// Reads a TestPoint and counts calls per component (Position = 0 .. Color = 6).
class TestAccessor final : public orv::DataProxy::IPointDataAccessor
{
public:
    TestPoint point;
    mutable int calls[7] = {};

    GPointDouble GetPosition() const override { return ++calls[0], point.position; }
    std::uint64_t GetPointIndex() const override { return ++calls[1], 0; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return ++calls[2], At(point.vector3, i);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return ++calls[3], At(point.unsignedInteger, i);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        return ++calls[4], At(point.signedInteger, i);
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return ++calls[5], At(point.real, i);
    }
    std::optional<RgbaColor> GetColor(unsigned char i) const override
    {
        return ++calls[6], At(point.color, i);
    }

private:
    template <class T>
    static std::optional<T> At(const std::optional<T> (&values)[4], unsigned char i)
    {
        return i < 4 ? values[i] : std::nullopt;
    }
};

inline PointCloud CloudOf(const std::shared_ptr<orv::DataProxy::IPointDataProvider>& provider)
{
    return dynamic_cast<const orv::Data::Cloud::PointCloudDataProvider&>(*provider).GetPointCloud();
}

inline std::uint64_t SizeOf(orv::DataProxy::IPointDataBuilder& builder)
{
    return CloudOf(builder.GetResult()).GetPointCount();
}

} // namespace builder_test
