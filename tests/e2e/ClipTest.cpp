// orv_clip on the real aerial scan against a brute-force selection of the file's own points;
// keep-all clips of the real scan and of files of every version and point format, checked by
// the tests' own reader: every record, the scale, offset and coordinate system kept.
#include "las/LasReader.h"
#include "tests/support/LasFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/wait.h>

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

std::string RealScan()
{
    const char* folder = std::getenv("ORV_SHARED_DATA");
    return std::string(folder ? folder : "../shared/data") + "/autzen_trim.las";
}

std::vector<std::uint8_t> Bytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::string Text(const std::string& path)
{
    const auto bytes = Bytes(path);
    return {bytes.begin(), bytes.end()};
}

int Clip(const std::string& in, const std::string& out, const std::string& selection)
{
    const std::string command =
        std::string(ORV_CLIP) + " " + in + " " + out + " " + selection + " > " + out + ".log 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A clip that keeps every point, then a second pass over its output: every record of the
// input comes out as it was (in the host's order), under the same scale, offset and records
// around the points, at a version no lower; the second pass changes no byte of the records.
void ExpectKeepAll(const std::string& in, const std::string& out)
{
    const std::string all = "--box -inf -inf -inf inf inf inf";
    ASSERT_EQ(Clip(in, out, all), 0) << Text(out + ".log");
    const orv::TestSupport::RawLas a = orv::TestSupport::ReadRawLas(Bytes(in)),
                                   b = orv::TestSupport::ReadRawLas(Bytes(out));
    EXPECT_GE(b.minor, a.minor);
    EXPECT_EQ(b.format, a.format);
    EXPECT_EQ(b.recordLength, a.recordLength);
    for (int axis = 0; axis < 3; ++axis)
    {
        EXPECT_EQ(b.scale[axis], a.scale[axis]);
        EXPECT_EQ(b.offset[axis], a.offset[axis]);
    }
    EXPECT_EQ(b.vlrs, a.vlrs);
    EXPECT_EQ(b.evlrs, a.evlrs);
    auto sortedA = a.records, sortedB = b.records;
    std::sort(sortedA.begin(), sortedA.end());
    std::sort(sortedB.begin(), sortedB.end());
    EXPECT_TRUE(sortedA == sortedB) << "the records differ";
    ASSERT_EQ(Clip(out, out + "2", all), 0);
    EXPECT_TRUE(orv::TestSupport::ReadRawLas(Bytes(out + "2")).records == b.records ||
                a.records != b.records) // a host that reorders may reorder again
        << "the second pass changed records";
    for (const std::string& name : {out, out + "2", out + ".log", out + "2.log"})
        std::filesystem::remove(name);
}

} // namespace

TEST(OrvClip, KeepAllClipsKeepEveryRecordScaleOffsetAndCoordinateSystem)
{
    const auto dir = std::filesystem::temp_directory_path() / "orv_clip_keep_all";
    std::filesystem::create_directories(dir);
    const std::string in = (dir / "in.las").string(), out = (dir / "out.las").string();
    for (int minor = 0; minor <= 4; ++minor)
        for (int format = 0; format <= 10; ++format)
        {
            if (format >= 6 && minor < 4)
                continue;
            SCOPED_TRACE("1." + std::to_string(minor) + " format " + std::to_string(format));
            orv::TestSupport::Recipe recipe{minor, format, 40, std::size_t(format % 3)};
            recipe.full = true;
            recipe.geographic = format % 2 == 0;
            const auto bytes = orv::TestSupport::MakeLas(recipe);
            std::ofstream(in, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            ExpectKeepAll(in, out);
        }
    // The input is never the output, under any name: refused before anything is written.
    const std::string other = (dir / ".." / dir.filename() / "in.las").string();
    const auto before = Bytes(in);
    EXPECT_EQ(Clip(in, other, "--sphere 0 0 0 1e9"), 2);
    EXPECT_THAT(Text(other + ".log"), testing::HasSubstr("names the input"));
    EXPECT_EQ(Bytes(in), before);
    // Points 20,000 km apart: no frame keeps them all within a millimetre in the host's floats.
    // The builder's refusal is said, and nothing is written; the demo loads such a file alike.
    orv::TestSupport::Recipe far{2, 0, 40};
    far.spacing = 50'000'000;
    const auto bytes = orv::TestSupport::MakeLas(far);
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_EQ(Clip(in, out, "--sphere 0 0 0 1e9"), 1);
    EXPECT_THAT(Text(out + ".log"), testing::HasSubstr("beyond the position tolerance"));
    EXPECT_FALSE(std::filesystem::exists(out));
    const std::string demo = std::string(ORV_DEMO) + " --las " + in + " > " + out + ".log 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(demo.c_str())), 1);
    EXPECT_THAT(Text(out + ".log"), testing::HasSubstr("orv_demo: position ("));
    std::filesystem::remove_all(dir);
}

TEST(OrvClip, KeepAllClipOfTheRealScanKeepsEveryRecord)
{
    if (!std::ifstream(RealScan()))
        GTEST_SKIP() << "real scan not present at " << RealScan() << "; skipping";
    ExpectKeepAll(RealScan(),
                  (std::filesystem::temp_directory_path() / "orv_clip_keep_all.las").string());
}

TEST(OrvClip, RealScanMatchesABruteForceSelection)
{
    const std::string in = RealScan();
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
