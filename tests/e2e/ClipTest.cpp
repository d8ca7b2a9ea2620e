// orv_clip on the real aerial scan against a brute-force selection of the file's own points.
#include "las/LasReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace orv::DataProxy;
using namespace orv::DataProxy::Las;

namespace
{

// The position of every point, in file order.
struct Collect final : IPointDataBuilder
{
    std::vector<GPointDouble> positions;
    void Reserve(std::uint64_t) override {}
    void AddPointData(const IPointDataAccessor& a) override
    {
        positions.push_back(a.GetPosition());
    }
    std::shared_ptr<IPointDataProvider> GetResult() override { return nullptr; }
};

Collect Read(const std::string& path)
{
    Collect points;
    LasReader(path).ReadInto(points, {});
    return points;
}

} // namespace

TEST(OrvClip, RealScanMatchesABruteForceSelection)
{
    const char* folder = std::getenv("ORV_SHARED_DATA");
    const std::string in = std::string(folder ? folder : "../shared/data") + "/autzen_trim.las";
    if (!std::ifstream(in))
        GTEST_SKIP() << "real scan not present at " << in << "; skipping";
    const LasHeader h = LasReader(in).Header();
    const Collect source = Read(in);
    const double cx = (h.min[0] + h.max[0]) / 2, cy = (h.min[1] + h.max[1]) / 2;
    const double r = std::min(h.max[0] - h.min[0], h.max[1] - h.min[1]) / 4;
    const double zMid = (h.min[2] + h.max[2]) / 2;
    const double reach = std::max({std::abs(h.min[0]), std::abs(h.max[0]), std::abs(h.min[1]),
                                   std::abs(h.max[1]), std::abs(h.min[2]), std::abs(h.max[2])});

    const std::string out = (std::filesystem::temp_directory_path() / "orv_clip_test.las").string();
    // Signed distance to the selection's boundary (negative inside), per run.
    using Distance = std::function<double(const GPointDouble&)>;
    const std::tuple<std::string, Distance, bool> runs[] = {
        {"--sphere " + std::to_string(cx) + " " + std::to_string(cy) + " " + std::to_string(zMid) +
             " " + std::to_string(r) + " --picture " + out + ".png",
         [&](const GPointDouble& p) { return std::hypot(p.x - cx, p.y - cy, p.z - zMid) - r; },
         false},
        {"--box " + std::to_string(cx - r) + " " + std::to_string(cy - r) + " -1e9 " +
             std::to_string(cx) + " " + std::to_string(cy) + " 1e9 --invert",
         [&](const GPointDouble& p)
         { return std::max(std::abs(p.x - (cx - r / 2)), std::abs(p.y - (cy - r / 2))) - r / 2; },
         true},
    };
    for (const auto& [selection, distance, invert] : runs)
    {
        SCOPED_TRACE(selection);
        const std::string command = std::string(ORV_CLIP) + " " + in + " " + out + " " + selection;
        ASSERT_EQ(std::system((command + " > " + out + ".log").c_str()), 0) << command;
        // Points near the boundary may go either way: the file's millimetres, and the host's
        // floats, whose step depends on where the host puts a new cloud's frame (at its first
        // point, or at the origin, where a float steps by several centimetres here).
        const double tolerance = 1e-3 + std::sqrt(3.0) * std::ldexp(reach, -24);
        std::size_t sure = 0, either = 0;
        for (const GPointDouble& p : source.positions)
        {
            const double d = distance(p) * (invert ? -1 : 1);
            sure += d < -tolerance;
            either += d < tolerance;
        }
        const Collect written = Read(out);
        const LasHeader w = LasReader(out).Header();
        EXPECT_EQ(w.pointCount, written.positions.size());
        EXPECT_GT(sure, 1000u);
        EXPECT_GE(written.positions.size(), sure);
        EXPECT_LE(written.positions.size(), either);
        for (const GPointDouble& p : written.positions)
            ASSERT_LT(distance(p) * (invert ? -1 : 1), tolerance)
                << p.x << ' ' << p.y << ' ' << p.z;
        std::ifstream log(out + ".log");
        const std::string report{std::istreambuf_iterator<char>(log), {}};
        EXPECT_NE(report.find("wrote    " + std::to_string(written.positions.size()) + " points"),
                  std::string::npos)
            << report;
        if (selection.find("--picture") != std::string::npos)
        {
            EXPECT_NE(report.find("picture  " + out + ".png"), std::string::npos) << report;
            EXPECT_GT(std::filesystem::file_size(out + ".png"), 10'000u);
        }
    }
    std::filesystem::remove(out + ".png");
    std::filesystem::remove(out);
    std::filesystem::remove(out + ".log");
}
