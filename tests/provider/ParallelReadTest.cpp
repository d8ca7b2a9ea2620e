// Several threads each create and walk cursors, and read blocks, of their own split piece of one
// provider.
#include "contract/PointDataBlocks.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;

TEST(ParallelRead, SplitPiecesOnThreadsReadWhatOneThreadReads)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(3000), {64, {}, Every(5, 3000, 7)}));
    const unsigned char scan = *provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
    WantAll consumer;
    auto sum = [&](const orv::DataProxy::IPointDataIterable& piece)
    {
        std::uint64_t total = 0;
        for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
        {
            const auto p = cursor->GetPosition();
            total += cursor->GetPointIndex() * 31 + *cursor->GetUnsignedInteger(scan) +
                     static_cast<std::uint64_t>(p.x * 4 + p.y * 8 + p.z * 16);
        }
        return total;
    };
    // The same a block at a time (the first blocks of the process check their kernels).
    auto blockSum = [&](const orv::DataProxy::IPointDataIterable& piece)
    {
        std::uint64_t total = 0;
        orv::DataProxy::ForEachBlock(piece, consumer,
                                     [&](const orv::DataProxy::PointDataBlock& b)
                                     {
                                         const auto scans = b.Column<C::UnsignedInteger>(scan);
                                         for (std::size_t i = 0; i < b.Size(); ++i)
                                             total +=
                                                 b.PointIndices()[i] * 31 + scans.values[i] +
                                                 static_cast<std::uint64_t>(
                                                     b.X()[i] * 4 + b.Y()[i] * 8 + b.Z()[i] * 16);
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
                  partial[i] = sum(*pieces[i]);
              });
    const std::uint64_t whole = sum(*provider.GetIterable(consumer));
    EXPECT_EQ(std::accumulate(partial.begin(), partial.end(), std::uint64_t{0}), whole);
    EXPECT_EQ(std::accumulate(blockPartial.begin(), blockPartial.end(), std::uint64_t{0}), whole);
}
