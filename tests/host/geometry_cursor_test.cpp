#include "geometry_test_support.h"

#include <gtest/gtest.h>

// The host cursor: steps over subset filters and subset changes, start ordinals, end state,
// element iterators, across table buffers.

namespace
{

using namespace geomtest;

// Ten points in subsets of four; hidden: 0, the whole second subset (4..7) and 9.
PointCloud SparseCloud()
{
    PointCloud cloud = BuildCloud(Line(10), 4);
    for (uint64_t i : {0, 4, 5, 6, 7, 9})
        cloud.Convert().SetPointVisible(i, false);
    return cloud;
}

TEST(GeometryCursor, StepsOverFiltersAndSubsetChanges)
{
    PointCloud cloud = SparseCloud();
    const GCloud& g = cloud.Convert();
    CloudCursorBase<1> cursor(g, 0);
    EXPECT_EQ(cursor.GetPointIndex(), 1u);
    EXPECT_EQ(cursor.GetLocalIndex(), 1u);
    EXPECT_TRUE(cursor.HasSubsetFilter());
    EXPECT_EQ(cursor.GetSubsetNumber(), 4u);
    struct Expected
    {
        bool changed;
        uint64_t step, pointIndex, local;
    };
    // 1 -> 2 -> 3 (filter steps of 1), -> 8 (subset 1 has no visible point), then the end.
    const Expected steps[] = {
        {false, 1, 2, 2}, {false, 1, 3, 3}, {true, 0, 8, 0}, {true, 0, 10, 0}};
    uint64_t ordinal = 0;
    for (const Expected& e : steps)
    {
        const auto r = cursor.Step();
        EXPECT_EQ(r.subsetChanged, e.changed);
        EXPECT_EQ(r.step, e.step);
        EXPECT_EQ(cursor.GetPointIndex(), e.pointIndex);
        EXPECT_EQ(cursor.GetLocalIndex(), e.local);
        EXPECT_EQ(cursor.GetOrdinal(), ++ordinal);
    }
    EXPECT_TRUE(cursor.IsAtEnd());
    EXPECT_EQ(cursor.GetOrdinal(), g.GetPointCount());
    EXPECT_EQ(cursor.GetCoordinateTable(), nullptr);
    EXPECT_EQ(cursor.GetSubsetNumber(), 0u);
    cursor.Step(); // stepping at the end keeps the end state
    EXPECT_EQ(cursor.GetOrdinal(), g.GetPointCount());
    EXPECT_EQ(cursor.GetPointIndex(), 10u);
    EXPECT_TRUE(cursor.GetExtraDataIterator(ScanId(), 0).AtBufferEnd());
}

TEST(GeometryCursor, StartsAtAnyOrdinal)
{
    PointCloud cloud = SparseCloud();
    const std::vector<Visit> all = Walk(cloud.Convert());
    for (uint64_t start = 0; start <= all.size() + 1; ++start)
    {
        const std::vector<Visit> tail = Walk(cloud.Convert(), start);
        ASSERT_EQ(tail.size(), start < all.size() ? all.size() - start : 0) << start;
        if (!tail.empty())
        {
            EXPECT_EQ(tail.front().pointIndex, all[start].pointIndex);
            EXPECT_EQ(tail.front().ordinal, start);
        }
    }
    CloudCursorBase<1> past(cloud.Convert(), 99);
    EXPECT_TRUE(past.IsAtEnd());
    EXPECT_EQ(past.GetOrdinal(), 4u);
    PointCloud empty;
    CloudCursorBase<1> none(empty.Convert(), 0);
    EXPECT_TRUE(none.IsAtEnd());
    Component::CloudPointCoordinate<1> position(none);
    EXPECT_EQ(position.Get(), nullptr);
}

TEST(GeometryCursor, MoveNextSubsetSkipsTheRestAndKeepsTheOrdinal)
{
    PointCloud cloud = BuildCloud(Line(10), 4);
    CloudCursorBase<1> cursor(cloud.Convert(), 1);
    cursor.MoveNextSubset();
    EXPECT_EQ(cursor.GetOrdinal(), 4u);
    EXPECT_EQ(cursor.GetPointIndex(), 4u);
    cursor.MoveNextSubset();
    cursor.MoveNextSubset();
    EXPECT_TRUE(cursor.IsAtEnd());
    EXPECT_EQ(cursor.GetOrdinal(), 10u);
}

TEST(GeometryCursor, MissingTypesGiveIteratorsWithoutValue)
{
    PointCloud cloud = BuildCloud(Line(3));
    CloudCursorBase<1> cursor(cloud.Convert(), 0);
    EXPECT_TRUE(cursor.GetExtraDataIterator(CloudNormalExtraData::TypeId(), 0).AtBufferEnd());
    EXPECT_FALSE(cursor.GetExtraDataIterator(ScanId(), 2).AtBufferEnd());
    const std::vector<Visit> visits = Walk(cloud.Convert(), 0, CloudNormalExtraData::TypeId());
    ASSERT_EQ(visits.size(), 3u);
    for (const Visit& v : visits)
        EXPECT_FALSE(v.scan.has_value());
}

TEST(GeometryCursor, CrossesTableBuffersInsideASubset)
{
    // 20000 points in one subset: the tables hold 8192 elements per buffer.
    const size_t n = 20000;
    PointCloud cloud = BuildCloud(Line(n), 32768);
    for (uint64_t i = 8190; i < 8200; i += 3)
        cloud.Convert().SetPointVisible(i, false);
    const std::vector<Visit> visits = Walk(cloud.Convert());
    ASSERT_EQ(visits.size(), cloud.GetPointCount());
    uint64_t expectedIndex = 0;
    for (const Visit& v : visits)
    {
        while (!cloud.Convert().IsPointVisible(expectedIndex))
            ++expectedIndex;
        ASSERT_EQ(v.pointIndex, expectedIndex);
        ASSERT_EQ(v.scan, 1000 + expectedIndex);
        ASSERT_EQ(v.world.x, double(expectedIndex)); // first point at 0: exact floats
        ++expectedIndex;
    }
}

} // namespace
