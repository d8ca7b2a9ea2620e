// The client helpers: splitting for workers, sizes and queries of providers of unknown origin,
// the point record.
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

} // namespace
