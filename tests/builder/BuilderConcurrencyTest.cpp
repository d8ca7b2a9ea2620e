#include "BuilderTestSupport.h"

#include <thread>

using namespace builder_test;

// Builders made by one factory fill their clouds on separate threads (sharing the consumer),
// are merged pairwise on two threads, then into one: every point arrives once, intact.
TEST(BuilderConcurrency, BuildersFromOneFactoryFillSeparateCloudsAndMerge)
{
    constexpr int kThreads = 4;
    constexpr int kPoints = 30000;
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::UnsignedInteger, ScanIdType(), 4);
    f.MapOptionalComponent(C::Real, IntensityNewType(), 4);
    f.MapOptionalComponent(C::Vector3, NormalType(), 4);
    TestConsumer consumer;

    std::shared_ptr<orv::DataProxy::IPointDataBuilder> builders[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                builders[t] = f.CreatePointDataBuilder(consumer);
                TestAccessor point;
                for (int i = 0; i < kPoints; ++i)
                {
                    const int id = t * kPoints + i;
                    point.point.position = {double(id), 2.0 * id, -0.5};
                    point.point.Set(0, std::uint64_t(id));
                    point.point.Set(0, id * 0.5);
                    point.point.Set(0, GVector3{0.0, 0.0, id % 2 ? 1.0 : -1.0});
                    builders[t]->AddPointData(point);
                }
            });
    }
    for (auto& thread : threads)
        thread.join();
    auto as = [&](int t) -> PointCloudDataBuilder&
    { return dynamic_cast<PointCloudDataBuilder&>(*builders[t]); };
    std::thread left([&] { as(0).Merge(as(1)); });
    std::thread right([&] { as(2).Merge(as(3)); });
    left.join();
    right.join();
    as(0).Merge(as(2));

    const PointCloud cloud = CloudOf(builders[0]->GetResult());
    ASSERT_EQ(cloud.GetPointCount(), std::uint64_t{kThreads * kPoints});
    std::vector<bool> seen(kThreads * kPoints, false);
    for (std::uint64_t j = 0; j < cloud.GetPointCount(); ++j)
    {
        GPointDouble p{};
        ASSERT_TRUE(cloud.Convert().GetStoredPosition(j, p));
        const auto id = static_cast<std::uint32_t>(p.x);
        ASSERT_LT(id, seen.size());
        EXPECT_FALSE(seen[id]);
        seen[id] = true;
        EXPECT_EQ(p.y, 2.0 * id);
        EXPECT_EQ(Stored<std::uint32_t>(cloud, ScanIdType(), j), id);
        EXPECT_EQ(Stored<float>(cloud, IntensityNewType(), j), id * 0.5f);
    }
    EXPECT_EQ(consumer.calls, kThreads * 3);
}
