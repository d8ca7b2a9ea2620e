#include "las/LasReader.h"

#include "las/LasRecordLayout.h"

#include "contract/PointDataBlockAppend.h"
#include "contract/PointDataBlocks.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <vector>

namespace orv::DataProxy::Las
{

using namespace Detail;
using orv::DataProxy::EPointDataComponent;

// The bytes of the input: a file read piece by piece, or memory the caller holds.
struct LasSource
{
    std::string name;
    std::uint64_t size = 0;
    const std::uint8_t* memory = nullptr;
    std::ifstream file;

    // The `count` bytes at `at`, which the caller has checked lie inside the input: a pointer
    // into the memory, or into `buffer` once read from the file.
    const std::uint8_t* Fetch(std::uint64_t at, std::size_t count,
                              std::vector<std::uint8_t>& buffer)
    {
        if (memory != nullptr || count == 0)
            return memory + at;
        buffer.resize(count);
        file.clear();
        file.seekg(static_cast<std::streamoff>(at));
        if (!file.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(count)))
            (Failure(name) << "read error: " << count << " bytes at offset " << at
                           << " (did the file shrink while it was read?)")
                .Throw();
        return buffer.data();
    }
};

namespace
{

// A fixed-width text field, cut at its first NUL and stripped of trailing blanks.
std::string Text(const std::uint8_t* p, std::size_t width)
{
    std::string text(reinterpret_cast<const char*>(p), width);
    text.resize(std::min(text.find('\0'), text.size()));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::size_t MinimumHeaderSize(unsigned minor)
{
    return minor >= 4 ? kHeaderSize14 : minor == 3 ? kHeaderSize13 : kHeaderSize10;
}

// The variable-length records between the header and the point data: each must fit there.
// A compressor announces itself by one of them.
void CheckVlrs(LasSource& source, const LasHeader& h)
{
    std::vector<std::uint8_t> buffer;
    std::uint64_t at = h.headerSize;
    for (std::uint32_t i = 0; i < h.vlrCount; ++i)
    {
        if (at + kVlrHeaderSize > h.offsetToPointData)
            (Failure(source.name) << "variable-length record " << i + 1 << " of " << h.vlrCount
                                  << " does not fit before the point data at offset "
                                  << h.offsetToPointData)
                .Throw();
        const std::uint8_t* vlr = source.Fetch(at, kVlrHeaderSize, buffer);
        if (Text(vlr + 2, 16) == "laszip encoded" && U16(vlr + 18) == 22204)
            (Failure(source.name) << "the point data is compressed (LAZ); only uncompressed LAS "
                                     "is read: decompress the file first")
                .Throw();
        at += kVlrHeaderSize + U16(vlr + 20);
    }
    if (at > h.offsetToPointData)
        (Failure(source.name) << "the variable-length records end at byte " << at
                              << ", after the start of the point data at " << h.offsetToPointData)
            .Throw();
}

LasHeader ParseHeader(LasSource& source)
{
    const std::string& name = source.name;
    const std::uint64_t size = source.size;
    std::vector<std::uint8_t> buffer;
    const std::uint8_t* data = source.Fetch(
        0, static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderSize14)), buffer);
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
    const std::size_t needed = MinimumHeaderSize(h.versionMinor);
    if (size < needed)
        (Failure(name) << "truncated header: the file has " << size << " bytes, a LAS 1."
                       << unsigned{h.versionMinor} << " header needs " << needed)
            .Throw();

    h.headerSize = U16(data + kHeaderSizeAt);
    h.offsetToPointData = U32(data + kOffsetToPointDataAt);
    h.vlrCount = U32(data + kVlrCountAt);
    const std::uint8_t formatByte = data[kPointFormatAt];
    h.pointFormat = formatByte & 0x3F;
    h.recordLength = U16(data + kRecordLengthAt);
    h.systemIdentifier = Text(data + kSystemIdentifierAt, 32);
    h.generatingSoftware = Text(data + kGeneratingSoftwareAt, 32);
    for (std::size_t axis = 0; axis < 3; ++axis)
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
    // Compressors mark their files by setting the top bits of the format byte; their point
    // count exceeds the bytes present, so this is said before the count is checked.
    if ((formatByte & 0xC0) != 0)
        (Failure(name) << "the point data is compressed (LAZ, format byte " << unsigned{formatByte}
                       << "); only uncompressed LAS is read: "
                       << "decompress the file first")
            .Throw();
    CheckVlrs(source, h);

    if (h.pointFormat >= kFormatCount)
        (Failure(name) << "unsupported point format " << unsigned{h.pointFormat}
                       << " (0 to 10 are read)")
            .Throw();
    if (h.pointFormat >= 6 && h.versionMinor < 4)
        (Failure(name) << "point format " << unsigned{h.pointFormat}
                       << " needs LAS 1.4, the file is 1." << unsigned{h.versionMinor})
            .Throw();
    const RecordLayout& layout = kRecordLayouts[h.pointFormat];
    if (h.recordLength < layout.length)
        (Failure(name) << "point record length " << h.recordLength << " is smaller than the "
                       << layout.length << " bytes point format " << unsigned{h.pointFormat}
                       << " needs")
            .Throw();

    h.pointCount = U32(data + kLegacyPointCountAt);
    for (std::size_t r = 0; r < 5; ++r)
        h.pointsByReturn[r] = U32(data + kLegacyByReturnAt + 4 * r);
    if (h.versionMinor >= 4)
    {
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
    return h;
}

// The accessor handed to the builder: it stands on one record and decodes a field only when
// asked for it. Keys are looked up in a flat table: component, then index.
class RecordAccessor final : public orv::DataProxy::IPointDataAccessor
{
public:
    const std::uint8_t* record = nullptr;
    std::uint64_t index = 0;

    RecordAccessor(const LasHeader& header, const LasFieldMap& fields, double colorScale)
        : m_layout(kRecordLayouts[header.pointFormat]), m_scale(header.scale),
          m_offset(header.offset), m_colorScale(colorScale)
    {
        for (auto& byIndex : m_fieldOf)
            byIndex.fill(kNone);
        for (const LasFieldKey& entry : fields)
            m_fieldOf[Slot(entry.key.component)][entry.key.index] =
                static_cast<std::uint8_t>(entry.field);
    }

    GPointDouble GetPosition() const override
    {
        return {I32(record) * m_scale[0] + m_offset[0], I32(record + 4) * m_scale[1] + m_offset[1],
                I32(record + 8) * m_scale[2] + m_offset[2]};
    }
    std::uint64_t GetPointIndex() const override { return index; }
    std::optional<GVector3> GetVector3(unsigned char) const override { return std::nullopt; }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return Integer(Field(EPointDataComponent::UnsignedInteger, i));
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        const auto value = Integer(Field(EPointDataComponent::SignedInteger, i));
        return value ? std::optional<std::int64_t>(*value) : std::nullopt;
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        const std::uint8_t field = Field(EPointDataComponent::Real, i);
        if (field == static_cast<std::uint8_t>(ELasField::ScanAngle))
            return m_layout.extended ? I16(record + 18) * kScanAngleStep
                                     : static_cast<double>(static_cast<std::int8_t>(record[16]));
        if (field == static_cast<std::uint8_t>(ELasField::GpsTime))
            return m_layout.gpsAt != 0 ? std::optional<double>(F64(record + m_layout.gpsAt))
                                       : std::nullopt;
        const auto value = Integer(field);
        return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
    }
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char i) const override
    {
        if (Field(EPointDataComponent::Color, i) != static_cast<std::uint8_t>(ELasField::Rgb) ||
            m_layout.rgbAt == 0)
            return std::nullopt;
        const std::uint8_t* rgb = record + m_layout.rgbAt;
        return orv::DataProxy::RgbaColor{U16(rgb) / m_colorScale, U16(rgb + 2) / m_colorScale,
                                         U16(rgb + 4) / m_colorScale, 1.0};
    }

private:
    static constexpr std::uint8_t kNone = 0xFF;

    static std::size_t Slot(EPointDataComponent component)
    {
        return static_cast<std::size_t>(component) -
               static_cast<std::size_t>(EPointDataComponent::Vector3);
    }
    std::uint8_t Field(EPointDataComponent component, unsigned char i) const
    {
        return m_fieldOf[Slot(component)][i];
    }

    std::optional<std::uint64_t> Integer(std::uint8_t field) const
    {
        const std::uint8_t* r = record;
        const bool x = m_layout.extended;
        switch (static_cast<ELasField>(field))
        {
        case ELasField::Intensity:
            return U16(r + 12);
        case ELasField::ReturnNumber:
            return x ? r[14] & 0x0F : r[14] & 0x07;
        case ELasField::NumberOfReturns:
            return x ? r[14] >> 4 : (r[14] >> 3) & 0x07;
        case ELasField::Classification:
            return x ? r[16] : r[15] & 0x1F;
        case ELasField::UserData:
            return r[17];
        case ELasField::PointSourceId:
            return U16(r + (x ? 20 : 18));
        case ELasField::Nir:
            return m_layout.nirAt != 0 ? std::optional<std::uint64_t>(U16(r + m_layout.nirAt))
                                       : std::nullopt;
        default:
            return std::nullopt; // no field, or one not carried by an integer
        }
    }

    const RecordLayout& m_layout;
    std::array<double, 3> m_scale;
    std::array<double, 3> m_offset;
    double m_colorScale;
    // Components Vector3 .. Color, then the key's index.
    std::array<std::array<std::uint8_t, 256>, 5> m_fieldOf;
};

// Calls visit(records, count, done) for consecutive chunks of the point records.
template <class Visit>
void ForEachChunk(LasSource& source, const LasHeader& h, std::size_t chunkBytes, Visit visit)
{
    const std::size_t perChunk = std::max<std::size_t>(1, chunkBytes / h.recordLength);
    std::vector<std::uint8_t> buffer;
    for (std::uint64_t done = 0; done < h.pointCount;)
    {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(perChunk, h.pointCount - done));
        const std::uint8_t* records = source.Fetch(h.offsetToPointData + done * h.recordLength,
                                                   count * h.recordLength, buffer);
        if (!visit(records, count, done))
            return;
        done += count;
    }
}

bool EightBitColours(LasSource& source, const LasHeader& h, std::size_t chunkBytes)
{
    const std::size_t rgbAt = kRecordLayouts[h.pointFormat].rgbAt;
    bool eightBit = true;
    ForEachChunk(source, h, chunkBytes,
                 [&](const std::uint8_t* records, std::size_t count, std::uint64_t)
                 {
                     for (std::size_t i = 0; i < count && eightBit; ++i)
                     {
                         const std::uint8_t* rgb = records + i * h.recordLength + rgbAt;
                         eightBit = std::max({U16(rgb), U16(rgb + 2), U16(rgb + 4)}) <= 255;
                     }
                     return eightBit;
                 });
    return eightBit;
}

} // namespace

bool LasHeader::HasRgb() const
{
    return pointFormat < kFormatCount && kRecordLayouts[pointFormat].rgbAt != 0;
}

LasReader::LasReader(const std::string& path) : m_source(std::make_unique<LasSource>())
{
    m_source->name = path;
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        (Failure(path) << "is a folder, not a LAS file").Throw();
    m_source->file.open(path, std::ios::binary);
    if (!m_source->file)
        (Failure(path) << "cannot open the file").Throw();
    m_source->file.seekg(0, std::ios::end);
    const std::streamoff end = m_source->file.tellg();
    if (end < 0)
        (Failure(path) << "cannot determine the file's size").Throw();
    m_source->size = static_cast<std::uint64_t>(end);
    m_header = ParseHeader(*m_source);
}

LasReader::LasReader(const std::uint8_t* data, std::size_t size, const std::string& name)
    : m_source(std::make_unique<LasSource>())
{
    m_source->name = name;
    if (data == nullptr && size != 0)
        (Failure(name) << "no data").Throw();
    static const std::uint8_t kNothing = 0;
    m_source->memory = data != nullptr ? data : &kNothing;
    m_source->size = size;
    m_header = ParseHeader(*m_source);
}

LasReader::~LasReader() = default;

const LasHeader& LasReader::Header() const
{
    return m_header;
}

std::uint64_t LasReader::ReadInto(orv::DataProxy::IPointDataBuilder& builder,
                                  const LasFieldMap& fields, const LasReadOptions& options) const
{
    CheckFieldMap(fields, /*uniqueKeys=*/true);
    const LasHeader& h = m_header;
    const bool colour = h.HasRgb() && std::any_of(fields.begin(), fields.end(),
                                                  [](const LasFieldKey& entry)
                                                  { return entry.field == ELasField::Rgb; });
    double colorScale = 65535.0;
    if (colour && (options.colorDepth == LasColorDepth::Bits8 ||
                   (options.colorDepth == LasColorDepth::Detect &&
                    EightBitColours(*m_source, h, options.chunkBytes))))
        colorScale = 255.0;

    RecordAccessor point(h, fields, colorScale);
    // The records go to the builder a block at a time: a builder that takes blocks stages each
    // column in one pass; any other gets AddPointData per point, the same values either way.
    PointDataBlockLayout layout;
    layout.positions = true;
    layout.pointIndices = true;
    for (const LasFieldKey& entry : fields)
        layout.keys.push_back(entry.key);
    PointDataBlock block(std::move(layout));
    builder.Reserve(h.pointCount);
    ForEachChunk(*m_source, h, options.chunkBytes,
                 [&](const std::uint8_t* records, std::size_t count, std::uint64_t done)
                 {
                     for (std::size_t first = 0; first < count; first += PointDataBlock::kCapacity)
                     {
                         const std::size_t n = std::min(PointDataBlock::kCapacity, count - first);
                         for (std::size_t i = 0; i < n; ++i)
                         {
                             point.record = records + (first + i) * h.recordLength;
                             point.index = done + first + i;
                             block.MutablePointIndices()[i] = point.index;
                             SetBlockPoint(block, i, point);
                         }
                         block.SetSize(n);
                         AppendBlock(builder, block);
                     }
                     if (options.progress)
                         options.progress(done + count, h.pointCount);
                     return true;
                 });
    return h.pointCount;
}

std::shared_ptr<orv::DataProxy::IPointDataProvider>
LasReader::ReadAll(const orv::DataProxy::IPointDataBuilderFactory& factory,
                   const LasFieldMap& fields, const LasReadOptions& options) const
{
    const FieldConsumer consumer(fields);
    const auto builder = factory.CreatePointDataBuilder(consumer);
    ReadInto(*builder, fields, options);
    return builder->GetResult();
}

} // namespace orv::DataProxy::Las
