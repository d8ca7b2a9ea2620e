#pragma once

// Fixtures of the stress and fault-injection suites: clouds generated point by point (no
// vector of test points, so millions of points cost only the cloud), an accessor over one
// point's values, and an order-independent point checksum.

#include "contract/Interfaces.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace orv::Reliability
{

using orv::Data::Cloud::PointCloud;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::GPointDouble;
using orv::DataProxy::GVector3;
using orv::DataProxy::RgbaColor;
using orv::Math::Algebra::Matrix3x4;

// The value of each extra-data type of generated point i.
inline std::uint8_t ClassOf(std::uint64_t i)
{
    return static_cast<std::uint8_t>(i * 7);
}
inline std::uint32_t ScanIdOf(std::uint64_t i)
{
    return static_cast<std::uint32_t>(i ^ 0x5A5A5A5Au);
}
inline float IntensityOf(std::uint64_t i)
{
    return static_cast<float>(i % 100000) * 0.25f;
}
inline GVector3 NormalOf(std::uint64_t i)
{
    return i % 3 == 0 ? GVector3{0, 0, 1} : i % 3 == 1 ? GVector3{0.6, 0.8, 0} : GVector3{1, 0, 0};
}

// `n` points on a grid in a rotated, far-away frame, with classification, scan id,
// intensity and normal, subsets of `capacity` points; every 97th point and the whole second
// subset hidden.
inline PointCloud GeneratedCloud(std::uint64_t n, std::uint32_t capacity)
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    GCloud& host = cloud.Convert();
    host.SetSubsetCapacity(capacity);
    const double c = 0.8;
    const double s = 0.6;
    host.SetMatrix(Matrix3x4{{c, -s, 0, s, c, 0, 0, 0, 1, 652000.0, 5180000.0, 300.0}});
    GPointDouble position{};
    std::uint8_t classification = 0;
    std::uint32_t scanId = 0;
    float intensity = 0.0f;
    orv::Math::Algebra::CompressedVector32Bits normal;
    GCloudPointData record(&position);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    record.AddExtraData(CloudScanIDExtraData::TypeId(), &scanId);
    record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &intensity);
    record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
    for (std::uint64_t i = 0; i < n; ++i)
    {
        position = {652000.0 + static_cast<double>(i % 1000) * 0.5,
                    5180000.0 + static_cast<double>(i / 1000) * 0.5,
                    300.0 + static_cast<double>(i % 17)};
        classification = ClassOf(i);
        scanId = ScanIdOf(i);
        intensity = IntensityOf(i);
        normal.VectorSet(NormalOf(i));
        cloud.AddPoint(record, true);
    }
    for (std::uint64_t i = 0; i < n; i += 97)
        host.SetPointVisible(i, false);
    for (std::uint64_t i = capacity; i < 2 * std::uint64_t{capacity} && i < n; ++i)
        host.SetPointVisible(i, false);
    return cloud;
}

// A provider over `cloud` with the four generated types mapped: UnsignedInteger 0
// classification, UnsignedInteger 1 scan id, Real 0 intensity, Vector3 0 normal.
inline PointCloudDataProvider MappedProvider(const PointCloud& cloud)
{
    using namespace orv::Data::Cloud;
    PointCloudDataProvider provider(cloud);
    provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                  CloudClassificationExtraData::TypeId());
    provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                  CloudScanIDExtraData::TypeId());
    provider.MapOptionalComponent(EPointDataComponent::Real, CloudIntensityNewExtraData::TypeId());
    provider.MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());
    return provider;
}

inline std::uint64_t Mix(std::uint64_t h, std::uint64_t v)
{
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h * 0xFF51AFD7ED558CCDull;
}

inline std::uint64_t Bits(double d)
{
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// A hash of everything a cursor of MappedProvider delivers for its current point: summing it
// over points gives a checksum that does not depend on the order of reading.
inline std::uint64_t PointHash(const orv::DataProxy::IPointDataAccessor& point)
{
    const GPointDouble p = point.GetPosition();
    const GVector3 n = point.GetVector3(0).value();
    std::uint64_t h = Mix(0, point.GetPointIndex());
    for (double d : {p.x, p.y, p.z, n.x, n.y, n.z, point.GetReal(0).value()})
        h = Mix(h, Bits(d));
    h = Mix(h, point.GetUnsignedInteger(0).value());
    return Mix(h, point.GetUnsignedInteger(1).value());
}

// Wants everything; answers without state, so threads may share it.
class WantAll final : public orv::DataProxy::IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

class MinimumPiece final : public orv::DataProxy::IPointDataSplitHint
{
public:
    explicit MinimumPiece(std::uint64_t n) : m_n(n) {}
    std::uint64_t GetConcurrency() const override { return 8; }
    std::uint64_t GetMinimumPieceSize() const override { return m_n; }

private:
    std::uint64_t m_n;
};

// One point's contract values, read by the builder through the accessor interface.
struct PointValues
{
    GPointDouble position{};
    std::map<std::uint8_t, GVector3> vector3;
    std::map<std::uint8_t, std::uint64_t> unsignedInteger;
    std::map<std::uint8_t, std::int64_t> signedInteger;
    std::map<std::uint8_t, double> real;
    std::map<std::uint8_t, RgbaColor> color;
};

class ValuesAccessor : public orv::DataProxy::IPointDataAccessor
{
public:
    PointValues values;

    GPointDouble GetPosition() const override { return Called(), values.position; }
    std::uint64_t GetPointIndex() const override { return Called(), 0; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return Called(), Find(values.vector3, i);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return Called(), Find(values.unsignedInteger, i);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        return Called(), Find(values.signedInteger, i);
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return Called(), Find(values.real, i);
    }
    std::optional<RgbaColor> GetColor(unsigned char i) const override
    {
        return Called(), Find(values.color, i);
    }

protected:
    // Every getter passes here first (fault injection hooks in).
    virtual void Called() const {}

private:
    template <class T>
    static std::optional<T> Find(const std::map<std::uint8_t, T>& table, unsigned char i)
    {
        const auto found = table.find(i);
        return found == table.end() ? std::nullopt : std::optional<T>(found->second);
    }
};

// Stress sizes: smaller in sanitized builds, overridable for a manual run.
inline std::uint64_t StressSize(std::uint64_t plain, std::uint64_t sanitized)
{
    if (const char* forced = std::getenv("ORV_STRESS_POINTS"))
        return std::strtoull(forced, nullptr, 10);
#ifdef ORV_STRESS_SANITIZED
    (void)plain;
    return sanitized;
#else
    (void)sanitized;
    return plain;
#endif
}

} // namespace orv::Reliability
