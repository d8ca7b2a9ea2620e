#include "host/core/LightTableOfBit.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using orv::Collection::LightTableOfBit;

namespace
{

// A table of `bits.size()` positions with the given pattern.
LightTableOfBit MakeBits(const std::vector<bool>& bits)
{
    LightTableOfBit table(uint32_t(bits.size()), false);
    for (uint32_t i = 0; i < bits.size(); ++i)
        table.Set(i, bits[i]);
    return table;
}

TEST(HostBitTable, IncrementSkipsLongRunsAndStopsAtTheLastSetPosition)
{
    std::vector<bool> bits(1100, false);
    for (uint32_t i : {0u, 5u, 200u, 1000u})
        bits[i] = true;
    const LightTableOfBit table = MakeBits(bits);
    LightTableOfBit::Iterator it(&table, 0);
    EXPECT_EQ(it.Increment(), 5u);
    EXPECT_EQ(it.Increment(), 195u);
    EXPECT_EQ(it.Increment(), 800u);
    EXPECT_EQ(it.Position(), 1000u);
    EXPECT_EQ(it.Increment(), 0u);
    EXPECT_EQ(it.Increment(), 0u);
    EXPECT_EQ(it.Position(), 1000u);

    // Starting on a clear position looks beyond it.
    LightTableOfBit::Iterator fromClear(&table, 6);
    EXPECT_EQ(fromClear.Increment(), 194u);
    EXPECT_EQ(LightTableOfBit::Iterator().Increment(), 0u);
}

TEST(HostBitTable, SearchesMatchABruteForceScan)
{
    std::mt19937 random(7);
    for (uint32_t size : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u})
    {
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
                if (from < size)
                    expectedCount += bits[from];
            }
            EXPECT_EQ(table.CountSet(), expectedCount);

            // Summing the steps from position 0 lands on every set position after it, in order.
            LightTableOfBit::Iterator it(&table, 0);
            uint64_t at = 0;
            for (uint32_t i = 1; i < size; ++i)
            {
                if (bits[i])
                {
                    at += it.Increment();
                    ASSERT_EQ(at, i);
                }
            }
            EXPECT_EQ(it.Increment(), 0u);
        }
    }
}

TEST(HostBitTable, ResizeKeepsBitsPastTheSizeClear)
{
    LightTableOfBit table(70, true);
    table.Resize(10, true); // shrink: positions 10..69 must not come back
    table.Resize(130, false);
    EXPECT_EQ(table.CountSet(), 10u);
    EXPECT_EQ(table.FindNextSet(10), 130u);
    table.Resize(140, true);
    EXPECT_EQ(table.CountSet(), 20u);
    EXPECT_EQ(table.FindNextSet(10), 130u);
    EXPECT_FALSE(table.Get(129));
    EXPECT_TRUE(table.Get(139));

    table.Set(140, true); // out of range: ignored
    EXPECT_FALSE(table.Get(140));
    EXPECT_EQ(table.Size(), 140u);
}

} // namespace
