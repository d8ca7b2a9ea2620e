// Several threads each create and walk cursors, and read blocks, of their own split piece of one
// provider.
#include "blocks/PointDataBlockAppend.h"
#include "blocks/PointDataBlocks.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;

TEST(ParallelRead, SplitPiecesOnThreadsReadWhatOneThreadReads)
{
    const PointCloudDataProvider provider =
        MappedProvider(BuildCloud(GridPoints(3000), {64, {}, Every(5, 3000, 7)}));
    const WantAll consumer;
    // The same a block at a time (the first blocks of the process check their kernels).
    auto blockSum = [&](const orv::DataProxy::IPointDataIterable& piece)
    {
        std::uint64_t total = 0;
        orv::DataProxy::ForEachBlock(piece, consumer,
                                     [&](const orv::DataProxy::PointDataBlock& block)
                                     {
                                         orv::DataProxy::PointDataBlockAccessor point(block);
                                         for (; point.at < block.Size(); ++point.at)
                                             total += PointHash(point);
                                     });
        return total;
    };
    const auto pieces = SplitIntoPieces(provider.GetIterable(consumer), 32, 100);
    ASSERT_GE(pieces.size(), 8u);
    std::vector<std::uint64_t> partial(pieces.size()), blockPartial(pieces.size());
    OnThreads(int(pieces.size()),
              [&](int i)
              {
                  blockPartial[i] = blockSum(*pieces[i]);
                  partial[i] = ReadAll(*pieces[i]).checksum;
              });
    const std::uint64_t whole = ReadAll(*provider.GetIterable(consumer)).checksum;
    EXPECT_EQ(std::accumulate(partial.begin(), partial.end(), std::uint64_t{0}), whole);
    EXPECT_EQ(std::accumulate(blockPartial.begin(), blockPartial.end(), std::uint64_t{0}), whole);
}
