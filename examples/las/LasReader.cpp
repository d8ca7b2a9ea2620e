#include "examples/las/LasReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace orv::Demo::Las
{
namespace
{

// Offsets of the public header block. Fields up to 227 exist in every supported version;
// 1.3 adds the waveform start (8 bytes) and 1.4 the extended records and 64-bit counts.
constexpr size_t kVersionMajorAt = 24;
constexpr size_t kVersionMinorAt = 25;
constexpr size_t kSystemIdentifierAt = 26;
constexpr size_t kGeneratingSoftwareAt = 58;
constexpr size_t kHeaderSizeAt = 94;
constexpr size_t kOffsetToPointDataAt = 96;
constexpr size_t kVlrCountAt = 100;
constexpr size_t kPointFormatAt = 104;
constexpr size_t kRecordLengthAt = 105;
constexpr size_t kLegacyPointCountAt = 107;
constexpr size_t kScaleAt = 131;
constexpr size_t kOffsetAt = 155;
constexpr size_t kBoundsAt = 179; // max x, min x, max y, min y, max z, min z
constexpr size_t kPointCount64At = 247;

size_t MinimumHeaderSize(unsigned minor)
{
    return minor >= 4 ? 375 : minor == 3 ? 235 : 227;
}

// Where the fields the reader uses sit in a point record of one format.
struct RecordLayout
{
    size_t minimumLength;
    size_t classificationAt;
    uint8_t classificationMask;
    size_t pointSourceIdAt;
    size_t rgbAt; // 0: the format has no colour
};

// Formats 4, 5, 9 and 10 carry waveform packets and are not supported.
const RecordLayout* FindLayout(unsigned format)
{
    static const RecordLayout layouts[] = {
        {20, 15, 0x1F, 18, 0},  // 0
        {28, 15, 0x1F, 18, 0},  // 1: + GPS time
        {26, 15, 0x1F, 18, 20}, // 2: + RGB
        {34, 15, 0x1F, 18, 28}, // 3: + GPS time, RGB
        {0, 0, 0, 0, 0},        // 4
        {0, 0, 0, 0, 0},        // 5
        {30, 16, 0xFF, 20, 0},  // 6: extended flags, 16-bit scan angle, GPS time
        {36, 16, 0xFF, 20, 30}, // 7: + RGB
        {38, 16, 0xFF, 20, 30}, // 8: + RGB, NIR
    };
    if (format >= sizeof(layouts) / sizeof(layouts[0]) || layouts[format].minimumLength == 0)
        return nullptr;
    return &layouts[format];
}

// LAS is little-endian whatever the machine; assemble values byte by byte.
uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t U64(const uint8_t* p)
{
    return static_cast<uint64_t>(U32(p)) | (static_cast<uint64_t>(U32(p + 4)) << 32);
}

int32_t I32(const uint8_t* p)
{
    const uint32_t bits = U32(p);
    int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double F64(const uint8_t* p)
{
    const uint64_t bits = U64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A fixed-width text field, cut at its first NUL and stripped of trailing blanks.
std::string Text(const uint8_t* p, size_t width)
{
    std::string text(reinterpret_cast<const char*>(p), width);
    text.resize(std::min(text.find('\0'), text.size()));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

class Failure
{
public:
    explicit Failure(const std::string& name) { m_text << name << ": "; }
    template <typename T>
    Failure& operator<<(const T& value)
    {
        m_text << value;
        return *this;
    }
    [[noreturn]] void Throw() const { throw LasError(m_text.str()); }

private:
    std::ostringstream m_text;
};

LasHeader ParseHeader(const uint8_t* data, size_t size, const std::string& name)
{
    if (size < 4 || std::memcmp(data, "LASF", 4) != 0)
        (Failure(name) << "not a LAS file (no \"LASF\" signature at the start)").Throw();
    if (size <= kVersionMinorAt)
        (Failure(name) << "truncated header: the file has only " << size << " bytes").Throw();

    LasHeader h;
    h.versionMajor = data[kVersionMajorAt];
    h.versionMinor = data[kVersionMinorAt];
    if (h.versionMajor != 1 || h.versionMinor < 2 || h.versionMinor > 4)
        (Failure(name) << "unsupported LAS version " << unsigned{h.versionMajor} << '.'
                       << unsigned{h.versionMinor} << " (1.2 to 1.4 are read)")
            .Throw();

    const size_t needed = MinimumHeaderSize(h.versionMinor);
    if (size < needed)
        (Failure(name) << "truncated header: the file has " << size << " bytes, a LAS 1."
                       << unsigned{h.versionMinor} << " header needs " << needed)
            .Throw();

    h.headerSize = U16(data + kHeaderSizeAt);
    h.offsetToPointData = U32(data + kOffsetToPointDataAt);
    h.vlrCount = U32(data + kVlrCountAt);
    h.pointFormat = data[kPointFormatAt];
    h.recordLength = U16(data + kRecordLengthAt);
    h.systemIdentifier = Text(data + kSystemIdentifierAt, 32);
    h.generatingSoftware = Text(data + kGeneratingSoftwareAt, 32);
    for (size_t axis = 0; axis < 3; ++axis)
    {
        h.scale[axis] = F64(data + kScaleAt + 8 * axis);
        h.offset[axis] = F64(data + kOffsetAt + 8 * axis);
        h.max[axis] = F64(data + kBoundsAt + 16 * axis);
        h.min[axis] = F64(data + kBoundsAt + 16 * axis + 8);
    }

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

    // Compressors mark their files by setting the top bits of the format byte.
    if ((h.pointFormat & 0xC0) != 0)
        (Failure(name) << "compressed point data (format byte " << unsigned{h.pointFormat}
                       << ") is not supported")
            .Throw();
    const RecordLayout* layout = FindLayout(h.pointFormat);
    if (layout == nullptr)
        (Failure(name) << "unsupported point format " << unsigned{h.pointFormat}
                       << " (0 to 3 and 6 to 8 are read)")
            .Throw();
    if (h.pointFormat >= 6 && h.versionMinor < 4)
        (Failure(name) << "point format " << unsigned{h.pointFormat}
                       << " needs LAS 1.4, the file is 1." << unsigned{h.versionMinor})
            .Throw();
    if (h.recordLength < layout->minimumLength)
        (Failure(name) << "point record length " << h.recordLength << " is smaller than the "
                       << layout->minimumLength << " bytes point format " << unsigned{h.pointFormat}
                       << " needs")
            .Throw();

    h.pointCount = U32(data + kLegacyPointCountAt);
    if (h.versionMinor >= 4)
    {
        const uint64_t count64 = U64(data + kPointCount64At);
        if (h.pointCount == 0)
            h.pointCount = count64;
        else if (count64 != 0 && count64 != h.pointCount)
            (Failure(name) << "legacy point count " << h.pointCount
                           << " disagrees with the 64-bit point count " << count64)
                .Throw();
    }
    // Division, not multiplication: a hostile count must not overflow the check.
    const size_t available = size - h.offsetToPointData;
    if (h.pointCount > available / h.recordLength)
        (Failure(name) << "point count " << h.pointCount << " (records of " << h.recordLength
                       << " bytes) is more than the " << available
                       << " bytes after the offset to point data " << h.offsetToPointData
                       << " hold (truncated file?)")
            .Throw();

    static const char axes[] = "XYZ";
    for (size_t axis = 0; axis < 3; ++axis)
    {
        if (!std::isfinite(h.scale[axis]) || h.scale[axis] == 0.0)
            (Failure(name) << axes[axis] << " scale factor " << h.scale[axis]
                           << " is not a finite, non-zero number")
                .Throw();
        if (!std::isfinite(h.offset[axis]))
            (Failure(name) << axes[axis] << " offset " << h.offset[axis] << " is not finite")
                .Throw();
    }
    return h;
}

} // namespace

LasPoints ReadLasBuffer(const uint8_t* data, size_t size, const std::string& nameForErrors)
{
    if (data == nullptr && size != 0)
        (Failure(nameForErrors) << "no data").Throw();

    LasPoints points;
    points.header = ParseHeader(data, size, nameForErrors);
    const LasHeader& h = points.header;
    const RecordLayout& layout = *FindLayout(h.pointFormat);

    // Bounded by the file's size: the count has been checked against the bytes present.
    const auto count = static_cast<size_t>(h.pointCount);
    points.hasRgb = layout.rgbAt != 0;
    for (auto* column : {&points.x, &points.y, &points.z})
        column->resize(count);
    for (auto* column : {&points.intensity, &points.pointSourceId})
        column->resize(count);
    points.classification.resize(count);
    if (points.hasRgb)
        for (auto* column : {&points.r, &points.g, &points.b})
            column->resize(count);

    const uint8_t* record = data + h.offsetToPointData;
    for (size_t i = 0; i < count; ++i, record += h.recordLength)
    {
        points.x[i] = I32(record) * h.scale[0] + h.offset[0];
        points.y[i] = I32(record + 4) * h.scale[1] + h.offset[1];
        points.z[i] = I32(record + 8) * h.scale[2] + h.offset[2];
        points.intensity[i] = U16(record + 12);
        points.classification[i] =
            static_cast<uint8_t>(record[layout.classificationAt] & layout.classificationMask);
        points.pointSourceId[i] = U16(record + layout.pointSourceIdAt);
        if (points.hasRgb)
        {
            points.r[i] = U16(record + layout.rgbAt);
            points.g[i] = U16(record + layout.rgbAt + 2);
            points.b[i] = U16(record + layout.rgbAt + 4);
        }
    }

    if (count > 0)
    {
        const std::vector<double>* columns[] = {&points.x, &points.y, &points.z};
        for (size_t axis = 0; axis < 3; ++axis)
        {
            const auto [lo, hi] = std::minmax_element(columns[axis]->begin(), columns[axis]->end());
            points.dataMin[axis] = *lo;
            points.dataMax[axis] = *hi;
        }
    }
    return points;
}

LasPoints ReadLasFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        (Failure(path) << "cannot open the file").Throw();
    const std::streamoff end = file.tellg();
    if (end < 0 || static_cast<unsigned long long>(end) > std::numeric_limits<size_t>::max())
        (Failure(path) << "cannot determine the file's size").Throw();
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(end)))
        (Failure(path) << "read error after " << file.gcount() << " of " << end << " bytes")
            .Throw();
    return ReadLasBuffer(bytes.data(), bytes.size(), path);
}

} // namespace orv::Demo::Las
