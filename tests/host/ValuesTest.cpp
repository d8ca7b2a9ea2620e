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
// A rotation of 90 degrees about z followed by a translation.
const Matrix3x4 kTurn{{0, -1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}};

// What a packed vector decodes to; (9, 9, 9) when it holds "no vector".
GVector3 Decoded(const CompressedVector32Bits& c)
{
    GVector3 out{9, 9, 9};
    c.VectorGet(out);
    return out;
}

// The codec's bound over random directions is the policy_bytes fuzz target's; here, the edges.
TEST(GeometryCompressedVector, Edges)
{
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
    c *= Linear(kTurn); // x -> y
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
