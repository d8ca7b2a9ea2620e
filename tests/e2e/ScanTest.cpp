// The demo's generated scan, end to end: the demo's parallel read against a plain
// single-threaded reading, and every query against a brute-force evaluation of its own
// definition over the positions the cursor reports.
#include "examples/demo/DemoSteps.h"
#include "examples/scan/SyntheticScan.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>

using orv::Data::Cloud::PointCloudDataProvider;
namespace dp = orv::DataProxy;

namespace
{

using Position = std::array<double, 3>;

std::vector<Position> Positions(const dp::IPointDataProvider& p)
{
    orv::TestSupport::WantAll consumer;
    std::vector<Position> out;
    for (auto c = p.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
    {
        const auto q = c->GetPosition();
        out.push_back({q.x, q.y, q.z});
    }
    std::sort(out.begin(), out.end());
    return out;
}

const PointCloudDataProvider& TheScan()
{
    static const PointCloudDataProvider scan = []
    {
        orv::Demo::ScanOptions options;
        options.points = 120'000;
        options.subsetCapacity = 4096;
        return PointCloudDataProvider(orv::Demo::GenerateScan(options));
    }();
    return scan;
}

template <class Q>
void ExpectBruteForce(const Q& query, const std::function<bool(const Position&)>& inside,
                      const char* what)
{
    std::vector<Position> expected[2];
    for (const Position& p : Positions(TheScan()))
        expected[inside(p) ? 0 : 1].push_back(p);
    ASSERT_GT(expected[0].size(), 100u) << what;
    ASSERT_FALSE(expected[1].empty()) << what;
    EXPECT_EQ(Positions(*TheScan().GetPoints(query, false)), expected[0]) << what;
    EXPECT_EQ(Positions(*TheScan().GetPoints(query, true)), expected[1]) << what;
}

} // namespace

TEST(Scan, ParallelReadMatchesASingleThreadedReading)
{
    PointCloudDataProvider provider = TheScan();
    const orv::Demo::ScanKeys keys = orv::Demo::MapScanExtraData(provider);
    ASSERT_TRUE(keys.classification && keys.intensity && keys.normal);
    const orv::Demo::ReadStats stats = orv::Demo::ReadInParallel(provider, keys, 3);

    orv::TestSupport::WantAll consumer;
    std::map<std::uint64_t, std::uint64_t> perClass;
    double intensity = 0.0;
    Position lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    std::uint64_t n = 0;
    for (auto c = provider.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext(), ++n)
    {
        ++perClass[*c->GetUnsignedInteger(*keys.classification)];
        intensity += *c->GetReal(*keys.intensity);
        const auto p = c->GetPosition();
        lo = {std::min(lo[0], p.x), std::min(lo[1], p.y), std::min(lo[2], p.z)};
        hi = {std::max(hi[0], p.x), std::max(hi[1], p.y), std::max(hi[2], p.z)};
    }
    EXPECT_NEAR(static_cast<double>(n), 120'000 * 0.98, 10); // about one in fifty is hidden
    EXPECT_EQ(stats.points, n);
    EXPECT_EQ(stats.perClass, perClass);
    EXPECT_NEAR(stats.intensitySum, intensity, 1e-6 * intensity);
    EXPECT_EQ(stats.min, lo);
    EXPECT_EQ(stats.max, hi);
    EXPECT_EQ(stats.normalCount, n);
    EXPECT_LT(stats.worstNormalError, 1e-4);
}

TEST(Scan, QueriesSelectWhatTheirDefinitionsSay)
{
    const double x = orv::Demo::kOriginX + 200.0, y = orv::Demo::kOriginY + 600.0;
    const double z = orv::Demo::kBaseZ;
    const auto sq = [](double v) { return v * v; };
    const auto box = [&](const Position& p)
    { return std::abs(p[0] - x) <= 150 && p[1] >= y - 100 && p[1] <= y + 300 && p[2] >= 0; };
    ExpectBruteForce(dp::InsideAxisAlignedBoxQuery{{x - 150, y - 100, 0}, {x + 150, y + 300, 1e4}},
                     box, "box"); // the scan lies well below 1e4
    const auto ball = [&](const Position& p)
    { return sq(p[0] - x) + sq(p[1] - y) + sq(p[2] - z) <= 180.0 * 180.0; };
    ExpectBruteForce(dp::InsideSphereQuery{{x, y, z}, 180.0}, ball, "sphere");
    // A vertical cylinder from 10 m below the base, 25 m long.
    const auto tube = [&](const Position& p)
    { return p[2] >= z - 10 && p[2] <= z + 15 && sq(p[0] - x) + sq(p[1] - y) <= 250.0 * 250.0; };
    ExpectBruteForce(dp::InsideCylinderQuery{{x, y, z - 10}, {0, 0, 1}, 250.0, 25.0}, tube,
                     "cylinder");
    dp::ClippingPlanesQuery planes;
    planes.planes.push_back({{1, 0, 0}, x});
    planes.planes.push_back({{0, 0, 1}, z + 5});
    using orv::TestSupport::HostChoice::PlaneKeeps; // which side is kept is the host's choice
    ExpectBruteForce(
        planes, [&](const Position& p) { return PlaneKeeps(p[0], x) && PlaneKeeps(p[2], z + 5); },
        "planes");
}
