#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"
#include "host/geometry/CloudCursor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace orv::Data::Cloud;
using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::CloudExtraDataPolicy;
using orv::DataProxy::ExtraData::CloudIntensityExtraDataConversionPolicy;
using orv::DataProxy::ExtraData::CloudNormalExtraDataConversionPolicy;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;

namespace
{

using ClassificationPolicy = CloudExtraDataPolicy<CloudClassificationExtraData, std::uint64_t>;
using SplitColorPolicy = CloudExtraDataPolicy<CloudSplitColorExtraData, std::uint64_t>;
using ScanIdPolicy = CloudExtraDataPolicy<CloudScanIDExtraData, std::uint64_t>;
using IntensityNewPolicy = CloudExtraDataPolicy<CloudIntensityNewExtraData, double>;
using MaxProbabilityPolicy = CloudExtraDataPolicy<CloudMaxProbabilityExtraData, double>;

// A host cursor standing on an empty cloud with the given frame and colour mode: the
// `info` the policies receive.
struct CursorInfo
{
    explicit CursorInfo(const Matrix3x4& frame, int mode = 1, float lo = 0.0f, float hi = 1.0f)
    {
        cloud.Convert().SetMatrix(frame);
        cloud.Convert().SetType(mode, lo, hi, nullptr, false);
        cursor.emplace(cloud.Convert(), 0);
    }
    PointCloud cloud;
    std::optional<CloudCursorBase<1>> cursor;
};

Matrix3x4 Frame(std::initializer_list<double> linear, double tx = 0, double ty = 0, double tz = 0)
{
    Matrix3x4 m{};
    std::copy(linear.begin(), linear.end(), m.v);
    m.v[9] = tx;
    m.v[10] = ty;
    m.v[11] = tz;
    return m;
}

const Matrix3x4 kIdentity = Frame({1, 0, 0, 0, 1, 0, 0, 0, 1});

template <class Policy, class Stored>
Stored RoundTripStored(const typename Policy::Value& value)
{
    CursorInfo info(kIdentity);
    Stored stored{};
    Policy().SetValue(&stored, value, *info.cursor);
    return stored;
}

} // namespace

TEST(ScalarPolicy, IntegersWidenWithoutSignAndNarrowToLowBits)
{
    CursorInfo info(kIdentity);
    const std::uint8_t full = 255;
    EXPECT_EQ(ClassificationPolicy().GetValue(&full, *info.cursor), 255u);
    const std::uint32_t big = 0xFFFFFFFFu;
    EXPECT_EQ(ScanIdPolicy().GetValue(&big, *info.cursor), 0xFFFFFFFFull);

    EXPECT_EQ((RoundTripStored<ClassificationPolicy, std::uint8_t>(0x1234567890ABCDEFull)), 0xEF);
    EXPECT_EQ((RoundTripStored<SplitColorPolicy, std::uint16_t>(0x1234567890ABCDEFull)), 0xCDEF);
    EXPECT_EQ((RoundTripStored<ScanIdPolicy, std::uint32_t>(0x1234567890ABCDEFull)), 0x90ABCDEFu);
}

TEST(ScalarPolicy, FloatsRoundToNearestAndOverflowToInfinity)
{
    CursorInfo info(kIdentity);
    EXPECT_EQ((RoundTripStored<IntensityNewPolicy, float>(0.1)), 0.1f);
    const float inf = RoundTripStored<IntensityNewPolicy, float>(1e39);
    EXPECT_TRUE(std::isinf(inf) && inf > 0);
    EXPECT_TRUE(std::isinf(IntensityNewPolicy().GetValue(&inf, *info.cursor)));
    EXPECT_TRUE(std::isnan((RoundTripStored<IntensityNewPolicy, float>(std::nan("")))));
    const float exact = 1.0f / 3.0f;
    EXPECT_EQ(IntensityNewPolicy().GetValue(&exact, *info.cursor), static_cast<double>(exact));
}

TEST(ScalarPolicy, EqualityIsBitwiseForIntegersAndIeeeForFloats)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float plusZero = 0.0f;
    const float minusZero = -0.0f;
    EXPECT_FALSE(IntensityNewPolicy().AreEqual(&nan, &nan));
    EXPECT_TRUE(IntensityNewPolicy().AreEqual(&plusZero, &minusZero));
    const std::uint16_t a = 0x0102;
    const std::uint16_t b = 0x0102;
    const std::uint16_t c = 0x0103;
    EXPECT_TRUE(SplitColorPolicy().AreEqual(&a, &b));
    EXPECT_FALSE(SplitColorPolicy().AreEqual(&a, &c));
    // Normals compare their 32 bits, whatever they decode to.
    const std::uint32_t n1 = 0x80000000u;
    const std::uint32_t n2 = 0x00000000u;
    EXPECT_FALSE(CloudNormalExtraDataConversionPolicy().AreEqual(&n1, &n2));
}

TEST(ScalarPolicy, TraitsFollowTheTable)
{
    EXPECT_TRUE(ClassificationPolicy().GetTypeFlagA());
    EXPECT_TRUE(MaxProbabilityPolicy().GetTypeFlagA());
    EXPECT_FALSE(ScanIdPolicy().GetTypeFlagA());
    EXPECT_FALSE(CloudNormalExtraDataConversionPolicy().GetTypeFlagA());
    EXPECT_EQ(ClassificationPolicy().GetElementSize(), 1u);
    EXPECT_EQ(SplitColorPolicy().GetElementSize(), 2u);
    EXPECT_EQ(ScanIdPolicy().GetElementSize(), 4u);
    EXPECT_EQ(CloudIntensityExtraDataConversionPolicy().GetElementSize(), 4u);
    EXPECT_EQ(&ClassificationPolicy().GetTypeName(), &ClassificationExtraData::GetStaticType());
    EXPECT_EQ(&CloudNormalExtraDataConversionPolicy().GetTypeName(),
              &NormalExtraData::GetStaticType());
}

TEST(ElementOperations, DefaultElementsAreZeroedOnlyByNormalAndIntensity)
{
    TableCluster bytes(1, 4);
    bytes.SetFreshFill(0xAB);
    auto* scalar = static_cast<std::uint8_t*>(ClassificationPolicy().AddDefaultElement(bytes));
    EXPECT_EQ(*scalar, 0xAB); // left as the table handed it out

    TableCluster words(4, 4);
    words.SetFreshFill(0xAB);
    std::uint32_t bits = 0;
    std::memcpy(&bits, CloudNormalExtraDataConversionPolicy().AddDefaultElement(words), 4);
    EXPECT_EQ(bits, 0u);
    std::memcpy(&bits, CloudIntensityExtraDataConversionPolicy().AddDefaultElement(words), 4);
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(words.count, 2u);
}

TEST(ElementOperations, ResetAllClearsEveryBufferAndOnlyThat)
{
    for (std::uint32_t count : {0u, 1u, 3u, 4u, 5u, 11u, 12u, 13u})
    {
        TableCluster table(2, 4); // 4 elements per buffer: up to four buffers
        for (std::uint32_t i = 0; i < count; ++i)
        {
            const std::uint16_t value = static_cast<std::uint16_t>(0x100 + i);
            SplitColorPolicy().AddElement(table, &value);
        }
        SplitColorPolicy().VisitAllElements(table);
        for (std::uint32_t i = 0; i < count; ++i)
        {
            std::uint16_t value = 0;
            std::memcpy(&value, SplitColorPolicy().GetElement(table, i), 2);
            ASSERT_EQ(value, 0x100 + i) << "visiting changed element " << i;
        }
        SplitColorPolicy().ResetAllElements(table);
        EXPECT_EQ(table.count, count);
        for (std::uint32_t i = 0; i < count; ++i)
        {
            std::uint16_t value = 1;
            std::memcpy(&value, SplitColorPolicy().GetElement(table, i), 2);
            EXPECT_EQ(value, 0) << "count " << count << " element " << i;
        }
    }
}

TEST(ElementOperations, SetInitResetWorkOnExactlyTheElementWidth)
{
    TableCluster table(2, 8);
    const std::uint16_t values[3] = {0x1111, 0x2222, 0x3333};
    for (const std::uint16_t& v : values)
    {
        SplitColorPolicy().AddElement(table, &v);
    }
    const std::uint16_t replacement = 0xBEEF;
    EXPECT_EQ(SplitColorPolicy().SetElement(table, 1, &replacement), table.GetElm(1));
    EXPECT_EQ(SplitColorPolicy().InitElement(table, 2, &replacement), table.GetElm(2));
    SplitColorPolicy().ResetElement(table, 0);
    std::uint16_t read[3];
    for (int i = 0; i < 3; ++i)
    {
        std::memcpy(&read[i], table.GetElm(static_cast<unsigned>(i)), 2);
    }
    EXPECT_EQ(read[0], 0);
    EXPECT_EQ(read[1], 0xBEEF);
    EXPECT_EQ(read[2], 0xBEEF);
}

TEST(NormalPolicy, RotatesIntoTheCursorFrameWithoutTranslation)
{
    orv::Math::Algebra::CompressedVector32Bits xAxis;
    xAxis.VectorSet({1, 0, 0});
    GVector3 decoded{};
    ASSERT_NE(xAxis.VectorGet(decoded), 0);

    CursorInfo identity(kIdentity);
    CursorInfo translated(Frame({1, 0, 0, 0, 1, 0, 0, 0, 1}, 652000, 5180000, 300));
    CursorInfo swapXY(Frame({0, 1, 0, 1, 0, 0, 0, 0, 1}));
    const CloudNormalExtraDataConversionPolicy policy;

    const GVector3 a = policy.GetValue(&xAxis, *identity.cursor);
    EXPECT_EQ(a.x, decoded.x);
    EXPECT_EQ(a.y, decoded.y);
    EXPECT_EQ(a.z, decoded.z);
    const GVector3 b = policy.GetValue(&xAxis, *translated.cursor);
    EXPECT_EQ(b.x, decoded.x);
    EXPECT_EQ(b.y, decoded.y);
    EXPECT_EQ(b.z, decoded.z);
    const GVector3 c = policy.GetValue(&xAxis, *swapXY.cursor);
    EXPECT_EQ(c.x, decoded.y);
    EXPECT_EQ(c.y, decoded.x);
    EXPECT_EQ(c.z, decoded.z);
    EXPECT_NEAR(c.y, 1.0, 1e-4);
}

TEST(NormalPolicy, SetThenGetRoundTripsThroughTheFrame)
{
    const double s = std::sqrt(0.5);
    CursorInfo rotated(Frame({s, -s, 0, s, s, 0, 0, 0, 1}, 10, 20, 30));
    const CloudNormalExtraDataConversionPolicy policy;
    for (const GVector3& v : {GVector3{0, 0, 1}, GVector3{0.6, 0.8, 0}, GVector3{-0.48, 0.6, 0.64}})
    {
        std::uint32_t element = 0;
        policy.SetValue(&element, v, *rotated.cursor);
        const GVector3 back = policy.GetValue(&element, *rotated.cursor);
        EXPECT_NEAR(back.x, v.x, 1e-4);
        EXPECT_NEAR(back.y, v.y, 1e-4);
        EXPECT_NEAR(back.z, v.z, 1e-4);
    }
}

TEST(NormalPolicy, TransformElementRotatesTheStoredForm)
{
    orv::Math::Algebra::CompressedVector32Bits packed;
    packed.VectorSet({1, 0, 0});
    orv::Math::Algebra::CompressedVector32Bits expected = packed;
    const orv::Math::Algebra::Matrix3x3 swap{{0, 1, 0, 1, 0, 0, 0, 0, 1}};
    expected *= swap;

    std::uint32_t element = packed.GetRaw();
    CloudNormalExtraDataConversionPolicy().TransformElement(&element, swap);
    EXPECT_EQ(element, expected.GetRaw());
    GVector3 v{};
    packed.SetRaw(element);
    ASSERT_NE(packed.VectorGet(v), 0);
    EXPECT_NEAR(v.y, 1.0, 1e-4);

    // Scalar policies leave elements alone.
    std::uint8_t label = 7;
    ClassificationPolicy().TransformElement(&label, swap);
    EXPECT_EQ(label, 7);
}

TEST(IntensityPolicy, DecodesByColourMode)
{
    const CloudIntensityExtraDataConversionPolicy policy;
    orv::Data::Primitive::ColorValue stored;

    CursorInfo plain(kIdentity, 1);
    policy.SetValue(&stored, 0.1, *plain.cursor);
    EXPECT_EQ(stored.GetValueFloat(), 0.1f);
    EXPECT_EQ(policy.GetValue(&stored, *plain.cursor), static_cast<double>(0.1f));

    CursorInfo compressed(kIdentity, 3, 0.0f, 100.0f);
    policy.SetValue(&stored, 40.0, *compressed.cursor);
    orv::Data::Primitive::ColorValue expected;
    (void)expected.SetCompressedValue(40.0f, 0.0f, 100.0f);
    EXPECT_EQ(std::memcmp(&stored, &expected, 4), 0) << "range passed min first";
    EXPECT_EQ(policy.GetValue(&stored, *compressed.cursor),
              static_cast<double>(expected.GetCompressedValue(0.0f, 100.0f)));

    for (int mode : {0, 2, 4, -1})
    {
        CursorInfo other(kIdentity, mode);
        orv::Data::Primitive::ColorValue untouched;
        untouched.SetValueFloat(5.0f);
        policy.SetValue(&untouched, 7.0, *other.cursor);
        EXPECT_EQ(untouched.GetValueFloat(), 5.0f) << mode;
        EXPECT_EQ(policy.GetValue(&untouched, *other.cursor), 1.9999999360571385e38) << mode;
    }
    const float sentinel = 2.0e38f;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &sentinel, 4);
    EXPECT_EQ(bits, 0x7F167699u);
    EXPECT_EQ(static_cast<double>(sentinel), 1.9999999360571385e38);
}
