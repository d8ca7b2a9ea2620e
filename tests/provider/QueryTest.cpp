#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;
namespace dp = orv::DataProxy;

namespace
{

// Everything a point carries through the contract, except its storage index (a new cloud
// numbers its points afresh).
struct Record
{
    double x, y, z;
    std::uint64_t classification, scanId;
    double intensity;
    double nx, ny, nz;

    auto Tie() const { return std::tie(x, y, z, classification, scanId, intensity, nx, ny, nz); }
    bool operator<(const Record& o) const { return Tie() < o.Tie(); }
    bool operator==(const Record& o) const { return Tie() == o.Tie(); }
};

struct Keys
{
    unsigned char cls, scan, intensity, normal;
};

Keys MapAll(PointCloudDataProvider& provider)
{
    using namespace orv::Data::Cloud;
    return {*provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                           CloudClassificationExtraData::TypeId()),
            *provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                           CloudScanIDExtraData::TypeId()),
            *provider.MapOptionalComponent(EPointDataComponent::Real,
                                           CloudIntensityNewExtraData::TypeId()),
            *provider.MapOptionalComponent(EPointDataComponent::Vector3,
                                           CloudNormalExtraData::TypeId())};
}

// Reads through the same keys: a result keeps the queried provider's mapping.
std::vector<Record> Records(const dp::IPointDataProvider& provider, const Keys& keys)
{
    WantAll consumer;
    std::vector<Record> records;
    for (auto c = provider.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
    {
        const auto p = c->GetPosition();
        const auto n = c->GetVector3(keys.normal).value();
        records.push_back({p.x, p.y, p.z, c->GetUnsignedInteger(keys.cls).value(),
                           c->GetUnsignedInteger(keys.scan).value(),
                           c->GetReal(keys.intensity).value(), n.x, n.y, n.z});
    }
    std::sort(records.begin(), records.end());
    return records;
}

// A cloud in a rotated, translated frame, over many small subsets, with hidden points.
struct Fixture
{
    Fixture()
        : provider(
              []
              {
                  std::vector<TestPoint> points;
                  std::mt19937_64 random(7);
                  std::uniform_real_distribution<double> coord(-10.0, 10.0);
                  for (int i = 0; i < 600; ++i)
                  {
                      TestPoint p;
                      p.world = {5000.0 + coord(random), -2000.0 + coord(random),
                                 100.0 + coord(random)};
                      p.classification = static_cast<std::uint8_t>(i % 7);
                      p.scanId = static_cast<std::uint32_t>(i);
                      p.intensityNew = static_cast<float>(i) * 0.5f;
                      p.normal = (i % 3) ? GVector3{0, 0, 1} : GVector3{0.6, 0, 0.8};
                      points.push_back(p);
                  }
                  CloudSetup setup;
                  setup.frame = RotationZ(0.4, 5000.0, -2000.0, 100.0);
                  setup.subsetCapacity = 32;
                  for (std::uint64_t i = 0; i < 600; i += 9)
                  {
                      setup.hidden.insert(i);
                  }
                  return BuildCloud(points, setup);
              }()),
          keys(MapAll(provider)), all(Records(provider, keys))
    {
    }
    PointCloudDataProvider provider;
    Keys keys;
    std::vector<Record> all;
};

template <class Q>
void ExpectPartition(const Fixture& f, const Q& query, std::size_t expectedSelected,
                     const char* what)
{
    const auto selected = f.provider.GetPoints(query, false);
    const auto rejected = f.provider.GetPoints(query, true);
    ASSERT_NE(selected, nullptr);
    ASSERT_NE(rejected, nullptr);
    std::vector<Record> in = Records(*selected, f.keys);
    std::vector<Record> out = Records(*rejected, f.keys);
    EXPECT_EQ(in.size(), expectedSelected) << what;
    std::vector<Record> together = in;
    together.insert(together.end(), out.begin(), out.end());
    std::sort(together.begin(), together.end());
    EXPECT_EQ(together, f.all) << what << ": selected + rejected must be the cloud exactly";
    for (unsigned char index : {f.keys.cls, f.keys.scan})
    {
        EXPECT_TRUE(selected->HasComponent(EPointDataComponent::UnsignedInteger, index));
    }
}

double Dot(const dp::GVector3& a, double x, double y, double z)
{
    return a.x * x + a.y * y + a.z * z;
}

} // namespace

TEST(SpatialQuery, EachQueryPartitionsTheCloudAsABruteForceSaysInWorldCoordinates)
{
    const Fixture f;
    ASSERT_GT(f.all.size(), 500u);

    const dp::InsideAxisAlignedBoxQuery box{{5002.0, -2005.0, 95.0}, {4995.0, -1999.0, 103.0}};
    const auto inBox = std::count_if(f.all.begin(), f.all.end(),
                                     [](const Record& r)
                                     {
                                         return r.x >= 4995.0 && r.x <= 5002.0 && r.y >= -2005.0 &&
                                                r.y <= -1999.0 && r.z >= 95.0 && r.z <= 103.0;
                                     });
    ExpectPartition(f, box, static_cast<std::size_t>(inBox), "box");

    const dp::InsideSphereQuery sphere{{5001.0, -2001.0, 99.0}, 7.5};
    const auto inSphere = std::count_if(f.all.begin(), f.all.end(),
                                        [](const Record& r)
                                        {
                                            const double dx = r.x - 5001.0, dy = r.y + 2001.0,
                                                         dz = r.z - 99.0;
                                            return dx * dx + dy * dy + dz * dz <= 7.5 * 7.5;
                                        });
    ExpectPartition(f, sphere, static_cast<std::size_t>(inSphere), "sphere");

    const dp::InsideCylinderQuery cylinder{{4998.0, -2000.0, 92.0}, {0.0, 0.0, 2.0}, 4.0, 12.0};
    const auto inCylinder =
        std::count_if(f.all.begin(), f.all.end(),
                      [](const Record& r)
                      {
                          const double dx = r.x - 4998.0, dy = r.y + 2000.0, t = r.z - 92.0;
                          return t >= 0.0 && t <= 12.0 && dx * dx + dy * dy <= 16.0;
                      });
    ExpectPartition(f, cylinder, static_cast<std::size_t>(inCylinder), "cylinder");

    // Keeps the points on the side the normals point to: normal . p >= distance for both.
    dp::ClippingPlanesQuery planes;
    planes.planes.push_back({{1.0, 0.0, 0.0}, 5003.0});
    planes.planes.push_back({{0.0, -0.6, 0.8}, 1280.0});
    const auto inPlanes =
        std::count_if(f.all.begin(), f.all.end(),
                      [&](const Record& r)
                      {
                          return Dot(planes.planes[0].normal, r.x, r.y, r.z) >= 5003.0 &&
                                 Dot(planes.planes[1].normal, r.x, r.y, r.z) >= 1280.0;
                      });
    ExpectPartition(f, planes, static_cast<std::size_t>(inPlanes), "planes");
}

TEST(SpatialQuery, FlaggedCylinderIsUnboundedAndEmptyPlaneListKeepsEverything)
{
    const Fixture f;
    // Length -1.0 asks for the axis without ends: every point within the radius of the line.
    const dp::InsideCylinderQuery line{{5000.0, -2000.0, 100.0}, {0.0, 0.0, 1.0}, 3.0, -1.0};
    const auto nearLine = std::count_if(f.all.begin(), f.all.end(),
                                        [](const Record& r)
                                        {
                                            const double dx = r.x - 5000.0, dy = r.y + 2000.0;
                                            return dx * dx + dy * dy <= 9.0;
                                        });
    ASSERT_GT(nearLine, 0);
    ExpectPartition(f, line, static_cast<std::size_t>(nearLine), "flagged cylinder");

    ExpectPartition(f, dp::ClippingPlanesQuery{}, f.all.size(), "no plane");
}

TEST(SpatialQuery, HostileRecordsGiveTheDocumentedAnswer)
{
    const Fixture f;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    // Documented: a NaN anywhere, a zero direction or a negative radius selects nothing;
    // infinite extents are legitimate.
    ExpectPartition(f, dp::InsideAxisAlignedBoxQuery{{nan, 0, 0}, {1, 1, 1}}, 0, "NaN box");
    ExpectPartition(f, dp::InsideAxisAlignedBoxQuery{{-inf, -inf, -inf}, {inf, inf, inf}},
                    f.all.size(), "infinite box");
    ExpectPartition(f, dp::InsideSphereQuery{{5000, -2000, 100}, -1.0}, 0, "negative radius");
    ExpectPartition(f, dp::InsideSphereQuery{{5000, -2000, 100}, inf}, f.all.size(), "inf radius");
    ExpectPartition(f, dp::InsideCylinderQuery{{5000, -2000, 100}, {0, 0, 0}, 5.0, 10.0}, 0,
                    "zero direction");
    ExpectPartition(f, dp::InsideCylinderQuery{{5000, -2000, 100}, {0, 0, 1}, nan, 10.0}, 0,
                    "NaN radius");

    dp::ClippingPlanesQuery zero;
    zero.planes.push_back({{0, 0, 0}, 0.0});
    ExpectPartition(f, zero, 0, "zero plane normal");

    // Hundreds of planes all keeping everything.
    dp::ClippingPlanesQuery many;
    for (int i = 0; i < 500; ++i)
    {
        const double a = i * 0.0125;
        many.planes.push_back({{std::cos(a), std::sin(a), 0.0}, -1e7});
    }
    ExpectPartition(f, many, f.all.size(), "500 planes");
}

TEST(SpatialQuery, QueriesOnAnEmptyCloudGiveEmptyProviders)
{
    PointCloudDataProvider empty{orv::Data::Cloud::PointCloud()};
    EXPECT_EQ(static_cast<const dp::ISizedCollection&>(
                  dynamic_cast<const PointCloudDataProvider&>(
                      *empty.GetPoints(dp::InsideSphereQuery{{0, 0, 0}, 1.0}, false)))
                  .Size(),
              0u);
    EXPECT_EQ(dynamic_cast<const PointCloudDataProvider&>(
                  *empty.GetPoints(dp::ClippingPlanesQuery{}, true))
                  .Size(),
              0u);
}
