// What each query hands to the host's selection, seen through the host's selection observer.
#include "host/geometry/Selection.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

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

const PointCloudDataProvider& Provider()
{
    static const PointCloudDataProvider provider(BuildCloud(GridPoints(20)));
    return provider;
}

} // namespace

// The flag is set exactly for length -1.
TEST(QueryHandOver, CylinderFlag)
{
    for (double length : {-1.0, -2.0, 0.0, 3.5})
    {
        Captured<sel::SelPrcCyl> captured;
        Provider().GetPoints(dp::InsideCylinderQuery{{1, 2, 3}, {0, 0.5, 1}, 2.5, length}, false);
        ASSERT_EQ(captured.seen.size(), 1u);
        const sel::SelPrcCyl& c = captured.seen[0];
        EXPECT_EQ(c.IsUnbounded(), length == -1.0) << length;
        EXPECT_EQ(c.GetLength(), length);
        EXPECT_TRUE(c.GetRadius() == 2.5 && c.GetParameterA() == 0.0 && c.GetParameterB() == 0.0);
    }
}

// Planes are handed over as point times distance and the negated normal.
TEST(QueryHandOver, Planes)
{
    Captured<sel::SelPrcPntClipPlane> captured;
    dp::ClippingPlanesQuery query;
    query.planes.push_back({{0, 0, 1}, 5});
    query.planes.push_back({{0.6, -0.8, 0}, -2});
    Provider().GetPoints(query, true);
    Provider().GetPoints(dp::ClippingPlanesQuery{}, false);
    ASSERT_EQ(captured.seen.size(), 2u) << "an empty plane list still builds the selection";
    EXPECT_EQ(captured.seen[1].GetComponent().GetPlaneCount(), 0u);
    const auto& planes = captured.seen[0].GetComponent().GetPlanes();
    ASSERT_EQ(planes.size(), 2u);
    // Every sign flipped, so zero components become -0: compared byte for byte.
    const auto same = [](const void* a, GPointDouble b) { return std::memcmp(a, &b, 24) == 0; };
    EXPECT_TRUE(same(&planes[0].point, {0.0, 0.0, 5.0}));
    EXPECT_TRUE(same(&planes[0].normal, {-0.0, -0.0, -1.0}));
    EXPECT_TRUE(same(&planes[1].point, {-1.2, 1.6, -0.0})); // 0 * -2
    EXPECT_TRUE(same(&planes[1].normal, {-0.6, 0.8, -0.0}));
}

TEST(QueryHandOver, SphereFlag)
{
    Captured<sel::SelPrcSph> captured;
    Provider().GetPoints(dp::InsideSphereQuery{{1, 2, 3}, 4}, true);
    ASSERT_EQ(captured.seen.size(), 1u);
    EXPECT_FALSE(captured.seen[0].GetFlag());
    EXPECT_TRUE(captured.seen[0].GetRadius() == 4.0 && captured.seen[0].GetCenter().z == 3.0);
}
