// Guards for faults that the fuzz targets and the fault-injection suites found: each test
// fails (or, under the sanitizers, crashes) on the code before its fix.
#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/reliability/AllocationSwitch.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <new>

using namespace orv::TestSupport;

// The builder's value slots are 24 bytes (Vector3), 8 (integers, Real) and 4 (Color); the host
// copies its type's whole width from a registered slot at every point. A key mapped to a wider
// host type used to be registered all the same, so the host read past the slot. The factory now
// refuses such widths up front; this guards the types whose size becomes known to the host only
// after the builder was configured.
TEST(FoundFaults, ValueSlotWidth)
{
    struct LateWide
    {
    };
    struct LateColor
    {
    };
    const int unsignedTooWide = orv::General::IFactory::GetInstance().GetTypeId(typeid(LateWide));
    const int colorTooWide = orv::General::IFactory::GetInstance().GetTypeId(typeid(LateColor));
    const int realFits = WideType<double>();
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::UnsignedInteger, unsignedTooWide, 8);
    factory.MapOptionalComponent(C::Color, colorTooWide, 0);
    factory.MapOptionalComponent(C::Real, realFits, 8);
    const WantAll consumer;
    const auto builder = factory.CreatePointDataBuilder(consumer);
    using orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy;
    const auto wide = RegisterCloudExtraDataConversionPolicy(
        unsignedTooWide, typeid(GVector3),
        eastl::allocate_shared<RawPolicy<GVector3>>(eastl::allocator()));
    const auto colour = RegisterCloudExtraDataConversionPolicy(
        colorTooWide, typeid(std::uint64_t),
        eastl::allocate_shared<RawPolicy<std::uint64_t>>(eastl::allocator()));
    PointRecord point;
    for (int k = 0; k < 3; ++k)
    {
        point.position = {1.0 * k, 2.0, 3.0};
        Put(point, 0, std::uint64_t{0x1111111111111111} * std::uint64_t(k + 1));
        Put(point, 0, RgbaColor{1.0, 0.0, 0.0, 1.0});
        Put(point, 0, 0.5 * k);
        builder->AddPointData(point);
    }
    const PointCloud cloud = CloudOf(builder->GetResult());
    const std::vector<int> types = cloud.Convert().GetExtraDataTypes();
    ASSERT_EQ(cloud.Convert().GetStoredPointCount(), 3u);
    EXPECT_EQ(types, std::vector<int>{realFits}) << "only the type that fits its slot is held";
    for (std::uint64_t k = 0; k < 3; ++k)
        EXPECT_EQ(Stored<double>(cloud.Convert(), realFits, k), 0.5 * double(k));
}

// Moving a cloud is noexcept; the move constructor used to build a default cloud first, and
// both moves gave the cloud moved from a new count table: with memory short, std::terminate.
TEST(FoundFaults, CloudMove)
{
    PointCloud a = BuildCloud(GridPoints(300), {64, {}, {3, 200}});
    PointCloud b;
    GCloud c;
    const std::uint64_t points = a.GetPointCount();
    {
        const FailureSwitch noMemory(Allocator::Global, 0);
        orv::Testing::FailAllocationsAfter(0);
        PointCloud moved(std::move(a));
        b = std::move(moved);
        c = std::move(b.Convert());
        b.Convert() = std::move(c);
    }
    EXPECT_EQ(b.GetPointCount(), points);
    for (const GCloud* empty : {&a.Convert(), &c})
    {
        EXPECT_EQ(empty->GetStoredPointCount(), 0u);
        EXPECT_EQ(empty->GetSubsetFirstOrdinal(0), 0u);
        // The box of a cloud without points (what that is, is the host's choice).
        const auto box = empty->ComputeBoundingBox(), none = GCloud().ComputeBoundingBox();
        EXPECT_EQ(std::memcmp(box.v, none.v, sizeof box.v), 0);
    }
    // Usable again: points go in, and a copy of b goes in after them.
    GPointDouble position{1.0, 2.0, 3.0};
    GCloudPointData record(&position);
    EXPECT_EQ(a.AddPoint(record, true), ExitCodeAddPoint::Ok);
    EXPECT_TRUE(a.AddCloud(b, nullptr));
    EXPECT_EQ(a.GetPointCount(), points + 1);
    EXPECT_EQ(a.Convert().GetSubsetFirstOrdinal(1), a.Convert().GetSubsetVisibleCount(0));
}

// Appending a cloud grows the last subset, adds subsets and may add types; memory running short
// half-way used to leave the part already appended, and the tables of the last subset out of
// step with each other, so appending again gave points whose positions and values no longer
// belonged together.
TEST(FoundFaults, AppendOutOfMemory)
{
    // Targets: subsets of 16, the last one part full and with a hidden point; and an empty cloud,
    // which adopts the source's frame on the reference host (a failure must take it back).
    // Source: another frame (normals rotate). Types the target lacks are the fault-injection
    // suite's merges'.
    const PointCloud source =
        BuildCloud(GridPoints(70, 650000.0), {16, RotationZ(M_PI / 2, 10.0, 20.0, 30.0)});
    int injected = 0;
    for (const PointCloud& target : {BuildCloud(GridPoints(37), {16, {}, {35}}), PointCloud()})
    {
        PointCloud reference = target;
        ASSERT_TRUE(reference.AddCloud(source, nullptr));
        const auto before = Image(target.Convert());
        const auto after = Image(reference.Convert());
        for (Allocator which : {Allocator::Host, Allocator::Global})
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
                    EXPECT_EQ(Image(cloud.Convert()), before)
                        << "allocation " << n << ": part left";
                    EXPECT_TRUE(cloud.AddCloud(source, nullptr));
                }
                EXPECT_EQ(Image(cloud.Convert()), after) << "allocation " << n;
                EXPECT_EQ(Image(target.Convert()), before) << "the shared original changed";
                if (!failed || HasFailure())
                    break;
            }
    }
    EXPECT_GT(injected, 10);
}
