#include "host/core/Factory.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

using orv::General::IFactory;

namespace
{

template <int N>
struct Tag
{
};

constexpr int kTypes = 12;

// typeid of Tag<0> .. Tag<kTypes - 1>.
template <int... N>
std::vector<const std::type_info*> TagTypes(std::integer_sequence<int, N...>)
{
    return {&typeid(Tag<N>)...};
}

TEST(HostFactoryThreads, ConcurrentFirstRequestsAgreeOnEveryId)
{
    const std::vector<const std::type_info*> types =
        TagTypes(std::make_integer_sequence<int, kTypes>());
    constexpr int kThreads = 6;
    std::vector<std::vector<int>> seen(kThreads, std::vector<int>(kTypes));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                // Each thread asks in its own order (rotated, every other one reversed), so first
                // requests race from all sides.
                for (int k = 0; k < kTypes; ++k)
                {
                    const int type = (t % 2 == 0 ? k + t : kTypes - 1 - k + t) % kTypes;
                    seen[t][type] = IFactory::GetInstance().GetTypeId(*types[type]);
                }
            });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int type = 0; type < kTypes; ++type)
    {
        for (int t = 1; t < kThreads; ++t)
            EXPECT_EQ(seen[t][type], seen[0][type]) << "type " << type;
        for (int other = 0; other < type; ++other)
            EXPECT_NE(seen[0][type], seen[0][other]);
        EXPECT_EQ(IFactory::GetInstance().GetRequestCount(*types[type]), uint64_t(kThreads));
    }
}

} // namespace
