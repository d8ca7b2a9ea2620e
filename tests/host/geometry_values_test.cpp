#include "host/geometry/Algebra.h"
#include "host/geometry/Values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

// Algebra, compressed vectors, colour and compressed values at their edges.

namespace
{

using namespace orv::Math::Algebra;
using orv::Data::Primitive::ColorValue;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double Angle(const GVector3& a, const GVector3& b)
{
    const double cx = a.y * b.z - a.z * b.y, cy = a.z * b.x - a.x * b.z, cz = a.x * b.y - a.y * b.x;
    return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), a.x * b.x + a.y * b.y + a.z * b.z);
}

// A rotation of 90 degrees about z followed by a translation.
const Matrix3x4 kTurn{{0, -1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}};

TEST(GeometryAlgebra, InverseUndoesTheFrameAndRefusesSingularOnes)
{
    const Matrix3x4 scaled{{2, 0, 0, 0, 4, 0, 0, 0, 0.5, -3, 7, 1}};
    for (const Matrix3x4& m : {kTurn, scaled})
    {
        Matrix3x4 inv{};
        ASSERT_TRUE(TryInverse(m, inv));
        const GPointDouble q{1.5, -2.25, 8};
        const GPointDouble back = TransformPoint(inv, TransformPoint(m, q));
        EXPECT_NEAR(back.x, q.x, 1e-12);
        EXPECT_NEAR(back.y, q.y, 1e-12);
        EXPECT_NEAR(back.z, q.z, 1e-12);
        const Matrix3x4 product = Multiply(m, inv);
        for (int i = 0; i < 12; ++i)
            EXPECT_NEAR(product.v[i], Identity3x4().v[i], 1e-12) << i;
    }
    const Matrix3x4 flat{{1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}};
    const Matrix3x4 nan{{1, 0, 0, 0, 1, 0, 0, 0, 1, kNaN, 0, 0}};
    Matrix3x4 untouched = Identity3x4();
    EXPECT_FALSE(TryInverse(nan, untouched));
    EXPECT_TRUE(std::isnan(Inverse(flat).v[0]));
}

TEST(GeometryAlgebra, TransformPointUsesTheClientsOrderOfOperations)
{
    // Rows are evaluated as ((r1 y + r0 x) + r2 z) + t: x is added to y before z is, so here
    // x is absorbed by y (1e16 + 1 rounds to 1e16) and the result is 0, not 1.
    const Matrix3x4 m{{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(TransformPoint(m, GPointDouble{1.0, 1e16, -1e16}).x, 0.0);
}

TEST(GeometryCompressedVector, RoundTripsWithinTheDocumentedBound)
{
    std::mt19937_64 rng(42);
    std::normal_distribution<double> normal;
    double worst = 0;
    for (int i = 0; i < 200000; ++i)
    {
        GVector3 v{normal(rng), normal(rng), normal(rng)};
        const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        v = GVector3{v.x / n, v.y / n, v.z / n};
        CompressedVector32Bits c(v);
        ASSERT_NE(c.GetRaw(), 0u);
        GVector3 out{};
        ASSERT_EQ(c.VectorGet(out), 1);
        EXPECT_NEAR(out.x * out.x + out.y * out.y + out.z * out.z, 1.0, 1e-12);
        worst = std::max(worst, Angle(v, out));
    }
    EXPECT_LT(worst, 7e-5);
    // The axes, including straight down, survive exactly enough to compare.
    for (const GVector3& axis : {GVector3{0, 0, -1}, GVector3{0, 0, 1}, GVector3{-1, 0, 0}})
    {
        CompressedVector32Bits c(axis);
        GVector3 out{};
        ASSERT_EQ(c.VectorGet(out), 1) << "an axis must never encode to 'no vector'";
        EXPECT_LT(Angle(axis, out), 1e-9);
    }
}

TEST(GeometryCompressedVector, HostileVectorsStoreNoVector)
{
    for (const GVector3& bad :
         {GVector3{0, 0, 0}, GVector3{kNaN, 0, 1}, GVector3{kInf, 0, 0}, GVector3{0, -kInf, 1}})
    {
        CompressedVector32Bits c(GVector3{1, 0, 0});
        c.VectorSet(bad);
        EXPECT_EQ(c.GetRaw(), 0u);
        GVector3 out{7, 8, 9};
        EXPECT_EQ(c.VectorGet(out), 0);
        EXPECT_EQ(out.x, 7); // untouched
    }
    // Tiny and huge vectors keep their direction (normalised, no underflow or overflow).
    for (double scale : {1e-310, 1e300, 3.0})
    {
        CompressedVector32Bits c(GVector3{0, scale, scale});
        GVector3 out{};
        ASSERT_EQ(c.VectorGet(out), 1);
        EXPECT_LT(Angle(out, GVector3{0, M_SQRT1_2, M_SQRT1_2}), 7e-5);
    }
}

TEST(GeometryCompressedVector, RotatesOnTheHostSide)
{
    CompressedVector32Bits c(GVector3{1, 0, 0});
    c *= Linear(kTurn); // x -> y
    GVector3 out{};
    ASSERT_EQ(c.VectorGet(out), 1);
    EXPECT_LT(Angle(out, GVector3{0, 1, 0}), 7e-5);
    // A singular matrix flattens the vector to nothing; nothing stays nothing.
    const Matrix3x3 zero{{0, 0, 0, 0, 0, 0, 0, 0, 0}};
    c *= zero;
    EXPECT_EQ(c.GetRaw(), 0u);
    c *= Identity3x3();
    EXPECT_EQ(c.GetRaw(), 0u);
}

TEST(GeometryColorValue, ChannelsAreClampedAndRounded)
{
    ColorValue c;
    c.SetRGB(-0.5f, 2.0f, float(kNaN));
    float r = 1, g = 0, b = 1;
    EXPECT_EQ(c.GetRGB(r, g, b), 1);
    EXPECT_EQ(r, 0.0f);
    EXPECT_EQ(g, 1.0f);
    EXPECT_EQ(b, 0.0f);
    for (int k : {1, 128, 254})
    {
        c.SetRGB(k / 255.0f, 0, 0);
        c.GetRGB(r, g, b);
        EXPECT_EQ(r, k / 255.0f) << k;
    }
    c.SetRGB(0.5f / 255.0f, 0.49f / 255.0f, 0.3f); // a tie rounds up; 0.3 -> 76.5 -> 77
    EXPECT_EQ(c.bytes[0], 1);
    EXPECT_EQ(c.bytes[1], 0);
    EXPECT_EQ(c.bytes[2], 77);
}

TEST(GeometryColorValue, CompressedValuesAtTheirEdges)
{
    ColorValue c;
    const float lo = -10, hi = 90;
    EXPECT_EQ(c.SetCompressedValue(lo, lo, hi), 0);
    EXPECT_EQ(c.GetCompressedValue(lo, hi), lo);
    EXPECT_EQ(c.SetCompressedValue(hi, lo, hi), 255);
    EXPECT_EQ(c.GetCompressedValue(lo, hi), hi);
    for (float outside : {1e30f, -std::numeric_limits<float>::infinity(), float(kNaN)})
    {
        c.SetCompressedValue(outside, lo, hi);
        EXPECT_EQ(c.GetCompressedValue(lo, hi), outside > 0 ? hi : lo) << outside;
    }
    // Resolution: every value in range reads back within half a step.
    const float step = (hi - lo) / 65535.0f;
    for (float v = lo; v <= hi; v += 0.37f)
    {
        c.SetCompressedValue(v, lo, hi);
        EXPECT_NEAR(c.GetCompressedValue(lo, hi), v, step * 0.5f + 1e-5f);
    }
    // The value also reads as a grey level.
    c.SetCompressedValue(40, lo, hi);
    EXPECT_EQ(c.bytes[0], c.bytes[1]);
    EXPECT_EQ(c.bytes[0], c.bytes[2]);
    // Unusable ranges store code 0 and read back min.
    for (auto range : {std::pair<float, float>{5, 5}, {5, 1}, {0, float(kInf)}})
    {
        EXPECT_EQ(c.SetCompressedValue(3, range.first, range.second), 0);
        EXPECT_EQ(c.GetCompressedValue(range.first, range.second), range.first);
    }
}

} // namespace
