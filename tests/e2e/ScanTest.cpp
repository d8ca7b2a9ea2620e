// The demo's generated scan, end to end: the demo's parallel read against a plain
// single-threaded reading, and every query against a brute-force evaluation of its own
// definition over the positions the cursor reports.
#include "examples/demo/DemoSteps.h"
#include "examples/scan/SyntheticScan.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

using orv::Data::Cloud::PointCloudDataProvider;
namespace dp = orv::DataProxy;

namespace
{

using Position = std::array<double, 3>;

struct Scan
{
    Scan()
    {
        orv::Demo::ScanOptions options;
        options.points = 120'000;
        options.subsetCapacity = 4096;
        provider = std::make_unique<PointCloudDataProvider>(orv::Demo::GenerateScan(options));
        keys = orv::Demo::MapScanExtraData(*provider);
        positions = Positions(*provider);
    }

    static std::vector<Position> Positions(const dp::IPointDataProvider& p)
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

    template <class Q, class Inside>
    void ExpectBruteForce(const Q& query, Inside inside, const char* what) const
    {
        std::vector<Position> expected;
        std::copy_if(positions.begin(), positions.end(), std::back_inserter(expected), inside);
        ASSERT_GT(expected.size(), 100u) << what;
        ASSERT_LT(expected.size(), positions.size()) << what;
        EXPECT_EQ(Positions(*provider->GetPoints(query, false)), expected) << what;
        std::vector<Position> rejected;
        std::copy_if(positions.begin(), positions.end(), std::back_inserter(rejected),
                     [&](const Position& p) { return !inside(p); });
        EXPECT_EQ(Positions(*provider->GetPoints(query, true)), rejected) << what;
    }

    std::unique_ptr<PointCloudDataProvider> provider;
    orv::Demo::ScanKeys keys;
    std::vector<Position> positions;
};

const Scan& TheScan()
{
    static const Scan scan;
    return scan;
}

} // namespace

TEST(Scan, ParallelReadMatchesASingleThreadedReading)
{
    const Scan& scan = TheScan();
    ASSERT_TRUE(scan.keys.classification && scan.keys.intensity && scan.keys.normal);
    const orv::Demo::ReadStats stats = orv::Demo::ReadInParallel(*scan.provider, scan.keys, 3);

    orv::TestSupport::WantAll consumer;
    std::map<std::uint64_t, std::uint64_t> perClass;
    double intensity = 0.0;
    std::array<double, 3> lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    std::uint64_t n = 0;
    for (auto c = scan.provider->GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
    {
        ++n;
        ++perClass[*c->GetUnsignedInteger(*scan.keys.classification)];
        intensity += *c->GetReal(*scan.keys.intensity);
        const auto p = c->GetPosition();
        lo = {std::min(lo[0], p.x), std::min(lo[1], p.y), std::min(lo[2], p.z)};
        hi = {std::max(hi[0], p.x), std::max(hi[1], p.y), std::max(hi[2], p.z)};
    }
    EXPECT_EQ(n, scan.provider->Size());
    EXPECT_EQ(stats.points, n);
    EXPECT_EQ(stats.perClass, perClass);
    EXPECT_NEAR(stats.intensitySum, intensity, 1e-6 * intensity);
    EXPECT_EQ(stats.min, lo);
    EXPECT_EQ(stats.max, hi);
    EXPECT_EQ(stats.normalCount, n);
    EXPECT_LT(stats.worstNormalError, 1e-4);
    // About one point in fifty is hidden.
    EXPECT_NEAR(static_cast<double>(n), 120'000 * 0.98, 10);
}

TEST(Scan, QueriesSelectWhatTheirDefinitionsSay)
{
    const Scan& scan = TheScan();
    const double cx = orv::Demo::kOriginX + 200.0;
    const double cy = orv::Demo::kOriginY + 600.0;
    const double cz = orv::Demo::kBaseZ;

    scan.ExpectBruteForce(
        dp::InsideAxisAlignedBoxQuery{{cx - 150, cy - 100, 0}, {cx + 150, cy + 300, 1e4}},
        [&](const Position& p)
        {
            return p[0] >= cx - 150 && p[0] <= cx + 150 && p[1] >= cy - 100 && p[1] <= cy + 300 &&
                   p[2] >= 0 && p[2] <= 1e4;
        },
        "box");
    scan.ExpectBruteForce(
        dp::InsideSphereQuery{{cx, cy, cz}, 180.0},
        [&](const Position& p)
        {
            const double dx = p[0] - cx, dy = p[1] - cy, dz = p[2] - cz;
            return dx * dx + dy * dy + dz * dz <= 180.0 * 180.0;
        },
        "sphere");
    // A vertical cylinder from 10 m below the base, 25 m long.
    scan.ExpectBruteForce(
        dp::InsideCylinderQuery{{cx, cy, cz - 10}, {0, 0, 1}, 250.0, 25.0},
        [&](const Position& p)
        {
            const double dx = p[0] - cx, dy = p[1] - cy, t = p[2] - (cz - 10);
            return t >= 0 && t <= 25 && dx * dx + dy * dy <= 250.0 * 250.0;
        },
        "cylinder");
    dp::ClippingPlanesQuery planes;
    planes.planes.push_back({{1, 0, 0}, cx});
    planes.planes.push_back({{0, 0, 1}, cz + 5});
    scan.ExpectBruteForce(
        planes, [&](const Position& p) { return p[0] >= cx && p[2] >= cz + 5; }, "planes");
}
