// Several threads each create and walk cursors of their own split piece of one provider.
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;

TEST(ParallelRead, SplitPiecesOnThreadsReadWhatOneThreadReads)
{
    CloudSetup setup{64};
    for (std::uint64_t i = 5; i < 3000; i += 7)
        setup.hidden.insert(i);
    PointCloudDataProvider provider(BuildCloud(GridPoints(3000), setup));
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
    const auto pieces = SplitIntoPieces(provider.GetIterable(consumer), 32, 100);
    ASSERT_GE(pieces.size(), 8u);
    std::vector<std::uint64_t> partial(pieces.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        threads.emplace_back([&, i] { partial[i] = sum(*pieces[i]); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(std::accumulate(partial.begin(), partial.end(), std::uint64_t{0}),
              sum(*provider.GetIterable(consumer)));
}
