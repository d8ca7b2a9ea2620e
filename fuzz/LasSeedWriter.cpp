// Writes the seed files of the LAS reader's fuzz target: small, well-formed, synthetic files of
// every version (1.0 to 1.4) and point format (0 to 10) the reader supports, a few with
// a variable-length record before the points, extra bytes per record or no points at all.
// Usage: orv_fuzz_las_seeds <folder>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

struct Recipe
{
    int minor;
    int format;
    std::size_t points;
    std::size_t extraBytes;
    bool withVlr;
};

std::size_t HeaderSize(int minor)
{
    return minor == 4 ? 375 : minor == 3 ? 235 : 227;
}

std::size_t RecordLength(int format)
{
    const std::size_t lengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return lengths[format];
}

template <class T>
void Put(std::vector<std::uint8_t>& bytes, std::size_t at, T value)
{
    // LAS is little-endian; so is every machine this runs on, which the reader does not assume.
    std::memcpy(&bytes[at], &value, sizeof value);
}

std::vector<std::uint8_t> MakeFile(const Recipe& r)
{
    const std::size_t header = HeaderSize(r.minor);
    const std::size_t vlr = r.withVlr ? 54 + 16 : 0;
    const std::size_t length = RecordLength(r.format) + r.extraBytes;
    std::vector<std::uint8_t> b(header + vlr + r.points * length, 0);
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = static_cast<std::uint8_t>(r.minor);
    std::memcpy(&b[26], "SYNTHETIC", 9);
    std::memcpy(&b[58], "orv fuzz seeds", 14);
    Put<std::uint16_t>(b, 94, static_cast<std::uint16_t>(header));
    Put<std::uint32_t>(b, 96, static_cast<std::uint32_t>(header + vlr));
    Put<std::uint32_t>(b, 100, r.withVlr ? 1 : 0);
    b[104] = static_cast<std::uint8_t>(r.format);
    Put<std::uint16_t>(b, 105, static_cast<std::uint16_t>(length));
    Put<std::uint32_t>(b, 107, r.format >= 6 ? 0 : static_cast<std::uint32_t>(r.points));
    const double scale[3] = {0.01, 0.01, 0.001};
    const double offset[3] = {637000.0, 849000.0, 100.0};
    for (int axis = 0; axis < 3; ++axis)
    {
        Put<double>(b, 131 + 8 * axis, scale[axis]);
        Put<double>(b, 155 + 8 * axis, offset[axis]);
        Put<double>(b, 179 + 16 * axis, offset[axis] + 10.0);
        Put<double>(b, 179 + 16 * axis + 8, offset[axis]);
    }
    if (r.minor == 4)
        Put<std::uint64_t>(b, 247, r.points);
    if (r.withVlr)
    {
        std::memcpy(&b[header + 2], "orv", 3);
        Put<std::uint16_t>(b, header + 18, 16);
    }
    for (std::size_t i = 0; i < r.points; ++i)
    {
        const std::size_t at = header + vlr + i * length;
        const auto k = static_cast<std::int32_t>(i);
        Put<std::int32_t>(b, at, 100 * k);
        Put<std::int32_t>(b, at + 4, -250 * k);
        Put<std::int32_t>(b, at + 8, 7 * k);
        Put<std::uint16_t>(b, at + 12, static_cast<std::uint16_t>(1000 + k));
        const bool extended = r.format >= 6;
        b[at + (extended ? 16 : 15)] = static_cast<std::uint8_t>(2 + k);
        Put<std::uint16_t>(b, at + (extended ? 20 : 18), static_cast<std::uint16_t>(k + 1));
        const std::size_t rgb = r.format == 2                                      ? 20
                                : r.format == 3 || r.format == 5                   ? 28
                                : r.format == 7 || r.format == 8 || r.format == 10 ? 30
                                                                                   : 0;
        if (rgb != 0)
        {
            Put<std::uint16_t>(b, at + rgb, static_cast<std::uint16_t>(0x1000 * k));
            Put<std::uint16_t>(b, at + rgb + 2, 0x8000);
            Put<std::uint16_t>(b, at + rgb + 4, 0xFFFF);
        }
    }
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const Recipe recipes[] = {
        {0, 0, 3, 0, true},  {1, 1, 2, 0, false}, {2, 0, 3, 0, false}, {2, 1, 3, 0, true},
        {2, 2, 2, 0, false}, {2, 3, 3, 4, false}, {3, 1, 2, 0, false}, {3, 3, 0, 0, true},
        {3, 4, 2, 0, false}, {3, 5, 2, 0, true},  {4, 0, 2, 0, false}, {4, 6, 3, 0, false},
        {4, 7, 2, 2, true},  {4, 8, 3, 0, false}, {4, 9, 2, 0, false}, {4, 10, 2, 3, false},
    };
    for (const Recipe& r : recipes)
    {
        const std::vector<std::uint8_t> bytes = MakeFile(r);
        const std::string path = std::string(argv[1]) + "/las_1" + std::to_string(r.minor) +
                                 "_format" + std::to_string(r.format) + "_" +
                                 std::to_string(r.points) + "pts" + (r.withVlr ? "_vlr" : "") +
                                 (r.extraBytes ? "_extra" : "") + ".las";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    return 0;
}
