// The real aerial scan loaded into the host and read back through the contract,
// against the file's header and the reader's own arrays.
#include "examples/demo/LasScan.h"
#include "examples/demo/DemoSteps.h"
#include "examples/las/LasReader.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

TEST(LasScan, LoadedCloudReadsBackAsTheFileSays)
{
    const char* folder = std::getenv("ORV_SHARED_DATA");
    const std::string path = std::string(folder ? folder : "../shared/data") + "/autzen_trim.las";
    if (!std::ifstream(path))
        GTEST_SKIP() << "real scan not present at " << path << "; skipping";
    const orv::Demo::Las::LasPoints las = orv::Demo::Las::ReadLasFile(path);
    orv::Data::Cloud::PointCloudDataProvider provider(orv::Demo::LoadLasScan(path));
    const orv::Demo::ScanKeys keys = orv::Demo::MapScanExtraData(provider);
    ASSERT_TRUE(keys.classification && keys.intensity && keys.scanId && keys.color);
    EXPECT_EQ(provider.Size(), las.header.pointCount);
    using orv::TestSupport::Distance;
    const auto box = provider.GetBoundingBox();
    const auto& lo = las.header.min;
    const auto& hi = las.header.max;
    EXPECT_LT(Distance(box.firstCorner, orv::DataProxy::GPointDouble{lo[0], lo[1], lo[2]}), 2e-3);
    EXPECT_LT(Distance(box.secondCorner, orv::DataProxy::GPointDouble{hi[0], hi[1], hi[2]}), 2e-3);

    // Point by point, in file order: millimetres kept at coordinates of hundreds of thousands.
    // Colours come back only where the host converts its colour values for Color keys.
    const bool colours = orv::TestSupport::HostChoice::HostReadsColours(
        orv::Data::Cloud::CloudIntensityExtraData::TypeId());
    orv::TestSupport::WantAll consumer;
    std::size_t i = 0;
    double worst = 0.0;
    for (auto c = provider.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext(), ++i)
    {
        ASSERT_LT(i, las.Size());
        const auto p = c->GetPosition();
        worst = std::max(
            {worst, std::abs(p.x - las.x[i]), std::abs(p.y - las.y[i]), std::abs(p.z - las.z[i])});
        ASSERT_EQ(*c->GetUnsignedInteger(*keys.classification), las.classification[i]);
        ASSERT_EQ(*c->GetUnsignedInteger(*keys.scanId), las.pointSourceId[i]);
        ASSERT_EQ(*c->GetReal(*keys.intensity), las.intensity[i]);
        const std::optional<orv::DataProxy::RgbaColor> color = c->GetColor(*keys.color);
        ASSERT_EQ(color.has_value(), colours);
        if (colours)
        {
            ASSERT_NEAR(color->r * 255.0, las.r[i], 0.51); // 8-bit colours
        }
    }
    EXPECT_EQ(i, las.Size());
    EXPECT_LT(worst, 1e-3);
}
