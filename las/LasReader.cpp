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
        if (memory != nullptr)
            return memory + at;
        if (count == 0)
            return buffer.data();
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

LasHeader ParseHeader(LasSource& source)
{
    std::vector<std::uint8_t> buffer;
    return LasHeader::Parse(source.name, source.size,
                            [&](std::uint64_t at, std::size_t count)
                            { return source.Fetch(at, count, buffer); });
}

// The accessor handed to the builder: it stands on one record and decodes a field only when
// asked for it. Keys are looked up in a flat table: component, then index.
class RecordAccessor final : public orv::DataProxy::IPointDataAccessor
{
public:
    const std::uint8_t* record = nullptr;
    std::uint64_t index = 0;

    RecordAccessor(const LasHeader& header, const LasFieldMap& fields, double colorScale,
                   unsigned colorShift)
        : m_layout(kRecordLayouts[header.pointFormat]), m_header(header), m_scale(header.scale),
          m_offset(header.offset), m_colorScale(colorScale), m_colorShift(colorShift)
    {
        for (auto& byIndex : m_fieldOf)
            byIndex.fill(kNone);
        m_slots.reserve(fields.size());
        for (const LasFieldKey& entry : fields)
        {
            m_fieldOf[Slot(entry.key.component)][entry.key.index] =
                static_cast<std::uint8_t>(m_slots.size());
            m_slots.push_back({entry.field, SlotOf(entry.field, m_layout), entry.extraBytes});
        }
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
        const Entry* entry = Find(EPointDataComponent::UnsignedInteger, i);
        if (entry == nullptr)
            return std::nullopt;
        const auto value = Number(*entry);
        return value ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(*value))
                     : std::nullopt;
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        const Entry* entry = Find(EPointDataComponent::SignedInteger, i);
        if (entry == nullptr)
            return std::nullopt;
        const auto value = Number(*entry);
        return value ? std::optional<std::int64_t>(static_cast<std::int64_t>(*value))
                     : std::nullopt;
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        const Entry* entry = Find(EPointDataComponent::Real, i);
        if (entry == nullptr)
            return std::nullopt;
        switch (entry->field)
        {
        case ELasField::ScanAngle:
            return ScanAngleDegrees(record, m_layout.extended);
        case ELasField::GpsTime:
            return entry->slot.width != 0 ? std::optional<double>(F64(record + entry->slot.at))
                                          : std::nullopt;
        default:
            return Number(*entry);
        }
    }
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char i) const override
    {
        const Entry* entry = Find(EPointDataComponent::Color, i);
        if (entry == nullptr || entry->field != ELasField::Rgb || entry->slot.width == 0)
            return std::nullopt;
        const std::uint8_t* rgb = record + entry->slot.at;
        const auto channel = [&](std::size_t c)
        { return (U16(rgb + 2 * c) >> m_colorShift) / m_colorScale; };
        return orv::DataProxy::RgbaColor{channel(0), channel(1), channel(2), 1.0};
    }

private:
    static constexpr std::uint8_t kNone = 0xFF;
    struct Entry
    {
        ELasField field;
        FieldSlot slot;
        std::uint8_t extraBytes;
    };

    static std::size_t Slot(EPointDataComponent component)
    {
        return static_cast<std::size_t>(component) -
               static_cast<std::size_t>(EPointDataComponent::Vector3);
    }
    const Entry* Find(EPointDataComponent component, unsigned char i) const
    {
        const std::uint8_t at = m_fieldOf[Slot(component)][i];
        return at == kNone ? nullptr : &m_slots[at];
    }

    // An integer field, the record number or an extra-bytes dimension, as a number.
    std::optional<double> Number(const Entry& entry) const
    {
        switch (entry.field)
        {
        case ELasField::RecordNumber:
            return static_cast<double>(index);
        case ELasField::ExtraBytes:
            return ExtraBytesValue(entry.extraBytes);
        case ELasField::ScanAngle:
            return ScanAngleDegrees(record, m_layout.extended);
        case ELasField::GpsTime:
        case ELasField::Rgb:
            return std::nullopt; // carried by Real or Color only
        default:
            if (entry.slot.width == 0)
                return std::nullopt;
            return static_cast<double>(ReadSlot(record, entry.slot));
        }
    }

    std::optional<double> ExtraBytesValue(std::uint8_t which) const
    {
        if (which >= m_header.extraBytes.size())
            return std::nullopt;
        const LasExtraBytesDimension& dim = m_header.extraBytes[which];
        const std::uint8_t* p = record + dim.at;
        double raw = 0.0;
        switch (dim.dataType)
        {
        case 1:
            raw = p[0];
            break;
        case 2:
            raw = static_cast<std::int8_t>(p[0]);
            break;
        case 3:
            raw = U16(p);
            break;
        case 4:
            raw = I16(p);
            break;
        case 5:
            raw = U32(p);
            break;
        case 6:
            raw = I32(p);
            break;
        case 7:
            raw = static_cast<double>(U64(p));
            break;
        case 8:
            raw = static_cast<double>(static_cast<std::int64_t>(U64(p)));
            break;
        case 9:
        {
            const std::uint32_t bits = U32(p);
            float f;
            std::memcpy(&f, &bits, sizeof f);
            raw = f;
            break;
        }
        case 10:
            raw = F64(p);
            break;
        default:
            return std::nullopt; // opaque bytes
        }
        return raw * dim.scale + dim.offset;
    }

    const RecordLayout& m_layout;
    const LasHeader& m_header;
    std::array<double, 3> m_scale;
    std::array<double, 3> m_offset;
    double m_colorScale;
    unsigned m_colorShift;
    std::vector<Entry> m_slots;
    // Components Vector3 .. Color, then the key's index: the entry in m_slots.
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

bool AllEightBit(LasSource& source, const LasHeader& h, std::size_t chunkBytes)
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

const std::string& LasReader::Name() const
{
    return m_source->name;
}

bool LasReader::EightBitColors() const
{
    if (m_eightBit < 0)
        m_eightBit = m_header.HasRgb() && AllEightBit(*m_source, m_header, std::size_t{4} << 20);
    return m_eightBit == 1;
}

void LasReader::ReadBytes(std::uint64_t at, std::uint64_t count,
                          const std::function<void(const std::uint8_t*, std::size_t)>& sink) const
{
    std::vector<std::uint8_t> buffer;
    constexpr std::uint64_t kPiece = std::uint64_t{1} << 22;
    for (std::uint64_t done = 0; done < count;)
    {
        const auto piece = static_cast<std::size_t>(std::min(kPiece, count - done));
        sink(m_source->Fetch(at + done, piece, buffer), piece);
        done += piece;
    }
}

bool LasReader::IsFile(const std::string& path) const
{
    if (m_source->memory != nullptr)
        return false;
    std::error_code error;
    return std::filesystem::equivalent(m_source->name, path, error);
}

std::uint64_t LasReader::ReadInto(orv::DataProxy::IPointDataBuilder& builder,
                                  const LasFieldMap& fields, const LasReadOptions& options) const
{
    CheckFieldMap(fields, /*uniqueKeys=*/true);
    const LasHeader& h = m_header;
    const bool color = h.HasRgb() && fields.KeyOf(ELasField::Rgb).has_value();
    double colorScale = 65535.0;
    unsigned colorShift = 0;
    if (color && options.colorDepth == LasColorDepth::Bits8)
        colorScale = 255.0;
    else if (color && options.colorDepth == LasColorDepth::Detect)
    {
        colorScale = 255.0;
        colorShift = EightBitColors() ? 0 : 8;
    }
    if (fields.KeyOf(ELasField::RecordNumber) && h.pointCount > (std::uint64_t{1} << 32))
        (Failure(m_source->name) << "has " << h.pointCount
                                 << " points: their record numbers do not fit 4 bytes")
            .Throw();

    RecordAccessor point(h, fields, colorScale, colorShift);
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
