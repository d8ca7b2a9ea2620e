#include "host/core/LightTableOfBit.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using orv::Collection::LightTableOfBit;

namespace
{

LightTableOfBit MakeBits(const std::vector<bool>& bits)
{
    LightTableOfBit table(uint32_t(bits.size()), false);
    for (uint32_t i = 0; i < bits.size(); ++i)
        table.Set(i, bits[i]);
    return table;
}

TEST(HostBitTable, SearchesMatchABruteForceScan)
{
    std::mt19937 random(7);
    for (uint32_t size : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u})
        for (double density : {0.0, 0.01, 0.5, 1.0})
        {
            std::bernoulli_distribution pick(density);
            std::vector<bool> bits(size);
            for (uint32_t i = 0; i < size; ++i)
                bits[i] = pick(random);
            const LightTableOfBit table = MakeBits(bits);
            uint32_t expectedCount = 0;
            for (uint32_t from = 0; from <= size; ++from)
            {
                uint32_t next = from;
                while (next < size && !bits[next])
                    ++next;
                ASSERT_EQ(table.FindNextSet(from), next) << "size " << size << " from " << from;
                expectedCount += from < size && bits[from];
            }
            EXPECT_EQ(table.CountSet(), expectedCount);
            // Summing the steps from position 0 lands on every set position after it, in order.
            std::vector<uint64_t> set, reached;
            for (uint32_t i = 1; i < size; ++i)
                if (bits[i])
                    set.push_back(i);
            LightTableOfBit::Iterator it(&table, 0);
            for (uint64_t at = 0, step; (step = it.Increment()) != 0 && reached.size() < size;)
                reached.push_back(at += step);
            EXPECT_EQ(reached, set);
        }
}

} // namespace
