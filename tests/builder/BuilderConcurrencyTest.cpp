#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <thread>

using namespace orv::TestSupport;

// Builders made by one factory fill their clouds on separate threads (sharing the consumer),
// are merged pairwise on two threads, then into one: every point arrives once, intact.
TEST(BuilderConcurrency, BuildersFromOneFactoryFillSeparateCloudsAndMerge)
{
    constexpr int kThreads = 4, kPoints = 30000;
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::UnsignedInteger, Type::Scan(), 4);
    f.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    f.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    TestConsumer consumer;
    std::shared_ptr<orv::DataProxy::IPointDataBuilder> builders[kThreads];
    auto fill = [&](int t)
    {
        builders[t] = f.CreatePointDataBuilder(consumer);
        PointRecord point;
        for (int id = t * kPoints; id < (t + 1) * kPoints; ++id)
        {
            point.position = {double(id), 2.0 * id, -0.5};
            Put(point, 0, std::uint64_t(id));
            Put(point, 0, id * 0.5);
            Put(point, 0, GVector3{0.0, 0.0, id % 2 ? 1.0 : -1.0});
            builders[t]->AddPointData(point);
        }
    };
    auto merge = [&](int into, int from)
    {
        dynamic_cast<PointCloudDataBuilder&>(*builders[into])
            .Merge(dynamic_cast<PointCloudDataBuilder&>(*builders[from]));
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(fill, t);
    for (auto& thread : threads)
        thread.join();
    std::thread left(merge, 0, 1), right(merge, 2, 3);
    left.join();
    right.join();
    merge(0, 2);

    const PointCloud cloud = CloudOf(builders[0]->GetResult());
    ASSERT_EQ(cloud.GetPointCount(), std::uint64_t{kThreads * kPoints});
    std::vector<bool> seen(kThreads * kPoints, false);
    GPointDouble p{};
    for (std::uint64_t j = 0; cloud.Convert().GetStoredPosition(j, p); ++j)
    {
        const auto id = static_cast<std::uint32_t>(p.x);
        ASSERT_TRUE(id < seen.size() && !seen[id] && p.y == 2.0 * id) << j;
        seen[id] = true;
        EXPECT_EQ(Stored<std::uint32_t>(cloud.Convert(), Type::Scan(), j), id);
        EXPECT_EQ(Stored<float>(cloud.Convert(), Type::IntensityNew(), j), id * 0.5f);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kThreads * kPoints);
    EXPECT_EQ(consumer.calls, kThreads * 3);
}
