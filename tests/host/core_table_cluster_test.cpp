#include "host/core/TableCluster.h"
#include "tests/host/base_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
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
    {
        const uint32_t value = 100 + i;
        std::memcpy(table.New(false), &value, sizeof(value));
    }
    return table;
}

uint32_t ValueAt(const Iterator& it)
{
    uint32_t value;
    std::memcpy(&value, it.Get(), sizeof(value));
    return value;
}

// Counts around and at multiples of the buffer size, including none at all.
const uint32_t kCounts[] = {0, 1, 3, 4, 5, 7, 8, 9, 12};

TEST(HostTableCluster, WalkVisitsEveryElementOnceAndEndsWhereTheEndIteratorStands)
{
    for (uint32_t count : kCounts)
    {
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
                EXPECT_EQ(ValueAt(it), 100 + visited);
                EXPECT_EQ(it.pos, visited);
            }
            EXPECT_EQ(visited, count);
            EXPECT_EQ(it.ptr, end.ptr);
            EXPECT_EQ(it.pos, count);
            // Without spare buffers, a full last buffer (or no buffer) leaves nothing to point at.
            if (reserve == 0 && count % kPerBuffer == 0)
            {
                EXPECT_EQ(end.ptr, nullptr);
                EXPECT_TRUE(end.AtBufferEnd());
            }
        }
    }
}

TEST(HostTableCluster, DefaultIteratorReadsAsNoValue)
{
    const Iterator none;
    EXPECT_TRUE(none.AtBufferEnd());
    EXPECT_EQ(none.Get(), nullptr);
    EXPECT_EQ(none, Iterator(nullptr, 0));
}

TEST(HostTableCluster, JumpsMatchIteratorsBuiltAtTheTarget)
{
    const TableCluster table = MakeTable(10);
    for (int64_t from = 0; from <= 10; ++from)
    {
        for (int64_t to = 0; to <= 11; ++to)
        {
            Iterator it(&table, uint64_t(from));
            it += to - from;
            const Iterator expected(&table, uint64_t(to));
            EXPECT_EQ(it.ptr, expected.ptr) << from << " -> " << to;
            EXPECT_EQ(it.bufEnd, expected.bufEnd) << from << " -> " << to;
            EXPECT_EQ(it.pos, uint32_t(to));
        }
    }
    Iterator before(&table, 2);
    before += -5; // clamps at the first element
    EXPECT_EQ(before, Iterator(&table, 0));
    Iterator beyond(&table, 2);
    beyond += int64_t(1) << 50;
    EXPECT_TRUE(beyond.AtBufferEnd());
}

TEST(HostTableCluster, FirstOfNextBufFromInsideABuffer)
{
    const TableCluster table = MakeTable(10);
    Iterator it(&table, 1);
    it.FirstOfNextBuf();
    EXPECT_EQ(it, Iterator(&table, kPerBuffer));
    EXPECT_EQ(ValueAt(it), 100 + kPerBuffer);
    it += 5; // position 9, in the last buffer
    it.FirstOfNextBuf();
    EXPECT_EQ(it.ptr, nullptr);
    EXPECT_EQ(it.pos, 3 * kPerBuffer);
}

TEST(HostTableCluster, GrowthKeepsAddressesAndFillsAsAsked)
{
    TableCluster table(3, kPerBuffer);
    table.SetFreshFill(0xCD);
    std::vector<unsigned char*> addresses;
    for (int i = 0; i < 20; ++i)
    {
        auto* element = static_cast<unsigned char*>(table.New(i % 2 == 0));
        const unsigned char expected = i % 2 == 0 ? 0x00 : 0xCD;
        EXPECT_EQ(element[0], expected);
        EXPECT_EQ(element[2], expected);
        element[1] = static_cast<unsigned char>(i);
        addresses.push_back(element);
    }
    EXPECT_EQ(table.count, 20u);
    EXPECT_EQ(table.GetBufferCount(), 5u);
    for (unsigned i = 0; i < 20; ++i)
    {
        EXPECT_EQ(table.GetElm(i), addresses[i]);
        EXPECT_EQ(addresses[i][1], i);
    }
    EXPECT_EQ(table.GetElm(20), nullptr);
}

TEST(HostTableCluster, CopiesAreDeepAndMovesEmptyTheSource)
{
    TableCluster original = MakeTable(9);
    TableCluster copy = original;
    *static_cast<uint32_t*>(copy.GetElm(8)) = 7;
    EXPECT_EQ(*static_cast<uint32_t*>(original.GetElm(8)), 108u);
    EXPECT_EQ(copy.count, 9u);
    EXPECT_EQ(*static_cast<uint32_t*>(copy.GetElm(5)), 105u);

    TableCluster moved = std::move(copy);
    EXPECT_EQ(copy.count, 0u);
    EXPECT_EQ(copy.GetBufferCount(), 0u);
    EXPECT_EQ(moved.count, 9u);
    copy = moved; // a moved-from table is usable
    EXPECT_EQ(*static_cast<uint32_t*>(copy.GetElm(8)), 7u);
}

TEST(HostTableCluster, FailedBufferLeavesTheTableAsItWas)
{
    const uint64_t live = orv::Testing::LiveBlockCount();
    {
        TableCluster table = MakeTable(kPerBuffer);
        {
            FailAllocationsScope failing(0);
            EXPECT_THROW(table.New(false), std::bad_alloc);
            EXPECT_THROW(TableCluster{table}, std::bad_alloc);
        }
        EXPECT_EQ(table.count, kPerBuffer);
        EXPECT_NE(table.New(true), nullptr);
    }
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);
}

TEST(HostTableCluster, DegenerateShapesArePromoted)
{
    TableCluster table(0, 0);
    EXPECT_EQ(table.GetElementSize(), 1u);
    EXPECT_EQ(table.GetElementsPerBuffer(), 1u);
    table.New(true);
    table.New(true);
    Iterator it(&table, 0);
    it.Next();
    it.Next();
    EXPECT_EQ(it, Iterator(&table, 2));
}

} // namespace
