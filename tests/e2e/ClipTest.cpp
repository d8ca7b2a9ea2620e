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

// (x, y, z on the input's grid, intensity, class) of every point, in file order.
using Key = std::array<std::int64_t, 5>;
struct Collect final : IPointDataBuilder
{
    const LasHeader& grid;
    std::vector<Key> keys;
    std::vector<GPointDouble> positions;
    explicit Collect(const LasHeader& h) : grid(h) {}
    void Reserve(std::uint64_t) override {}
    void AddPointData(const IPointDataAccessor& a) override
    {
        const GPointDouble p = a.GetPosition();
        const double xyz[3] = {p.x, p.y, p.z};
        Key key{0, 0, 0, std::int64_t(*a.GetUnsignedInteger(0)),
                std::int64_t(*a.GetUnsignedInteger(1))};
        for (int i = 0; i < 3; ++i)
            key[i] = std::llround((xyz[i] - grid.offset[i]) / grid.scale[i]);
        keys.push_back(key);
        positions.push_back(p);
    }
    std::shared_ptr<IPointDataProvider> GetResult() override { return nullptr; }
};

const LasFieldMap kFields{{ELasField::Intensity, {EPointDataComponent::UnsignedInteger, 0}},
                          {ELasField::Classification, {EPointDataComponent::UnsignedInteger, 1}}};

Collect Read(const std::string& path, const LasHeader& grid)
{
    Collect points(grid);
    LasReader(path).ReadInto(points, kFields);
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
    const Collect source = Read(in, h);
    const double cx = (h.min[0] + h.max[0]) / 2, cy = (h.min[1] + h.max[1]) / 2;
    const double r = std::min(h.max[0] - h.min[0], h.max[1] - h.min[1]) / 4;
    const double zMid = (h.min[2] + h.max[2]) / 2;

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
        // Points within a millimetre of the boundary may go either way (the host keeps floats).
        std::vector<Key> sure, maybe;
        for (std::size_t i = 0; i < source.keys.size(); ++i)
        {
            const double d = distance(source.positions[i]) * (invert ? -1 : 1);
            if (std::abs(d) < 1e-3)
                maybe.push_back(source.keys[i]);
            else if (d < 0)
                sure.push_back(source.keys[i]);
        }
        std::vector<Key> written = Read(out, h).keys;
        const LasHeader w = LasReader(out).Header();
        EXPECT_EQ(w.pointCount, written.size());
        EXPECT_GT(sure.size(), 1000u);
        std::vector<Key> either = sure;
        either.insert(either.end(), maybe.begin(), maybe.end());
        for (auto* keys : {&sure, &either, &written})
            std::sort(keys->begin(), keys->end());
        EXPECT_TRUE(std::includes(written.begin(), written.end(), sure.begin(), sure.end()));
        EXPECT_TRUE(std::includes(either.begin(), either.end(), written.begin(), written.end()));
        std::ifstream log(out + ".log");
        const std::string report{std::istreambuf_iterator<char>(log), {}};
        EXPECT_NE(report.find("wrote    " + std::to_string(written.size()) + " points"),
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
