#include "BuilderTestSupport.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

using namespace builder_test;
using orv::Data::Primitive::ColorValue;

namespace
{

template <class V>
constexpr C ComponentOf()
{
    if constexpr (std::is_same_v<V, GVector3>)
        return C::Vector3;
    else if constexpr (std::is_same_v<V, std::uint64_t>)
        return C::UnsignedInteger;
    else if constexpr (std::is_same_v<V, std::int64_t>)
        return C::SignedInteger;
    else if constexpr (std::is_same_v<V, double>)
        return C::Real;
    else
        return C::Color;
}

// Builds one point carrying `value` under one key of host type `type` stored at `width`, and
// returns what the host stored for it.
template <class S, class V>
S StoreOne(int type, std::uint64_t width, V value)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(ComponentOf<V>(), type, width);
    TestConsumer consumer;
    const auto builder = f.CreatePointDataBuilder(consumer);
    TestAccessor point;
    point.point.Set(0, value);
    builder->AddPointData(point);
    return Stored<S>(CloudOf(builder->GetResult()), type, 0);
}

std::vector<unsigned char> ElementBytes(const PointCloud& cloud, int type, std::uint64_t i)
{
    const auto* e = static_cast<const unsigned char*>(cloud.Convert().GetExtraDataElement(type, i));
    return e ? std::vector<unsigned char>(e, e + orv::Data::Cloud::GetExtraDataElementSize(type))
             : std::vector<unsigned char>{};
}

TestPoint FullPoint(double seed)
{
    TestPoint p;
    p.position = {seed, 2.0 * seed, -seed};
    p.Set(0, GVector3{1.0, seed, 0.5});
    p.Set(0, static_cast<std::uint64_t>(seed) + 1);
    p.Set(0, -static_cast<std::int64_t>(seed) - 1);
    p.Set(0, seed + 0.5);
    p.Set(0, RgbaColor{seed / 8.0, 0.5, 1.0, 1.0});
    return p;
}

// One key per extra-data component, all of them at 4 bytes or less.
PointCloudDataBuilderFactory OneKeyPerComponent()
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Vector3, NormalType(), 4);
    f.MapOptionalComponent(C::UnsignedInteger, ClassificationType(), 1);
    f.MapOptionalComponent(C::SignedInteger, SplitColorType(), 2);
    f.MapOptionalComponent(C::Real, IntensityNewType(), 4);
    f.MapOptionalComponent(C::Color, IntensityType(), 0);
    return f;
}

const int* OneKeyPerComponentTypes()
{
    static const int types[] = {NormalType(), ClassificationType(), SplitColorType(),
                                IntensityNewType(), IntensityType()};
    return types;
}

void AddPoints(orv::DataProxy::IPointDataBuilder& builder, std::initializer_list<double> xs)
{
    for (double x : xs)
    {
        TestAccessor a;
        a.point = FullPoint(x);
        builder.AddPointData(a);
    }
}

std::vector<double> Xs(const PointCloud& cloud)
{
    std::vector<double> xs;
    GPointDouble p{};
    for (std::uint64_t i = 0; cloud.Convert().GetStoredPosition(i, p); ++i)
        xs.push_back(p.x);
    return xs;
}

} // namespace

TEST(BuilderWidths, IntegersKeepTheirLowOrderBytesWithoutRangeCheck)
{
    EXPECT_EQ(StoreOne<std::uint8_t>(ClassificationType(), 1, std::uint64_t{300}), 44);
    EXPECT_EQ(StoreOne<std::uint16_t>(SplitColorType(), 2, std::uint64_t{0x12345}), 0x2345);
    EXPECT_EQ(StoreOne<std::uint32_t>(ScanIdType(), 4, std::uint64_t{0x100000007}), 7u);
    EXPECT_EQ(StoreOne<std::uint64_t>(WideType<std::uint64_t>(), 8, ~std::uint64_t{0} - 1),
              ~std::uint64_t{0} - 1);
    EXPECT_EQ(StoreOne<std::uint16_t>(SplitColorType(), 2, std::int64_t{-1}), 0xFFFF);
    EXPECT_EQ(StoreOne<std::uint8_t>(ClassificationType(), 1, std::int64_t{-2}), 0xFE);
    EXPECT_EQ(StoreOne<std::uint32_t>(ScanIdType(), 4, std::int64_t{-5}), 0xFFFFFFFBu);
    const std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(StoreOne<std::int64_t>(WideType<std::int64_t>(), 8, lowest), lowest);
    // Narrower than the host element: the bytes above the width stay zero (no sign extension).
    EXPECT_EQ(StoreOne<std::uint32_t>(ScanIdType(), 2, std::int64_t{-1}), 0xFFFFu);
    EXPECT_EQ(StoreOne<std::uint32_t>(ScanIdType(), 3, std::uint64_t{0xABCDEF}), 0u);
}

TEST(BuilderWidths, RealsAreDoublesOrNearestFloats)
{
    EXPECT_EQ(Bits(StoreOne<float>(IntensityNewType(), 4, 0.1)), 0x3DCCCCCDu); // not ...CC
    EXPECT_EQ(StoreOne<double>(WideType<double>(), 8, 0.1), 0.1);
    EXPECT_EQ(Bits(StoreOne<float>(IntensityNewType(), 4, 1e300)), 0x7F800000u); // +inf
    EXPECT_EQ(StoreOne<std::uint32_t>(IntensityNewType(), 3, 2.5), 0u);
}

TEST(BuilderWidths, VectorsAreThreeDoublesOrPacked)
{
    const GVector3 v = StoreOne<GVector3>(WideType<GVector3>(), 24, GVector3{1.5, -2.0, 3e-300});
    EXPECT_EQ(v.x, 1.5);
    EXPECT_EQ(v.y, -2.0);
    EXPECT_EQ(v.z, 3e-300);

    orv::Math::Algebra::CompressedVector32Bits packed;
    packed.bits = StoreOne<std::uint32_t>(NormalType(), 4, GVector3{3.0, 0.0, 4.0});
    GVector3 d{};
    ASSERT_EQ(packed.VectorGet(d), 1);
    EXPECT_LT(std::hypot(d.x - 0.6, d.y, d.z - 0.8), 7e-5); // the host's stated bound
    EXPECT_EQ(StoreOne<std::uint32_t>(NormalType(), 4, GVector3{0.0, 0.0, 0.0}), 0u);
    EXPECT_EQ(StoreOne<std::uint32_t>(NormalType(), 8, GVector3{1.0, 0.0, 0.0}), 0u);
}

TEST(BuilderWidths, ColorsIgnoreTheWidthAndDropAlpha)
{
    const RgbaColor color{51.0 / 255.0, 153.0 / 255.0, 1.0, 0.25};
    const ColorValue stored = StoreOne<ColorValue>(IntensityType(), 0, color);
    float r = 0, g = 0, b = 0;
    stored.GetRGB(r, g, b);
    EXPECT_FLOAT_EQ(r, 51.0f / 255.0f);
    EXPECT_FLOAT_EQ(g, 153.0f / 255.0f);
    EXPECT_FLOAT_EQ(b, 1.0f);
    EXPECT_EQ(stored,
              StoreOne<ColorValue>(IntensityType(), 7, RgbaColor{color.r, color.g, 1.0, 1.0}));
}

TEST(Builder, APointWithoutAValueStoresZeroAndTheSlotKeepsWorking)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer;
    const auto builder = f.CreatePointDataBuilder(consumer);
    AddPoints(*builder, {3.0});
    builder->AddPointData(TestAccessor{}); // no value for any key
    AddPoints(*builder, {5.0});

    const PointCloud cloud = CloudOf(builder->GetResult());
    ASSERT_EQ(cloud.GetPointCount(), 3u);
    EXPECT_EQ(Stored<float>(cloud, IntensityNewType(), 0), 3.5f);
    for (int k = 0; k < 5; ++k)
    {
        const int type = OneKeyPerComponentTypes()[k];
        const std::vector<unsigned char> zero(orv::Data::Cloud::GetExtraDataElementSize(type), 0);
        EXPECT_NE(ElementBytes(cloud, type, 0), zero) << "type " << type;
        EXPECT_EQ(ElementBytes(cloud, type, 1), zero) << "type " << type;
        EXPECT_NE(ElementBytes(cloud, type, 2), zero) << "type " << type;
        EXPECT_NE(ElementBytes(cloud, type, 2), ElementBytes(cloud, type, 0)) << "type " << type;
    }
}

TEST(Builder, DeclinedKeysStayOutOfTheCloudButAreReportedAndColourStillApplies)
{
    auto f = OneKeyPerComponent();
    const Key scan = f.MapOptionalComponent(C::UnsignedInteger, ScanIdType(), 4);
    TestConsumer consumer;
    consumer.declined = {{C::Color, 0}, {C::Real, 0}};
    const auto builder = f.CreatePointDataBuilder(consumer);

    const auto empty = builder->GetResult();
    EXPECT_EQ(CloudOf(empty).GetPointCount(), 0u);
    EXPECT_EQ(CloudOf(empty).Convert().GetType(), 1); // no colour type before the first point
    EXPECT_TRUE(empty->HasComponent(C::Color, 0));

    TestAccessor point;
    point.point = FullPoint(1.0);
    point.point.Set(scan.index, std::uint64_t{77});
    builder->AddPointData(point);
    EXPECT_EQ(consumer.calls, 6); // once per mapped key, on the first point only
    AddPoints(*builder, {2.0});
    EXPECT_EQ(consumer.calls, 6);

    const auto result = builder->GetResult();
    const PointCloud cloud = CloudOf(result);
    EXPECT_EQ(cloud.Convert().GetType(), 2);
    EXPECT_FALSE(cloud.Convert().HasExtraData(IntensityType()));
    EXPECT_FALSE(cloud.Convert().HasExtraData(IntensityNewType()));
    EXPECT_EQ(Stored<std::uint32_t>(cloud, ScanIdType(), 0), 77u);
    EXPECT_TRUE(result->HasComponent(C::Color, 0) && result->HasComponent(C::Real, 0));
    EXPECT_FALSE(result->HasComponent(C::Real, 1));
}

// Such keys only use up an index: the cloud gets positions only.
TEST(Builder, KeysOfNonExtraDataComponentsAreNeitherReadNorRegistered)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Position, ClassificationType(), 1);
    f.MapOptionalComponent(C::PointIndex, ScanIdType(), 4);
    f.MapOptionalComponent(static_cast<C>(9), SplitColorType(), 2);
    TestConsumer consumer;
    const auto builder = f.CreatePointDataBuilder(consumer);
    TestAccessor point;
    point.point = FullPoint(1.25);
    builder->AddPointData(point);

    EXPECT_EQ(consumer.calls, 3);
    EXPECT_EQ(point.calls[0], 1);
    for (int c = 1; c < 7; ++c)
        EXPECT_EQ(point.calls[c], 0) << "component " << c;
    const auto result = builder->GetResult();
    const PointCloud cloud = CloudOf(result);
    EXPECT_TRUE(cloud.Convert().GetExtraDataTypes().empty());
    EXPECT_EQ(Xs(cloud), std::vector<double>{1.25});
    EXPECT_TRUE(result->HasComponent(C::Position, 7) && result->HasComponent(C::PointIndex, 0));
    EXPECT_FALSE(result->HasComponent(C::UnsignedInteger, 0));
}

TEST(Builder, GetResultSnapshotsTheCloudAndBuildingGoesOn)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer;
    const auto builder = f.CreatePointDataBuilder(consumer);
    AddPoints(*builder, {1.0, 2.0, 3.0});
    const auto first = builder->GetResult();
    AddPoints(*builder, {4.0});
    EXPECT_EQ(CloudOf(first).GetPointCount(), 3u);
    const PointCloud now = CloudOf(builder->GetResult());
    EXPECT_EQ(Xs(now), (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
    EXPECT_EQ(Stored<std::uint8_t>(now, ClassificationType(), 3), 5);
}

TEST(Builder, AMissingWidthFailsBeforeThePointAndTheBuilderStaysUsable)
{
    orv::Data::Cloud::ComponentMapping mapping;
    mapping.Map(C::UnsignedInteger, ClassificationType());
    mapping.Map(C::Real, IntensityNewType());
    mapping.Map(C::Color, IntensityType());
    TestConsumer consumer;
    PointCloudDataBuilder builder(consumer, mapping, {{{C::UnsignedInteger, 0}, 1}});

    TestAccessor point;
    point.point = FullPoint(5.0);
    try
    {
        builder.AddPointData(point);
        ADD_FAILURE() << "no exception";
    }
    catch (const std::out_of_range& e)
    {
        EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
    }
    EXPECT_EQ(SizeOf(builder), 0u);

    point.point.real[0].reset(); // without a Real value the point goes in
    point.point.unsignedInteger[0] = 9;
    builder.AddPointData(point);
    point.point.real[0] = 1.0;
    EXPECT_THROW(builder.AddPointData(point), std::out_of_range);
    const PointCloud cloud = CloudOf(builder.GetResult());
    ASSERT_EQ(cloud.GetPointCount(), 1u);
    EXPECT_EQ(Stored<std::uint8_t>(cloud, ClassificationType(), 0), 9);
    EXPECT_EQ(Stored<float>(cloud, IntensityNewType(), 0), 0.0f);
}

TEST(Builder, CopiesTakeThePointsOver)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer;
    PointCloudDataBuilder source(consumer, f.mapping, f.storageWidthByKey);
    AddPoints(source, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});

    PointCloudDataBuilder copy(source);
    EXPECT_EQ(SizeOf(copy), 10u);
    EXPECT_EQ(SizeOf(source), 0u);
    AddPoints(source, {20.0}); // a new cloud; the consumer is asked again
    EXPECT_EQ(consumer.calls, 10);
    EXPECT_EQ(Xs(CloudOf(source.GetResult())), std::vector<double>{20.0});
    AddPoints(copy, {10.0});
    EXPECT_EQ(Stored<std::uint8_t>(CloudOf(copy.GetResult()), ClassificationType(), 10), 11);

    PointCloudDataBuilder target(consumer, f.mapping, f.storageWidthByKey);
    AddPoints(target, {30.0, 31.0});
    target = copy; // target's own points are discarded
    auto& alias = target;
    target = alias;
    EXPECT_EQ(SizeOf(target), 11u);
    EXPECT_EQ(SizeOf(copy), 0u);
    target = copy; // from a builder without points
    EXPECT_EQ(SizeOf(target), 0u);
}

TEST(Builder, MergeAppendsInBothDirectionsAndIgnoresEmptySources)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer;
    PointCloudDataBuilder a(consumer, f.mapping, f.storageWidthByKey);
    PointCloudDataBuilder b(consumer, f.mapping, f.storageWidthByKey);
    PointCloudDataBuilder empty(consumer, f.mapping, f.storageWidthByKey);
    AddPoints(a, {0.0, 1.0});
    AddPoints(b, {10.0, 11.0, 12.0});

    a.Merge(b);
    EXPECT_EQ(Xs(CloudOf(a.GetResult())), (std::vector<double>{0.0, 1.0, 10.0, 11.0, 12.0}));
    EXPECT_EQ(SizeOf(b), 3u);
    b.Merge(a);
    EXPECT_EQ(Xs(CloudOf(b.GetResult())),
              (std::vector<double>{10.0, 11.0, 12.0, 0.0, 1.0, 10.0, 11.0, 12.0}));
    EXPECT_EQ(Stored<std::uint8_t>(CloudOf(b.GetResult()), ClassificationType(), 4), 2);

    const int asked = consumer.calls;
    a.Merge(empty);
    empty.Merge(PointCloudDataBuilder(consumer, f.mapping, f.storageWidthByKey));
    EXPECT_EQ(SizeOf(a), 5u);
    EXPECT_EQ(consumer.calls, asked); // the empty target created no staging
    a.Merge(a);
    EXPECT_EQ(SizeOf(a), 10u);
}

TEST(Builder, MergeIntoABuilderWithoutPointsRegistersItsKeys)
{
    const auto f = OneKeyPerComponent();
    PointCloudDataBuilderFactory plain;
    plain.MapOptionalComponent(C::UnsignedInteger, ClassificationType(), 1);
    TestConsumer consumer;
    PointCloudDataBuilder colourSource(consumer, f.mapping, f.storageWidthByKey);
    PointCloudDataBuilder plainSource(consumer, plain.mapping, plain.storageWidthByKey);
    AddPoints(colourSource, {0.0});
    AddPoints(plainSource, {1.0});

    TestConsumer own;
    PointCloudDataBuilder target(own, plain.mapping, plain.storageWidthByKey);
    target.Merge(colourSource);
    EXPECT_EQ(own.calls, 1);
    AddPoints(target, {7.0});
    const PointCloud cloud = CloudOf(target.GetResult());
    EXPECT_EQ(cloud.Convert().GetType(), 2); // the merged cloud is a colour cloud
    ASSERT_EQ(cloud.GetPointCount(), 2u);
    EXPECT_EQ(Stored<std::uint8_t>(cloud, ClassificationType(), 1), 8);

    PointCloudDataBuilder colourTarget(own, f.mapping, f.storageWidthByKey);
    colourTarget.Merge(plainSource);
    EXPECT_EQ(CloudOf(colourTarget.GetResult()).Convert().GetType(), 2);
}

TEST(Builder, AFailingConsumerLeavesNoHalfBuiltStaging)
{
    const auto f = OneKeyPerComponent();
    // Fail on the key asked about last, so that others were registered before the throw.
    Key last{};
    for (const auto& entry : f.mapping.extraDataTypeByKey)
        last = entry.first;
    TestConsumer consumer;
    consumer.failOn = last;
    PointCloudDataBuilder builder(consumer, f.mapping, f.storageWidthByKey);
    PointCloudDataBuilder source(consumer, f.mapping, f.storageWidthByKey);

    EXPECT_THROW(AddPoints(builder, {1.0}), std::runtime_error);
    EXPECT_THROW(AddPoints(source, {1.0}), std::runtime_error);
    consumer.failOn.reset();
    AddPoints(source, {2.0});
    consumer.failOn = last;
    EXPECT_THROW(builder.Merge(source), std::runtime_error);
    EXPECT_EQ(SizeOf(source), 1u);

    consumer.failOn.reset();
    const int asked = consumer.calls;
    AddPoints(builder, {3.0});
    EXPECT_EQ(consumer.calls, asked + 5); // no staging was left behind: asked again
    const PointCloud cloud = CloudOf(builder.GetResult());
    EXPECT_EQ(Xs(cloud), std::vector<double>{3.0});
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(cloud.Convert().HasExtraData(OneKeyPerComponentTypes()[k])) << k;
}
