// What the policies do that the policy_bytes fuzz target (replayed in every build) does not
// check: comparisons at their edges, and normals read into and rotated with a cloud's frame.
// Conversions, element operations and colour modes are that target's.
#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"
#include "host/geometry/CloudCursor.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <optional>

using namespace orv::Data::Cloud;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;

namespace
{

const orv::DataProxy::ExtraData::CloudNormalExtraDataConversionPolicy kNormal;

std::array<double, 3> Xyz(const GVector3& v)
{
    return {v.x, v.y, v.z};
}

} // namespace

// NaN is unequal to itself and +0 equals -0; integers and normals compare their bits.
TEST(PolicyEquality, Edges)
{
    using IntensityNew =
        orv::Data::ExtraData::Details::CloudExtraDataPolicy<CloudIntensityNewExtraData, double>;
    using SplitColor = orv::Data::ExtraData::Details::CloudExtraDataPolicy<CloudSplitColorExtraData,
                                                                           std::uint64_t>;
    const float nan = std::numeric_limits<float>::quiet_NaN(), plus = 0.0f, minus = -0.0f;
    EXPECT_FALSE(IntensityNew().AreEqual(&nan, &nan));
    EXPECT_TRUE(IntensityNew().AreEqual(&plus, &minus));
    const std::uint16_t a = 0x0102, b = 0x0102, c = 0x0103;
    EXPECT_TRUE(SplitColor().AreEqual(&a, &b) && !SplitColor().AreEqual(&a, &c));
    const std::uint32_t n1 = 0x80000000u, n2 = 0; // both decode to "no vector"
    EXPECT_FALSE(kNormal.AreEqual(&n1, &n2));
}

// Read in the cursor's frame without its translation; TransformElement rotates the stored form
// itself, and a scalar policy leaves its element alone.
TEST(NormalPolicy, Rotation)
{
    const CompressedVector32Bits xAxis(GVector3{1, 0, 0});
    GVector3 d{};
    ASSERT_NE(xAxis.VectorGet(d), 0);
    const auto read = [&xAxis](const Matrix3x4& m)
    {
        PointCloud cloud;
        cloud.Convert().SetMatrix(m);
        return Xyz(kNormal.GetValue(&xAxis, CloudCursorInfo(cloud.Convert())));
    };
    EXPECT_EQ(read(orv::Math::Algebra::Identity3x4()), Xyz(d));
    EXPECT_EQ(read(Matrix3x4{{1, 0, 0, 0, 1, 0, 0, 0, 1, 652000, 5180000, 300}}), Xyz(d));
    EXPECT_EQ(read(Matrix3x4{{0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}}), Xyz(GVector3{d.y, d.x, d.z}));

    const orv::Math::Algebra::Matrix3x3 swap{{0, 1, 0, 1, 0, 0, 0, 0, 1}};
    CompressedVector32Bits expected = xAxis;
    expected *= swap;
    std::uint32_t element = xAxis.GetRaw();
    kNormal.TransformElement(&element, swap);
    EXPECT_TRUE(element == expected.GetRaw() && element != xAxis.GetRaw());
    std::uint8_t label = 7;
    orv::Data::ExtraData::Details::CloudExtraDataPolicy<CloudClassificationExtraData,
                                                        std::uint64_t>()
        .TransformElement(&label, swap);
    EXPECT_EQ(label, 7);
}
