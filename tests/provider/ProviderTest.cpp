#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <limits>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;

namespace
{

std::vector<std::uint64_t> Indices(const orv::DataProxy::IPointDataIterable& piece)
{
    std::vector<std::uint64_t> seen;
    for (auto c = piece.CreateCursor(); c->IsValid(); c->MoveNext())
        seen.push_back(c->GetPointIndex());
    return seen;
}

} // namespace

// Extra data is present once mapped; copies map independently.
TEST(Provider, Mapping)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(5)));
    EXPECT_TRUE(provider.HasComponent(C::Position, 0) && provider.HasComponent(C::PointIndex, 7));
    EXPECT_FALSE(provider.HasComponent(C::Real, 0));
    EXPECT_EQ(provider.MapOptionalComponent(C::Real, 101), 0);
    EXPECT_EQ(provider.MapOptionalComponent(C::Real, 102), 1);
    EXPECT_TRUE(provider.HasComponent(C::Real, 1));
    EXPECT_FALSE(provider.HasComponent(C::Real, 2) || provider.HasComponent(C::SignedInteger, 0));
    PointCloudDataProvider copy(provider);
    EXPECT_EQ(copy.MapOptionalComponent(C::Real, 103), 2);
    EXPECT_FALSE(provider.HasComponent(C::Real, 2));
    provider.ClearComponentMapping();
    EXPECT_FALSE(provider.HasComponent(C::Real, 1));
    EXPECT_TRUE(copy.HasComponent(C::Real, 1));
    EXPECT_EQ(provider.MapOptionalComponent(C::Real, 104), 0);
}

// Size and bounds follow the visible points, in world coordinates.
TEST(Provider, SizeAndBounds)
{
    // The hidden points 9, 10 and 11 hold the largest x and y: the box is that of 0..8.
    const std::vector<GPointDouble> points = GridPoints(12, 1000.0);
    PointCloudDataProvider provider(
        BuildCloud(points, {5, RotationZ(0.3, 1000, 1000, 0), {9, 10, 11}}));
    EXPECT_EQ(provider.Size(), 9u);
    GPointDouble lo = points[0], hi = points[0];
    for (std::size_t i = 1; i < 9; ++i)
    {
        lo = {std::min(lo.x, points[i].x), std::min(lo.y, points[i].y),
              std::min(lo.z, points[i].z)};
        hi = {std::max(hi.x, points[i].x), std::max(hi.y, points[i].y),
              std::max(hi.z, points[i].z)};
    }
    const auto box = provider.GetBoundingBox();
    EXPECT_LT(Distance(box.firstCorner, lo), 1e-3);
    EXPECT_LT(Distance(box.secondCorner, hi), 1e-3);

    const PointCloudDataProvider empty{PointCloud()};
    WantAll consumer;
    EXPECT_EQ(empty.Size(), 0u);
    const auto none = empty.GetIterable(consumer);
    EXPECT_TRUE(none->IsEmpty() && !none->IsDivisible(MinimumPieceHint(1)));
}

// Divisible above twice the minimum piece, without overflow; Split keeps the lower half. That
// pieces cover every visible point once is the helpers' and the parallel reads'.
TEST(Iterable, DivisibleAndSplit)
{
    WantAll consumer;
    for (std::uint64_t n : {1u, 2u, 3u, 5u})
    {
        PointCloudDataProvider twice(BuildCloud(GridPoints(2 * n)));
        PointCloudDataProvider twicePlusOne(BuildCloud(GridPoints(2 * n + 1)));
        EXPECT_FALSE(twice.GetIterable(consumer)->IsDivisible(MinimumPieceHint(n))) << n;
        EXPECT_TRUE(twicePlusOne.GetIterable(consumer)->IsDivisible(MinimumPieceHint(n))) << n;
    }
    PointCloudDataProvider provider(BuildCloud(GridPoints(50)));
    // A minimum of 0, and huge minimums that must not wrap around into "divisible".
    for (std::uint64_t minimum :
         {std::uint64_t{0}, std::uint64_t{1} << 63, (std::uint64_t{1} << 63) + 1,
          std::numeric_limits<std::uint64_t>::max()})
        EXPECT_FALSE(provider.GetIterable(consumer)->IsDivisible(MinimumPieceHint(minimum)))
            << minimum;

    // Split keeps the lower half (of 7 points, 3) and checks nothing: one point leaves this
    // side empty.
    PointCloudDataProvider seven(BuildCloud(GridPoints(7)));
    auto lower = seven.GetIterable(consumer);
    auto upper = lower->Split();
    EXPECT_EQ(Indices(*lower), (std::vector<std::uint64_t>{0, 1, 2}));
    EXPECT_EQ(Indices(*upper), (std::vector<std::uint64_t>{3, 4, 5, 6}));
    PointCloudDataProvider single(BuildCloud(GridPoints(1)));
    auto one = single.GetIterable(consumer);
    auto rest = one->Split();
    EXPECT_TRUE(one->IsEmpty() && !rest->IsEmpty() && !one->CreateCursor()->IsValid());
}
