// Queries against a brute-force selection of their own definition, and what each query hands to
// the host's selection, seen through the host's selection observer. Hostile records (NaN, zero
// axes, negative radii, no planes) are the fuzz target query_records', replayed in every build.
#include "host/geometry/Selection.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <limits>
#include <random>

using namespace orv::TestSupport;
using namespace orv::TestSupport::HostChoice;
using orv::Data::Cloud::PointCloudDataProvider;
namespace dp = orv::DataProxy;
namespace sel = orv::Graphics;

namespace
{

// Everything a point carries through the contract but its storage index (a new cloud numbers
// its points afresh): position, classification, scan id, intensity and normal.
using Record = std::array<double, 9>;

// Reads through the keys Provider() maps, in that order: a result keeps its source's mapping.
std::vector<Record> Records(const dp::IPointDataProvider& provider)
{
    WantAll consumer;
    std::vector<Record> records;
    for (auto c = provider.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
    {
        const auto p = c->GetPosition();
        const auto n = c->GetVector3(0).value();
        records.push_back({p.x, p.y, p.z, double(c->GetUnsignedInteger(0).value()),
                           double(c->GetUnsignedInteger(1).value()), c->GetReal(0).value(), n.x,
                           n.y, n.z});
    }
    std::sort(records.begin(), records.end());
    return records;
}

// 600 points in a rotated, translated frame over subsets of 32, every ninth hidden, mapped in
// the order Records reads them.
const PointCloudDataProvider& Provider()
{
    static const PointCloudDataProvider provider = []
    {
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> d(-10.0, 10.0);
        std::vector<GPointDouble> points(600);
        for (GPointDouble& p : points)
            p = {5000.0 + d(random), -2000.0 + d(random), 100.0 + d(random)};
        PointCloudDataProvider p(
            BuildCloud(points, {32, RotationZ(0.4, 5000.0, -2000.0, 100.0), Every(0, 600, 9)}));
        p.MapOptionalComponent(C::UnsignedInteger, Type::Class());
        p.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
        p.MapOptionalComponent(C::Real, Type::IntensityNew());
        p.MapOptionalComponent(C::Vector3, Type::Normal());
        return p;
    }();
    return provider;
}

// The selection holds exactly the points `inside` accepts and its inversion the others, every
// value intact.
template <class Q>
void ExpectPartition(const Q& query, const std::function<bool(const Record&)>& inside,
                     const char* what)
{
    std::vector<Record> in, out;
    for (const Record& r : Records(Provider()))
        (inside(r) ? in : out).push_back(r);
    EXPECT_EQ(Records(*Provider().GetPoints(query, false)), in) << what;
    EXPECT_EQ(Records(*Provider().GetPoints(query, true)), out) << what;
}

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

double Sq(double v)
{
    return v * v;
}

} // namespace

// Each query selects what a brute force selects, in world coordinates.
TEST(SpatialQuery, BruteForce)
{
    ASSERT_GT(Provider().Size(), 500u);
    const auto box = [](const Record& r) // corners as given: how they are read is the host's
    {
        return BoxHolds(5002, 4995, r[0]) && BoxHolds(-2005, -1999, r[1]) &&
               BoxHolds(95, 103, r[2]);
    };
    ExpectPartition(dp::InsideAxisAlignedBoxQuery{{5002, -2005, 95}, {4995, -1999, 103}}, box,
                    "box");
    const auto sphere = [](const Record& r)
    { return Sq(r[0] - 5001) + Sq(r[1] + 2001) + Sq(r[2] - 99) <= 7.5 * 7.5; };
    ExpectPartition(dp::InsideSphereQuery{{5001, -2001, 99}, 7.5}, sphere, "sphere");
    const auto cylinder = [](const Record& r)
    { return r[2] >= 92 && r[2] <= 104 && Sq(r[0] - 4998) + Sq(r[1] + 2000) <= 16; };
    ExpectPartition(dp::InsideCylinderQuery{{4998, -2000, 92}, {0, 0, 2}, 4, 12}, cylinder,
                    "cylinder");
    // Length -1.0 asks for the axis without ends (which ends is the host's to say).
    const auto line = [](const Record& r)
    { return Sq(r[0] - 5000) + Sq(r[1] + 2000) <= 9 && UnboundedCylinderKeeps(r[2] - 100); };
    ExpectPartition(dp::InsideCylinderQuery{{5000, -2000, 100}, {0, 0, 1}, 3, -1}, line, "line");
    // The same side of every plane (which side is the host's choice).
    dp::ClippingPlanesQuery planes;
    planes.planes.push_back({{1.0, 0.0, 0.0}, 5003.0});
    planes.planes.push_back({{0.0, -0.6, 0.8}, 1280.0});
    const auto behind = [](const Record& r)
    { return PlaneKeeps(r[0], 5003) && PlaneKeeps(-0.6 * r[1] + 0.8 * r[2], 1280); };
    ExpectPartition(planes, behind, "planes");
}

// The cylinder's flag is set exactly for length -1.
TEST(QueryHandOver, Flags)
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
    Captured<sel::SelPrcSph> captured; // the sphere's flag is never set
    Provider().GetPoints(dp::InsideSphereQuery{{1, 2, 3}, 4}, true);
    ASSERT_EQ(captured.seen.size(), 1u);
    EXPECT_FALSE(captured.seen[0].GetFlag());
    EXPECT_TRUE(captured.seen[0].GetRadius() == 4.0 && captured.seen[0].GetCenter().z == 3.0);
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
