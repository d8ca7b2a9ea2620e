#include "host/eastl/shared_ptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{

std::atomic<int> gDestroyed{0};

struct Tracked
{
    ~Tracked() { gDestroyed.fetch_add(1); }
    int value = 42;
};

TEST(HostSharedPtrThreads, CopiesMadeAndDroppedOnManyThreadsBalance)
{
    gDestroyed = 0;
    const uint64_t live = orv::Testing::LiveBlockCount();
    eastl::shared_ptr<Tracked> shared = eastl::allocate_shared<Tracked>(eastl::allocator());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&shared]
            {
                for (int i = 0; i < 20000; ++i)
                {
                    eastl::shared_ptr<Tracked> copy = shared;
                    eastl::shared_ptr<Tracked> moved = std::move(copy);
                    EXPECT_EQ(moved->value, 42);
                }
            });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(shared.use_count(), 1);
    EXPECT_EQ(gDestroyed.load(), 0);
    shared.reset();
    EXPECT_EQ(gDestroyed.load(), 1);
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);
}

TEST(HostSharedPtrThreads, LastOwnerOnAnyThreadDestroysExactlyOnce)
{
    gDestroyed = 0;
    const uint64_t live = orv::Testing::LiveBlockCount();
    constexpr int kRounds = 500;
    for (int round = 0; round < kRounds; ++round)
    {
        auto owner = eastl::allocate_shared<Tracked>(eastl::allocator());
        std::atomic<bool> go{false};
        auto drop = [&go](eastl::shared_ptr<Tracked> mine)
        {
            while (!go.load())
                std::this_thread::yield();
            mine.reset();
        };
        std::thread a(drop, owner);
        std::thread b(drop, owner);
        owner.reset();
        go = true;
        a.join();
        b.join();
    }
    EXPECT_EQ(gDestroyed.load(), kRounds);
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);
}

} // namespace
