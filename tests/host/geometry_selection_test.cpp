#include "geometry_test_support.h"

#include "host/geometry/Selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>

// Selection procedures at their boundaries and with hostile arguments, and
// ApplySelectionProcedure: selected and rejected partition the visible points, with their data.

namespace
{

using namespace geomtest;
using namespace orv::Graphics;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(GeometrySelection, BoxIncludesItsBoundsWithCornersInAnyOrder)
{
    const SelPrcBox box(GPointDouble{2, 0, 5}, GPointDouble{-1, 3, 4});
    EXPECT_TRUE(box.Accepts({2, 3, 5}));
    EXPECT_TRUE(box.Accepts({-1, 0, 4}));
    EXPECT_FALSE(box.Accepts({2.0000001, 1, 4.5}));
    EXPECT_FALSE(box.Accepts({0, 1, 3.999}));
    EXPECT_TRUE(SelPrcBox({-kInf, -kInf, 0}, {kInf, kInf, 0}).Accepts({1e300, -1e300, 0}));
    const SelPrcBox nan({0, 0, 0}, {1, kNaN, 1});
    EXPECT_FALSE(nan.IsUsable());
    EXPECT_FALSE(nan.Accepts({0.5, 0.5, 0.5}));
}

TEST(GeometrySelection, SphereIsClosedAndHandlesHostileRadii)
{
    const SelPrcSph sphere(5, GPointDouble{1, 1, 1}, true);
    EXPECT_EQ(sphere.GetRadius(), 5);
    EXPECT_TRUE(sphere.GetFlag());
    EXPECT_TRUE(sphere.Accepts({4, 5, 1})); // distance exactly 5
    EXPECT_FALSE(sphere.Accepts({4, 5, 1.01}));
    EXPECT_TRUE(SelPrcSph(0, {1, 1, 1}, false).Accepts({1, 1, 1}));
    EXPECT_FALSE(SelPrcSph(0, {1, 1, 1}, false).Accepts({1, 1, 1.0000001}));
    EXPECT_FALSE(SelPrcSph(-1, {0, 0, 0}, false).Accepts({0, 0, 0}));
    EXPECT_TRUE(SelPrcSph(kInf, {0, 0, 0}, false).Accepts({1e300, 1e300, 0}));
    EXPECT_FALSE(SelPrcSph(kNaN, {0, 0, 0}, false).Accepts({0, 0, 0}));
    EXPECT_FALSE(SelPrcSph(1, {kInf, 0, 0}, false).Accepts({kInf, 0, 0}));
    // Squares of these would overflow: 1e200 away is inside 1e300 and outside 1e199.
    EXPECT_TRUE(SelPrcSph(1e300, {0, 0, 0}, false).Accepts({1e200, 0, 0}));
    EXPECT_FALSE(SelPrcSph(1e300, {0, 0, 0}, false).Accepts({0, 2e300, 0}));
    EXPECT_FALSE(SelPrcSph(1e199, {0, 0, 0}, false).Accepts({1e200, 0, 0}));
}

TEST(GeometrySelection, CylinderRunsAlongItsAxisForItsLength)
{
    GCloud c1;
    const GCloud c2;
    const SelPrcCyl cyl({1, 1, 0}, {0, 0, 2}, 10, 0.25, 1, false, -0.5, &c1, &c2);
    EXPECT_EQ(cyl.GetDirection().z, 2); // reported as given, normalised for the test
    EXPECT_EQ(cyl.GetUnitDirection().z, 1);
    EXPECT_EQ(cyl.GetParameterA(), 0.25);
    EXPECT_EQ(cyl.GetFirstCloud(), &c1);
    EXPECT_TRUE(cyl.Accepts({2, 1, 0}));  // radial distance 1 at the start
    EXPECT_TRUE(cyl.Accepts({1, 0, 10})); // at the far end
    EXPECT_FALSE(cyl.Accepts({1, 1, 10.5}));
    EXPECT_FALSE(cyl.Accepts({1, 1, -0.5}));
    EXPECT_FALSE(cyl.Accepts({2.01, 1, 5}));
    const SelPrcCyl infinite({1, 1, 0}, {0, 0, -3}, -1, 0, 1, true, 0, nullptr, nullptr);
    EXPECT_TRUE(infinite.Accepts({1, 1, -1e6}));
    EXPECT_TRUE(infinite.Accepts({1, 1, 1e6}));
    EXPECT_FALSE(
        SelPrcCyl({0, 0, 0}, {0, 0, 1}, -2, 0, 1, false, 0, nullptr, nullptr).Accepts({0, 0, 0}));
    for (const SelPrcCyl& bad :
         {SelPrcCyl({0, 0, 0}, {0, 0, 0}, 1, 0, 1, false, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {0, kNaN, 1}, 1, 0, 1, false, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {0, 0, 1}, kNaN, 0, 1, true, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {0, 0, 1}, 1, 0, -1, false, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {kInf, 0, 1}, 1, 0, 1, false, 0, nullptr, nullptr)})
    {
        EXPECT_FALSE(bad.IsUsable());
        EXPECT_FALSE(bad.Accepts({0, 0, 0.5}));
    }
}

TEST(GeometrySelection, ClippingPlanesKeepThePointsBehindEveryNormal)
{
    GCompSelClippingPlane none;
    EXPECT_TRUE(SelPrcPntClipPlane(none).Accepts({1e9, -1e9, 3}));
    GCompSelClippingPlane planes;
    planes.AddPlane({0, 0, 5}, {-0.0, -0.0, -1}); // keeps z >= 5
    planes.AddPlane({1, 0, 0}, {2, 0, 0});        // keeps x <= 1
    const SelPrcPntClipPlane clip(planes);
    ASSERT_EQ(clip.GetComponent().GetPlaneCount(), 2u);
    EXPECT_TRUE(std::signbit(clip.GetComponent().GetPlane(0).normal.x));
    EXPECT_TRUE(clip.Accepts({1, 7, 5}));
    EXPECT_FALSE(clip.Accepts({1, 7, 4.999}));
    EXPECT_FALSE(clip.Accepts({1.001, 7, 6}));
    GCompSelClippingPlane zero = planes;
    zero.AddPlane({0, 0, 0}, {0, 0, 0});
    EXPECT_FALSE(SelPrcPntClipPlane(zero).Accepts({0, 0, 6}));
    GCompSelClippingPlane nan = planes;
    nan.AddPlane({kNaN, 0, 0}, {0, 1, 0});
    EXPECT_FALSE(SelPrcPntClipPlane(nan).Accepts({0, 0, 6}));
}

// A few thousand points in [-10, 10]^3 (world) over several subsets, stored in a turned and
// translated frame, with hidden points; the scan id of each point is its stored index + 1000.
PointCloud Scatter(uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-10, 10);
    std::vector<GPointDouble> points;
    for (int i = 0; i < 3000; ++i)
        points.push_back(GPointDouble{u(rng), u(rng), u(rng)});
    const double c = std::cos(0.3), s = std::sin(0.3);
    const Matrix3x4 frame{{c, -s, 0, s, c, 0, 0, 0, 1, 500, -200, 7}};
    PointCloud cloud = BuildCloud(points, 256, &frame);
    cloud.Convert().SetType(3, -2, 40, nullptr, false);
    for (uint64_t i = 0; i < 3000; i += 7)
        cloud.Convert().SetPointVisible(i, false);
    for (uint64_t i = 512; i < 768; ++i) // one whole subset hidden
        cloud.Convert().SetPointVisible(i, false);
    return cloud;
}

// Stored indices of an output's points, read back through their scan ids.
std::vector<uint64_t> Origins(const GCloud& out)
{
    std::vector<uint64_t> ids;
    for (const Visit& v : Walk(out))
        ids.push_back(*v.scan - 1000);
    return ids;
}

template <class P>
void CheckPartition(const PointCloud& source, P& proc, const char* what, bool splits = true)
{
    SCOPED_TRACE(what);
    const GCloud& g = source.Convert();
    PointCloud accepted, rejected;
    ASSERT_EQ(g.ApplySelectionProcedure(proc, &accepted.Convert(), &rejected.Convert(), nullptr,
                                        AutoCompactNone),
              0);
    // Brute force: every visible point in storage order, tested one by one in world coordinates.
    std::vector<uint64_t> wantA, wantR;
    for (uint64_t i = 0; i < g.GetStoredPointCount(); ++i)
    {
        GPointDouble w{};
        g.GetStoredPosition(i, w);
        if (g.IsPointVisible(i))
            (proc.Accepts(w) ? wantA : wantR).push_back(i);
    }
    if (splits)
    {
        EXPECT_GT(wantA.size(), 100u);
        EXPECT_GT(wantR.size(), 100u);
    }
    EXPECT_EQ(Origins(accepted.Convert()), wantA);
    EXPECT_EQ(Origins(rejected.Convert()), wantR);
    EXPECT_EQ(accepted.GetPointCount() + rejected.GetPointCount(), g.GetPointCount());
    for (const GCloud* out : {&accepted.Convert(), &rejected.Convert()})
    {
        EXPECT_EQ(std::memcmp(out->GetMatrix().v, g.GetMatrix().v, sizeof(Matrix3x4)), 0);
        EXPECT_EQ(out->GetType(), 3);
        EXPECT_EQ(out->GetValMin(), -2.0f);
        EXPECT_EQ(out->GetValMax(), 40.0f);
        EXPECT_EQ(out->GetSubsetCapacity(), 256u);
        EXPECT_EQ(out->GetExtraDataTypes(), g.GetExtraDataTypes());
    }
    // Every value intact: coordinates bit for bit, classification as stored.
    const std::vector<uint64_t> got = Origins(accepted.Convert());
    for (size_t k = 0; k < got.size(); ++k)
    {
        ASSERT_EQ(std::memcmp(accepted.Convert().GetStoredCoordinates(k),
                              g.GetStoredCoordinates(got[k]), 12),
                  0);
        ASSERT_EQ(ReadElement<uint8_t>(accepted.Convert().GetExtraDataElement(ClassId(), k)),
                  got[k] % 200);
    }
}

TEST(GeometrySelection, SelectedAndRejectedPartitionTheVisiblePoints)
{
    const PointCloud cloud = Scatter(7);
    const uint64_t before = cloud.GetPointCount();
    SelPrcBox box({5, -10, 0}, {-5, 0, 10});
    CheckPartition(cloud, box, "box");
    SelPrcSph sphere(8, {0, 0, 0}, false);
    CheckPartition(cloud, sphere, "sphere");
    SelPrcCyl cylinder({-3, -3, 0}, {1, 1, 0}, 9, 0, 4, false, 0, nullptr, nullptr);
    CheckPartition(cloud, cylinder, "cylinder");
    GCompSelClippingPlane planes;
    std::mt19937_64 rng(3);
    std::normal_distribution<double> n;
    for (int i = 0; i < 300; ++i) // hundreds of planes around a ball of radius 9
    {
        GVector3 d{n(rng), n(rng), n(rng)};
        const double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        d = GVector3{d.x / len, d.y / len, d.z / len};
        planes.AddPlane({9 * d.x, 9 * d.y, 9 * d.z}, d);
    }
    SelPrcPntClipPlane clip(planes);
    CheckPartition(cloud, clip, "planes");
    SelPrcBox nothing({0, 0, 0}, {kNaN, 1, 1});
    CheckPartition(cloud, nothing, "hostile box", false);
    EXPECT_EQ(cloud.GetPointCount(), before);
}

TEST(GeometrySelection, OutputsAreReplacedAndMayBeTheSource)
{
    PointCloud cloud = Scatter(11);
    SelPrcSph sphere(6, {0, 0, 0}, false);
    PointCloud old = BuildCloud(Line(5));
    ASSERT_EQ(cloud.Convert().ApplySelectionProcedure(sphere, &old.Convert(), nullptr, nullptr,
                                                      AutoCompactNone),
              0);
    const uint64_t inside = old.GetPointCount();
    EXPECT_GT(inside, 0u);
    EXPECT_LT(inside, cloud.GetPointCount());
    EXPECT_EQ(Origins(old.Convert()).size(), inside) << "nothing of the old content is left";
    // The source as its own output ends with its selected points.
    PointCloud copy = cloud;
    ASSERT_EQ(copy.Convert().ApplySelectionProcedure(sphere, nullptr, &copy.Convert(), nullptr,
                                                     AutoCompactNone),
              0);
    EXPECT_EQ(copy.GetPointCount(), cloud.GetPointCount() - inside);
    // One cloud as both outputs is refused and changes nothing; no output at all is fine.
    EXPECT_EQ(cloud.Convert().ApplySelectionProcedure(sphere, &old.Convert(), &old.Convert(),
                                                      nullptr, AutoCompactNone),
              -1);
    EXPECT_EQ(old.GetPointCount(), inside);
    EXPECT_EQ(
        cloud.Convert().ApplySelectionProcedure(sphere, nullptr, nullptr, nullptr, AutoCompactNone),
        0);
    // An empty source gives empty outputs with its settings.
    PointCloud empty, out = BuildCloud(Line(3));
    EXPECT_EQ(empty.Convert().ApplySelectionProcedure(sphere, &out.Convert(), nullptr, nullptr,
                                                      AutoCompactNone),
              0);
    EXPECT_EQ(out.GetPointCount(), 0u);
}

} // namespace
