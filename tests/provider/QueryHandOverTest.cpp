// What each query hands to the host's selection, seen through the host's selection observer.
#include "host/geometry/Selection.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
namespace dp = orv::DataProxy;
namespace sel = orv::Graphics;

namespace
{

// Records a copy of every procedure of type P the host receives while it lives.
template <class P>
class Captured
{
public:
    Captured()
    {
        sel::Testing::SetSelectionObserver(
            [this](const void* procedure, const std::type_info& type)
            {
                ASSERT_EQ(type, typeid(P));
                seen.push_back(*static_cast<const P*>(procedure));
            });
    }
    ~Captured() { sel::Testing::SetSelectionObserver({}); }
    std::vector<P> seen;
};

PointCloudDataProvider Provider()
{
    return PointCloudDataProvider(BuildCloud(GridPoints(20)));
}

} // namespace

TEST(QueryHandOver, CylinderFlagIsSetExactlyForLengthMinusOne)
{
    const PointCloudDataProvider provider = Provider();
    for (double length : {-1.0, -2.0, 0.0, 3.5})
    {
        Captured<sel::SelPrcCyl> captured;
        provider.GetPoints(dp::InsideCylinderQuery{{1, 2, 3}, {0, 0.5, 1}, 2.5, length}, false);
        ASSERT_EQ(captured.seen.size(), 1u);
        const sel::SelPrcCyl& c = captured.seen[0];
        EXPECT_EQ(c.IsUnbounded(), length == -1.0) << length;
        EXPECT_EQ(c.GetLength(), length);
        EXPECT_EQ(c.GetRadius(), 2.5);
        EXPECT_EQ(c.GetParameterA(), 0.0);
        EXPECT_EQ(c.GetParameterB(), 0.0);
        EXPECT_EQ(c.GetFirstCloud(), nullptr);
        EXPECT_EQ(c.GetSecondCloud(), nullptr);
        EXPECT_EQ(c.GetAxisPoint().y, 2.0);
        EXPECT_EQ(c.GetDirection().y, 0.5);
    }
}

TEST(QueryHandOver, PlanesArePointTimesDistanceAndTheNegatedNormal)
{
    const PointCloudDataProvider provider = Provider();
    Captured<sel::SelPrcPntClipPlane> captured;
    dp::ClippingPlanesQuery query;
    query.planes.push_back({{0, 0, 1}, 5});
    query.planes.push_back({{0.6, -0.8, 0}, -2});
    provider.GetPoints(query, true);
    ASSERT_EQ(captured.seen.size(), 1u);
    const auto& planes = captured.seen[0].GetComponent().GetPlanes();
    ASSERT_EQ(planes.size(), 2u);
    EXPECT_EQ(planes[0].point.x, 0.0);
    EXPECT_EQ(planes[0].point.y, 0.0);
    EXPECT_EQ(planes[0].point.z, 5.0);
    // Every sign flipped: the zero components become -0.
    EXPECT_TRUE(std::signbit(planes[0].normal.x) && planes[0].normal.x == 0.0);
    EXPECT_TRUE(std::signbit(planes[0].normal.y) && planes[0].normal.y == 0.0);
    EXPECT_EQ(planes[0].normal.z, -1.0);
    EXPECT_EQ(planes[1].point.x, -1.2);
    EXPECT_EQ(planes[1].point.y, 1.6);
    EXPECT_TRUE(std::signbit(planes[1].point.z)); // 0 * -2
    EXPECT_EQ(planes[1].normal.x, -0.6);
    EXPECT_EQ(planes[1].normal.y, 0.8);
    EXPECT_TRUE(std::signbit(planes[1].normal.z));

    Captured<sel::SelPrcPntClipPlane> none;
    provider.GetPoints(dp::ClippingPlanesQuery{}, false);
    ASSERT_EQ(none.seen.size(), 1u) << "an empty plane list still builds the selection";
    EXPECT_EQ(none.seen[0].GetComponent().GetPlaneCount(), 0u);
}

TEST(QueryHandOver, SphereFlagIsFalseAndBoxCornersPassInOrder)
{
    const PointCloudDataProvider provider = Provider();
    {
        Captured<sel::SelPrcSph> captured;
        provider.GetPoints(dp::InsideSphereQuery{{1, 2, 3}, 4}, true);
        ASSERT_EQ(captured.seen.size(), 1u);
        EXPECT_FALSE(captured.seen[0].GetFlag());
        EXPECT_EQ(captured.seen[0].GetRadius(), 4.0);
        EXPECT_EQ(captured.seen[0].GetCenter().z, 3.0);
    }
    Captured<sel::SelPrcBox> captured;
    provider.GetPoints(dp::InsideAxisAlignedBoxQuery{{9, 8, 7}, {1, 2, 3}}, false);
    ASSERT_EQ(captured.seen.size(), 1u);
    EXPECT_EQ(captured.seen[0].GetFirstCorner().x, 9.0);
    EXPECT_EQ(captured.seen[0].GetSecondCorner().z, 3.0);
}
