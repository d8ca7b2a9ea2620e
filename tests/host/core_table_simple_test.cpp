#include "host/core/TableSimple.h"
#include "tests/host/base_test_support.h"

#include <gtest/gtest.h>

using orv::Collection::TableSimple;

namespace
{

TEST(HostTableSimple, GrowsCopiesDeeplyAndKeepsItsContentOnFailure)
{
    const uint64_t live = orv::Testing::LiveBlockCount();
    {
        TableSimple<int> table;
        for (int i = 0; i < 16; ++i)
            table.PushBack(i * i);
        ASSERT_EQ(table.Size(), table.Capacity());
        table.PushBack(table[3]); // the pushed value lives in the block that moves
        ASSERT_EQ(table.Size(), 17u);
        EXPECT_EQ(table[16], 9);

        TableSimple<int> copy = table;
        copy[0] = -1;
        EXPECT_EQ(table[0], 0);
        TableSimple<int> moved = std::move(copy);
        EXPECT_TRUE(copy.Empty());
        EXPECT_EQ(moved[0], -1);

        FailAllocationsScope failing(0);
        EXPECT_THROW(table.Reserve(1000), std::bad_alloc);
        EXPECT_EQ(table.Size(), 17u);
        EXPECT_EQ(table[15], 225);
    }
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);
}

} // namespace
