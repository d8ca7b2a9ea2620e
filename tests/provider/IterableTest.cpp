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
    const PointCloudDataProvider empty{PointCloud()};
    EXPECT_FALSE(empty.GetIterable(consumer)->IsDivisible(MinimumPieceHint(1)));

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
