// The demo's generated scan, end to end: the demo's parallel read against a plain
// single-threaded reading.
#include "examples/demo/DemoSteps.h"
#include "examples/scan/SyntheticScan.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <array>

using orv::Data::Cloud::PointCloudDataProvider;
using Position = std::array<double, 3>;

TEST(Scan, ParallelRead)
{
    orv::Demo::ScanOptions options;
    options.points = 120'000;
    options.subsetCapacity = 4096;
    PointCloudDataProvider provider(orv::Demo::GenerateScan(options));
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
