#include "las/LasReader.h"

#include "las/internal/LasRecordLayout.h"

#include "blocks/PointDataBlockAppend.h"
#include "blocks/PointDataBlocks.h"

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

// Extra-bytes dimension `dim` of `record`, scaled and offset; none for opaque bytes.
std::optional<double> ExtraBytesValue(const LasExtraBytesDimension& dim, const std::uint8_t* record)
{
    const std::uint8_t* p = record + dim.at;
    double raw = 0.0;
    switch (static_cast<ELasExtraBytesType>(dim.dataType))
    {
    case ELasExtraBytesType::U8:
        raw = p[0];
        break;
    case ELasExtraBytesType::I8:
        raw = static_cast<std::int8_t>(p[0]);
        break;
    case ELasExtraBytesType::U16:
        raw = U16(p);
        break;
    case ELasExtraBytesType::I16:
        raw = I16(p);
        break;
    case ELasExtraBytesType::U32:
        raw = U32(p);
        break;
    case ELasExtraBytesType::I32:
        raw = I32(p);
        break;
    case ELasExtraBytesType::U64:
        raw = static_cast<double>(U64(p));
        break;
    case ELasExtraBytesType::I64:
        raw = static_cast<double>(static_cast<std::int64_t>(U64(p)));
        break;
    case ELasExtraBytesType::F32:
    {
        const std::uint32_t bits = U32(p);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        raw = f;
        break;
    }
    case ELasExtraBytesType::F64:
        raw = F64(p);
        break;
    default:
        return std::nullopt; // opaque bytes
    }
    return raw * dim.scale + dim.offset;
}

// Decodes records into the columns of a block, a column at a time: what each field needs (its
// place in the format, the key's value type) is settled once per read, so a column is one tight
// loop over the records, with no look-up of the key and no optional per value.
class BlockDecoder
{
public:
    BlockDecoder(const LasHeader& header, const LasFieldMap& fields, double colorScale,
                 unsigned colorShift)
        : m_header(header), m_extended(kRecordLayouts[header.pointFormat].extended),
          m_colorScale(colorScale), m_colorShift(colorShift), m_block(Layout(fields))
    {
        const RecordLayout& layout = kRecordLayouts[header.pointFormat];
        for (std::size_t k = 0; k < fields.size(); ++k)
        {
            const LasFieldKey& entry = fields[k];
            Column column{KindOf(entry, layout),
                          entry.key.component,
                          SlotOf(entry.field, layout),
                          entry.extraBytes,
                          m_block.MutableColumns()[k].values,
                          m_block.MutableColumns()[k].present};
            m_columns.push_back(column);
        }
    }

    // The block of records [first, first + n) of the file, at `records`.
    const PointDataBlock& Decode(const std::uint8_t* records, std::size_t n, std::uint64_t first)
    {
        const std::size_t length = m_header.recordLength;
        const std::array<double, 3> scale = m_header.scale, offset = m_header.offset;
        double* x = m_block.MutableX();
        double* y = m_block.MutableY();
        double* z = m_block.MutableZ();
        std::uint64_t* indices = m_block.MutablePointIndices();
        for (std::size_t i = 0; i < n; ++i)
        {
            const std::uint8_t* r = records + i * length;
            x[i] = I32(r) * scale[0] + offset[0];
            y[i] = I32(r + 4) * scale[1] + offset[1];
            z[i] = I32(r + 8) * scale[2] + offset[2];
            indices[i] = first + i;
        }
        for (const Column& column : m_columns)
        {
            switch (column.component)
            {
            case EPointDataComponent::UnsignedInteger:
                Fill<std::uint64_t>(column, records, n, first);
                break;
            case EPointDataComponent::SignedInteger:
                Fill<std::int64_t>(column, records, n, first);
                break;
            case EPointDataComponent::Real:
                Fill<double>(column, records, n, first);
                break;
            case EPointDataComponent::Color:
                FillColor(column, records, n);
                break;
            default:
                break; // CheckFieldMap allows no other component
            }
        }
        m_block.SetSize(n);
        return m_block;
    }

private:
    // How a column is decoded. Absent: the format lacks the field, or the component cannot carry
    // it; the block's column then stays zero and absent, as it was made.
    enum class Kind : std::uint8_t
    {
        Absent,
        Slot, // an integer of 1 or 2 bytes, masked and shifted
        RecordNumber,
        ScanAngle,
        GpsTime,
        Rgb,
        ExtraBytes,
    };
    struct Column
    {
        Kind kind;
        EPointDataComponent component;
        FieldSlot slot;
        std::uint8_t extraBytes;
        void* values;
        std::uint8_t* present;
    };

    static PointDataBlockLayout Layout(const LasFieldMap& fields)
    {
        PointDataBlockLayout layout{true, true, {}};
        for (const LasFieldKey& entry : fields)
            layout.keys.push_back(entry.key);
        return layout;
    }

    Kind KindOf(const LasFieldKey& entry, const RecordLayout& layout) const
    {
        const bool real = entry.key.component == EPointDataComponent::Real;
        switch (entry.field)
        {
        case ELasField::RecordNumber:
            return Kind::RecordNumber;
        case ELasField::ExtraBytes:
            return entry.extraBytes < m_header.extraBytes.size() ? Kind::ExtraBytes : Kind::Absent;
        case ELasField::ScanAngle:
            return Kind::ScanAngle;
        case ELasField::GpsTime:
            return real && layout.gpsAt != 0 ? Kind::GpsTime : Kind::Absent;
        case ELasField::Rgb:
            return entry.key.component == EPointDataComponent::Color && layout.rgbAt != 0
                       ? Kind::Rgb
                       : Kind::Absent;
        default:
            return SlotOf(entry.field, layout).width != 0 ? Kind::Slot : Kind::Absent;
        }
    }

    // Sets values[i] = T(value(record i, its ordinal)) for the block's n points, all present.
    template <class T, class Value>
    static void Each(const Column& column, const std::uint8_t* records, std::size_t length,
                     std::size_t n, std::uint64_t first, Value value)
    {
        T* values = static_cast<T*>(column.values);
        for (std::size_t i = 0; i < n; ++i)
            values[i] = static_cast<T>(value(records + i * length, first + i));
        std::memset(column.present, 1, n);
    }

    template <class T>
    void Fill(const Column& column, const std::uint8_t* records, std::size_t n,
              std::uint64_t first) const
    {
        const std::size_t length = m_header.recordLength;
        const FieldSlot slot = column.slot;
        const std::uint64_t mask = slot.mask != 0 ? slot.mask : ~std::uint64_t{0};
        switch (column.kind)
        {
        case Kind::Slot:
            if (slot.width == 1)
                Each<T>(column, records, length, n, first,
                        [&](const std::uint8_t* r, std::uint64_t)
                        { return (std::uint64_t{r[slot.at]} >> slot.shift) & mask; });
            else
                Each<T>(column, records, length, n, first,
                        [&](const std::uint8_t* r, std::uint64_t)
                        { return (std::uint64_t{U16(r + slot.at)} >> slot.shift) & mask; });
            break;
        case Kind::RecordNumber:
            Each<T>(column, records, length, n, first,
                    [](const std::uint8_t*, std::uint64_t index) { return index; });
            break;
        case Kind::ScanAngle:
            Each<T>(column, records, length, n, first,
                    [&](const std::uint8_t* r, std::uint64_t)
                    { return ScanAngleDegrees(r, m_extended); });
            break;
        case Kind::GpsTime:
            Each<T>(column, records, length, n, first,
                    [&](const std::uint8_t* r, std::uint64_t) { return F64(r + slot.at); });
            break;
        case Kind::ExtraBytes:
        {
            const LasExtraBytesDimension& dim = m_header.extraBytes[column.extraBytes];
            T* values = static_cast<T*>(column.values);
            for (std::size_t i = 0; i < n; ++i)
            {
                const std::optional<double> value = ExtraBytesValue(dim, records + i * length);
                values[i] = value ? static_cast<T>(*value) : T{};
                column.present[i] = value ? 1 : 0;
            }
            break;
        }
        default:
            break; // Absent (Rgb only on Color)
        }
    }

    void FillColor(const Column& column, const std::uint8_t* records, std::size_t n) const
    {
        if (column.kind != Kind::Rgb)
            return;
        const std::size_t length = m_header.recordLength;
        const std::size_t at = column.slot.at;
        const auto channel = [&](const std::uint8_t* p)
        { return (U16(p) >> m_colorShift) / m_colorScale; };
        auto* values = static_cast<orv::DataProxy::RgbaColor*>(column.values);
        for (std::size_t i = 0; i < n; ++i)
        {
            const std::uint8_t* rgb = records + i * length + at;
            values[i] = {channel(rgb), channel(rgb + 2), channel(rgb + 4), 1.0};
        }
        std::memset(column.present, 1, n);
    }

    const LasHeader& m_header;
    bool m_extended;
    double m_colorScale;
    unsigned m_colorShift;
    PointDataBlock m_block;
    std::vector<Column> m_columns;
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

const std::uint8_t* LasReader::Bytes(std::uint64_t at, std::size_t count,
                                     std::vector<std::uint8_t>& buffer) const
{
    return m_source->Fetch(at, count, buffer);
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

    BlockDecoder decoder(h, fields, colorScale, colorShift);
    // A block at a time: a builder that takes blocks stages each column in one pass; any other
    // gets AddPointData per point, the same values either way.
    builder.Reserve(h.pointCount);
    ForEachChunk(*m_source, h, options.chunkBytes,
                 [&](const std::uint8_t* records, std::size_t count, std::uint64_t done)
                 {
                     for (std::size_t first = 0; first < count; first += PointDataBlock::kCapacity)
                     {
                         const std::size_t n = std::min(PointDataBlock::kCapacity, count - first);
                         AppendBlock(builder, decoder.Decode(records + first * h.recordLength, n,
                                                             done + first));
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
