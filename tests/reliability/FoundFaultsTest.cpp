// Guards for faults that the fuzz targets and the fault-injection suites found: each test
// fails (or, under the sanitizers, crashes) on the code before its fix.
#include "AllocationSwitch.h"
#include "ReliabilitySupport.h"

#include "builder/PointCloudDataBuilderFactory.h"
#include "host/base/Memory.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/ExtraDataRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace orv::Reliability;

namespace
{

// A host type of `Width` bytes, known to the host only through a policy registered for it.
template <std::size_t Width, int Tag>
class WidePolicy final
    : public orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<double>
{
    using Table = orv::Collection::TableCluster;

public:
    bool GetTypeFlagA() const override { return false; }
    int GetTypeValueA() const override { return 0; }
    int GetTypeValueB() const override { return 0; }
    const eastl::basic_string<char>& GetTypeName() const override
    {
        static const eastl::basic_string<char> name("WideExtraData");
        return name;
    }
    unsigned int GetElementSize() const override { return Width; }
    void TransformElement(void*, const orv::Math::Algebra::Matrix3x3&) const override {}
    bool GetTypeFlagB() const override { return false; }
    bool GetTypeFlagC() const override { return false; }
    void* SetElement(Table& t, std::uint32_t i, const void* v) const override
    {
        return std::memcpy(t.GetElm(i), v, Width);
    }
    void* AddElement(Table& t, const void* v) const override
    {
        return std::memcpy(t.New(false), v, Width);
    }
    void* AddDefaultElement(Table& t) const override { return t.New(true); }
    void* ResetElement(Table& t, std::uint32_t i) const override
    {
        return std::memset(t.GetElm(i), 0, Width);
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
        return std::memcmp(a, b, Width) == 0;
    }
    double GetValue(const void* e, const orv::Data::Cloud::CloudCursorInfo&) const override
    {
        double value;
        std::memcpy(&value, e, sizeof value);
        return value;
    }
    void SetValue(void* e, const double& v, const orv::Data::Cloud::CloudCursorInfo&) const override
    {
        std::memcpy(e, &v, sizeof v);
    }
};

template <std::size_t Width, int Tag>
int WideType()
{
    static const int id =
        orv::General::IFactory::GetInstance().GetTypeId(typeid(WidePolicy<Width, Tag>));
    static const orv::Data::ExtraData::Details::ExtraDataRegisterScope scope =
        orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(
            id, typeid(double), eastl::allocate_shared<WidePolicy<Width, Tag>>(eastl::allocator()));
    return id;
}

bool Holds(const orv::Data::Cloud::GCloud& cloud, int type)
{
    const std::vector<int> types = cloud.GetExtraDataTypes();
    return std::find(types.begin(), types.end(), type) != types.end();
}

} // namespace

// The builder's value slots are 24 bytes (Vector3), 8 (integers, Real) and 4 (Color); the host
// copies its type's whole width from a registered slot at every point. A key mapped to a wider
// host type used to be registered all the same, so the host read past the slot.
TEST(FoundFaults, TheBuilderNeverLetsTheHostReadPastAValueSlot)
{
    using orv::DataProxy::EPointDataComponent;
    orv::Data::Cloud::PointCloudDataBuilderFactory factory;
    const int unsignedTooWide = WideType<24, 0>();
    const int realTooWide = WideType<16, 1>();
    const int colorTooWide = WideType<8, 2>();
    const int vectorFits = WideType<24, 3>();
    const int unsignedFits = WideType<8, 4>();
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger, unsignedTooWide, 8);
    factory.MapOptionalComponent(EPointDataComponent::Real, realTooWide, 8);
    factory.MapOptionalComponent(EPointDataComponent::Color, colorTooWide, 0);
    factory.MapOptionalComponent(EPointDataComponent::Vector3, vectorFits, 24);
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger, unsignedFits, 8);
    const WantAll consumer;
    const auto builder = factory.CreatePointDataBuilder(consumer);
    ValuesAccessor point;
    for (int k = 0; k < 3; ++k)
    {
        point.values.position = {1.0 * k, 2.0, 3.0};
        point.values.unsignedInteger[0] = 0x1111111111111111ull * (k + 1);
        point.values.unsignedInteger[1] = 0x0102030405060708ull + k;
        point.values.real[0] = 0.5 * k;
        point.values.color[0] = {1.0, 0.0, 0.0, 1.0};
        point.values.vector3[0] = {0.25 * k, -1.0, 1e300};
        builder->AddPointData(point);
    }
    const auto result = builder->GetResult();
    const orv::Data::Cloud::PointCloud cloud =
        dynamic_cast<const PointCloudDataProvider&>(*result).GetPointCloud();
    const orv::Data::Cloud::GCloud& host = cloud.Convert();
    ASSERT_EQ(host.GetStoredPointCount(), 3u);
    EXPECT_FALSE(Holds(host, unsignedTooWide));
    EXPECT_FALSE(Holds(host, realTooWide));
    EXPECT_FALSE(Holds(host, colorTooWide));
    ASSERT_TRUE(Holds(host, vectorFits));
    ASSERT_TRUE(Holds(host, unsignedFits));
    for (std::uint64_t k = 0; k < 3; ++k)
    {
        const double xyz[3] = {0.25 * k, -1.0, 1e300};
        EXPECT_EQ(std::memcmp(host.GetExtraDataElement(vectorFits, k), xyz, 24), 0);
        const std::uint64_t bits = 0x0102030405060708ull + k;
        EXPECT_EQ(std::memcmp(host.GetExtraDataElement(unsignedFits, k), &bits, 8), 0);
    }
}

// Moving a cloud is noexcept; the move constructor used to build a default cloud first, and
// both moves gave the cloud moved from a new count table: with memory short, std::terminate.
TEST(FoundFaults, MovingACloudAllocatesNothingAndLeavesAnEmptyUsableCloud)
{
    orv::Data::Cloud::PointCloud a = GeneratedCloud(300, 64);
    orv::Data::Cloud::PointCloud b;
    orv::Data::Cloud::GCloud c;
    const std::uint64_t points = a.GetPointCount();
    {
        const FailureSwitch noMemory(Allocator::Global, 0);
        orv::Testing::FailAllocationsAfter(0);
        orv::Data::Cloud::PointCloud moved(std::move(a));
        b = std::move(moved);
        c = std::move(b.Convert());
        b.Convert() = std::move(c);
    }
    EXPECT_EQ(b.GetPointCount(), points);
    for (const orv::Data::Cloud::GCloud* empty : {&a.Convert(), &c})
    {
        EXPECT_EQ(empty->GetPointCount(), 0u);
        EXPECT_EQ(empty->GetStoredPointCount(), 0u);
        EXPECT_EQ(empty->GetSubsetFirstOrdinal(0), 0u);
        EXPECT_TRUE(empty->ComputeBoundingBox().IsEmpty());
    }
    // Usable again: points go in, and a copy of b goes in after them.
    GPointDouble position{1.0, 2.0, 3.0};
    orv::Data::Cloud::GCloudPointData record(&position);
    EXPECT_EQ(a.AddPoint(record, true), orv::Data::Cloud::ExitCodeAddPoint::Ok);
    EXPECT_TRUE(a.AddCloud(b, nullptr));
    EXPECT_EQ(a.GetPointCount(), points + 1);
    EXPECT_EQ(a.Convert().GetSubsetFirstOrdinal(1), a.Convert().GetSubsetVisibleCount(0));
}

namespace
{

// Everything observable of a cloud's stored points, bit for bit.
struct CloudImage
{
    std::uint64_t stored = 0;
    std::uint64_t visible = 0;
    std::uint32_t subsets = 0;
    std::vector<int> types;
    std::vector<std::uint8_t> bytes; // per point: visibility, coordinates, every element
    std::vector<std::uint64_t> firstOrdinals;

    explicit CloudImage(const orv::Data::Cloud::GCloud& cloud)
        : stored(cloud.GetStoredPointCount()), visible(cloud.GetPointCount()),
          subsets(cloud.GetSubsetCount()), types(cloud.GetExtraDataTypes())
    {
        for (std::uint64_t i = 0; i < stored; ++i)
        {
            bytes.push_back(cloud.IsPointVisible(i) ? 1 : 0);
            const auto* q = reinterpret_cast<const std::uint8_t*>(cloud.GetStoredCoordinates(i));
            bytes.insert(bytes.end(), q, q + 12);
            for (int type : types)
            {
                const auto* e =
                    static_cast<const std::uint8_t*>(cloud.GetExtraDataElement(type, i));
                bytes.insert(bytes.end(), e, e + orv::Data::Cloud::GetExtraDataElementSize(type));
            }
        }
        for (std::uint32_t s = 0; s <= subsets; ++s)
            firstOrdinals.push_back(cloud.GetSubsetFirstOrdinal(s));
    }
    bool operator==(const CloudImage& o) const
    {
        return stored == o.stored && visible == o.visible && subsets == o.subsets &&
               types == o.types && bytes == o.bytes && firstOrdinals == o.firstOrdinals;
    }
};

} // namespace

// Appending a cloud grows the last subset, adds subsets and may add types; memory running
// short half-way used to leave the part already appended, and the tables of the last subset
// out of step with each other, so appending again (as a builder's Merge caller would) gave
// points whose positions and values no longer belonged together.
TEST(FoundFaults, AnAppendThatRunsOutOfMemoryLeavesTheCloudAsItWas)
{
    using namespace orv::Data::Cloud;
    // Target: subsets of 16, the last one part full and with a hidden point; source: another
    // frame (normals rotate), one type the target lacks, and more than a table buffer's worth.
    PointCloud target = GeneratedCloud(37, 16);
    target.Convert().SetPointVisible(35, false);
    PointCloud source;
    {
        GCloud& host = source.Convert();
        host.SetSubsetCapacity(16);
        host.SetMatrix({{0, -1, 0, 1, 0, 0, 0, 0, 1, 10.0, 20.0, 30.0}});
        GPointDouble position{};
        std::uint16_t split = 0;
        orv::Math::Algebra::CompressedVector32Bits normal;
        GCloudPointData record(&position);
        record.AddExtraData(CloudSplitColorExtraData::TypeId(), &split);
        record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
        for (int i = 0; i < 70; ++i)
        {
            position = {650000.0 + i, 5180000.0 - i, 290.0};
            split = static_cast<std::uint16_t>(7 * i);
            normal.VectorSet(NormalOf(static_cast<std::uint64_t>(i)));
            source.AddPoint(record, true);
        }
    }
    PointCloud reference = target;
    ASSERT_TRUE(reference.AddCloud(source, nullptr));
    const CloudImage before(target.Convert());
    const CloudImage after(reference.Convert());

    int injected = 0;
    for (Allocator which : {Allocator::Host, Allocator::Global})
    {
        for (std::int64_t n = 0;; ++n)
        {
            PointCloud cloud = target; // shares every subset: the append copies what it writes
            bool failed = false;
            try
            {
                const FailureSwitch armed(which, n);
                cloud.AddCloud(source, nullptr);
            }
            catch (const std::bad_alloc&)
            {
                failed = true;
                ++injected;
                EXPECT_TRUE(CloudImage(cloud.Convert()) == before)
                    << "a failure at allocation " << n << " left part of the append";
                EXPECT_TRUE(cloud.AddCloud(source, nullptr));
            }
            EXPECT_TRUE(CloudImage(cloud.Convert()) == after) << "allocation " << n;
            EXPECT_TRUE(CloudImage(target.Convert()) == before) << "the shared original changed";
            if (!failed || HasFailure())
                break;
        }
    }
    EXPECT_GT(injected, 10);
    RecordProperty("injected_faults", std::to_string(injected));
}
