#include "tests/support/TestClouds.h"

#include "host/base/Memory.h"
#include "tests/support/HostChoices.h"

#include <gtest/gtest.h>

#include <limits>

// The cloud model: subsets and point indices, hidden points, frames, copy on write, AddPoint
// with and without extra data, AddCloud across frames.

namespace
{

using namespace orv::TestSupport;
using namespace orv::Math::Algebra;
using namespace orv::TestSupport::HostChoice;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(GeometryCloud, SubsetsAndHiddenPoints)
{
    PointCloud cloud = BuildCloud(GridPoints(10), {4});
    GCloud& g = cloud.Convert();
    ASSERT_EQ(g.GetSubsetCount(), 3u);
    EXPECT_EQ(g.GetSubsetStoredCount(2), 2u);
    EXPECT_EQ(Stored<uint32_t>(g, Type::Scan(), 9), 1009u);
    EXPECT_EQ(g.GetExtraDataElement(Type::Scan(), 10), nullptr);
    EXPECT_FALSE(g.SetSubsetCapacity(8)); // fixed once points exist
    for (uint64_t i : {1, 4, 5, 6, 7, 1}) // 1 twice: counted once
        ASSERT_TRUE(g.SetPointVisible(i, false));
    EXPECT_FALSE(g.SetPointVisible(10, false));
    EXPECT_EQ(g.GetPointCount(), 5u);
    EXPECT_EQ(g.GetStoredPointCount(), 10u);
    EXPECT_EQ(g.GetSubsetVisibleCount(1), 0u);
    EXPECT_EQ(g.GetSubsetFirstOrdinal(2), 3u);
    g.SetPointVisible(1, true);
    EXPECT_EQ(g.GetSubsetFirstOrdinal(2), 4u);
    EXPECT_FALSE(CloudCursorBase<1>(g, 0).HasSubsetFilter())
        << "a subset that is all visible again drops its filter";
}

// Frames follow the first point or the caller, and refuse singular matrices.
TEST(GeometryCloud, Frames)
{
    // Far from the origin, the frame moves to the first point so that floats keep precision.
    const std::vector<GPointDouble> points = GridPoints(50, 652000.125);
    PointCloud cloud = BuildCloud(points);
    EXPECT_FALSE(cloud.Convert().IsFrameExplicit());
    const std::vector<Visit> visits = Walk(cloud.Convert());
    ASSERT_EQ(visits.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_LT(Distance(visits[i].world, points[i]), 1e-4) << i;

    PointCloud fixed = BuildCloud(GridPoints(3), {4, Identity3x4()}); // kept, identity included
    EXPECT_TRUE(fixed.Convert().IsFrameExplicit());
    EXPECT_FALSE(fixed.Convert().SetMatrix(Matrix3x4{{1, 2, 3, 2, 4, 6, 0, 0, 1, 0, 0, 0}}));
    EXPECT_FALSE(fixed.Convert().SetMatrix(Matrix3x4{{1, 0, 0, 0, 1, 0, 0, 0, 1, kNaN, 0, 0}}));
    ASSERT_TRUE(fixed.Convert().SetMatrix(Translation(0, 0, 100))); // moves the points
    EXPECT_EQ(Walk(fixed.Convert())[2].world.z, 100.5);
}

// AddPoint refuses hostile positions and fills missing slots.
TEST(GeometryCloud, AddPoint)
{
    PointCloud cloud;
    cloud.Convert().SetMatrix(Identity3x4());
    cloud.Convert().SetSubsetCapacity(2);
    GPointDouble position{kNaN, 0, 0};
    GCloudPointData positionOnly(&position);
    EXPECT_EQ(cloud.AddPoint(positionOnly, true), ExitCodeAddPoint::NonFinitePosition);
    position = GPointDouble{1e300, 0, 0}; // finite, but no float in this frame
    EXPECT_EQ(cloud.AddPoint(positionOnly, true), ExitCodeAddPoint::OutsideFrameRange);
    EXPECT_EQ(cloud.AddPoint(GCloudPointData(nullptr), true), ExitCodeAddPoint::NoPosition);
    EXPECT_EQ(cloud.Convert().GetStoredPointCount(), 0u);

    position = GPointDouble{0, 0, 0};
    uint32_t scan = 0xAABBCCDD, wide = 0x1234; // the classification is 1 byte: 0x34 is read
    GCloudPointData both(&position);
    EXPECT_EQ(both.AddExtraData(Type::Scan(), &scan), 0);
    EXPECT_EQ(both.AddExtraData(Type::Class(), &wide), 0);
    EXPECT_EQ(both.AddExtraData(Type::Class(), &wide), 1); // re-registered: replaced
    EXPECT_EQ(both.AddExtraData(987654, &scan), -1);       // unknown width: refused
    cloud.AddPoint(positionOnly, true);                    // before any extra data exists
    cloud.AddPoint(both, true);         // both types appear, point 0 is back-filled
    cloud.AddPoint(positionOnly, true); // types held, not in the record
    const GCloud& g = cloud.Convert();
    EXPECT_EQ(g.GetExtraDataTypes(), (std::vector<int>{Type::Scan(), Type::Class()}));
    for (uint64_t i = 0; i < 3; ++i) // what fills a lacking element is the host's choice
        EXPECT_TRUE(Stored<uint32_t>(g, Type::Scan(), i) == (i == 1 ? scan : Lacking<uint32_t>()) &&
                    Stored<uint8_t>(g, Type::Class(), i) == (i == 1 ? 0x34 : Lacking<uint8_t>()))
            << i;
}

TEST(GeometryCloud, CopyOnWrite)
{
    PointCloud original = BuildCloud(GridPoints(10), {4});
    const uint64_t allocationsBefore = orv::Testing::AllocationCount();
    PointCloud copy = original;
    EXPECT_EQ(orv::Testing::AllocationCount(), allocationsBefore) << "a copy copies no table";
    copy.Convert().SetPointVisible(1, false);
    GPointDouble position{50, 50, 50};
    GCloudPointData record(&position);
    copy.AddPoint(record, true);
    for (uint32_t s = 0; s < 3; ++s)
        EXPECT_EQ(copy.Convert().SharesSubsetWith(original.Convert(), s), s == 1) << s;
    EXPECT_EQ(Walk(original.Convert()).size(), 10u);
    EXPECT_EQ(copy.GetPointCount(), 10u);
}

// Counts the rotations the host asks the registered normal policy for, and applies them.
class RotationRecorder final : public RawPolicy<uint32_t>
{
public:
    mutable int calls = 0;
    mutable Matrix3x3 last{};
    void TransformElement(void* element, const Matrix3x3& r) const override
    {
        ++calls;
        last = r;
        CompressedVector32Bits v;
        std::memcpy(&v.bits, element, 4);
        v *= r;
        std::memcpy(element, &v.bits, 4);
    }
};

// AddCloud re-expresses positions and rotates normals.
TEST(GeometryCloud, AddCloud)
{
    const Matrix3x4 turn{{0, -1, 0, 1, 0, 0, 0, 0, 1, 1000, 1000, 1000}}; // (x, y) -> (-y, x)
    const PointCloud source = BuildCloud(GridPoints(6, 1000), {4, turn, {2}});
    const std::vector<Visit> from = Walk(source.Convert());
    // The registry serves the latest registration, by type and value type and by type alone.
    using namespace orv::Data::ExtraData::Details;
    auto decoy = eastl::make_shared<RotationRecorder>(), recorder = decoy;
    recorder = eastl::make_shared<RotationRecorder>();
    const auto first =
        RegisterCloudExtraDataConversionPolicy(Type::Normal(), typeid(GVector3), decoy);
    const auto scope =
        RegisterCloudExtraDataConversionPolicy(Type::Normal(), typeid(GVector3), recorder);
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(Type::Normal(), typeid(GVector3)), recorder.get());
    PointCloud target = BuildCloud({{5, 5, 5}}, {3, {}, {}, false}); // frame at (5, 5, 5)
    ASSERT_TRUE(target.AddCloud(source, nullptr));
    const GCloud& g = target.Convert();
    EXPECT_EQ(Stored<uint32_t>(g, Type::Normal(), 0), Lacking<uint32_t>()) << "the target's own";
    const std::vector<Visit> to = Walk(g, 1);
    ASSERT_EQ(to.size(), 5u);
    for (size_t k = 0; k < to.size(); ++k)
    {
        EXPECT_LT(Distance(to[k].world, from[k].world), 1e-4);
        EXPECT_EQ(to[k].scan, from[k].scan);
        CompressedVector32Bits packed;
        packed.bits = Stored<uint32_t>(g, Type::Normal(), k + 1);
        GVector3 n{}, local = PointValues(from[k].pointIndex).normal;
        packed.VectorGet(n);
        EXPECT_LT(Distance(n, GVector3{-local.y, local.x, local.z}), 3 * NormalCodecBound());
    }
    EXPECT_EQ(recorder->calls, 5);
    EXPECT_EQ(decoy->calls, 0);
    EXPECT_EQ(recorder->last.v[1], -1.0); // the target's identity rotation times the turn

    // A fresh target adopts the source's frame (the reference host's re-basing; the alternate
    // host keeps the identity); a cloud may append itself; a point that is no float in the
    // target's frame is skipped, and AddCloud says so.
    PointCloud fresh;
    ASSERT_TRUE(fresh.AddCloud(source, nullptr));
    const Matrix3x4 adopted = orv::IsAlternateHost() ? Identity3x4() : source.Convert().GetMatrix();
    EXPECT_EQ(std::memcmp(fresh.Convert().GetMatrix().v, adopted.v, 96), 0);
    ASSERT_TRUE(fresh.AddCloud(fresh, nullptr));
    EXPECT_EQ(Walk(fresh.Convert())[9].scan, 1005u);
    const PointCloud far = BuildCloud({{1e30, 0, 0}, {1, 0, 0}}, {4, Identity3x4()});
    PointCloud tiny;
    tiny.Convert().SetMatrix(Matrix3x4{{1e-30, 0, 0, 0, 1e-30, 0, 0, 0, 1e-30, 0, 0, 0}});
    EXPECT_FALSE(tiny.AddCloud(far, nullptr));
    EXPECT_EQ(Walk(tiny.Convert()).at(0).scan, 1001u);
}

// Appends keep their values whatever changed the cloud's shape in between: a type added half-way,
// a copy sharing the storage, buffer and subset boundaries. The stored coordinates are, bit for
// bit, the float of the inverse frame applied to the point (negative zeros included).
TEST(GeometryCloud, AppendsAcrossChangesOfShape)
{
    for (const double origin : {652000.5, 0.0}) // a frame that only shifts; one with a zero shift
    {
        PointCloud cloud;
        GPointDouble position{};
        uint32_t scan = 0;
        uint8_t cls = 0;
        GCloudPointData scanOnly(&position), scanAndClass(&position);
        scanOnly.AddExtraData(Type::Scan(), &scan);
        scanAndClass.AddExtraData(Type::Scan(), &scan);
        scanAndClass.AddExtraData(Type::Class(), &cls);
        std::vector<GPointDouble> points;
        const auto append = [&](PointCloud& target, uint32_t i, const GCloudPointData& record)
        {
            // The first point is (+0, 7, +0) near the origin: a shift of -0 that no shortcut may
            // add to the negative zeros that follow.
            position = GPointDouble{i % 3 == 1 ? -0.0 : origin + 0.25 * i, i % 5 == 1 ? -0.0 : 7.0,
                                    origin - i};
            scan = 5 * i + 1;
            cls = uint8_t(i);
            target.AddPoint(record, true);
            if (&target == &cloud)
                points.push_back(position);
        };
        const uint32_t n = 20000;
        for (uint32_t i = 0; i < n; ++i)
            append(cloud, i, i < n / 2 ? scanOnly : scanAndClass);
        const PointCloud copy = cloud; // shares every subset until one side writes
        for (uint32_t i = n; i < n + 100; ++i)
            append(cloud, i, scanAndClass);
        ASSERT_EQ(copy.GetPointCount(), n);
        const GCloud& g = cloud.Convert();
        ASSERT_EQ(g.GetStoredPointCount(), points.size());
        for (uint32_t i = 0; i < points.size(); ++i)
        {
            const GPointDouble local = TransformPoint(g.GetInverseMatrix(), points[i]);
            const float expected[3] = {float(local.x), float(local.y), float(local.z)};
            ASSERT_EQ(std::memcmp(g.GetStoredCoordinates(i), expected, sizeof expected), 0) << i;
            ASSERT_EQ(Stored<uint32_t>(g, Type::Scan(), i), 5 * i + 1) << i;
            ASSERT_EQ(Stored<uint8_t>(g, Type::Class(), i),
                      i < n / 2 ? Lacking<uint8_t>() : uint8_t(i))
                << i;
            if (i < n)
            {
                ASSERT_EQ(Stored<uint32_t>(copy.Convert(), Type::Scan(), i), 5 * i + 1) << i;
            }
        }
    }
}

} // namespace
