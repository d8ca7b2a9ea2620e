#pragma once

// A small reader of uncompressed LAS point files (versions 1.2 to 1.4, point formats
// 0 to 3 and 6 to 8) for the demo program. It has no dependency on the rest of the project.
//
// Every header field is checked against the size of the file before it is used: a count,
// an offset or a record length that does not fit the bytes actually present gives a
// LasError naming the file and the fault, never an out-of-range read or an allocation
// sized by an unchecked field. The whole file is read into memory, so the largest
// allocation is bounded by the file's size.
//
// The functions hold no state and may run on several threads at once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::Demo::Las
{

// Thrown for every file that cannot be read; the message starts with the file's name.
class LasError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The fields of the public header block that the reader uses, as written in the file.
struct LasHeader
{
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t headerSize = 0;
    uint32_t offsetToPointData = 0;
    uint32_t vlrCount = 0;
    uint8_t pointFormat = 0;
    uint16_t recordLength = 0;
    // The legacy 32-bit count, or the 64-bit count of a 1.4 file whose legacy count is 0.
    uint64_t pointCount = 0;
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    // Bounds as recorded by the writer; nothing guarantees they match the points.
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    std::string systemIdentifier;
    std::string generatingSoftware;
};

// The points of a file, one entry per record in file order, coordinates already scaled
// and offset. r, g and b are filled only when hasRgb (formats 2, 3, 7 and 8).
struct LasPoints
{
    LasHeader header;
    std::vector<double> x;
    std::vector<double> y;
    std::vector<double> z;
    std::vector<uint16_t> intensity;
    // Formats 0 to 3 keep the class in the low 5 bits of the byte, formats 6 to 8 in all 8.
    std::vector<uint8_t> classification;
    std::vector<uint16_t> pointSourceId;
    bool hasRgb = false;
    std::vector<uint16_t> r;
    std::vector<uint16_t> g;
    std::vector<uint16_t> b;
    // Bounds of the coordinates actually read (all zero for a file without points).
    std::array<double, 3> dataMin{};
    std::array<double, 3> dataMax{};

    size_t Size() const { return x.size(); }
};

// Reads a whole file. Throws LasError when the file cannot be opened or read, or is not
// a supported, well-formed LAS file.
LasPoints ReadLasFile(const std::string& path);

// Reads a LAS file held in memory; nameForErrors starts every error message. `data` may be
// null only when `size` is 0. Throws LasError as ReadLasFile.
LasPoints ReadLasBuffer(const uint8_t* data, size_t size, const std::string& nameForErrors);

} // namespace orv::Demo::Las
