#include "examples/las/LasReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <tuple>

using namespace orv::Demo::Las;

namespace
{

// An independent description of the layouts (the test's own, not the reader's table).
struct Layout
{
    size_t length, classAt, sourceAt, rgbAt;
};
const std::map<int, Layout> kLayouts = {
    {0, {20, 15, 18, 0}}, {1, {28, 15, 18, 0}},  {2, {26, 15, 18, 20}}, {3, {34, 15, 18, 28}},
    {6, {30, 16, 20, 0}}, {7, {36, 16, 20, 30}}, {8, {38, 16, 20, 30}}};

template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t at, T value)
{
    std::memcpy(&bytes[at], &value, sizeof value);
}
template <typename T>
T Get(const uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

struct Recipe
{
    int minor = 2;
    int format = 0;
    size_t points = 5;
    size_t extraBytes = 0; // bytes after the fields the format defines
    size_t vlrGap = 0;     // bytes between the header and the point data
};

const double kScale[3] = {0.01, 0.001, 0.25};
const double kOffset[3] = {637000.0, 849000.0, -10.5};

int32_t RawCoordinate(size_t i, int axis)
{
    return -1000000 + 123457 * int32_t(i) + 7 * axis;
}
uint8_t RawClassByte(size_t i)
{
    return static_cast<uint8_t>(0xE0 | (3 * i + 1));
}

// A file of `recipe.points` records; bytes the reader should ignore are filled with 0xA5.
std::vector<uint8_t> MakeLas(const Recipe& recipe)
{
    const size_t header = recipe.minor == 4 ? 375 : recipe.minor == 3 ? 235 : 227;
    const Layout layout = kLayouts.at(recipe.format);
    const size_t length = layout.length + recipe.extraBytes, offset = header + recipe.vlrGap;
    std::vector<uint8_t> b(offset + recipe.points * length, 0xA5);
    std::fill(b.begin(), b.begin() + header, 0);
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = uint8_t(recipe.minor);
    Put<uint16_t>(b, 94, uint16_t(header));
    Put<uint32_t>(b, 96, uint32_t(offset));
    b[104] = uint8_t(recipe.format);
    Put<uint16_t>(b, 105, uint16_t(length));
    Put<uint32_t>(b, 107, recipe.format >= 6 ? 0 : uint32_t(recipe.points));
    if (recipe.minor == 4)
        Put<uint64_t>(b, 247, recipe.points);
    for (int axis = 0; axis < 3; ++axis)
    {
        Put(b, 131 + 8 * axis, kScale[axis]);
        Put(b, 155 + 8 * axis, kOffset[axis]);
    }
    for (size_t i = 0; i < recipe.points; ++i)
    {
        const size_t at = offset + i * length;
        for (int axis = 0; axis < 3; ++axis)
            Put(b, at + 4 * axis, RawCoordinate(i, axis));
        Put<uint16_t>(b, at + 12, uint16_t(1000 + i));
        b[at + layout.classAt] = RawClassByte(i);
        Put<uint16_t>(b, at + layout.sourceAt, uint16_t(40000 + i));
        for (size_t c = 0; layout.rgbAt != 0 && c < 3; ++c)
            Put<uint16_t>(b, at + layout.rgbAt + 2 * c, uint16_t(256 * i + 100 * c));
    }
    return b;
}

LasPoints Read(const std::vector<uint8_t>& bytes)
{
    return ReadLasBuffer(bytes.data(), bytes.size(), "synthetic.las");
}

} // namespace

TEST(LasSynthetic, ReadsEveryVersionAndFormat)
{
    for (int minor : {2, 3, 4})
        for (const auto& [format, layout] : kLayouts)
            for (size_t extra : {size_t{0}, size_t{5}})
            {
                if (format >= 6 && minor < 4)
                    continue;
                SCOPED_TRACE("1." + std::to_string(minor) + " format " + std::to_string(format) +
                             " extra " + std::to_string(extra));
                const LasPoints p = Read(MakeLas({minor, format, 5, extra, extra * 11}));
                EXPECT_EQ(p.header.versionMinor, minor);
                EXPECT_EQ(p.header.recordLength, layout.length + extra);
                ASSERT_EQ(p.Size(), 5u);
                EXPECT_EQ(p.hasRgb, layout.rgbAt != 0);
                for (size_t i = 0; i < 5; ++i)
                {
                    EXPECT_EQ(p.x[i], RawCoordinate(i, 0) * kScale[0] + kOffset[0]);
                    EXPECT_EQ(p.y[i], RawCoordinate(i, 1) * kScale[1] + kOffset[1]);
                    EXPECT_EQ(p.z[i], RawCoordinate(i, 2) * kScale[2] + kOffset[2]);
                    EXPECT_EQ(p.intensity[i], 1000 + i);
                    // The top three bits are flags in formats 0 to 5.
                    EXPECT_EQ(p.classification[i], format >= 6 ? RawClassByte(i) : 3 * i + 1);
                    EXPECT_EQ(p.pointSourceId[i], 40000 + i);
                    EXPECT_TRUE(!p.hasRgb || (p.r[i] == 256 * i && p.g[i] == 256 * i + 100 &&
                                              p.b[i] == 256 * i + 200));
                }
                EXPECT_EQ(p.dataMin[0], p.x[0]);
                EXPECT_EQ(p.dataMax[2], p.z[4]);
            }
}

TEST(LasMalformed, EveryTruncationIsAnError)
{
    for (const Recipe& recipe : {Recipe{2, 1, 3, 0, 9}, Recipe{4, 7, 2}})
    {
        const auto whole = MakeLas(recipe);
        ASSERT_EQ(Read(whole).Size(), recipe.points);
        for (size_t size = 0; size < whole.size(); ++size)
        {
            // An exactly sized copy, so that a read past its end is caught by the sanitizers.
            const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + size);
            EXPECT_THROW(Read(prefix), LasError) << "size " << size;
        }
    }
}

TEST(LasMalformed, HeaderFaultsNameTheFileAndTheFault)
{
    using B = std::vector<uint8_t>;
    const std::tuple<const char*, Recipe, std::function<void(B&)>> cases[] = {
        {"signature", {}, [](B& b) { b[3] = 'G'; }},
        {"version 1.1", {}, [](B& b) { b[25] = 1; }},
        {"point format 4", {}, [](B& b) { b[104] = 4; }},
        {"needs LAS 1.4", {3, 3}, [](B& b) { b[104] = 6; }},
        {"compressed", {}, [](B& b) { b[104] |= 0x80; }},
        {"record length 19", {}, [](B& b) { Put<uint16_t>(b, 105, 19); }},
        {"header size", {4, 0}, [](B& b) { Put<uint16_t>(b, 94, 235); }},
        {"inside the header", {}, [](B& b) { Put<uint32_t>(b, 96, 200); }},
        {"beyond the end", {}, [](B& b) { Put<uint32_t>(b, 96, 1u << 31); }},
        {"point count 6 ", {}, [](B& b) { Put<uint32_t>(b, 107, 6); }},
        {"point count 4294967295", {}, [](B& b) { Put<uint32_t>(b, 107, ~0u); }},
        // count * record length wraps around to a small number in 64 bits
        {"point count", {4, 6}, [](B& b) { Put<uint64_t>(b, 247, ~uint64_t{0} / 30 + 1); }},
        {"disagrees with the 64-bit", {4, 1}, [](B& b) { Put<uint64_t>(b, 247, 4); }},
        {"Y scale", {}, [](B& b) { Put(b, 139, 0.0); }},
        {"Z scale", {}, [](B& b) { Put(b, 147, std::numeric_limits<double>::quiet_NaN()); }},
        {"X offset", {}, [](B& b) { Put(b, 155, HUGE_VAL); }},
    };
    for (const auto& [expected, recipe, damage] : cases)
    {
        auto bytes = MakeLas(recipe);
        damage(bytes);
        try
        {
            Read(bytes);
            ADD_FAILURE() << "no error for " << expected;
        }
        catch (const LasError& e)
        {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind("synthetic.las: ", 0), 0u) << message;
            EXPECT_NE(message.find(expected), std::string::npos) << message;
        }
    }
}

// A real aerial scan, checked against an independent reading of its raw bytes.
TEST(LasRealScan, HeaderAndAttributesMatchAnIndependentReading)
{
    const char* folder = std::getenv("ORV_SHARED_DATA");
    const std::string path = std::string(folder ? folder : "") + "/autzen_trim.las";
    std::ifstream file(path, std::ios::binary);
    if (folder == nullptr || !file)
        GTEST_SKIP() << "real scan not available (ORV_SHARED_DATA unset or " << path << " missing)";
    const std::vector<uint8_t> raw{std::istreambuf_iterator<char>(file),
                                   std::istreambuf_iterator<char>()};
    const LasPoints points = ReadLasFile(path);
    const LasHeader& h = points.header;
    const uint8_t* b = raw.data();
    EXPECT_EQ(h.pointFormat, 3);
    EXPECT_EQ(h.recordLength, Get<uint16_t>(b + 105));
    EXPECT_EQ(h.pointCount, Get<uint32_t>(b + 107));
    EXPECT_EQ(h.pointCount, (raw.size() - Get<uint32_t>(b + 96)) / h.recordLength);
    for (int axis = 0; axis < 3; ++axis)
    {
        EXPECT_EQ(h.scale[axis], Get<double>(b + 131 + 8 * axis));
        EXPECT_EQ(h.offset[axis], Get<double>(b + 155 + 8 * axis));
        // The writer's bounds are tight: the data reaches them to within half a step.
        EXPECT_NEAR(points.dataMin[axis], Get<double>(b + 187 + 16 * axis), h.scale[axis] / 2);
        EXPECT_NEAR(points.dataMax[axis], Get<double>(b + 179 + 16 * axis), h.scale[axis] / 2);
    }
    ASSERT_TRUE(points.hasRgb);
    // Histogram of classes; sums of intensity, source id and colour: raw, then as read.
    std::map<int, size_t> classes[2];
    uint64_t sums[2][3] = {};
    const uint8_t* record = b + Get<uint32_t>(b + 96);
    for (size_t i = 0; i < points.Size(); ++i, record += h.recordLength)
    {
        ASSERT_EQ(points.z[i], Get<int32_t>(record + 8) * h.scale[2] + h.offset[2]) << i;
        ++classes[0][record[15] & 0x1F];
        sums[0][0] += Get<uint16_t>(record + 12);
        sums[0][1] += Get<uint16_t>(record + 18);
        sums[0][2] +=
            Get<uint16_t>(record + 28) + Get<uint16_t>(record + 30) + Get<uint16_t>(record + 32);
        ++classes[1][points.classification[i]];
        sums[1][0] += points.intensity[i];
        sums[1][1] += points.pointSourceId[i];
        sums[1][2] += uint64_t{points.r[i]} + points.g[i] + points.b[i];
    }
    EXPECT_EQ(classes[1], classes[0]);
    EXPECT_GT(classes[0].size(), 1u); // a real scan has more than one class
    for (int sum = 0; sum < 3; ++sum)
        EXPECT_TRUE(sums[1][sum] == sums[0][sum] && sums[0][sum] > 0) << "sum " << sum;
}
