#pragma once

#include "las/LasExport.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orv::DataProxy::Las
{

// One variable-length record (before the points) or extended one (after them, LAS 1.4).
struct LasVlr
{
    std::string userId; // "LASF_Projection" for the coordinate system, "LASF_Spec", ...
    std::uint16_t recordId = 0;
    std::string description;
    std::vector<std::uint8_t> payload; // VLRs only: an extended record's bytes stay in the file
    std::uint64_t payloadAt = 0;       // where the payload starts in the file
    std::uint64_t payloadSize = 0;

    // GeoKeys, GeoTIFF parameters, WKT: the records that place the points on the Earth.
    bool IsCoordinateSystem() const;
};

// The data types an extra-bytes dimension may have (the descriptor's byte 2); Opaque is a run of
// bytes with no value of its own.
enum class ELasExtraBytesType : std::uint8_t
{
    Opaque = 0,
    U8,
    I8,
    U16,
    I16,
    U32,
    I32,
    U64,
    I64,
    F32,
    F64
};

// Bytes of one value of `type`; 0 for Opaque and for codes the format does not define.
inline std::uint16_t LasExtraBytesWidth(std::uint8_t type)
{
    constexpr std::uint8_t kWidths[11] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
    return type < 11 ? kWidths[type] : 0;
}

// One dimension of the extra bytes that follow a record's standard fields, as the extra-bytes
// record (user "LASF_Spec", id 4) describes it. Reading gives raw * scale + offset.
struct LasExtraBytesDimension
{
    std::string name;
    std::uint8_t dataType = 0; // an ELasExtraBytesType
    std::uint16_t at = 0;      // byte position in the record
    std::uint16_t width = 0;   // bytes
    double scale = 1.0;
    double offset = 0.0;
};

// The public header block, with the records around the points. One type that reads itself
// from the first bytes of a file, checking every field against the file's real size, and
// writes itself back.
struct ORV_LAS_API LasHeader
{
    std::uint16_t fileSourceId = 0;
    std::uint16_t globalEncoding = 0;
    std::array<std::uint8_t, 16> projectId{};
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::string systemIdentifier;
    std::string generatingSoftware;
    std::uint16_t creationDay = 0;
    std::uint16_t creationYear = 0;
    std::uint16_t headerSize = 0;
    std::uint32_t offsetToPointData = 0;
    std::uint32_t vlrCount = 0;
    std::uint8_t pointFormat = 0;
    std::uint16_t recordLength = 0;
    // The legacy 32-bit count, or the 64-bit count of a 1.4 file whose legacy count is 0.
    std::uint64_t pointCount = 0;
    // Points by return number 1 to 15 as recorded (five legacy entries before 1.4; in a 1.4
    // file the 64-bit ones unless all of them are 0). Informative only: never checked.
    std::array<std::uint64_t, 15> pointsByReturn{};
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    // Bounds as recorded by the writer; nothing guarantees they match the points.
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    std::uint64_t startOfWaveformData = 0; // 1.3 and later
    std::uint64_t startOfFirstEvlr = 0;    // 1.4
    std::uint32_t evlrCount = 0;           // 1.4

    std::vector<LasVlr> vlrs;
    std::vector<LasVlr> evlrs; // payloads not loaded: payloadAt and payloadSize say where
    std::vector<LasExtraBytesDimension> extraBytes;

    bool HasRgb() const;
    // Where the frame of a host cloud holding this file's points is best placed: the centre of
    // the recorded bounds, rounded to whole units, so that the floats a host stores relative to
    // its frame stay as small as the data allow (half the extent at most); the offset when the
    // bounds cannot be used (not finite, reversed, or all zero, as some writers leave them).
    // Always finite.
    std::array<double, 3> FrameOrigin() const;
    // Bytes of the format's own fields; the rest of recordLength is extra bytes.
    std::uint16_t FormatLength() const;

    // Reads `count` bytes at `at` of the file, which the caller has checked lie inside it.
    using Fetch = std::function<const std::uint8_t*(std::uint64_t at, std::size_t count)>;
    // The header of a file of `size` bytes, with its VLRs, EVLR headers and extra-bytes
    // dimensions, every field checked against the size. `name` starts every message of the
    // LasError thrown for a file that cannot be read.
    static LasHeader Parse(const std::string& name, std::uint64_t size, const Fetch& fetch);

    // The header block of this header's version (227, 235 or 375 bytes), from its fields.
    std::vector<std::uint8_t> Bytes() const;
    // The size of the block Bytes gives for `minor`.
    static std::uint16_t SizeOf(unsigned minor);
};

} // namespace orv::DataProxy::Las
