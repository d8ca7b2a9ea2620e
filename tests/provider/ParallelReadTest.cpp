// Several threads each create and walk cursors of their own split piece of one provider.
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <thread>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;

TEST(ParallelRead, SplitPiecesOnThreadsReadWhatOneThreadReads)
{
    using namespace orv::Data::Cloud;
    CloudSetup setup;
    setup.subsetCapacity = 64;
    for (std::uint64_t i = 5; i < 3000; i += 7)
    {
        setup.hidden.insert(i);
    }
    PointCloudDataProvider provider(BuildCloud(GridPoints(3000), setup));
    const auto scan = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                    CloudScanIDExtraData::TypeId());
    WantAll consumer;

    auto sum = [&](const orv::DataProxy::IPointDataIterable& piece)
    {
        std::uint64_t total = 0;
        for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
        {
            const auto p = cursor->GetPosition();
            total += cursor->GetPointIndex() * 31 + *cursor->GetUnsignedInteger(*scan) +
                     static_cast<std::uint64_t>(p.x * 4 + p.y * 8 + p.z * 16);
        }
        return total;
    };
    const std::uint64_t expected = sum(*provider.GetIterable(consumer));

    auto iterable = provider.GetIterable(consumer);
    std::vector<std::unique_ptr<orv::DataProxy::IPointDataIterable>> pieces;
    const MinimumPiece hint(100);
    std::vector<orv::DataProxy::IPointDataIterable*> all{iterable.get()};
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        while (all[i]->IsDivisible(hint))
        {
            pieces.push_back(all[i]->Split());
            all.push_back(pieces.back().get());
        }
    }
    ASSERT_GE(all.size(), 8u);
    std::vector<std::uint64_t> partial(all.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        threads.emplace_back([&, i] { partial[i] = sum(*all[i]); });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    std::uint64_t total = 0;
    for (std::uint64_t value : partial)
    {
        total += value;
    }
    EXPECT_EQ(total, expected);
}
