#include "host/core/TableCluster.h"

#include <gtest/gtest.h>

#include <vector>

using orv::Collection::TableCluster;
using Iterator = orv::Collection::TableCluster::Iterator;

namespace
{

constexpr uint32_t kPerBuffer = 4;

// A table of `count` uint32 elements holding 100 + i, in buffers of kPerBuffer elements.
TableCluster MakeTable(uint32_t count, uint64_t reserve = 0)
{
    TableCluster table(sizeof(uint32_t), kPerBuffer);
    table.Reserve(reserve);
    for (uint32_t i = 0; i < count; ++i)
        *static_cast<uint32_t*>(table.New(false)) = 100 + i;
    return table;
}

TEST(HostTableCluster, WalkVisitsEveryElementOnceAndEndsWhereTheEndIteratorStands)
{
    // Counts around and at multiples of the buffer size, none at all included.
    for (uint32_t count : {0, 1, 3, 4, 5, 7, 8, 9, 12})
        for (uint64_t reserve : {uint64_t(0), uint64_t(count) + kPerBuffer})
        {
            SCOPED_TRACE(testing::Message() << "count " << count << " reserve " << reserve);
            const TableCluster table = MakeTable(count, reserve);
            const Iterator end(&table, count);
            Iterator it(&table, 0);
            uint32_t visited = 0;
            for (; it != end && visited <= count; it.Next(), ++visited)
            {
                ASSERT_FALSE(it.AtBufferEnd());
                EXPECT_EQ(it.Get(), table.GetElm(visited));
                EXPECT_EQ(*static_cast<const uint32_t*>(it.Get()), 100 + visited);
            }
            EXPECT_EQ(visited, count);
            EXPECT_EQ(it.ptr, end.ptr);
            EXPECT_EQ(it.pos, count);
            // Without spare buffers, a full last buffer (or no buffer) leaves nothing to point at.
            const bool nothingLeft = reserve == 0 && count % kPerBuffer == 0;
            EXPECT_TRUE(!nothingLeft || (end.ptr == nullptr && end.AtBufferEnd()));
        }
    const Iterator none; // a default iterator reads as no value
    EXPECT_TRUE(none.AtBufferEnd() && none.Get() == nullptr && none == Iterator(nullptr, 0));
}

TEST(HostTableCluster, JumpsAcrossBuffersMatchIteratorsBuiltAtTheTarget)
{
    const TableCluster table = MakeTable(10);
    for (int64_t from = 0; from <= 10; ++from)
        for (int64_t to = 0; to <= 11; ++to)
        {
            Iterator it(&table, uint64_t(from));
            it += to - from;
            const Iterator expected(&table, uint64_t(to));
            EXPECT_TRUE(it.ptr == expected.ptr && it.bufEnd == expected.bufEnd && it.pos == to)
                << from << " -> " << to;
        }
    Iterator before(&table, 2);
    before += -5; // clamps at the first element
    EXPECT_EQ(before, Iterator(&table, 0));
    Iterator beyond(&table, 2);
    beyond += int64_t(1) << 50;
    EXPECT_TRUE(beyond.AtBufferEnd());
    Iterator it(&table, 1);
    it.FirstOfNextBuf();
    EXPECT_EQ(it, Iterator(&table, kPerBuffer));
    it += 5; // position 9, in the last buffer
    it.FirstOfNextBuf();
    EXPECT_TRUE(it.ptr == nullptr && it.pos == 3 * kPerBuffer);
}

} // namespace
