#include "tests/support/TestClouds.h"

#include "host/geometry/Selection.h"
#include "tests/support/HostChoices.h"

#include <gtest/gtest.h>

#include <limits>

// Selection procedures at their boundaries. That selected and rejected partition a cloud, every
// value intact, is checked through the provider's queries, which hand these procedures to the
// host; what hostile arguments (NaN, infinities, zero axes) select, by the query_records fuzz
// target.

namespace
{

using namespace orv::TestSupport;
using namespace orv::Graphics;
using namespace orv::TestSupport::HostChoice;

constexpr double kInf = std::numeric_limits<double>::infinity();

// Where the boundary lies, which side of a plane is kept and what unusable arguments select
// are each host's own choice: every line below holds on both hosts.
TEST(GeometrySelection, BoxAndSphere)
{
    const bool closed = !orv::IsAlternateHost();
    const SelPrcBox box(GPointDouble{-1, 0, 4}, GPointDouble{2, 3, 5});
    EXPECT_EQ(box.Accepts({2, 3, 5}), closed);
    EXPECT_EQ(box.Accepts({-1, 0, 4}), closed);
    EXPECT_TRUE(box.Accepts({1.9999999, 0.0000001, 4.0000001}));
    EXPECT_FALSE(box.Accepts({2.0000001, 1, 4.5}));
    EXPECT_FALSE(box.Accepts({0, 1, 3.999}));
    // Corners in any order on the reference host; the minimum first on the alternate one.
    EXPECT_EQ(SelPrcBox({2, 0, 5}, {-1, 3, 4}).Accepts({1, 1, 4.5}), closed);
    EXPECT_TRUE(SelPrcBox({-kInf, -kInf, -1}, {kInf, kInf, 1}).Accepts({1e300, -1e300, 0}));

    const SelPrcSph sphere(5, GPointDouble{1, 1, 1}, true);
    EXPECT_EQ(sphere.Accepts({4, 5, 1}), closed); // distance exactly 5
    EXPECT_TRUE(sphere.Accepts({4, 4.99, 1}));
    EXPECT_FALSE(sphere.Accepts({4, 5, 1.01}));
    EXPECT_EQ(SelPrcSph(0, {1, 1, 1}, false).Accepts({1, 1, 1}), closed);
    EXPECT_FALSE(SelPrcSph(0, {1, 1, 1}, false).Accepts({1, 1, 1.0000001}));
    EXPECT_FALSE(SelPrcSph(-1, {0, 0, 0}, false).Accepts({0, 0, 0}));
    EXPECT_TRUE(SelPrcSph(kInf, {0, 0, 0}, false).Accepts({1e300, 1e300, 0}));
    // Squares of these would overflow: 1e200 away is inside 1e300 and outside 1e199.
    EXPECT_TRUE(SelPrcSph(1e300, {0, 0, 0}, false).Accepts({1e200, 0, 0}));
    EXPECT_FALSE(SelPrcSph(1e300, {0, 0, 0}, false).Accepts({0, 2e300, 0}));
    EXPECT_FALSE(SelPrcSph(1e199, {0, 0, 0}, false).Accepts({1e200, 0, 0}));
}

// A cylinder runs along its axis for its length, unless unbounded.
TEST(GeometrySelection, Cylinder)
{
    const bool closed = !orv::IsAlternateHost();
    const SelPrcCyl cyl({1, 1, 0}, {0, 0, 2}, 10, 0.25, 1, false, -0.5, nullptr, nullptr);
    EXPECT_EQ(cyl.Accepts({2, 1, 0}), closed);  // radial distance 1 at the start
    EXPECT_EQ(cyl.Accepts({1, 0, 10}), closed); // at the far end
    EXPECT_TRUE(cyl.Accepts({1.5, 1.5, 9.5}));
    EXPECT_FALSE(cyl.Accepts({1, 1, 10.5}));
    EXPECT_FALSE(cyl.Accepts({1, 1, -0.5}));
    EXPECT_FALSE(cyl.Accepts({2.01, 1, 5}));
    const SelPrcCyl infinite({1, 1, 0}, {0, 0, -3}, -1, 0, 1, true, 0, nullptr, nullptr);
    EXPECT_TRUE(infinite.Accepts({1, 1, -1e6}));
    EXPECT_EQ(infinite.Accepts({1, 1, 1e6}), UnboundedCylinderKeeps(-1e6));
    // A negative length: nothing on the reference host, backwards on the alternate one.
    const SelPrcCyl backwards({0, 0, 0}, {0, 0, 1}, -2, 0, 1, false, 0, nullptr, nullptr);
    EXPECT_EQ(backwards.Accepts({0, 0, -1}), orv::IsAlternateHost());
    EXPECT_FALSE(backwards.Accepts({0, 0, 1}));
}

TEST(GeometrySelection, ClippingPlanes)
{
    const bool reference = !orv::IsAlternateHost();
    EXPECT_EQ(SelPrcPntClipPlane(GCompSelClippingPlane()).Accepts({1e9, -1e9, 3}), reference);
    GCompSelClippingPlane planes;
    planes.AddPlane({0, 0, 5}, {-0.0, -0.0, -1}); // reference: keeps z >= 5; alternate: z < 5
    planes.AddPlane({1, 0, 0}, {2, 0, 0});        // reference: keeps x <= 1; alternate: x > 1
    const SelPrcPntClipPlane clip(planes);
    EXPECT_EQ(clip.Accepts({1, 7, 5}), reference);
    EXPECT_EQ(clip.Accepts({0.5, 7, 6}), reference);
    EXPECT_EQ(clip.Accepts({1.001, 7, 4.999}), !reference);
    EXPECT_FALSE(clip.Accepts({1, 7, 4.999}));
    EXPECT_FALSE(clip.Accepts({1.001, 7, 6}));
}

} // namespace
