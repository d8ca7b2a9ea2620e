#pragma once

// Synthetic LAS files of every version and point format, written byte by byte from the test's
// own description of the record layouts (not from the library's): for the LAS tests, and for
// the seeds of the LAS reader's fuzz target (fuzz/LasSeedWriter.cpp).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
};

// Point i's raw values; bytes the reader must skip (waveform, extra bytes) are 0xA5.
inline std::vector<std::uint8_t> MakeLas(const Recipe& r)
{
    const std::size_t header = r.minor == 4 ? 375 : r.minor == 3 ? 235 : 227;
    const Layout layout = kLayouts[r.format];
    const bool ext = r.format >= 6;
    const std::size_t length = layout.length + r.extraBytes, offset = header + (r.vlr ? 64 : 0);
    std::vector<std::uint8_t> b(offset + r.points * length, 0xA5);
    std::fill(b.begin(), b.begin() + std::ptrdiff_t(offset), 0);
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = std::uint8_t(r.minor);
    Put<std::uint16_t>(b, 94, std::uint16_t(header));
    Put<std::uint32_t>(b, 96, std::uint32_t(offset));
    Put<std::uint32_t>(b, 100, r.vlr ? 1 : 0);
    b[104] = std::uint8_t(r.format);
    Put<std::uint16_t>(b, 105, std::uint16_t(length));
    Put<std::uint32_t>(b, 107, ext ? 0 : std::uint32_t(r.points));
    if (r.minor == 4)
        Put<std::uint64_t>(b, 247, r.points);
    if (r.vlr)
        Put<std::uint16_t>(b, header + 20, 10);
    for (int axis = 0; axis < 3; ++axis)
    {
        Put(b, 131 + 8 * axis, kScale[axis]);
        Put(b, 155 + 8 * axis, kOffset[axis]);
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
                               std::uint16_t(257 * ((3 + 10 * k + c) % 256)));
        if (layout.nirAt)
            Put<std::uint16_t>(b, at + layout.nirAt, std::uint16_t(60000 + k));
    }
    return b;
}

} // namespace orv::TestSupport
