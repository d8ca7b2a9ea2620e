#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::IPointDataIterable;

namespace
{

std::uint64_t Count(const IPointDataIterable& iterable)
{
    std::uint64_t n = 0;
    for (auto cursor = iterable.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
    {
        ++n;
    }
    return n;
}

// Splits `root` until no piece is divisible; returns the split-off pieces (the root keeps
// the lowest one).
std::vector<std::unique_ptr<IPointDataIterable>> SplitToBottom(IPointDataIterable& root,
                                                               std::uint64_t minimum)
{
    const MinimumPiece hint(minimum);
    std::vector<std::unique_ptr<IPointDataIterable>> pieces;
    std::vector<IPointDataIterable*> all{&root};
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        while (all[i]->IsDivisible(hint))
        {
            pieces.push_back(all[i]->Split());
            all.push_back(pieces.back().get());
        }
    }
    return pieces;
}

} // namespace

TEST(Iterable, DivisibleExactlyAboveTwiceTheMinimumPiece)
{
    WantAll consumer;
    for (std::uint64_t n : {1u, 2u, 3u, 5u})
    {
        PointCloudDataProvider twice(BuildCloud(GridPoints(2 * n)));
        PointCloudDataProvider twicePlusOne(BuildCloud(GridPoints(2 * n + 1)));
        EXPECT_FALSE(twice.GetIterable(consumer)->IsDivisible(MinimumPiece(n))) << n;
        EXPECT_TRUE(twicePlusOne.GetIterable(consumer)->IsDivisible(MinimumPiece(n))) << n;
    }
    PointCloudDataProvider provider(BuildCloud(GridPoints(50)));
    auto iterable = provider.GetIterable(consumer);
    EXPECT_FALSE(iterable->IsDivisible(MinimumPiece(0)));
    // Huge minimum sizes must not wrap around into "divisible".
    for (std::uint64_t huge : {std::uint64_t{1} << 63, (std::uint64_t{1} << 63) + 1,
                               std::numeric_limits<std::uint64_t>::max()})
    {
        EXPECT_FALSE(iterable->IsDivisible(MinimumPiece(huge))) << huge;
    }
    PointCloudDataProvider empty{orv::Data::Cloud::PointCloud()};
    EXPECT_FALSE(empty.GetIterable(consumer)->IsDivisible(MinimumPiece(1)));
}

TEST(Iterable, SplitKeepsTheLowerHalf)
{
    WantAll consumer;
    PointCloudDataProvider provider(BuildCloud(GridPoints(7)));
    auto iterable = provider.GetIterable(consumer);
    auto upper = iterable->Split();
    // [0, 7) keeps [0, 3) and hands out [3, 7).
    EXPECT_EQ(Count(*iterable), 3u);
    EXPECT_EQ(Count(*upper), 4u);
    EXPECT_EQ(iterable->CreateCursor()->GetPointIndex(), 0u);
    EXPECT_EQ(upper->CreateCursor()->GetPointIndex(), 3u);

    // Split checks nothing: one point leaves this side empty.
    PointCloudDataProvider single(BuildCloud(GridPoints(1)));
    auto one = single.GetIterable(consumer);
    auto rest = one->Split();
    EXPECT_TRUE(one->IsEmpty());
    EXPECT_FALSE(rest->IsEmpty());
    EXPECT_FALSE(one->CreateCursor()->IsValid());
}

TEST(Iterable, SplittingToTheBottomVisitsEveryPointOnce)
{
    for (std::size_t n : {1u, 2u, 7u, 64u, 100u})
    {
        for (std::uint64_t minimum : {1u, 2u, 3u, 10u})
        {
            CloudSetup setup;
            setup.subsetCapacity = 8;
            setup.hidden = {3, 9, 10, 11, 12, 13, 14, 15, 16};
            PointCloudDataProvider provider(BuildCloud(GridPoints(n), setup));
            WantAll consumer;
            std::vector<std::uint64_t> seen;
            const auto root = provider.GetIterable(consumer);
            auto pieces = SplitToBottom(*root, minimum);
            std::vector<IPointDataIterable*> all{root.get()};
            for (const auto& piece : pieces)
            {
                all.push_back(piece.get());
            }
            for (IPointDataIterable* piece : all)
            {
                for (auto cursor = piece->CreateCursor(); cursor->IsValid(); cursor->MoveNext())
                {
                    seen.push_back(cursor->GetPointIndex());
                }
            }
            std::vector<std::uint64_t> expected;
            for (std::uint64_t i = 0; i < n; ++i)
            {
                if (!setup.hidden.count(i))
                {
                    expected.push_back(i);
                }
            }
            std::sort(seen.begin(), seen.end());
            EXPECT_EQ(seen, expected) << "n " << n << " minimum " << minimum;
        }
    }
}
