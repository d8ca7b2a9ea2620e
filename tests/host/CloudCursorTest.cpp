#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <tuple>

// The host cursor: steps over subset filters and subset changes, and its end state. Starts at
// any ordinal and walks across table buffers are exercised through the provider's cursors
// (split pieces, and clouds of more than one buffer).

namespace
{

using namespace orv::TestSupport;

TEST(GeometryCursor, StepsOverFiltersAndSubsetChangesToTheEnd)
{
    // Ten points in subsets of four; hidden: 0, the whole second subset (4..7) and 9.
    const PointCloud cloud = BuildCloud(GridPoints(10), {4, {}, {0, 4, 5, 6, 7, 9}});
    const GCloud& g = cloud.Convert();
    CloudCursorBase<1> cursor(g, 0);
    EXPECT_EQ(cursor.GetPointIndex(), 1u);
    EXPECT_TRUE(cursor.HasSubsetFilter());
    EXPECT_EQ(cursor.GetSubsetNumber(), 4u);
    // (subset changed, step, point index, local index): 1 -> 2 -> 3 in steps of 1 through the
    // filter, -> 8 (subset 1 has no visible point), then the end.
    const std::tuple<bool, uint64_t, uint64_t, uint64_t> steps[] = {
        {false, 1, 2, 2}, {false, 1, 3, 3}, {true, 0, 8, 0}, {true, 0, 10, 0}};
    uint64_t ordinal = 0;
    for (const auto& [changed, step, pointIndex, local] : steps)
    {
        const auto r = cursor.Step();
        EXPECT_EQ(r.subsetChanged, changed);
        EXPECT_EQ(r.step, step);
        EXPECT_EQ(cursor.GetPointIndex(), pointIndex);
        EXPECT_EQ(cursor.GetLocalIndex(), local);
        EXPECT_EQ(cursor.GetOrdinal(), ++ordinal);
    }
    EXPECT_TRUE(cursor.IsAtEnd());
    EXPECT_EQ(cursor.GetCoordinateTable(), nullptr);
    cursor.Step(); // stepping at the end keeps the end state
    EXPECT_EQ(cursor.GetOrdinal(), g.GetPointCount());
    EXPECT_EQ(cursor.GetPointIndex(), 10u);
    EXPECT_TRUE(cursor.GetExtraDataIterator(Type::Scan(), 0).AtBufferEnd());

    // A start past the end stands at the end.
    CloudCursorBase<1> past(g, 99);
    EXPECT_TRUE(past.IsAtEnd());
    EXPECT_EQ(past.GetOrdinal(), 4u);
}

} // namespace
