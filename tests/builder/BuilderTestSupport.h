#pragma once

// Test doubles and helpers shared by the builder tests: an in-memory accessor, a consumer that
// can decline or fail, host type ids (including 8- and 24-byte types registered here), and
// read-back of stored elements.

#include "builder/PointCloudDataBuilderFactory.h"
#include "host/core/Factory.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace builder_test
{

using orv::Data::Cloud::PointCloud;
using orv::Data::Cloud::PointCloudDataBuilder;
using orv::Data::Cloud::PointCloudDataBuilderFactory;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::GPointDouble;
using orv::DataProxy::GVector3;
using orv::DataProxy::RgbaColor;
using Key = orv::DataProxy::PointDataComponents::ComponentKey;
using C = EPointDataComponent;

// One point's contract values; indices 0..3 of every component.
struct TestPoint
{
    GPointDouble position{0.0, 0.0, 0.0};
    std::optional<GVector3> vector3[4];
    std::optional<std::uint64_t> unsignedInteger[4];
    std::optional<std::int64_t> signedInteger[4];
    std::optional<double> real[4];
    std::optional<RgbaColor> color[4];

    void Set(std::uint8_t i, GVector3 v) { vector3[i] = v; }
    void Set(std::uint8_t i, std::uint64_t v) { unsignedInteger[i] = v; }
    void Set(std::uint8_t i, std::int64_t v) { signedInteger[i] = v; }
    void Set(std::uint8_t i, double v) { real[i] = v; }
    void Set(std::uint8_t i, RgbaColor v) { color[i] = v; }
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

// Wants every key except `declined`; throws when asked about `failOn`. Safe to share between
// threads.
class TestConsumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    std::vector<Key> declined;
    std::optional<Key> failOn;
    mutable std::atomic<int> calls{0};

    bool IsComponentRequested(EPointDataComponent c, unsigned char i) const override
    {
        ++calls;
        if (failOn && *failOn == Key{c, i})
        {
            throw std::runtime_error("consumer failure");
        }
        return std::find(declined.begin(), declined.end(), Key{c, i}) == declined.end();
    }
};

// Host extra-data types wider than the host's own twelve: the host learns their width from a
// policy registered under their id; the cursor reads them through that policy.
template <class T>
class RawPolicy final : public orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>
{
    using Table = orv::Collection::TableCluster;

public:
    bool GetTypeFlagA() const override { return false; }
    int GetTypeValueA() const override { return 0; }
    int GetTypeValueB() const override { return 0; }
    const eastl::basic_string<char>& GetTypeName() const override
    {
        static const eastl::basic_string<char> name("TestWideExtraData");
        return name;
    }
    unsigned int GetElementSize() const override { return sizeof(T); }
    void TransformElement(void*, const orv::Math::Algebra::Matrix3x3&) const override {}
    bool GetTypeFlagB() const override { return false; }
    bool GetTypeFlagC() const override { return false; }
    void* SetElement(Table& t, std::uint32_t i, const void* v) const override
    {
        return std::memcpy(t.GetElm(i), v, sizeof(T));
    }
    void* AddElement(Table& t, const void* v) const override
    {
        return std::memcpy(t.New(false), v, sizeof(T));
    }
    void* AddDefaultElement(Table& t) const override { return t.New(true); }
    void* ResetElement(Table& t, std::uint32_t i) const override
    {
        return std::memset(t.GetElm(i), 0, sizeof(T));
    }
    void* InitElement(Table& t, std::uint32_t i, const void* v) const override
    {
        return SetElement(t, i, v);
    }
    void ResetAllElements(Table& t) const override
    {
        for (std::uint32_t i = 0; i < t.count; ++i)
            ResetElement(t, i);
    }
    void VisitAllElements(Table&) const override {}
    const void* GetElement(const Table& t, std::uint32_t i) const override { return t.GetElm(i); }
    bool AreEqual(const void* a, const void* b) const override
    {
        return std::memcmp(a, b, sizeof(T)) == 0;
    }
    T GetValue(const void* e, const orv::Data::Cloud::CloudCursorInfo&) const override
    {
        T value;
        std::memcpy(&value, e, sizeof(T));
        return value;
    }
    void SetValue(void* e, const T& v, const orv::Data::Cloud::CloudCursorInfo&) const override
    {
        std::memcpy(e, &v, sizeof(T));
    }
};

// Type id of a test-only wide type carrying T, registered once per process.
template <class T>
int WideType()
{
    struct Tag
    {
    };
    static const int id = orv::General::IFactory::GetInstance().GetTypeId(typeid(Tag));
    static const orv::Data::ExtraData::Details::ExtraDataRegisterScope scope =
        orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(
            id, typeid(T), eastl::allocate_shared<RawPolicy<T>>(eastl::allocator()));
    return id;
}

inline int ClassificationType()
{
    return orv::Data::Cloud::CloudClassificationExtraData::TypeId();
}
inline int SplitColorType()
{
    return orv::Data::Cloud::CloudSplitColorExtraData::TypeId();
}
inline int ScanIdType()
{
    return orv::Data::Cloud::CloudScanIDExtraData::TypeId();
}
inline int IntensityNewType()
{
    return orv::Data::Cloud::CloudIntensityNewExtraData::TypeId();
}
inline int NormalType()
{
    return orv::Data::Cloud::CloudNormalExtraData::TypeId();
}
inline int IntensityType()
{
    return orv::Data::Cloud::CloudIntensityExtraData::TypeId();
}

inline PointCloud CloudOf(const std::shared_ptr<orv::DataProxy::IPointDataProvider>& provider)
{
    const auto* concrete = dynamic_cast<const PointCloudDataProvider*>(provider.get());
    if (concrete == nullptr)
    {
        throw std::logic_error("GetResult gave no PointCloudDataProvider");
    }
    return concrete->GetPointCloud();
}

inline std::uint64_t SizeOf(PointCloudDataBuilder& builder)
{
    return CloudOf(builder.GetResult()).GetPointCount();
}

// The stored element of `typeId` for point `i`, as T (T no wider than the element).
template <class T>
T Stored(const PointCloud& cloud, int typeId, std::uint64_t i)
{
    const void* element = cloud.Convert().GetExtraDataElement(typeId, i);
    if (element == nullptr)
    {
        throw std::out_of_range("no stored element");
    }
    T value;
    std::memcpy(&value, element, sizeof(T));
    return value;
}

template <class T>
std::uint32_t Bits(T value)
{
    static_assert(sizeof(T) == 4);
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

} // namespace builder_test
