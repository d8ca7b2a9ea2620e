#include "host/core/Factory.h"
#include "host/eastl/shared_ptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <utility>
#include <vector>

// Shared pointers copied and dropped on many threads; first requests to the factory racing.

namespace
{

std::atomic<int> gDestroyed{0};

struct Tracked
{
    ~Tracked() { gDestroyed.fetch_add(1); }
    int value = 42;
};

// Two threads copy, move and drop their own copies while the original owner lets go: the counts
// balance, and whichever thread is last destroys the object, exactly once.
TEST(HostSharedPtrThreads, Copies)
{
    gDestroyed = 0;
    const uint64_t live = orv::Testing::LiveBlockCount();
    constexpr int kRounds = 500;
    for (int round = 0; round < kRounds; ++round)
    {
        auto owner = eastl::allocate_shared<Tracked>(eastl::allocator());
        std::atomic<bool> go{false};
        auto work = [&go](eastl::shared_ptr<Tracked> mine)
        {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < 50; ++i)
            {
                eastl::shared_ptr<Tracked> copy = mine;
                eastl::shared_ptr<Tracked> moved = std::move(copy);
                EXPECT_EQ(moved->value, 42);
            }
            mine.reset();
        };
        std::thread a(work, owner), b(work, owner);
        owner.reset();
        go = true;
        a.join();
        b.join();
    }
    EXPECT_EQ(gDestroyed.load(), kRounds);
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);
}

template <int N>
struct Tag
{
};

TEST(HostFactoryThreads, FirstRequests)
{
    constexpr int kTypes = 12, kThreads = 6;
    const std::type_info* types[kTypes] = {&typeid(Tag<0>), &typeid(Tag<1>),  &typeid(Tag<2>),
                                           &typeid(Tag<3>), &typeid(Tag<4>),  &typeid(Tag<5>),
                                           &typeid(Tag<6>), &typeid(Tag<7>),  &typeid(Tag<8>),
                                           &typeid(Tag<9>), &typeid(Tag<10>), &typeid(Tag<11>)};
    std::vector<std::vector<int>> seen(kThreads, std::vector<int>(kTypes));
    std::vector<std::thread> threads;
    // Each thread asks in its own order (rotated, every other one reversed), so that first
    // requests race from all sides.
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&, t]
            {
                for (int k = 0; k < kTypes; ++k)
                {
                    const int type = (t % 2 == 0 ? k + t : kTypes - 1 - k + t) % kTypes;
                    seen[t][type] = orv::General::IFactory::GetInstance().GetTypeId(*types[type]);
                }
            });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 1; t < kThreads; ++t)
        EXPECT_EQ(seen[t], seen[0]) << "thread " << t;
    EXPECT_EQ(std::set<int>(seen[0].begin(), seen[0].end()).size(), size_t(kTypes));
    for (const std::type_info* type : types)
        EXPECT_EQ(orv::General::IFactory::GetInstance().GetRequestCount(*type), uint64_t(kThreads));
}

} // namespace
