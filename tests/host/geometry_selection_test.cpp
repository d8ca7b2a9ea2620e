#include "tests/support/TestClouds.h"

#include "host/geometry/Selection.h"

#include <gtest/gtest.h>

#include <limits>

// Selection procedures at their boundaries and with hostile arguments. That selected and
// rejected partition a cloud, every value intact, is checked through the queries of the
// provider, which hand these procedures to the host.

namespace
{

using namespace orv::TestSupport;
using namespace orv::Graphics;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(GeometrySelection, BoxAndSphereAreClosedAndSurviveHostileValues)
{
    const SelPrcBox box(GPointDouble{2, 0, 5}, GPointDouble{-1, 3, 4}); // corners in any order
    EXPECT_TRUE(box.Accepts({2, 3, 5}));
    EXPECT_TRUE(box.Accepts({-1, 0, 4}));
    EXPECT_FALSE(box.Accepts({2.0000001, 1, 4.5}));
    EXPECT_FALSE(box.Accepts({0, 1, 3.999}));
    EXPECT_TRUE(SelPrcBox({-kInf, -kInf, 0}, {kInf, kInf, 0}).Accepts({1e300, -1e300, 0}));
    EXPECT_FALSE(SelPrcBox({0, 0, 0}, {1, kNaN, 1}).IsUsable());
    EXPECT_FALSE(SelPrcBox({0, 0, 0}, {1, kNaN, 1}).Accepts({0.5, 0.5, 0.5}));

    const SelPrcSph sphere(5, GPointDouble{1, 1, 1}, true);
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

TEST(GeometrySelection, CylinderRunsAlongItsAxisForItsLengthUnlessUnbounded)
{
    const SelPrcCyl cyl({1, 1, 0}, {0, 0, 2}, 10, 0.25, 1, false, -0.5, nullptr, nullptr);
    EXPECT_TRUE(cyl.Accepts({2, 1, 0}));  // radial distance 1 at the start
    EXPECT_TRUE(cyl.Accepts({1, 0, 10})); // at the far end
    EXPECT_FALSE(cyl.Accepts({1, 1, 10.5}));
    EXPECT_FALSE(cyl.Accepts({1, 1, -0.5}));
    EXPECT_FALSE(cyl.Accepts({2.01, 1, 5}));
    const SelPrcCyl infinite({1, 1, 0}, {0, 0, -3}, -1, 0, 1, true, 0, nullptr, nullptr);
    EXPECT_TRUE(infinite.Accepts({1, 1, -1e6}) && infinite.Accepts({1, 1, 1e6}));
    EXPECT_FALSE(
        SelPrcCyl({0, 0, 0}, {0, 0, 1}, -2, 0, 1, false, 0, nullptr, nullptr).Accepts({0, 0, 0}));
    for (const SelPrcCyl& bad :
         {SelPrcCyl({0, 0, 0}, {0, 0, 0}, 1, 0, 1, false, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {0, kNaN, 1}, 1, 0, 1, false, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {0, 0, 1}, kNaN, 0, 1, true, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {0, 0, 1}, 1, 0, -1, false, 0, nullptr, nullptr),
          SelPrcCyl({0, 0, 0}, {kInf, 0, 1}, 1, 0, 1, false, 0, nullptr, nullptr)})
        EXPECT_FALSE(bad.IsUsable() || bad.Accepts({0, 0, 0.5}));
}

TEST(GeometrySelection, ClippingPlanesKeepThePointsBehindEveryNormal)
{
    EXPECT_TRUE(SelPrcPntClipPlane(GCompSelClippingPlane()).Accepts({1e9, -1e9, 3}));
    GCompSelClippingPlane planes;
    planes.AddPlane({0, 0, 5}, {-0.0, -0.0, -1}); // keeps z >= 5
    planes.AddPlane({1, 0, 0}, {2, 0, 0});        // keeps x <= 1
    const SelPrcPntClipPlane clip(planes);
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

} // namespace
