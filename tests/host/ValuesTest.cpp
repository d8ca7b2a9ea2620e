#include "host/geometry/Values.h"
#include "host/geometry/Algebra.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

// Algebra, compressed vectors, colour and compressed values at their edges.

namespace
{

using namespace orv::Math::Algebra;
using orv::Data::Primitive::ColorValue;
using orv::TestSupport::Angle;
using orv::TestSupport::HostChoice::NormalCodecBound;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What a packed vector decodes to; (9, 9, 9) when it holds "no vector".
GVector3 Decoded(const CompressedVector32Bits& c)
{
    GVector3 out{9, 9, 9};
    c.VectorGet(out);
    return out;
}

// Each host's codec within its own documented bound (the scheme is the host's choice), over a
// dense sweep of the sphere: rings of latitude from pole to pole (both poles and the equator,
// where the octahedron folds, included), meridians through the axes and the octahedron's edges
// (x = 0, y = 0, |x| = |y|), and directions a hair off those edges.
TEST(GeometryCompressedVector, BoundAndEdges)
{
    const double pi = std::acos(-1.0);
    double worst = 0;
    auto check = [&worst](GVector3 v)
    {
        const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        v = GVector3{v.x / n, v.y / n, v.z / n};
        const GVector3 out = Decoded(CompressedVector32Bits(v));
        ASSERT_NEAR(out.x * out.x + out.y * out.y + out.z * out.z, 1.0, 1e-12);
        worst = std::max(worst, Angle(v, out));
    };
    constexpr int kRings = 720, kMeridians = 1440; // meridian 0, 180, 360, ... lie on edges
    for (int i = 0; i <= kRings; ++i)
    {
        const double theta = pi * i / kRings;
        for (int j = 0; j < kMeridians; ++j)
        {
            const double phi = 2 * pi * j / kMeridians;
            check({std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                   std::cos(theta)});
        }
    }
    for (double e : {1e-300, 1e-12, 1e-6, 1e-3})
        for (double s : {1.0, -1.0})
            for (const GVector3& v : {GVector3{1, e, s * e}, GVector3{e, 1, s}, GVector3{s, e, 1},
                                      GVector3{1, s, e}, GVector3{e, e * s, -1}})
                check(v);
    EXPECT_LT(worst, NormalCodecBound());
    // The axes, straight down included, never encode to "no vector".
    for (const GVector3& axis : {GVector3{0, 0, -1}, GVector3{0, 0, 1}, GVector3{-1, 0, 0}})
        EXPECT_LT(Angle(axis, Decoded(CompressedVector32Bits(axis))), 1e-9);
    for (const GVector3& bad :
         {GVector3{0, 0, 0}, GVector3{kNaN, 0, 1}, GVector3{kInf, 0, 0}, GVector3{0, -kInf, 1}})
    {
        CompressedVector32Bits c(GVector3{1, 0, 0});
        c.VectorSet(bad);
        EXPECT_EQ(c.GetRaw(), 0u);
        EXPECT_EQ(Decoded(c).x, 9); // untouched
    }
    // Tiny and huge vectors keep their direction (normalised without underflow or overflow).
    for (double scale : {1e-310, 1e300, 3.0})
        EXPECT_LT(Angle(Decoded(CompressedVector32Bits(GVector3{0, scale, scale})),
                        GVector3{0, M_SQRT1_2, M_SQRT1_2}),
                  NormalCodecBound());
    CompressedVector32Bits c(GVector3{1, 0, 0});
    c *= Linear(Matrix3x4{{0, -1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}}); // x -> y
    EXPECT_LT(Angle(Decoded(c), GVector3{0, 1, 0}), NormalCodecBound());
    c *= Matrix3x3{{0, 0, 0, 0, 0, 0, 0, 0, 0}}; // singular: flattened to nothing
    EXPECT_EQ(c.GetRaw(), 0u);
    c *= Identity3x3(); // nothing stays nothing
    EXPECT_EQ(c.GetRaw(), 0u);
}

TEST(GeometryColorValue, Edges)
{
    ColorValue c;
    c.SetRGB(-0.5f, 2.0f, float(kNaN));
    float r = 1, g = 0, b = 1;
    EXPECT_EQ(c.GetRGB(r, g, b), 1);
    EXPECT_EQ((std::array<float, 3>{r, g, b}), (std::array<float, 3>{0, 1, 0}));
    c.SetRGB(0.5f / 255.0f, 0.49f / 255.0f, 0.3f); // a tie rounds up; 0.3 -> 76.5 -> 77
    EXPECT_EQ((std::array<int, 3>{c.bytes[0], c.bytes[1], c.bytes[2]}),
              (std::array<int, 3>{1, 0, 77}));

    // A compressed value is a grey level (its conversions are the policy_bytes fuzz target's).
    c.SetCompressedValue(40, -10, 90);
    EXPECT_TRUE(c.bytes[0] == c.bytes[1] && c.bytes[0] == c.bytes[2] && c.bytes[0] != 0);
}

} // namespace
