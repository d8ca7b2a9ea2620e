#pragma once

// Synthetic LAS files of every version and point format, written byte by byte from the test's
// own description of the record layouts (not from the library's): for the LAS tests, and for
// the seeds of the LAS reader's fuzz target (fuzz/LasSeedWriter.cpp).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orv::TestSupport
{

// The test's own description of the record layouts: length, GPS time, RGB, NIR (0: none).
struct Layout
{
    std::size_t length, gpsAt, rgbAt, nirAt;
};
inline const Layout kLayouts[11] = {{20, 0, 0, 0},   {28, 20, 0, 0},  {26, 0, 20, 0},
                                    {34, 20, 28, 0}, {57, 20, 0, 0},  {63, 20, 28, 0},
                                    {30, 22, 0, 0},  {36, 22, 30, 0}, {38, 22, 30, 36},
                                    {59, 22, 0, 0},  {67, 22, 30, 36}};
inline const double kScale[3] = {0.01, 0.001, 0.0025};
inline const double kOffset[3] = {637000.0, 849000.0, -10.5};

template <typename T>
void Put(std::vector<std::uint8_t>& b, std::size_t at, T value) // little-endian machines
{
    std::memcpy(&b[at], &value, sizeof value);
}

struct Recipe
{
    int minor = 2;
    int format = 0;
    std::size_t points = 5;
    std::size_t extraBytes = 0;  // after the fields of the format
    bool vlr = false;            // one variable-length record of 10 bytes before the points
    std::int32_t spacing = 1237; // between two points' coordinates, in units of the scale
    // Every field not zero (flags, scanner channel, 16-bit colours whose low byte is not the
    // high one), a coordinate system record first, the extra bytes described (one unsigned
    // byte each), and in 1.4 a WKT record after the points. Replaces `vlr`.
    bool full = false;
    bool geographic = false; // longitude and latitude at 1e-7 degrees
};

// The variable-length records `full` adds: (user, id, payload size).
struct VlrRecipe
{
    const char* user;
    std::uint16_t id;
    std::size_t size;
};

inline void PutVlr(std::vector<std::uint8_t>& b, std::size_t at, const char* user, std::uint16_t id,
                   std::size_t size, std::size_t lengthWidth)
{
    std::memcpy(&b[at + 2], user, std::strlen(user));
    Put<std::uint16_t>(b, at + 18, id);
    if (lengthWidth == 2)
        Put<std::uint16_t>(b, at + 20, std::uint16_t(size));
    else
        Put<std::uint64_t>(b, at + 20, size);
    for (std::size_t i = 0; i < size; ++i) // after the header of 54 or 60 bytes
        b[at + (lengthWidth == 2 ? 54 : 60) + i] = std::uint8_t(i * 7 + id);
}

// Point i's raw values; bytes the reader must skip (waveform, extra bytes) are 0xA5.
inline std::vector<std::uint8_t> MakeLas(const Recipe& r)
{
    const std::size_t header = r.minor == 4 ? 375 : r.minor == 3 ? 235 : 227;
    const Layout layout = kLayouts[r.format];
    const bool ext = r.format >= 6;
    const std::size_t crsSize = 48, extraSize = 192 * r.extraBytes, evlrSize = 40;
    const std::size_t vlrBytes = r.full  ? 54 + crsSize + (r.extraBytes ? 54 + extraSize : 0)
                                 : r.vlr ? 64
                                         : 0;
    const bool evlr = r.full && r.minor == 4;
    const std::size_t length = layout.length + r.extraBytes, offset = header + vlrBytes;
    const std::size_t end = offset + r.points * length;
    std::vector<std::uint8_t> b(end + (evlr ? 60 + evlrSize : 0), 0xA5);
    std::fill(b.begin(), b.begin() + std::ptrdiff_t(offset), 0);
    double scale[3] = {kScale[0], kScale[1], kScale[2]};
    double origin[3] = {kOffset[0], kOffset[1], kOffset[2]};
    if (r.geographic)
        scale[0] = scale[1] = 1e-7, origin[0] = -123.0, origin[1] = 44.0;
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = std::uint8_t(r.minor);
    Put<std::uint16_t>(b, 94, std::uint16_t(header));
    Put<std::uint32_t>(b, 96, std::uint32_t(offset));
    Put<std::uint32_t>(b, 100, r.full ? (r.extraBytes ? 2 : 1) : r.vlr ? 1 : 0);
    b[104] = std::uint8_t(r.format);
    Put<std::uint16_t>(b, 105, std::uint16_t(length));
    Put<std::uint32_t>(b, 107, ext ? 0 : std::uint32_t(r.points));
    if (r.minor == 4)
        Put<std::uint64_t>(b, 247, r.points);
    if (r.vlr && !r.full)
        Put<std::uint16_t>(b, header + 20, 10);
    if (r.full)
    {
        PutVlr(b, header, "LASF_Projection", 34735, crsSize, 2);
        if (r.extraBytes)
        {
            const std::size_t at = header + 54 + crsSize;
            std::fill(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(offset), 0);
            std::memcpy(&b[at + 2], "LASF_Spec", 9);
            Put<std::uint16_t>(b, at + 18, 4);
            Put<std::uint16_t>(b, at + 20, std::uint16_t(extraSize));
            for (std::size_t d = 0; d < r.extraBytes; ++d)
            {
                b[at + 54 + 192 * d + 2] = 1; // unsigned char
                b[at + 54 + 192 * d + 4] = std::uint8_t('a' + d);
            }
        }
    }
    if (evlr)
    {
        Put<std::uint64_t>(b, 235, end);
        Put<std::uint32_t>(b, 243, 1);
        std::fill(b.begin() + std::ptrdiff_t(end), b.end(), 0);
        PutVlr(b, end, "LASF_Projection", 2112, evlrSize, 8);
    }
    for (int axis = 0; axis < 3; ++axis)
    {
        Put(b, 131 + 8 * axis, scale[axis]);
        Put(b, 155 + 8 * axis, origin[axis]);
    }
    for (std::size_t i = 0; i < r.points; ++i)
    {
        const std::size_t at = offset + i * length;
        const int k = int(i);
        for (int axis = 0; axis < 3; ++axis)
            Put<std::int32_t>(b, at + 4 * axis, -1000000 + r.spacing * k + 7 * axis);
        Put<std::uint16_t>(b, at + 12, std::uint16_t(1000 + k));
        b[at + 14] = std::uint8_t(ext ? (1 + k % 15) | 15 << 4 : (1 + k % 7) | 5 << 3 | 0xC0);
        b[at + 15] = std::uint8_t(ext ? 0xFF : 0xE0 | (3 * k + 1)); // flags, or flags and class
        if (r.full && ext) // flags, scanner channel, direction and edge, varying
            b[at + 15] = std::uint8_t((1 + k % 15) | (1 + k % 3) << 4 | (k % 4) << 6);
        if (r.full && !ext)
            b[at + 14] = std::uint8_t((1 + k % 7) | 5 << 3 | (k % 4) << 6);
        if (ext)
            b[at + 16] = std::uint8_t(200 + k);
        else
            b[at + 16] = std::uint8_t(std::int8_t(-20 + k)); // scan angle rank
        b[at + 17] = std::uint8_t(42 + k);
        if (ext)
            Put<std::int16_t>(b, at + 18, std::int16_t(-5000 + 1000 * k));
        Put<std::uint16_t>(b, at + (ext ? 20 : 18), std::uint16_t(40000 + k));
        if (layout.gpsAt)
            Put<double>(b, at + layout.gpsAt, 1e8 + 0.25 * k);
        for (int c = 0; layout.rgbAt && c < 3; ++c) // multiples of 257: exact in 8 bits too
            Put<std::uint16_t>(b, at + layout.rgbAt + 2 * c,
                               std::uint16_t(r.full ? 256 * ((130 + 10 * k + c) % 256) + 3 * k + 1
                                                    : 257 * ((3 + 10 * k + c) % 256)));
        if (layout.nirAt)
            Put<std::uint16_t>(b, at + layout.nirAt, std::uint16_t(60000 + k));
    }
    return b;
}

// A LAS file as the format's published layout describes it, read here without the library:
// what a keep-all copy must reproduce.
struct RawLas
{
    int minor = 0, format = 0;
    std::size_t recordLength = 0;
    double scale[3] = {}, offset[3] = {};
    std::vector<std::string> vlrs;  // user id, record id and payload, in file order
    std::vector<std::string> evlrs; // the same for the extended records
    std::vector<std::vector<std::uint8_t>> records;
};

inline RawLas ReadRawLas(const std::vector<std::uint8_t>& b)
{
    const auto get = [&](std::size_t at, auto value)
    {
        (void)b.at(at + sizeof value - 1); // throws past the end
        std::memcpy(&value, b.data() + at, sizeof value);
        return value;
    };
    RawLas las;
    las.minor = b.at(25);
    las.format = b.at(104) & 0x3F;
    las.recordLength = get(105, std::uint16_t{});
    const std::size_t pointsAt = get(96, std::uint32_t{});
    std::uint64_t count = get(107, std::uint32_t{});
    if (las.minor == 4 && count == 0)
        count = get(247, std::uint64_t{});
    for (int axis = 0; axis < 3; ++axis)
        las.scale[axis] = get(131 + 8 * axis, 0.0), las.offset[axis] = get(155 + 8 * axis, 0.0);
    const auto record = [&](std::size_t at, std::size_t headSize, std::size_t size)
    {
        return std::string(&b.at(at + 2), &b.at(at + 18)) + "#" +
               std::to_string(get(at + 18, std::uint16_t{})) + "#" +
               std::string(b.begin() + std::ptrdiff_t(at + headSize),
                           b.begin() + std::ptrdiff_t(at + headSize + size));
    };
    std::size_t at = get(94, std::uint16_t{});
    for (std::uint32_t i = 0; i < get(100, std::uint32_t{}); ++i)
    {
        const std::size_t size = get(at + 20, std::uint16_t{});
        las.vlrs.push_back(record(at, 54, size));
        at += 54 + size;
    }
    for (std::uint64_t i = 0; i < count; ++i)
    {
        const auto first = b.begin() + std::ptrdiff_t(pointsAt + i * las.recordLength);
        las.records.emplace_back(first, first + std::ptrdiff_t(las.recordLength));
    }
    at = las.minor == 4 ? get(235, std::uint64_t{}) : 0;
    for (std::uint32_t i = 0; las.minor == 4 && i < get(243, std::uint32_t{}); ++i)
    {
        const std::size_t size = get(at + 20, std::uint64_t{});
        las.evlrs.push_back(record(at, 60, size));
        at += 60 + size;
    }
    return las;
}

} // namespace orv::TestSupport
