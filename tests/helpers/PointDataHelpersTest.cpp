// The client helpers: splitting for workers, sizes and queries of providers of unknown origin,
// the point record, points as arrays; and the typed writing side of blocks.
#include "OrvDataProxyImplTzk.h"
#include "tests/support/TestClouds.h"
#include "tests/support/Thrown.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

namespace
{

using namespace orv::DataProxy;
using namespace orv::Data::Cloud;
using orv::TestSupport::Thrown;
using C = EPointDataComponent;

// `count` points; key (UnsignedInteger, 0) holds the point's scan id, 1000 + its number.
std::shared_ptr<IPointDataProvider> Line(int count)
{
    auto line = std::make_shared<PointCloudDataProvider>(
        orv::TestSupport::BuildCloud(orv::TestSupport::GridPoints(std::size_t(count))));
    line->MapOptionalComponent(C::UnsignedInteger, CloudScanIDExtraData::TypeId());
    return line;
}

TEST(SplitIntoPieces, CoverTheRangeOnce)
{
    const WantAll all;
    for (const int size : {0, 1, 9, 10, 31, 1000})
        for (const std::size_t asked : {1, 2, 3, 8})
        {
            const auto line = Line(size);
            const auto pieces = SplitIntoPieces(line->GetIterable(all), asked, 5);
            EXPECT_LE(pieces.size(), asked);
            EXPECT_EQ(pieces.size() == 1, asked == 1 || size <= 10) << size << " " << asked;
            std::multiset<std::uint64_t> seen;
            for (const auto& piece : pieces)
            {
                const std::uint64_t n = PointCount(*piece);
                EXPECT_TRUE(pieces.size() == 1 || n >= 5) << n;
                const std::size_t before = seen.size();
                for (auto c = piece->CreateCursor(); c->IsValid(); c->MoveNext())
                    seen.insert(*c->GetUnsignedInteger(0));
                EXPECT_EQ(n, seen.size() - before);
            }
            ASSERT_EQ(seen.size(), std::size_t(size));
            EXPECT_EQ(std::set<std::uint64_t>(seen.begin(), seen.end()).size(), seen.size());
        }
}

// A provider of unknown origin: a point set and nothing else.
class Plain final : public IPointDataProvider
{
public:
    explicit Plain(std::shared_ptr<IPointDataProvider> inner) : points(std::move(inner)) {}
    std::shared_ptr<IPointDataIterable> GetIterable(const IPointDataConsumer& c) const override
    {
        return points->GetIterable(c);
    }
    bool HasComponent(C component, unsigned char index) const override
    {
        return points->HasComponent(component, index);
    }

private:
    std::shared_ptr<IPointDataProvider> points;
};

// Sizes, queries and bounds of this library's providers through the helpers are the install
// client's (tests/install/client/umbrella.cpp); here, a provider without those interfaces.
TEST(ProviderHelpers, WithoutCasts)
{
    const auto line = Line(40);
    const Plain plain(line);
    EXPECT_EQ(PointCount(plain), 40u); // counted by walking
    EXPECT_THAT(Thrown<std::invalid_argument>(
                    [&] {
                        Select(plain, InsideSphereQuery{{10.0, 0.0, 0.0}, 2.5});
                    }),
                ::testing::HasSubstr("IQueryablePointData<InsideSphereQuery>"));
    EXPECT_THROW(AsQueryable<ClippingPlanesQuery>(plain), std::invalid_argument);
    EXPECT_THROW(AsBoundingBoxProvider(plain), std::invalid_argument);
}

// Assign takes the keys asked for and makes every other one absent.
TEST(PointRecord, AssignAndAbsentValues)
{
    PointCloudDataProvider provider(orv::TestSupport::BuildCloud(orv::TestSupport::GridPoints(2)));
    const ComponentKey real{
        C::Real, *provider.MapOptionalComponent(C::Real, CloudIntensityNewExtraData::TypeId())};
    const ComponentKey label{
        C::UnsignedInteger,
        *provider.MapOptionalComponent(C::UnsignedInteger, CloudClassificationExtraData::TypeId())};
    EXPECT_EQ(MappedKeys(provider.GetMapping()), (std::vector<ComponentKey>{label, real}));
    const WantAll all;
    auto cursor = provider.GetIterable(all)->CreateCursor();
    cursor->MoveNext();
    PointRecord copy;
    copy.Assign(*cursor, MappedKeys(provider.GetMapping()));
    EXPECT_TRUE(copy.position.x == 1.0 && copy.pointIndex == 1);
    EXPECT_EQ(copy.GetReal(real.index), 1.5);
    copy.Assign(*cursor, {label});
    EXPECT_EQ(copy.GetUnsignedInteger(label.index), 1u);
    EXPECT_FALSE(copy.GetReal(real.index).has_value());

    const WantKeys wanted({label}, /*wantPosition=*/false);
    EXPECT_TRUE(wanted.IsComponentRequested(C::UnsignedInteger, label.index));
    EXPECT_FALSE(wanted.IsComponentRequested(C::Real, real.index));
    EXPECT_FALSE(wanted.IsComponentRequested(C::Position, 0));
}

// Arrays in the order of the points, read whole or in pieces on threads: positions relative to
// the origin (the first point unless one is given), the keys' values and absences and the point
// indices, as a cursor delivers them.
TEST(PointArrays, MatchACursorWholeAndSplit)
{
    orv::TestSupport::CloudSetup setup;
    setup.subsetCapacity = 1000;
    setup.frame = orv::TestSupport::RotationZ(0.3, 652000.0, 652000.0, 652000.0);
    setup.hidden = orv::TestSupport::Every(5, 20000, 9);
    const PointCloudDataProvider provider = orv::TestSupport::MappedProvider(
        orv::TestSupport::BuildCloud(orv::TestSupport::GridPoints(20000, 652000.0), setup));
    const std::vector<ComponentKey> mapped = MappedKeys(provider.GetMapping());
    std::vector<ComponentKey> keys = mapped;
    keys.push_back({C::Real, 7}); // not mapped: absent throughout
    const WantKeys consumer(keys);
    std::vector<PointRecord> expected;
    for (auto c = provider.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
        expected.emplace_back().Assign(*c, mapped);

    for (const unsigned threads : {1u, 3u})
        for (const bool given : {false, true})
        {
            const GPointDouble origin =
                given ? GPointDouble{652000.5, 651999.0, 652001.0} : expected[0].position;
            const PointArrays arrays = ReadPointArrays(
                provider, {keys, given ? std::optional(origin) : std::nullopt, threads, true});
            ASSERT_EQ(arrays.Size(), expected.size());
            EXPECT_TRUE(arrays.Origin().x == origin.x && arrays.Origin().y == origin.y &&
                        arrays.Origin().z == origin.z);
            const auto real = arrays.Column<C::Real>(0);
            const auto scan = arrays.Column<C::UnsignedInteger>(1);
            const auto normal = arrays.Column<C::Vector3>(0);
            const auto none = arrays.Column<C::Real>(7);
            ASSERT_TRUE(real && scan && normal && none);
            EXPECT_FALSE(arrays.Column<C::Color>(0));
            for (std::size_t i = 0; i < expected.size(); ++i)
            {
                const PointRecord& p = expected[i];
                ASSERT_TRUE(arrays.X()[i] == p.position.x - origin.x &&
                            arrays.Y()[i] == p.position.y - origin.y &&
                            arrays.Z()[i] == p.position.z - origin.z &&
                            arrays.PointIndices()[i] == p.pointIndex)
                    << threads << " threads, point " << i;
                ASSERT_TRUE(real.present[i] && real.values[i] == p.GetReal(0) && scan.present[i] &&
                            scan.values[i] == p.GetUnsignedInteger(1) &&
                            normal.values[i].y == p.GetVector3(0)->y && !none.present[i])
                    << threads << " threads, point " << i;
            }
        }

    PointArrays tooFew(10, {}, {});
    EXPECT_THROW(tooFew.Fill(*provider.GetIterable(consumer), consumer, 0), std::out_of_range);
    const WantKeys noPosition({}, /*wantPosition=*/false);
    EXPECT_THROW(tooFew.Fill(*provider.GetIterable(noPosition), noPosition, 0),
                 std::invalid_argument);
}

// The writing side of a block: typed columns over the untyped ones, in the layout's order, whose
// values and absences AppendBlock stores.
TEST(PointDataBlock, MutableColumnsTypedInLayoutOrder)
{
    PointDataBlock block(PointDataBlockLayout{
        true, false, {{C::Real, 0}, {C::UnsignedInteger, 1}, {C::UnsignedInteger, 0}}});
    const auto intensity = block.MutableColumn<C::Real>(0);
    const auto scan = block.MutableColumn<C::UnsignedInteger>(1);
    const auto label = block.MutableColumn<C::UnsignedInteger>(0);
    EXPECT_EQ(static_cast<void*>(intensity.values), block.MutableColumns()[0].values);
    EXPECT_EQ(static_cast<void*>(scan.values), block.MutableColumns()[1].values);
    EXPECT_EQ(static_cast<void*>(label.values), block.MutableColumns()[2].values);
    EXPECT_FALSE(block.MutableColumn<C::Real>(1));
    for (std::size_t i = 0; i < 3; ++i)
    {
        block.MutableX()[i] = double(i);
        block.MutableY()[i] = block.MutableZ()[i] = 0.0;
        intensity.Set(i, 0.25 * double(i));
        label.Set(i, 2);
        scan.Set(i, 1000 + i);
    }
    scan.SetAbsent(1);
    EXPECT_TRUE(scan.values[1] == 0 && scan.present[1] == 0 && block.Column<C::UnsignedInteger>(1));
    block.SetSize(3);

    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::UnsignedInteger, CloudClassificationExtraData::TypeId());
    factory.MapOptionalComponent(C::UnsignedInteger, CloudScanIDExtraData::TypeId());
    factory.MapOptionalComponent(C::Real, CloudIntensityNewExtraData::TypeId());
    const WantAll all;
    const auto builder = factory.CreatePointDataBuilder(all);
    AppendBlock(*builder, block);
    std::vector<std::vector<double>> read;
    for (auto c = builder->GetResult()->GetIterable(all)->CreateCursor(); c->IsValid();
         c->MoveNext())
        read.push_back({c->GetPosition().x, *c->GetReal(0), double(*c->GetUnsignedInteger(0)),
                        double(*c->GetUnsignedInteger(1))});
    EXPECT_EQ(read, (std::vector<std::vector<double>>{
                        {0, 0, 2, 1000}, {1, 0.25, 2, 0}, {2, 0.5, 2, 1002}}));
}

} // namespace
