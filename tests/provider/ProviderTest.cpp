#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;

TEST(Provider, PositionAndIndexAreAlwaysThereExtraDataOnlyWhenMapped)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(5)));
    EXPECT_TRUE(provider.HasComponent(EPointDataComponent::Position, 0));
    EXPECT_TRUE(provider.HasComponent(EPointDataComponent::PointIndex, 7));
    EXPECT_FALSE(provider.HasComponent(EPointDataComponent::Real, 0));

    EXPECT_EQ(provider.MapOptionalComponent(EPointDataComponent::Real, 101), 0);
    EXPECT_EQ(provider.MapOptionalComponent(EPointDataComponent::Real, 102), 1);
    EXPECT_TRUE(provider.HasComponent(EPointDataComponent::Real, 1));
    EXPECT_FALSE(provider.HasComponent(EPointDataComponent::Real, 2));
    EXPECT_FALSE(provider.HasComponent(EPointDataComponent::SignedInteger, 0));

    provider.ClearComponentMapping();
    EXPECT_FALSE(provider.HasComponent(EPointDataComponent::Real, 1));
    EXPECT_EQ(provider.MapOptionalComponent(EPointDataComponent::Real, 103), 0);
}

TEST(Provider, CopiesHaveIndependentMappings)
{
    PointCloudDataProvider original(BuildCloud(GridPoints(3)));
    original.MapOptionalComponent(EPointDataComponent::UnsignedInteger, 5);
    PointCloudDataProvider copy(original);
    EXPECT_TRUE(copy.HasComponent(EPointDataComponent::UnsignedInteger, 0));
    copy.MapOptionalComponent(EPointDataComponent::UnsignedInteger, 6);
    EXPECT_TRUE(copy.HasComponent(EPointDataComponent::UnsignedInteger, 1));
    EXPECT_FALSE(original.HasComponent(EPointDataComponent::UnsignedInteger, 1));
    EXPECT_EQ(copy.Size(), 3u);
}

TEST(Provider, SizeAndBoundsFollowTheVisiblePointsInWorldCoordinates)
{
    std::vector<TestPoint> points = GridPoints(12, 1000.0);
    CloudSetup setup;
    setup.frame = RotationZ(0.3, 1000.0, 1000.0, 0.0);
    setup.subsetCapacity = 5;
    setup.hidden = {0, 11};
    PointCloudDataProvider provider(BuildCloud(points, setup));
    EXPECT_EQ(provider.Size(), 10u);

    // Hidden points 0 and 11 hold the extremes of x; the box is over points 1..10 only.
    double lo[3] = {1e300, 1e300, 1e300};
    double hi[3] = {-1e300, -1e300, -1e300};
    for (std::size_t i = 1; i <= 10; ++i)
    {
        const double c[3] = {points[i].world.x, points[i].world.y, points[i].world.z};
        for (int a = 0; a < 3; ++a)
        {
            lo[a] = std::min(lo[a], c[a]);
            hi[a] = std::max(hi[a], c[a]);
        }
    }
    const auto box = provider.GetBoundingBox();
    EXPECT_NEAR(box.firstCorner.x, lo[0], 1e-3);
    EXPECT_NEAR(box.firstCorner.y, lo[1], 1e-3);
    EXPECT_NEAR(box.firstCorner.z, lo[2], 1e-3);
    EXPECT_NEAR(box.secondCorner.x, hi[0], 1e-3);
    EXPECT_NEAR(box.secondCorner.y, hi[1], 1e-3);
    EXPECT_NEAR(box.secondCorner.z, hi[2], 1e-3);

    PointCloudDataProvider empty{orv::Data::Cloud::PointCloud()};
    EXPECT_EQ(empty.Size(), 0u);
    WantAll consumer;
    EXPECT_TRUE(empty.GetIterable(consumer)->IsEmpty());
    EXPECT_FALSE(empty.GetIterable(consumer)->CreateCursor()->IsValid());
}
