#include "las/LasHeader.h"

#include "las/internal/LasRecordLayout.h"

#include <cmath>

namespace orv::DataProxy::Las
{

using namespace Detail;

namespace
{

constexpr std::size_t kEvlrHeaderSize = 60;
constexpr std::size_t kExtraBytesDescriptorSize = 192;
constexpr std::size_t kFileSourceIdAt = 4;
constexpr std::size_t kProjectIdAt = 8;
constexpr std::size_t kCreationDayAt = 90;
constexpr std::size_t kCreationYearAt = 92;
constexpr std::size_t kWaveformAt = 227;
constexpr std::size_t kFirstEvlrAt = 235;
constexpr std::size_t kEvlrCountAt = 243;

// A fixed-width text field, cut at its first NUL and stripped of trailing blanks.
std::string Text(const std::uint8_t* p, std::size_t width)
{
    std::string text(reinterpret_cast<const char*>(p), width);
    text.resize(std::min(text.find('\0'), text.size()));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

void PutText(std::uint8_t* p, std::size_t width, const std::string& text)
{
    std::memcpy(p, text.data(), std::min(width, text.size()));
}

// The variable-length records between the header and the point data: each must fit there.
// A compressor announces itself by one of them.
void ReadVlrs(const std::string& name, const LasHeader::Fetch& fetch, LasHeader& h)
{
    std::uint64_t at = h.headerSize;
    for (std::uint32_t i = 0; i < h.vlrCount; ++i)
    {
        if (at + kVlrHeaderSize > h.offsetToPointData)
            (Failure(name) << "variable-length record " << i + 1 << " of " << h.vlrCount
                           << " does not fit before the point data at offset "
                           << h.offsetToPointData)
                .Throw();
        const std::uint8_t* head = fetch(at, kVlrHeaderSize);
        LasVlr vlr;
        vlr.userId = Text(head + 2, 16);
        vlr.recordId = U16(head + 18);
        vlr.description = Text(head + 22, 32);
        vlr.payloadAt = at + kVlrHeaderSize;
        vlr.payloadSize = U16(head + 20);
        if (vlr.userId == "laszip encoded" && vlr.recordId == 22204)
            (Failure(name) << "the point data is compressed (LAZ); only uncompressed LAS "
                              "is read: decompress the file first")
                .Throw();
        at = vlr.payloadAt + vlr.payloadSize;
        if (at > h.offsetToPointData)
            (Failure(name) << "the variable-length records end at byte " << at
                           << ", after the start of the point data at " << h.offsetToPointData)
                .Throw();
        const std::uint8_t* payload = fetch(vlr.payloadAt, vlr.payloadSize);
        vlr.payload.assign(payload, payload + vlr.payloadSize);
        h.vlrs.push_back(std::move(vlr));
    }
}

// The extended records after the point data (1.4): their headers; the payloads stay in the
// file, where the writer copies them from.
void ReadEvlrs(const std::string& name, std::uint64_t size, const LasHeader::Fetch& fetch,
               LasHeader& h)
{
    if (h.versionMinor < 4 || h.evlrCount == 0)
        return;
    const std::uint64_t pointsEnd = h.offsetToPointData + h.pointCount * h.recordLength;
    std::uint64_t at = h.startOfFirstEvlr;
    if (at < pointsEnd)
        (Failure(name) << "the extended variable-length records start at byte " << at
                       << ", inside the point data, which ends at " << pointsEnd)
            .Throw();
    for (std::uint32_t i = 0; i < h.evlrCount; ++i)
    {
        if (at > size || size - at < kEvlrHeaderSize)
            (Failure(name) << "extended variable-length record " << i + 1 << " of " << h.evlrCount
                           << " does not fit in the file of " << size << " bytes")
                .Throw();
        const std::uint8_t* head = fetch(at, kEvlrHeaderSize);
        LasVlr vlr;
        vlr.userId = Text(head + 2, 16);
        vlr.recordId = U16(head + 18);
        vlr.payloadSize = U64(head + 20);
        vlr.description = Text(head + 28, 32);
        vlr.payloadAt = at + kEvlrHeaderSize;
        if (vlr.payloadSize > size - vlr.payloadAt)
            (Failure(name) << "extended variable-length record " << i + 1 << " of " << h.evlrCount
                           << " (" << vlr.payloadSize << " bytes) goes beyond the end of the file")
                .Throw();
        at = vlr.payloadAt + vlr.payloadSize;
        h.evlrs.push_back(std::move(vlr));
    }
}

// The dimensions the extra-bytes record describes, each placed after the format's fields.
void ReadExtraBytes(const std::string& name, LasHeader& h)
{
    for (const LasVlr& vlr : h.vlrs)
    {
        if (vlr.userId != "LASF_Spec" || vlr.recordId != 4)
            continue;
        std::size_t at = h.FormatLength();
        for (std::size_t d = 0; d + kExtraBytesDescriptorSize <= vlr.payload.size();
             d += kExtraBytesDescriptorSize)
        {
            const std::uint8_t* p = vlr.payload.data() + d;
            LasExtraBytesDimension dim;
            dim.dataType = p[2];
            const std::uint8_t options = p[3];
            dim.name = Text(p + 4, 32);
            if (dim.dataType <= 10)
                dim.width = dim.dataType == 0 ? options : LasExtraBytesWidth(dim.dataType);
            else if (dim.dataType <= 30) // the deprecated tuples: kept, not read as a field
            {
                dim.width = std::uint16_t(LasExtraBytesWidth((dim.dataType - 1) % 10 + 1) *
                                          ((dim.dataType - 1) / 10 + 1));
                dim.dataType = 0;
            }
            if (dim.dataType != 0 && (options & 0x08) != 0)
                dim.scale = F64(p + 112);
            if (dim.dataType != 0 && (options & 0x10) != 0)
                dim.offset = F64(p + 136);
            dim.at = static_cast<std::uint16_t>(at);
            at += dim.width;
            if (dim.width == 0 || at > h.recordLength || !std::isfinite(dim.scale) ||
                !std::isfinite(dim.offset))
                (Failure(name) << "the extra-bytes record's dimension \"" << dim.name
                               << "\" does not fit the " << h.recordLength - h.FormatLength()
                               << " extra bytes of the records, or is not a usable number")
                    .Throw();
            h.extraBytes.push_back(std::move(dim));
        }
    }
}

void CheckCoordinates(const std::string& name, const LasHeader& h)
{
    static const char axes[] = "XYZ";
    for (std::size_t axis = 0; axis < 3; ++axis)
    {
        if (!std::isfinite(h.scale[axis]) || h.scale[axis] == 0.0)
            (Failure(name) << axes[axis] << " scale factor " << h.scale[axis]
                           << " is not a finite, non-zero number")
                .Throw();
        if (!std::isfinite(h.offset[axis]))
            (Failure(name) << axes[axis] << " offset " << h.offset[axis] << " is not finite")
                .Throw();
        // Every 32-bit coordinate must give a finite position.
        if (!std::isfinite(2147483648.0 * std::abs(h.scale[axis]) + std::abs(h.offset[axis])))
            (Failure(name) << axes[axis] << " scale factor " << h.scale[axis] << " and offset "
                           << h.offset[axis] << " give infinite coordinates")
                .Throw();
    }
}

// The fields of the block itself, checked against the file's size.
void ReadBlock(const std::string& name, std::uint64_t size, const std::uint8_t* data, LasHeader& h)
{
    h.fileSourceId = U16(data + kFileSourceIdAt);
    h.globalEncoding = U16(data + kGlobalEncodingAt);
    std::memcpy(h.projectId.data(), data + kProjectIdAt, h.projectId.size());
    h.systemIdentifier = Text(data + kSystemIdentifierAt, 32);
    h.generatingSoftware = Text(data + kGeneratingSoftwareAt, 32);
    h.creationDay = U16(data + kCreationDayAt);
    h.creationYear = U16(data + kCreationYearAt);
    h.headerSize = U16(data + kHeaderSizeAt);
    h.offsetToPointData = U32(data + kOffsetToPointDataAt);
    h.vlrCount = U32(data + kVlrCountAt);
    const std::uint8_t formatByte = data[kPointFormatAt];
    h.pointFormat = formatByte & 0x3F;
    h.recordLength = U16(data + kRecordLengthAt);
    for (std::size_t axis = 0; axis < 3; ++axis)
    {
        h.scale[axis] = F64(data + kScaleAt + 8 * axis);
        h.offset[axis] = F64(data + kOffsetAt + 8 * axis);
        h.max[axis] = F64(data + kBoundsAt + 16 * axis);
        h.min[axis] = F64(data + kBoundsAt + 16 * axis + 8);
    }
    const std::size_t needed = LasHeader::SizeOf(h.versionMinor);
    if (h.headerSize < needed)
        (Failure(name) << "header size field is " << h.headerSize << " bytes, a LAS 1."
                       << unsigned{h.versionMinor} << " header needs at least " << needed)
            .Throw();
    if (h.headerSize > size)
        (Failure(name) << "truncated header: the header size field says " << h.headerSize
                       << " bytes, the file has " << size)
            .Throw();
    if (h.offsetToPointData < h.headerSize)
        (Failure(name) << "offset to point data " << h.offsetToPointData
                       << " lies inside the header of " << h.headerSize << " bytes")
            .Throw();
    if (h.offsetToPointData > size)
        (Failure(name) << "offset to point data " << h.offsetToPointData
                       << " lies beyond the end of the file (" << size << " bytes)")
            .Throw();
    // Compressors mark their files by setting the top bits of the format byte; their point
    // count exceeds the bytes present, so this is said before the count is checked.
    if ((formatByte & 0xC0) != 0)
        (Failure(name) << "the point data is compressed (LAZ, format byte " << unsigned{formatByte}
                       << "); only uncompressed LAS is read: decompress the file first")
            .Throw();
}

void ReadCounts(const std::string& name, std::uint64_t size, const std::uint8_t* data, LasHeader& h)
{
    if (h.pointFormat >= kFormatCount)
        (Failure(name) << "unsupported point format " << unsigned{h.pointFormat}
                       << " (0 to 10 are read)")
            .Throw();
    if (h.pointFormat >= 6 && h.versionMinor < 4)
        (Failure(name) << "point format " << unsigned{h.pointFormat}
                       << " needs LAS 1.4, the file is 1." << unsigned{h.versionMinor})
            .Throw();
    if (h.recordLength < h.FormatLength())
        (Failure(name) << "point record length " << h.recordLength << " is smaller than the "
                       << h.FormatLength() << " bytes point format " << unsigned{h.pointFormat}
                       << " needs")
            .Throw();
    h.pointCount = U32(data + kLegacyPointCountAt);
    for (std::size_t r = 0; r < 5; ++r)
        h.pointsByReturn[r] = U32(data + kLegacyByReturnAt + 4 * r);
    if (h.versionMinor >= 3)
        h.startOfWaveformData = U64(data + kWaveformAt);
    if (h.versionMinor >= 4)
    {
        h.startOfFirstEvlr = U64(data + kFirstEvlrAt);
        h.evlrCount = U32(data + kEvlrCountAt);
        const std::uint64_t count64 = U64(data + kPointCount64At);
        if (h.pointCount == 0)
            h.pointCount = count64;
        else if (count64 != 0 && count64 != h.pointCount)
            (Failure(name) << "legacy point count " << h.pointCount
                           << " disagrees with the 64-bit point count " << count64)
                .Throw();
        std::array<std::uint64_t, 15> byReturn{};
        for (std::size_t r = 0; r < 15; ++r)
            byReturn[r] = U64(data + kByReturn64At + 8 * r);
        if (byReturn != std::array<std::uint64_t, 15>{})
            h.pointsByReturn = byReturn;
    }
    // Division, not multiplication: a hostile count must not overflow the check.
    const std::uint64_t available = size - h.offsetToPointData;
    if (h.pointCount > available / h.recordLength)
        (Failure(name) << "point count " << h.pointCount << " (records of " << h.recordLength
                       << " bytes) is more than the " << available
                       << " bytes after the offset to point data " << h.offsetToPointData
                       << " hold (truncated file?)")
            .Throw();
}

} // namespace

bool LasVlr::IsCoordinateSystem() const
{
    return (userId == "LASF_Projection" &&
            (recordId == 2111 || recordId == 2112 || (recordId >= 34735 && recordId <= 34737)));
}

bool LasHeader::HasRgb() const
{
    return pointFormat < kFormatCount && kRecordLayouts[pointFormat].rgbAt != 0;
}

std::array<double, 3> LasHeader::FrameOrigin() const
{
    bool usable = min != std::array<double, 3>{} || max != std::array<double, 3>{};
    for (std::size_t axis = 0; axis < 3; ++axis)
        usable = usable && std::isfinite(min[axis]) && std::isfinite(max[axis]) &&
                 min[axis] <= max[axis] && std::isfinite(max[axis] - min[axis]);
    if (!usable)
        return offset;
    std::array<double, 3> origin{};
    for (std::size_t axis = 0; axis < 3; ++axis)
        origin[axis] = std::round(min[axis] + (max[axis] - min[axis]) / 2);
    return origin;
}

std::uint16_t LasHeader::FormatLength() const
{
    return pointFormat < kFormatCount ? kRecordLayouts[pointFormat].length : 0;
}

std::uint16_t LasHeader::SizeOf(unsigned minor)
{
    return minor >= 4 ? kHeaderSize14 : minor == 3 ? kHeaderSize13 : kHeaderSize10;
}

LasHeader LasHeader::Parse(const std::string& name, std::uint64_t size, const Fetch& fetch)
{
    const std::uint8_t* data =
        fetch(0, static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderSize14)));
    if (size < 4 || std::memcmp(data, "LASF", 4) != 0)
        (Failure(name) << "not a LAS file (no \"LASF\" signature at the start)").Throw();
    if (size <= kVersionMinorAt)
        (Failure(name) << "truncated header: the file has only " << size << " bytes").Throw();
    LasHeader h;
    h.versionMajor = data[kVersionMajorAt];
    h.versionMinor = data[kVersionMinorAt];
    if (h.versionMajor != 1 || h.versionMinor > 4)
        (Failure(name) << "unsupported LAS version " << unsigned{h.versionMajor} << '.'
                       << unsigned{h.versionMinor} << " (1.0 to 1.4 are read)")
            .Throw();
    if (size < SizeOf(h.versionMinor))
        (Failure(name) << "truncated header: the file has " << size << " bytes, a LAS 1."
                       << unsigned{h.versionMinor} << " header needs " << SizeOf(h.versionMinor))
            .Throw();
    ReadBlock(name, size, data, h);
    const std::vector<std::uint8_t> block(data, data + SizeOf(h.versionMinor));
    ReadVlrs(name, fetch, h);
    ReadCounts(name, size, block.data(), h);
    CheckCoordinates(name, h);
    ReadEvlrs(name, size, fetch, h);
    ReadExtraBytes(name, h);
    return h;
}

std::vector<std::uint8_t> LasHeader::Bytes() const
{
    std::vector<std::uint8_t> b(SizeOf(versionMinor), 0);
    std::memcpy(b.data(), "LASF", 4);
    PutU16(&b[kFileSourceIdAt], fileSourceId);
    PutU16(&b[kGlobalEncodingAt], globalEncoding);
    std::memcpy(&b[kProjectIdAt], projectId.data(), projectId.size());
    b[kVersionMajorAt] = versionMajor;
    b[kVersionMinorAt] = versionMinor;
    PutText(&b[kSystemIdentifierAt], 32, systemIdentifier);
    PutText(&b[kGeneratingSoftwareAt], 32, generatingSoftware);
    PutU16(&b[kCreationDayAt], creationDay);
    PutU16(&b[kCreationYearAt], creationYear);
    PutU16(&b[kHeaderSizeAt], static_cast<std::uint16_t>(b.size()));
    PutU32(&b[kOffsetToPointDataAt], offsetToPointData);
    PutU32(&b[kVlrCountAt], vlrCount);
    b[kPointFormatAt] = pointFormat;
    PutU16(&b[kRecordLengthAt], recordLength);
    // Formats 6 and above, and counts beyond 32 bits, have only the 64-bit counts.
    const bool legacy = pointFormat < 6 && pointCount <= 0xFFFFFFFFu;
    if (legacy)
    {
        PutU32(&b[kLegacyPointCountAt], static_cast<std::uint32_t>(pointCount));
        for (std::size_t r = 0; r < 5; ++r)
            PutU32(&b[kLegacyByReturnAt + 4 * r],
                   static_cast<std::uint32_t>(
                       std::min<std::uint64_t>(pointsByReturn[r], 0xFFFFFFFFu)));
    }
    for (std::size_t axis = 0; axis < 3; ++axis)
    {
        PutF64(&b[kScaleAt + 8 * axis], scale[axis]);
        PutF64(&b[kOffsetAt + 8 * axis], offset[axis]);
        PutF64(&b[kBoundsAt + 16 * axis], max[axis]);
        PutF64(&b[kBoundsAt + 16 * axis + 8], min[axis]);
    }
    if (versionMinor >= 3)
        PutU64(&b[kWaveformAt], startOfWaveformData);
    if (versionMinor >= 4)
    {
        PutU64(&b[kFirstEvlrAt], startOfFirstEvlr);
        PutU32(&b[kEvlrCountAt], evlrCount);
        PutU64(&b[kPointCount64At], pointCount);
        for (std::size_t r = 0; r < 15; ++r)
            PutU64(&b[kByReturn64At + 8 * r], pointsByReturn[r]);
    }
    return b;
}

} // namespace orv::DataProxy::Las
