#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;

// Extra data is present once mapped; copies map independently.
TEST(Provider, Mapping)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(5)));
    EXPECT_TRUE(provider.HasComponent(C::Position, 0) && provider.HasComponent(C::PointIndex, 7));
    EXPECT_FALSE(provider.HasComponent(C::Real, 0));
    EXPECT_EQ(provider.MapOptionalComponent(C::Real, 101), 0);
    EXPECT_EQ(provider.MapOptionalComponent(C::Real, 102), 1);
    EXPECT_TRUE(provider.HasComponent(C::Real, 1));
    EXPECT_FALSE(provider.HasComponent(C::Real, 2) || provider.HasComponent(C::SignedInteger, 0));
    PointCloudDataProvider copy(provider);
    EXPECT_EQ(copy.MapOptionalComponent(C::Real, 103), 2);
    EXPECT_FALSE(provider.HasComponent(C::Real, 2));
    provider.ClearComponentMapping();
    EXPECT_FALSE(provider.HasComponent(C::Real, 1));
    EXPECT_TRUE(copy.HasComponent(C::Real, 1));
    EXPECT_EQ(provider.MapOptionalComponent(C::Real, 104), 0);
}

// Size and bounds follow the visible points, in world coordinates.
TEST(Provider, SizeAndBounds)
{
    // The hidden points 9, 10 and 11 hold the largest x and y: the box is that of 0..8.
    const std::vector<GPointDouble> points = GridPoints(12, 1000.0);
    PointCloudDataProvider provider(
        BuildCloud(points, {5, RotationZ(0.3, 1000, 1000, 0), {9, 10, 11}}));
    EXPECT_EQ(provider.Size(), 9u);
    GPointDouble lo = points[0], hi = points[0];
    for (std::size_t i = 1; i < 9; ++i)
    {
        lo = {std::min(lo.x, points[i].x), std::min(lo.y, points[i].y),
              std::min(lo.z, points[i].z)};
        hi = {std::max(hi.x, points[i].x), std::max(hi.y, points[i].y),
              std::max(hi.z, points[i].z)};
    }
    const auto box = provider.GetBoundingBox();
    EXPECT_LT(Distance(box.firstCorner, lo), 1e-3);
    EXPECT_LT(Distance(box.secondCorner, hi), 1e-3);

    const PointCloudDataProvider empty{PointCloud()};
    WantAll consumer;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_TRUE(empty.GetIterable(consumer)->IsEmpty());
}
