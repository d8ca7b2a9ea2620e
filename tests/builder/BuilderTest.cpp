// The builder's width rules, copies, colour clouds, configuration and block appends. Values read
// back, missing and declined values, merges and a failing consumer are the builder_sequences fuzz
// target's (replayed in every build) and the fault-injection suite's.
#include "blocks/PointDataBlockAppend.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"
#include "tests/support/Thrown.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <stdexcept>
#include <tuple>

using namespace orv::TestSupport;
using orv::Data::Primitive::ColorValue;
using orv::DataProxy::PointDataBlock;
using ::testing::HasSubstr;

namespace
{

// Builds one point carrying `value` under one key of host type `type` stored at `width`, and
// returns what the host stored for it.
template <class S, class V>
S StoreOne(int type, std::uint64_t width, V value)
{
    PointCloudDataBuilderFactory f;
    PointRecord point;
    f.MapOptionalComponent(Put(point, 0, value), type, width);
    TestConsumer consumer;
    const auto builder = f.CreatePointDataBuilder(consumer);
    builder->AddPointData(point);
    return Stored<S>(CloudOf(builder->GetResult()).Convert(), type, 0);
}

PointRecord FullPoint(double seed)
{
    PointRecord p;
    p.position = {seed, 2.0 * seed, -seed};
    Put(p, 0, GVector3{1.0, seed, 0.5});
    Put(p, 0, static_cast<std::uint64_t>(seed) + 1);
    Put(p, 0, -static_cast<std::int64_t>(seed) - 1);
    Put(p, 0, seed + 0.5);
    Put(p, 0, RgbaColor{seed / 8.0, 0.5, 1.0, 1.0});
    return p;
}

// One key per extra-data component, all of them at 4 bytes or less.
PointCloudDataBuilderFactory OneKeyPerComponent()
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    f.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    f.MapOptionalComponent(C::SignedInteger, Type::SplitColor(), 2);
    f.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    f.MapOptionalComponent(C::Color, Type::Intensity(), 0);
    return f;
}

void AddPoints(orv::DataProxy::IPointDataBuilder& builder, std::initializer_list<double> xs)
{
    for (double x : xs)
        builder.AddPointData(FullPoint(x));
}

std::uint8_t ClassOf(orv::DataProxy::IPointDataBuilder& builder, std::uint64_t i)
{
    return Stored<std::uint8_t>(CloudOf(builder.GetResult()).Convert(), Type::Class(), i);
}

double Unit(std::mt19937_64& rng)
{
    return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
}

template <class T>
T Random(std::mt19937_64& rng)
{
    if constexpr (std::is_same_v<T, GVector3>)
        return {Unit(rng), Unit(rng), rng() % 9 ? Unit(rng) : 0};
    else if constexpr (std::is_same_v<T, double>)
        return 1e39 * Unit(rng); // beyond a float's range now and then
    else if constexpr (std::is_same_v<T, RgbaColor>)
        return {Unit(rng), 2 * Unit(rng), 0.5 + Unit(rng) / 2, 1};
    else
        return T(rng());
}

// Point i of the block as a record: only its present values.
PointRecord Row(const PointDataBlock& block, std::size_t i)
{
    PointRecord record;
    record.position = {block.X()[i], block.Y()[i], block.Z()[i]};
    for (const Key& key : block.Layout().keys)
        orv::DataProxy::VisitExtraDataComponent(key.component,
                                                [&](auto c)
                                                {
                                                    const auto column =
                                                        block.Column<decltype(c)::value>(key.index);
                                                    if (column.present[i])
                                                        Put(record, key.index, column.values[i]);
                                                });
    return record;
}

} // namespace

// Integers keep their low-order bytes; reals are doubles or the nearest float.
TEST(BuilderWidths, IntegersAndReals)
{
    EXPECT_EQ(StoreOne<std::uint8_t>(Type::Class(), 1, std::uint64_t{300}), 44);
    EXPECT_EQ(StoreOne<std::uint16_t>(Type::SplitColor(), 2, std::uint64_t{0x12345}), 0x2345);
    EXPECT_EQ(StoreOne<std::uint32_t>(Type::Scan(), 4, std::uint64_t{0x100000007}), 7u);
    EXPECT_EQ(StoreOne<std::uint64_t>(WideType<std::uint64_t>(), 8, ~std::uint64_t{0} - 1),
              ~std::uint64_t{0} - 1);
    EXPECT_EQ(StoreOne<std::uint8_t>(Type::Class(), 1, std::int64_t{-2}), 0xFE);
    EXPECT_EQ(StoreOne<std::uint32_t>(Type::Scan(), 4, std::int64_t{-5}), 0xFFFFFFFBu);
    const std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(StoreOne<std::int64_t>(WideType<std::int64_t>(), 8, lowest), lowest);
    EXPECT_EQ(StoreOne<std::uint16_t>(Type::SplitColor(), 2, std::int64_t{-1}), 0xFFFFu);
    EXPECT_EQ(StoreOne<std::uint32_t>(Type::IntensityNew(), 4, 0.1), 0x3DCCCCCDu);   // not ...CC
    EXPECT_EQ(StoreOne<std::uint32_t>(Type::IntensityNew(), 4, 1e300), 0x7F800000u); // +inf
    EXPECT_EQ(StoreOne<double>(WideType<double>(), 8, 0.1), 0.1);
}

// Vectors are three doubles or packed (within the codec's stated bound).
TEST(BuilderWidths, VectorsAndColors)
{
    const GVector3 wide{1.5, -2.0, 3e-300};
    EXPECT_EQ(Distance(StoreOne<GVector3>(WideType<GVector3>(), 24, wide), wide), 0.0);
    orv::Math::Algebra::CompressedVector32Bits packed;
    packed.bits = StoreOne<std::uint32_t>(Type::Normal(), 4, GVector3{3.0, 0.0, 4.0});
    GVector3 d{};
    ASSERT_EQ(packed.VectorGet(d), 1);
    EXPECT_LT(Distance(d, GVector3{0.6, 0, 0.8}), HostChoice::NormalCodecBound());
    EXPECT_EQ(StoreOne<std::uint32_t>(Type::Normal(), 4, GVector3{0.0, 0.0, 0.0}), 0u);

    // Colours have one stored form: the width and the alpha are ignored.
    ColorValue expected;
    expected.SetRGB(51.0f / 255.0f, 153.0f / 255.0f, 1.0f);
    const RgbaColor color{51.0 / 255.0, 153.0 / 255.0, 1.0, 0.25};
    EXPECT_EQ(StoreOne<ColorValue>(Type::Intensity(), 0, color), expected);
    EXPECT_EQ(StoreOne<ColorValue>(Type::Intensity(), 7, RgbaColor{color.r, color.g, 1.0, 1.0}),
              expected);
}

// A width the component cannot be stored at, or one that disagrees with the element size of a
// host type the library knows, is refused before anything changes, by the factory and by the
// builder's own constructor alike: accepted, they would leave the cloud holding zero, or the
// first bytes of a wider value, for every point.
TEST(BuilderWidths, Refused)
{
    struct NotKnownToTheHost
    {
    };
    const int unknown = orv::General::IFactory::GetInstance().GetTypeId(typeid(NotKnownToTheHost));
    const std::tuple<C, int, std::uint64_t> refused[] = {{C::Real, Type::IntensityNew(), 8},
                                                         {C::Vector3, Type::Normal(), 24},
                                                         {C::UnsignedInteger, Type::Scan(), 2},
                                                         {C::SignedInteger, Type::Class(), 8},
                                                         {C::Real, WideType<double>(), 4},
                                                         {C::Color, Type::Class(), 4},
                                                         {C::Real, Type::IntensityNew(), 3},
                                                         {C::Real, unknown, 2},
                                                         {C::Vector3, unknown, 8},
                                                         {C::SignedInteger, unknown, 0}};
    TestConsumer consumer;
    for (const auto& [component, type, width] : refused)
    {
        PointCloudDataBuilderFactory f;
        f.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
        const PointCloudDataBuilderFactory before = f;
        EXPECT_THROW(f.MapOptionalComponent(component, type, width), std::invalid_argument)
            << int(component) << " " << type << " " << width;
        EXPECT_EQ(f.mapping.extraDataTypeByKey, before.mapping.extraDataTypeByKey);
        EXPECT_EQ(f.mapping.nextIndexByComponent, before.mapping.nextIndexByComponent);
        EXPECT_EQ(f.storageWidthByKey, before.storageWidthByKey);
        orv::Data::Cloud::ComponentMapping mapping;
        const Key key{component, mapping.Map(component, type)};
        EXPECT_THROW((PointCloudDataBuilder(consumer, mapping, {{key, width}})),
                     std::invalid_argument);
    }
    // Colour ignores the width, other components store nothing, and a type the host does not
    // know takes any width its component can be stored at.
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Color, Type::Intensity(), 3);
    f.MapOptionalComponent(C::Position, Type::Class(), 3);
    f.MapOptionalComponent(static_cast<C>(7), Type::Class(), 99);
    f.MapOptionalComponent(C::Real, unknown, 8);
    EXPECT_EQ(f.storageWidthByKey.size(), 4u);
}

// A value for a key without width fails before the point; the builder stays usable.
TEST(Builder, MissingWidth)
{
    orv::Data::Cloud::ComponentMapping mapping;
    mapping.Map(C::UnsignedInteger, Type::Class());
    mapping.Map(C::Real, Type::IntensityNew());
    TestConsumer consumer;
    PointCloudDataBuilder builder(consumer, mapping, {{{C::UnsignedInteger, 0}, 1}});
    PointRecord point = FullPoint(5.0);
    EXPECT_EQ(Thrown<std::out_of_range>([&] { builder.AddPointData(point); }),
              "invalid unordered_map<K, T> key");
    EXPECT_EQ(SizeOf(builder), 0u);
    point.Clear(); // without a Real value the point goes in
    Put(point, 0, std::uint64_t{6});
    builder.AddPointData(point);
    ASSERT_EQ(SizeOf(builder), 1u);
    EXPECT_EQ(ClassOf(builder, 0), 6);
    EXPECT_EQ(Stored<float>(CloudOf(builder.GetResult()).Convert(), Type::IntensityNew(), 0), 0);
}

// Copies take the points over; a result is a snapshot.
TEST(Builder, Copies)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer;
    PointCloudDataBuilder source(consumer, f.mapping, f.storageWidthByKey);
    AddPoints(source, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const auto snapshot = source.GetResult();
    PointCloudDataBuilder copy(source);
    EXPECT_EQ(SizeOf(copy), 10u);
    EXPECT_EQ(SizeOf(source), 0u);
    AddPoints(source, {20.0}); // a new cloud: the consumer is asked again
    EXPECT_EQ(consumer.calls, 10);
    EXPECT_EQ(SizeOf(source), 1u);
    EXPECT_EQ(ClassOf(source, 0), 21);
    AddPoints(copy, {10.0});
    EXPECT_EQ(ClassOf(copy, 10), 11);
    EXPECT_EQ(CloudOf(snapshot).GetPointCount(), 10u) << "a result does not follow its builder";

    PointCloudDataBuilder target(consumer, f.mapping, f.storageWidthByKey);
    AddPoints(target, {30.0, 31.0});
    target = copy; // the target's own points are discarded
    EXPECT_EQ(SizeOf(target), 11u);
    EXPECT_EQ(SizeOf(copy), 0u);
    target = copy; // from a builder without points
    EXPECT_EQ(SizeOf(target), 0u);
}

// A builder mapping Color makes a colour cloud from its first point on, also with the key
// declined (before it, the cloud has a new cloud's mode); a merge into a builder without points
// gives the colour type of either side.
TEST(Builder, ColorCloud)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer({{C::Color, 0}}), own;
    PointCloudDataBuilder color(consumer, f.mapping, f.storageWidthByKey);
    EXPECT_EQ(CloudOf(color.GetResult()).Convert().GetType(), GCloud().GetType());
    AddPoints(color, {1.0});
    EXPECT_EQ(CloudOf(color.GetResult()).Convert().GetType(), 2);
    EXPECT_FALSE(CloudOf(color.GetResult()).Convert().HasExtraData(Type::Intensity()));

    PointCloudDataBuilderFactory plain;
    plain.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    PointCloudDataBuilder plainTarget(own, plain.mapping, plain.storageWidthByKey);
    plainTarget.Merge(color);
    EXPECT_EQ(CloudOf(plainTarget.GetResult()).Convert().GetType(), 2);
    PointCloudDataBuilder plainSource(own, plain.mapping, plain.storageWidthByKey);
    PointCloudDataBuilder colorTarget(own, f.mapping, f.storageWidthByKey);
    AddPoints(plainSource, {1.0});
    colorTarget.Merge(plainSource);
    EXPECT_EQ(CloudOf(colorTarget.GetResult()).Convert().GetType(), 2);
}

// Builders keep the configuration their factory had; clearing the mapping keeps the widths.
TEST(Builder, FactoryConfiguration)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    TestConsumer consumer;
    const auto before = f.CreatePointDataBuilder(consumer);
    f.ClearComponentMapping(); // restarts the indices; the width table stays
    EXPECT_EQ(f.MapOptionalComponent(C::Real, Type::IntensityNew(), 4), (Key{C::Real, 0}));
    EXPECT_EQ(f.storageWidthByKey.size(), 2u);
    const auto after = f.CreatePointDataBuilder(consumer);
    const PointRecord point = FullPoint(299);
    before->AddPointData(point);
    after->AddPointData(point);
    EXPECT_EQ(ClassOf(*before, 0), 44);
    EXPECT_FALSE(CloudOf(before->GetResult()).Convert().HasExtraData(Type::IntensityNew()));
    EXPECT_FALSE(CloudOf(after->GetResult()).Convert().HasExtraData(Type::Class()));
    EXPECT_EQ(Stored<float>(CloudOf(after->GetResult()).Convert(), Type::IntensityNew(), 0),
              299.5f);
}

// Without a width a key takes its host type's own (tests/install/client/umbrella.cpp maps each
// of the twelve classes), a colour value for Color, none where nothing is stored; a type whose
// size the library does not know is refused, naming it, before anything changes.
TEST(BuilderFactory, WidthFromTheType)
{
    constexpr int unknown = 987'654'321;
    PointCloudDataBuilderFactory f;
    EXPECT_EQ(f.storageWidthByKey.at(f.MapOptionalComponent(C::Color, unknown)), 4u);
    EXPECT_EQ(f.storageWidthByKey.at(f.MapOptionalComponent(C::Position, unknown)), 0u);
    EXPECT_THAT(
        Thrown<std::invalid_argument>([&] { f.MapOptionalComponent(C::UnsignedInteger, unknown); }),
        HasSubstr(std::to_string(unknown)));
    EXPECT_THROW(f.MapOptionalComponent(C::Real, Type::Class()), std::invalid_argument);
    EXPECT_EQ(f.MapOptionalComponent(C::UnsignedInteger, Type::Scan()).index, 0);

    // Made like a mapping: the same keys at their types' widths, unless a type is unknown (where
    // builders write the Real key on the host's intensity is BuilderIntensities' affair).
    orv::Data::Cloud::ComponentMapping like;
    like.Map(C::Real, Type::IntensityNew());
    like.Map(C::Real, Type::Intensity());
    like.Map(C::Color, Type::Intensity());
    like.Map(C::UnsignedInteger, Type::Class());
    const PointCloudDataBuilderFactory copy(like);
    EXPECT_EQ(copy.mapping.extraDataTypeByKey, like.extraDataTypeByKey);
    EXPECT_EQ(copy.storageWidthByKey,
              (orv::Data::Cloud::StorageWidthTable{{{C::Real, 0}, 4},
                                                   {{C::Real, 1}, 4},
                                                   {{C::Color, 0}, 4},
                                                   {{C::UnsignedInteger, 0}, 1}}));
    like.Map(C::Vector3, unknown);
    EXPECT_THROW(PointCloudDataBuilderFactory{like}, std::invalid_argument);
}

// MergeBuilders refuses a builder of another library on either side, naming the side. What a
// merge gives is the builder_sequences fuzz target's, and MergeBuilders' own the install client's.
TEST(BuilderFactory, MergeBuildersRefusesForeignBuilders)
{
    const auto f = OneKeyPerComponent();
    TestConsumer consumer;
    const auto a = f.CreatePointDataBuilder(consumer);
    AddPoints(*a, {0, 1});
    ForeignBuilder foreign(f.CreatePointDataBuilder(consumer));
    EXPECT_THAT(Thrown<std::invalid_argument>([&] { MergeBuilders(foreign, *a); }),
                HasSubstr("target"));
    EXPECT_THAT(Thrown<std::invalid_argument>([&] { MergeBuilders(*a, foreign); }),
                HasSubstr("source"));
    EXPECT_EQ(SizeOf(*a), 2u);
}

// AppendBlock against AddPointData: the same random blocks (absent values over random bits,
// every extra-data component, every legal width the host's types allow, colours, a prototype's
// frame far from the origin, refused positions) appended point by point, by our builder's native
// AppendBlock and by the fallback for builders without it must give clouds identical element
// by element.
TEST(BlockAppend, StoresExactlyWhatAddPointDataStores)
{
    PointCloud prototype;
    prototype.Convert().SetMatrix(orv::Math::Algebra::Translation(652000.0, 5180000.0, 300.0));
    PrototypedBuilderFactory factory(OneKeyPerComponent().mapping, prototype); // U0 1 byte, S0 2
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Scan(), 4);
    factory.MapOptionalComponent(C::UnsignedInteger, CloudClassificationInstanceExtraData::TypeId(),
                                 2);
    factory.MapOptionalComponent(C::SignedInteger, CloudSegmentationExtraData::TypeId(), 4);
    factory.MapOptionalComponent(C::Real, CloudMaxProbabilityExtraData::TypeId(), 4);   // declined
    factory.MapOptionalComponent(C::Real, CloudImprovementStatsExtraData::TypeId(), 4); // no column

    // Blocks carry every key but (Real, 2), and the key (Real, 3) the builder does not map.
    orv::DataProxy::PointDataBlockLayout layout{true, false, {{C::Vector3, 0}}};
    for (unsigned char i = 0; i < 3; ++i)
        layout.keys.push_back({C::UnsignedInteger, i});
    for (unsigned char i = 0; i < 2; ++i)
        layout.keys.push_back({C::SignedInteger, i});
    for (unsigned char i : {0, 1, 3})
        layout.keys.push_back({C::Real, i});
    layout.keys.push_back({C::Color, 0});
    PointDataBlock block(layout);

    const TestConsumer consumer({{C::Real, 1}}); // declined keys are staged but not stored
    const auto reference = factory.CreatePointDataBuilder(consumer);
    const auto native = factory.CreatePointDataBuilder(consumer);
    ForeignBuilder fallback(factory.CreatePointDataBuilder(consumer));
    std::mt19937_64 rng(7);
    constexpr std::size_t n = 2 * PointDataBlock::kCapacity + 77;
    std::size_t finite = 0;
    for (std::size_t first = 0; first < n; first += block.kCapacity)
    {
        block.SetSize(std::min(block.kCapacity, n - first));
        for (std::size_t i = 0; i < block.Size(); ++i)
        {
            block.MutableX()[i] = 652000.0 + 500 * Unit(rng);
            block.MutableY()[i] = 5180000.0 + 500 * Unit(rng);
            block.MutableZ()[i] = (first + i) % 97 == 5 ? std::nan("") : 300.0 + Unit(rng);
            finite += std::isfinite(block.Z()[i]) ? 1 : 0;
        }
        for (PointDataBlock::Storage& column : block.MutableColumns())
            orv::DataProxy::VisitExtraDataComponent(
                column.key.component,
                [&](auto c)
                {
                    using T = typename orv::DataProxy::ComponentValue<decltype(c)::value>::Type;
                    for (std::size_t i = 0; i < block.Size(); ++i)
                    {
                        column.present[i] = rng() % 4 != 0;
                        static_cast<T*>(column.values)[i] = Random<T>(rng);
                    }
                });
        for (std::size_t i = 0; i < block.Size(); ++i)
            reference->AddPointData(Row(block, i));
        AppendBlock(*native, block);
        AppendBlock(fallback, block);
    }

    const PointCloud expectedCloud = CloudOf(reference->GetResult());
    const GCloud& expected = expectedCloud.Convert();
    ASSERT_EQ(expected.GetPointCount(), finite); // the others are refused
    ASSERT_EQ(expected.GetExtraDataTypes().size(), 9u);
    for (orv::DataProxy::IPointDataBuilder* builder :
         {static_cast<orv::DataProxy::IPointDataBuilder*>(native.get()),
          static_cast<orv::DataProxy::IPointDataBuilder*>(&fallback)})
        EXPECT_EQ(Image(CloudOf(builder->GetResult()).Convert()), Image(expected));
}

namespace
{

// The Real values of key (Real, index) read back through the builder's result.
std::vector<double> RealsOf(orv::DataProxy::IPointDataBuilder& builder, unsigned char index)
{
    const auto result = builder.GetResult();
    const WantAll all;
    std::vector<double> values;
    for (auto cursor = result->GetIterable(all)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
        values.push_back(cursor->GetReal(index).value_or(-1.0));
    return values;
}

} // namespace

// A Real key on the host's own intensity type reads back as given however it was mapped: from a
// provider's mapping that also holds the plain float type, with and without a width. Written raw
// into the intensity type, whose meaning follows the colour mode a new cloud gets from its host,
// they would read back as other numbers: in mode 3 (the alternate host's) 0.25 as 0.00073.
TEST(BuilderIntensities, ReadBackAsGiven)
{
    PointCloudDataProvider source{PointCloud()};
    source.MapOptionalComponent(C::Real, Type::IntensityNew());
    source.MapOptionalComponent(C::Real, Type::Intensity());
    PointCloudDataBuilderFactory widthless, explicitWidth;
    widthless.MapOptionalComponent(C::Real, Type::Intensity());
    explicitWidth.MapOptionalComponent(C::Real, Type::Intensity(), 4);
    const std::vector<double> given{0.25, 0.5, 0.75, 42.0};
    const std::tuple<PointCloudDataBuilderFactory, unsigned char> factories[] = {
        {PointCloudDataBuilderFactory(source.GetMapping()), 1}, {widthless, 0}, {explicitWidth, 0}};
    for (const auto& [factory, index] : factories)
    {
        TestConsumer consumer;
        const auto builder = factory.CreatePointDataBuilder(consumer);
        for (double value : given)
        {
            PointRecord point;
            Put(point, 0, -value);
            Put(point, index, value);
            builder->AddPointData(point);
        }
        EXPECT_EQ(RealsOf(*builder, index), given) << int(index);
        if (index == 1)
        {
            EXPECT_EQ(RealsOf(*builder, 0), (std::vector<double>{-0.25, -0.5, -0.75, -42.0}));
        }
    }

    // With both plain float intensity types written by other keys, the key is refused by name,
    // before anything changes.
    PointCloudDataBuilderFactory full;
    full.MapOptionalComponent(C::Real, Type::IntensityNew());
    full.MapOptionalComponent(C::Real, CloudIntensityTempExtraData::TypeId());
    EXPECT_THAT(Thrown<std::invalid_argument>(
                    [&] { full.MapOptionalComponent(C::Real, Type::Intensity()); }),
                HasSubstr("Real key 2"));
    EXPECT_EQ(full.mapping.extraDataTypeByKey.size(), 2u);
    full.mapping.Map(C::Real, Type::Intensity());
    TestConsumer consumer;
    EXPECT_THROW(full.CreatePointDataBuilder(consumer), std::invalid_argument);
}

// A builder refuses a point its host would store coarser than the tolerance, with a message that
// says where, how coarse and what to do; nothing is appended and the builder goes on. A host that
// keeps the identity frame (the alternate host, or an identity frame set on the prototype) stores
// projected coordinates as floats: in steps of 0.5 near 5,180,000, so such a point is refused,
// never stored coarsely and reported as a success.
TEST(BuilderPositions, CoarsePositionsRefused)
{
    const GPointDouble far{637000.0123, 850000.0456, 5180000.0789};
    const auto pointAt = [](const GPointDouble& p)
    {
        PointRecord point;
        point.position = p;
        Put(point, 0, std::uint64_t{7});
        return point;
    };
    const auto withinMillimetre = [&far](orv::DataProxy::IPointDataBuilder& builder)
    {
        const auto visits = Walk(CloudOf(builder.GetResult()).Convert());
        return visits.size() == 1 && std::fabs(visits[0].world.x - far.x) <= 1e-3 &&
               std::fabs(visits[0].world.y - far.y) <= 1e-3 &&
               std::fabs(visits[0].world.z - far.z) <= 1e-3;
    };
    TestConsumer consumer;
    PointCloudDataBuilderFactory plain;
    plain.MapOptionalComponent(C::UnsignedInteger, Type::Class());
    // Without a prototype: the reference host moves the frame to the first point, the alternate
    // host refuses.
    const auto first = plain.CreatePointDataBuilder(consumer);
    const std::string message =
        Thrown<std::range_error>([&] { first->AddPointData(pointAt(far)); });
    if (orv::IsAlternateHost())
    {
        EXPECT_THAT(message, ::testing::AllOf(HasSubstr("(637000.0123, 850000.0456, 5180000.0789)"),
                                              HasSubstr("steps of 0.5 "), HasSubstr("prototype"),
                                              HasSubstr("tolerance")));
        EXPECT_EQ(SizeOf(*first), 0u);
    }
    else
        EXPECT_TRUE(withinMillimetre(*first)) << message;

    // An explicit identity frame is kept on either host: the far point is refused, by
    // AddPointData and by AppendBlock after the points before it, and the builder goes on.
    PointCloud identity;
    identity.Convert().SetMatrix(orv::Math::Algebra::Identity3x4());
    PrototypedBuilderFactory kept(plain.mapping, identity);
    const auto builder = kept.CreatePointDataBuilder(consumer);
    EXPECT_THROW(builder->AddPointData(pointAt(far)), std::range_error);
    PointDataBlock block({true, false, {}});
    block.SetSize(3);
    const GPointDouble positions[] = {{1, 2, 3}, far, {4, 5, 6}};
    for (std::size_t i = 0; i < 3; ++i)
    {
        block.MutableX()[i] = positions[i].x;
        block.MutableY()[i] = positions[i].y;
        block.MutableZ()[i] = positions[i].z;
    }
    EXPECT_THROW(AppendBlock(*builder, block), std::range_error);
    builder->AddPointData(pointAt({4, 5, 6}));
    const auto visits = Walk(CloudOf(builder->GetResult()).Convert());
    ASSERT_EQ(visits.size(), 2u);
    EXPECT_EQ(visits[1].world.x, 4.0);

    // The two remedies: a frame at the data keeps the point, a tolerance takes the steps.
    PrototypedBuilderFactory atData(plain.mapping, PointCloud());
    PointCloud framed;
    framed.Convert().SetMatrix(orv::Math::Algebra::Translation(637000.0, 850000.0, 5180000.0));
    atData.SetPrototype(framed);
    const auto exact = atData.CreatePointDataBuilder(consumer);
    exact->AddPointData(pointAt(far));
    EXPECT_TRUE(withinMillimetre(*exact));
    kept.SetPositionTolerance(0.5);
    const auto tolerant = kept.CreatePointDataBuilder(consumer);
    tolerant->AddPointData(pointAt(far));
    EXPECT_EQ(SizeOf(*tolerant), 1u);
    EXPECT_THROW(kept.SetPositionTolerance(-1e-3), std::invalid_argument);
    EXPECT_THROW(kept.SetPositionTolerance(std::nan("")), std::invalid_argument);
    EXPECT_EQ(kept.Settings().positionTolerance, 0.5);
}

// Every cloud a prototyped factory's builders make starts as a copy of the prototype: frame,
// colour mode and range, subset size, also before the first point; a prototype with points, or
// whose frame turns, is refused.
TEST(BuilderPrototype, EveryCloudStartsFromIt)
{
    PointCloud prototype;
    GCloud& host = prototype.Convert();
    host.SetMatrix(orv::Math::Algebra::Translation(637000.0, 850000.0, 5180000.0));
    host.SetType(3, -5.0f, 5.0f, nullptr, false);
    ASSERT_TRUE(host.SetSubsetCapacity(10));
    const PrototypedBuilderFactory factory(prototype);
    TestConsumer consumer;
    const auto builder = factory.CreatePointDataBuilder(consumer);
    const auto same = [&host](const GCloud& built)
    {
        return built.GetType() == 3 && built.GetValMin() == -5.0f && built.GetValMax() == 5.0f &&
               built.GetSubsetCapacity() == 10 &&
               std::equal(std::begin(built.GetMatrix().v), std::end(built.GetMatrix().v),
                          std::begin(host.GetMatrix().v));
    };
    EXPECT_TRUE(same(CloudOf(builder->GetResult()).Convert()));
    for (const GPointDouble& p : GridPoints(25))
    {
        PointRecord point;
        point.position = {p.x + 637000.0, p.y + 850000.0, p.z + 5180000.0};
        builder->AddPointData(point);
    }
    const PointCloud built = CloudOf(builder->GetResult());
    EXPECT_TRUE(same(built.Convert()));
    EXPECT_EQ(built.Convert().GetSubsetCount(), 3u);

    EXPECT_THAT(Thrown<std::invalid_argument>([&] { PrototypedBuilderFactory{built}; }),
                HasSubstr("25 points"));
    EXPECT_THROW(
        PointCloudDataBuilder(consumer, factory.mapping, factory.storageWidthByKey, {built}),
        std::invalid_argument);
    // Normals are stored in the cloud's axes as given, and read back turned by its frame.
    PointCloud turned;
    turned.Convert().SetMatrix(RotationZ(0.5, 637000.0, 850000.0, 5180000.0));
    EXPECT_THAT(Thrown<std::invalid_argument>([&] { PrototypedBuilderFactory{turned}; }),
                HasSubstr("turns or scales"));
}
