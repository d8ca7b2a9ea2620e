#include "geometry_test_support.h"

#include "host/base/Memory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// The cloud model: subsets and point indices, hidden points, frames, copy on write, AddPoint
// with and without extra data, AddCloud across frames, bounding boxes.

namespace
{

using namespace geomtest;
using orv::Data::Primitive::GBBox;
using orv::Math::Algebra::CompressedVector32Bits;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(GeometryCloud, SubsetsFillInOrderAndIndexPointsByCapacity)
{
    PointCloud cloud = BuildCloud(Line(10), 4);
    const GCloud& g = cloud.Convert();
    ASSERT_EQ(g.GetSubsetCount(), 3u);
    EXPECT_EQ(g.GetSubsetStoredCount(0), 4u);
    EXPECT_EQ(g.GetSubsetStoredCount(2), 2u);
    for (uint64_t i = 0; i < 10; ++i)
    {
        GPointDouble p{};
        ASSERT_TRUE(g.GetStoredPosition(i, p));
        EXPECT_NEAR(p.y, 2.0 * double(i), 1e-6);
        EXPECT_EQ(ReadElement<uint32_t>(g.GetExtraDataElement(ScanId(), i)), 1000 + i);
    }
    GPointDouble p{};
    EXPECT_FALSE(g.GetStoredPosition(10, p));
    EXPECT_EQ(g.GetExtraDataElement(ScanId(), 10), nullptr);
    // The capacity is fixed once points exist.
    EXPECT_FALSE(cloud.Convert().SetSubsetCapacity(8));
    PointCloud empty;
    EXPECT_FALSE(empty.Convert().SetSubsetCapacity(0));
    EXPECT_TRUE(empty.Convert().SetSubsetCapacity(3));
}

TEST(GeometryCloud, HiddenPointsLeaveTheCountAndComeBack)
{
    PointCloud cloud = BuildCloud(Line(10), 4);
    GCloud& g = cloud.Convert();
    for (uint64_t i : {1, 4, 5, 6, 7})
        ASSERT_TRUE(g.SetPointVisible(i, false));
    EXPECT_TRUE(g.SetPointVisible(1, false)); // already hidden: counted once
    EXPECT_FALSE(g.SetPointVisible(10, false));
    EXPECT_EQ(g.GetPointCount(), 5u);
    EXPECT_EQ(g.GetStoredPointCount(), 10u);
    EXPECT_EQ(g.GetSubsetVisibleCount(0), 3u);
    EXPECT_EQ(g.GetSubsetVisibleCount(1), 0u);
    EXPECT_EQ(g.GetSubsetFirstOrdinal(2), 3u);
    g.SetPointVisible(1, true);
    EXPECT_EQ(g.GetPointCount(), 6u);
    EXPECT_EQ(g.GetSubsetFirstOrdinal(2), 4u);
    CloudCursorBase<1> cursor(g, 0);
    EXPECT_FALSE(cursor.HasSubsetFilter()) << "a subset that is all visible again drops its filter";
}

TEST(GeometryCloud, FirstPointMovesAnUnsetFrameAndKeepsPrecision)
{
    const GPointDouble origin{652000, 5180000, 300};
    std::vector<GPointDouble> points;
    for (int i = 0; i < 50; ++i)
        points.push_back(
            GPointDouble{origin.x + 13.37 * i, origin.y - 7.001 * i, origin.z + 0.003 * i});
    PointCloud cloud = BuildCloud(points);
    const Matrix3x4& m = cloud.Convert().GetMatrix();
    EXPECT_EQ(m.v[9], origin.x);
    EXPECT_EQ(m.v[10], origin.y);
    EXPECT_EQ(m.v[11], origin.z);
    EXPECT_FALSE(cloud.Convert().IsFrameExplicit());
    const std::vector<Visit> visits = Walk(cloud.Convert());
    ASSERT_EQ(visits.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i)
    {
        EXPECT_NEAR(visits[i].world.x, points[i].x, 1e-4);
        EXPECT_NEAR(visits[i].world.y, points[i].y, 1e-4);
        EXPECT_NEAR(visits[i].world.z, points[i].z, 1e-4);
    }
    // An explicitly set frame is kept, identity included.
    const Matrix3x4 identity = orv::Math::Algebra::Identity3x4();
    PointCloud fixed = BuildCloud(points, GCloud::kDefaultSubsetCapacity, &identity);
    EXPECT_TRUE(orv::Math::Algebra::IsIdentity(fixed.Convert().GetMatrix()));
    EXPECT_TRUE(fixed.Convert().IsFrameExplicit());
}

TEST(GeometryCloud, SetMatrixRefusesFramesWithoutInverseAndMovesThePoints)
{
    PointCloud cloud = BuildCloud(Line(3)); // first point at 0: the frame stays the identity
    const Matrix3x4 singular{{1, 2, 3, 2, 4, 6, 0, 0, 1, 0, 0, 0}};
    const Matrix3x4 withNaN{{1, 0, 0, 0, 1, 0, 0, 0, 1, kNaN, 0, 0}};
    EXPECT_FALSE(cloud.Convert().SetMatrix(singular));
    EXPECT_FALSE(cloud.Convert().SetMatrix(withNaN));
    EXPECT_TRUE(orv::Math::Algebra::IsIdentity(cloud.Convert().GetMatrix()));
    ASSERT_TRUE(cloud.Convert().SetMatrix(orv::Math::Algebra::Translation(0, 0, 100)));
    GPointDouble p{};
    cloud.Convert().GetStoredPosition(2, p);
    EXPECT_EQ(p.z, 98.0);
}

TEST(GeometryCloud, AddPointRefusesHostilePositionsAndChangesNothing)
{
    PointCloud cloud;
    const Matrix3x4 identity = orv::Math::Algebra::Identity3x4();
    cloud.Convert().SetMatrix(identity);
    GPointDouble position{kNaN, 0, 0};
    GCloudPointData record(&position);
    EXPECT_EQ(cloud.AddPoint(record, true), ExitCodeAddPoint::NonFinitePosition);
    position = GPointDouble{0, std::numeric_limits<double>::infinity(), 0};
    EXPECT_EQ(cloud.AddPoint(record, true), ExitCodeAddPoint::NonFinitePosition);
    position = GPointDouble{1e300, 0, 0}; // finite, but not a float in this frame
    EXPECT_EQ(cloud.AddPoint(record, true), ExitCodeAddPoint::OutsideFrameRange);
    GCloudPointData noPosition(nullptr);
    EXPECT_EQ(cloud.AddPoint(noPosition, true), ExitCodeAddPoint::NoPosition);
    EXPECT_EQ(cloud.Convert().GetStoredPointCount(), 0u);
    position = GPointDouble{1, 2, 3};
    EXPECT_EQ(cloud.AddPoint(record, true), ExitCodeAddPoint::Ok);
    EXPECT_EQ(cloud.GetPointCount(), 1u);
}

TEST(GeometryCloud, AddPointCopiesRegisteredSlotsAndZeroFillsTheRest)
{
    PointCloud cloud;
    cloud.Convert().SetSubsetCapacity(2);
    GPointDouble position{0, 0, 0};
    uint32_t scan = 0xAABBCCDD;
    uint32_t wide = 0x1234; // the classification is 1 byte wide: only 0x34 is read
    GCloudPointData both(&position);
    EXPECT_EQ(both.AddExtraData(ScanId(), &scan), 0);
    EXPECT_EQ(both.AddExtraData(ClassId(), &wide), 0);
    EXPECT_EQ(both.AddExtraData(ClassId(), &wide), 1); // re-registered: replaced
    EXPECT_EQ(both.AddExtraData(ScanId(), nullptr), -1);
    EXPECT_EQ(both.AddExtraData(987654, &scan), -1); // unknown width: refused
    GCloudPointData positionOnly(&position);

    cloud.AddPoint(positionOnly, true); // point 0: before any extra data exists
    cloud.AddPoint(both, true);         // point 1: both types appear, point 0 back-filled
    cloud.AddPoint(positionOnly, true); // point 2: types held, not in the record
    scan = 7;
    cloud.AddPoint(both, true); // point 3
    const GCloud& g = cloud.Convert();
    EXPECT_EQ(g.GetExtraDataTypes(), (std::vector<int>{ScanId(), ClassId()}));
    const uint32_t scans[] = {0, 0xAABBCCDD, 0, 7};
    const uint8_t classes[] = {0, 0x34, 0, 0x34};
    for (uint64_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(ReadElement<uint32_t>(g.GetExtraDataElement(ScanId(), i)), scans[i]) << i;
        EXPECT_EQ(ReadElement<uint8_t>(g.GetExtraDataElement(ClassId(), i)), classes[i]) << i;
    }
}

TEST(GeometryCloud, CopiesShareSubsetsUntilOneWrites)
{
    PointCloud original = BuildCloud(Line(10), 4);
    const uint64_t allocationsBefore = orv::Testing::AllocationCount();
    PointCloud copy = original;
    EXPECT_EQ(orv::Testing::AllocationCount(), allocationsBefore) << "a copy copies no table";
    for (uint32_t s = 0; s < 3; ++s)
        EXPECT_TRUE(copy.Convert().SharesSubsetWith(original.Convert(), s));

    copy.Convert().SetPointVisible(1, false);
    GPointDouble position{50, 50, 50};
    GCloudPointData record(&position);
    copy.AddPoint(record, true);
    EXPECT_FALSE(copy.Convert().SharesSubsetWith(original.Convert(), 0));
    EXPECT_TRUE(copy.Convert().SharesSubsetWith(original.Convert(), 1));
    EXPECT_FALSE(copy.Convert().SharesSubsetWith(original.Convert(), 2));
    EXPECT_EQ(original.GetPointCount(), 10u);
    EXPECT_TRUE(original.Convert().IsPointVisible(1));
    EXPECT_EQ(copy.GetPointCount(), 10u);
    EXPECT_EQ(Walk(original.Convert()).size(), 10u);

    PointCloud moved = std::move(copy);
    EXPECT_EQ(moved.GetPointCount(), 10u);
    EXPECT_EQ(copy.GetPointCount(), 0u); // NOLINT: a moved-from cloud is empty and usable
    copy.AddPoint(record, true);
    EXPECT_EQ(copy.GetPointCount(), 1u);
}

TEST(GeometryCloud, BoundingBoxIsTheWorldBoxOfVisiblePoints)
{
    const Matrix3x4 turn{{0, -1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}}; // x -> y, y -> -x
    PointCloud cloud = BuildCloud({{1, 2, 3}, {-1, 5, 0}, {100, 100, 100}}, 4, &turn);
    cloud.Convert().SetPointVisible(2, false);
    // Positions are given in world coordinates; the box is found through the turned frame.
    const GBBox box = cloud.ComputeBoundingBox();
    const double expected[6] = {-1, 2, 0, 1, 5, 3};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(box.v[i], expected[i], 1e-12) << i;
    cloud.Convert().SetPointVisible(0, false);
    cloud.Convert().SetPointVisible(1, false);
    EXPECT_TRUE(cloud.ComputeBoundingBox().IsEmpty());
}

// Counts the rotations the host asks a registered policy for.
class RotationRecorder final : public StubPolicy
{
public:
    mutable int calls = 0;
    mutable orv::Math::Algebra::Matrix3x3 last{};
    void TransformElement(void* element, const orv::Math::Algebra::Matrix3x3& r) const override
    {
        ++calls;
        last = r;
        CompressedVector32Bits v;
        std::memcpy(&v.bits, element, 4);
        v *= r;
        std::memcpy(element, &v.bits, 4);
    }
};

// A cloud in a turned frame with normals (1, 0, 0) in local coordinates, i.e. (0, 1, 0) in world.
PointCloud TurnedCloudWithNormals(size_t n)
{
    const Matrix3x4 turn{{0, -1, 0, 1, 0, 0, 0, 0, 1, 1000, 2000, 0}};
    PointCloud cloud;
    cloud.Convert().SetSubsetCapacity(4);
    cloud.Convert().SetMatrix(turn);
    GPointDouble position{0, 0, 0};
    CompressedVector32Bits normal(GVector3{0, 1, 0}); // world direction; stored in local frame
    normal *= orv::Math::Algebra::Linear(cloud.Convert().GetInverseMatrix());
    uint32_t scan = 0;
    GCloudPointData record(&position);
    record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
    record.AddExtraData(ScanId(), &scan);
    for (size_t i = 0; i < n; ++i)
    {
        position = GPointDouble{1000.0 + double(i), 2000.5, -3.25 * double(i)};
        scan = uint32_t(i);
        cloud.AddPoint(record, true);
    }
    return cloud;
}

GVector3 StoredNormal(const GCloud& g, uint64_t i)
{
    CompressedVector32Bits v;
    v.bits = ReadElement<uint32_t>(g.GetExtraDataElement(CloudNormalExtraData::TypeId(), i));
    GVector3 out{0, 0, 0};
    v.VectorGet(out);
    return out;
}

TEST(GeometryCloud, AddCloudReExpressesPositionsAndRotatesNormals)
{
    PointCloud source = TurnedCloudWithNormals(6);
    source.Convert().SetPointVisible(2, false);
    for (bool withPolicy : {false, true})
    {
        auto recorder = eastl::make_shared<RotationRecorder>();
        orv::Data::ExtraData::Details::ExtraDataRegisterScope scope;
        if (withPolicy)
            scope = orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(
                CloudNormalExtraData::TypeId(), typeid(GVector3), recorder);
        PointCloud target = BuildCloud({{5, 5, 5}}, 3, nullptr); // identity-free: translated
        ASSERT_TRUE(target.AddCloud(source, nullptr));
        const GCloud& g = target.Convert();
        ASSERT_EQ(g.GetPointCount(), 6u); // 1 own + 5 visible
        EXPECT_EQ(ReadElement<uint32_t>(g.GetExtraDataElement(CloudNormalExtraData::TypeId(), 0)),
                  0u)
            << "the target's own point has no normal";
        EXPECT_EQ(ReadElement<uint8_t>(g.GetExtraDataElement(ClassId(), 1)), 0)
            << "types only the target holds are zero for appended points";
        uint64_t t = 1;
        for (uint64_t i = 0; i < 6; ++i)
        {
            if (i == 2)
                continue; // hidden in the source
            GPointDouble expected{}, got{};
            source.Convert().GetStoredPosition(i, expected);
            g.GetStoredPosition(t, got);
            EXPECT_NEAR(got.x, expected.x, 1e-4);
            EXPECT_NEAR(got.y, expected.y, 1e-4);
            EXPECT_NEAR(got.z, expected.z, 1e-4);
            EXPECT_EQ(ReadElement<uint32_t>(g.GetExtraDataElement(ScanId(), t)), i);
            const GVector3 n = StoredNormal(g, t); // target frame has identity rotation
            EXPECT_NEAR(n.x, 0, 1e-4);
            EXPECT_NEAR(n.y, 1, 1e-4);
            ++t;
        }
        EXPECT_EQ(recorder->calls, withPolicy ? 5 : 0);
        if (withPolicy)
        {
            EXPECT_EQ(recorder->last.v[1], -1.0); // target inverse (identity) times the turn
        }
    }
}

TEST(GeometryCloud, AddCloudIntoAFreshCloudAdoptsTheFrameAndMayAppendToItself)
{
    PointCloud source = TurnedCloudWithNormals(5);
    PointCloud target;
    ASSERT_TRUE(target.AddCloud(source, nullptr));
    EXPECT_EQ(std::memcmp(target.Convert().GetMatrix().v, source.Convert().GetMatrix().v,
                          sizeof(Matrix3x4)),
              0);
    for (uint64_t i = 0; i < 5; ++i)
        EXPECT_EQ(std::memcmp(target.Convert().GetStoredCoordinates(i),
                              source.Convert().GetStoredCoordinates(i), 12),
                  0);
    ASSERT_TRUE(target.AddCloud(target, nullptr));
    EXPECT_EQ(target.GetPointCount(), 10u);
    EXPECT_EQ(ReadElement<uint32_t>(target.Convert().GetExtraDataElement(ScanId(), 9)), 4u);
    EXPECT_EQ(source.GetPointCount(), 5u);
    // Appending an empty cloud changes nothing, also not the frame of an empty target.
    PointCloud empty;
    ASSERT_TRUE(empty.AddCloud(PointCloud(), nullptr));
    EXPECT_TRUE(orv::Math::Algebra::IsIdentity(empty.Convert().GetMatrix()));
}

TEST(GeometryCloud, AddCloudSkipsPointsThatDoNotFitTheTargetFrame)
{
    const Matrix3x4 identity = orv::Math::Algebra::Identity3x4();
    PointCloud far = BuildCloud({{1e30, 0, 0}, {1, 0, 0}}, 4, &identity);
    const Matrix3x4 tiny{{1e-30, 0, 0, 0, 1e-30, 0, 0, 0, 1e-30, 0, 0, 0}};
    PointCloud target;
    target.Convert().SetMatrix(tiny); // 1e30 world units become 1e60 local: not a float
    EXPECT_FALSE(target.AddCloud(far, nullptr));
    EXPECT_EQ(target.GetPointCount(), 1u);
    EXPECT_EQ(ReadElement<uint32_t>(target.Convert().GetExtraDataElement(ScanId(), 0)), 1001u);
}

} // namespace
