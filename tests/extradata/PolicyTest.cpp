#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"
#include "host/geometry/CloudCursor.h"
#include "tests/support/HostChoices.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>

using namespace orv::Data::Cloud;
using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::CloudExtraDataPolicy;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;

namespace
{

using ClassificationPolicy = CloudExtraDataPolicy<CloudClassificationExtraData, std::uint64_t>;
using SplitColorPolicy = CloudExtraDataPolicy<CloudSplitColorExtraData, std::uint64_t>;
using ScanIdPolicy = CloudExtraDataPolicy<CloudScanIDExtraData, std::uint64_t>;
using IntensityNewPolicy = CloudExtraDataPolicy<CloudIntensityNewExtraData, double>;
const orv::DataProxy::ExtraData::CloudNormalExtraDataConversionPolicy kNormal;
const orv::DataProxy::ExtraData::CloudIntensityExtraDataConversionPolicy kIntensity;
const Matrix3x4 kIdentity = orv::Math::Algebra::Identity3x4();

// What the policies receive: the cursor information of an empty cloud with the given frame
// and colour mode.
struct Info
{
    explicit Info(const Matrix3x4& frame = kIdentity, int mode = 1, float lo = 0, float hi = 1)
    {
        cloud.Convert().SetMatrix(frame);
        cloud.Convert().SetType(mode, lo, hi, nullptr, false);
        info.emplace(cloud.Convert());
    }
    PointCloud cloud;
    std::optional<CloudCursorInfo> info;
};

std::array<double, 3> Xyz(const GVector3& v)
{
    return {v.x, v.y, v.z};
}

} // namespace

TEST(ScalarPolicy, Edges)
{
    const Info identity;
    const CloudCursorInfo& info = *identity.info;
    // Integers widen without sign and narrow to their low-order bits.
    const std::uint8_t full = 255;
    const std::uint32_t big = 0xFFFFFFFFu;
    EXPECT_EQ(ClassificationPolicy().GetValue(&full, info), 255u);
    EXPECT_EQ(ScanIdPolicy().GetValue(&big, info), 0xFFFFFFFFull);
    std::uint8_t u8 = 0;
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    ClassificationPolicy().SetValue(&u8, 0x1234567890ABCDEFull, info);
    SplitColorPolicy().SetValue(&u16, 0x1234567890ABCDEFull, info);
    ScanIdPolicy().SetValue(&u32, 0x1234567890ABCDEFull, info);
    EXPECT_TRUE(u8 == 0xEF && u16 == 0xCDEF && u32 == 0x90ABCDEFu);
    // Doubles round to the nearest float, 1e39 to +infinity; floats widen exactly.
    float f = 0;
    IntensityNewPolicy().SetValue(&f, 0.1, info);
    EXPECT_EQ(f, 0.1f);
    IntensityNewPolicy().SetValue(&f, 1e39, info);
    EXPECT_EQ(IntensityNewPolicy().GetValue(&f, info), std::numeric_limits<double>::infinity());
    IntensityNewPolicy().SetValue(&f, std::nan(""), info);
    EXPECT_TRUE(std::isnan(f));
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(IntensityNewPolicy().GetValue(&third, info), double(third));
    // NaN is unequal to itself and +0 equals -0; integers and normals compare their bits.
    const float nan = std::numeric_limits<float>::quiet_NaN(), plus = 0.0f, minus = -0.0f;
    EXPECT_FALSE(IntensityNewPolicy().AreEqual(&nan, &nan));
    EXPECT_TRUE(IntensityNewPolicy().AreEqual(&plus, &minus));
    const std::uint16_t a = 0x0102, b = 0x0102, c = 0x0103;
    EXPECT_TRUE(SplitColorPolicy().AreEqual(&a, &b) && !SplitColorPolicy().AreEqual(&a, &c));
    const std::uint32_t n1 = 0x80000000u, n2 = 0; // both decode to "no vector"
    EXPECT_FALSE(kNormal.AreEqual(&n1, &n2));
}

TEST(ElementOperations, DefaultsAndResetAll)
{
    // A default scalar element is left as the table hands it out; the normal's and the
    // intensity's are zeroed.
    TableCluster bytes(1, 4), words(4, 4);
    bytes.SetFreshFill(0xAB);
    words.SetFreshFill(0xAB);
    EXPECT_EQ(*static_cast<std::uint8_t*>(ClassificationPolicy().AddDefaultElement(bytes)), 0xAB);
    EXPECT_EQ(*static_cast<std::uint32_t*>(kNormal.AddDefaultElement(words)), 0u);
    EXPECT_EQ(*static_cast<std::uint32_t*>(kIntensity.AddDefaultElement(words)), 0u);
    EXPECT_EQ(words.count, 2u);

    // Resetting all elements over no buffer, one and several, partly filled.
    for (std::uint32_t count : {0u, 1u, 4u, 5u, 12u, 13u})
    {
        TableCluster table(2, 4);
        table.SetFreshFill(0xAB);
        for (std::uint32_t i = 0; i < count; ++i)
            table.New(false);
        SplitColorPolicy().ResetAllElements(table);
        EXPECT_EQ(table.count, count);
        for (std::uint32_t i = 0; i < count; ++i)
            EXPECT_EQ(*static_cast<const std::uint16_t*>(table.GetElm(i)), 0) << count << "/" << i;
    }
}

// Rotates into the cursor frame without translation, round-trips, and transforms.
TEST(NormalPolicy, Rotation)
{
    const CompressedVector32Bits xAxis(GVector3{1, 0, 0});
    GVector3 d{};
    ASSERT_NE(xAxis.VectorGet(d), 0);
    const auto read = [&xAxis](const Matrix3x4& m)
    { return Xyz(kNormal.GetValue(&xAxis, *Info(m).info)); };
    EXPECT_EQ(read(kIdentity), Xyz(d));
    EXPECT_EQ(read(Matrix3x4{{1, 0, 0, 0, 1, 0, 0, 0, 1, 652000, 5180000, 300}}), Xyz(d));
    EXPECT_EQ(read(Matrix3x4{{0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}}), Xyz(GVector3{d.y, d.x, d.z}));

    // SetValue then GetValue in a rotated, translated frame: the vector within the precision.
    const double s = std::sqrt(0.5);
    const Info rotated(Matrix3x4{{s, -s, 0, s, s, 0, 0, 0, 1, 10, 20, 30}});
    for (const GVector3& v : {GVector3{0, 0, 1}, GVector3{0.6, 0.8, 0}, GVector3{-0.48, 0.6, 0.64}})
    {
        std::uint32_t element = 0;
        kNormal.SetValue(&element, v, *rotated.info);
        const GVector3 back = kNormal.GetValue(&element, *rotated.info);
        EXPECT_LT(std::hypot(back.x - v.x, back.y - v.y, back.z - v.z),
                  orv::TestSupport::HostChoice::NormalCodecBound());
    }
    // TransformElement rotates the stored form itself; scalar policies leave elements alone.
    const orv::Math::Algebra::Matrix3x3 swap{{0, 1, 0, 1, 0, 0, 0, 0, 1}};
    CompressedVector32Bits expected = xAxis;
    expected *= swap;
    std::uint32_t element = xAxis.GetRaw();
    kNormal.TransformElement(&element, swap);
    EXPECT_TRUE(element == expected.GetRaw() && element != xAxis.GetRaw());
    std::uint8_t label = 7;
    ClassificationPolicy().TransformElement(&label, swap);
    EXPECT_EQ(label, 7);
}

// Decodes by colour mode, the range min first.
TEST(IntensityPolicy, ColourModes)
{
    orv::Data::Primitive::ColorValue stored, expected;
    const Info plain(kIdentity, 1);
    kIntensity.SetValue(&stored, 0.1, *plain.info);
    EXPECT_EQ(stored.GetValueFloat(), 0.1f);
    EXPECT_EQ(kIntensity.GetValue(&stored, *plain.info), double(0.1f));

    const Info compressed(kIdentity, 3, 0.0f, 100.0f);
    kIntensity.SetValue(&stored, 40.0, *compressed.info);
    (void)expected.SetCompressedValue(40.0f, 0.0f, 100.0f);
    EXPECT_EQ(stored, expected) << "range passed min first";
    EXPECT_EQ(kIntensity.GetValue(&stored, *compressed.info),
              double(expected.GetCompressedValue(0.0f, 100.0f)));

    for (int mode : {0, 2, 4, -1})
    {
        const Info other(kIdentity, mode);
        stored.SetValueFloat(5.0f);
        kIntensity.SetValue(&stored, 7.0, *other.info);
        EXPECT_EQ(stored.GetValueFloat(), 5.0f) << mode;
        EXPECT_EQ(kIntensity.GetValue(&stored, *other.info), 1.9999999360571385e38) << mode;
    }
}
