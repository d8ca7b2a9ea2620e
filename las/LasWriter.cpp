#include "las/LasWriter.h"

#include "las/LasReader.h"
#include "las/internal/LasRecordLayout.h"

#include "blocks/PointDataBlocks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace orv::DataProxy::Las
{

using namespace Detail;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::PointDataBlock;
using Key = orv::DataProxy::PointDataComponents::ComponentKey;

namespace
{

constexpr std::uint16_t kLasWkt = 0x10; // global encoding: the coordinate system is WKT
constexpr std::size_t kRecordsPerWrite = 1 << 16;
constexpr std::uint64_t kProgressEvery = 1 << 18;
constexpr std::size_t kExtraBytesDescriptorSize = 192;
constexpr double kFloatStep = 1.0 / 8388608.0; // 2^-23: a float's step relative to its value

// One column of a block as the encoder reads it, found once per block.
struct Column
{
    EPointDataComponent component = EPointDataComponent::Real;
    const void* values = nullptr;
    const std::uint8_t* present = nullptr;

    bool Has(std::size_t at) const { return present != nullptr && present[at] != 0; }
    template <class T>
    const T& Get(std::size_t at) const
    {
        return static_cast<const T*>(values)[at];
    }
    // The value as a number, whatever its component (Real, or an integer one).
    double Number(std::size_t at) const
    {
        switch (component)
        {
        case EPointDataComponent::UnsignedInteger:
            return static_cast<double>(Get<std::uint64_t>(at));
        case EPointDataComponent::SignedInteger:
            return static_cast<double>(Get<std::int64_t>(at));
        default:
            return Get<double>(at);
        }
    }
};

Column Resolve(const PointDataBlock& block, Key key)
{
    Column column{key.component, nullptr, nullptr};
    VisitExtraDataComponent(key.component,
                            [&](auto c)
                            {
                                const auto from = block.Column<decltype(c)::value>(key.index);
                                column.values = from.values;
                                column.present = from.present;
                            });
    return column;
}

// Rounded to the nearest integer and saturated to [lo, hi]; NaN gives 0.
std::int64_t Saturate(double value, double lo, double hi)
{
    if (std::isnan(value))
        return 0;
    value = std::min(std::max(value, lo), hi);
    return static_cast<std::int64_t>(value + (value >= 0.0 ? 0.5 : -0.5));
}

// One dimension written from a key: its place in the record and how a value is stored.
struct ExtraOut
{
    std::string name;
    std::string description;
    ELasExtraBytesType dataType; // U16 (colour channels), U64, I64 or F64
    std::size_t key;             // in the extra keys
    std::uint8_t part;           // Vector3 and Color: which of the three
    std::uint16_t at = 0;
};

std::vector<ExtraOut> PlanExtraBytes(const std::vector<LasExtraBytesKey>& keys)
{
    std::vector<ExtraOut> out;
    for (std::size_t k = 0; k < keys.size(); ++k)
    {
        const LasExtraBytesKey& entry = keys[k];
        const auto add = [&](std::string name, ELasExtraBytesType type, std::uint8_t part)
        {
            if (name.empty() || name.size() > 32 || entry.description.size() > 32)
                throw std::invalid_argument("extra bytes \"" + name +
                                            "\": a name of 1 to 32 bytes and a description of "
                                            "at most 32 are needed");
            out.push_back({std::move(name), entry.description, type, k, part});
        };
        switch (entry.key.component)
        {
        case EPointDataComponent::UnsignedInteger:
            add(entry.name, ELasExtraBytesType::U64, 0);
            break;
        case EPointDataComponent::SignedInteger:
            add(entry.name, ELasExtraBytesType::I64, 0);
            break;
        case EPointDataComponent::Real:
            add(entry.name, ELasExtraBytesType::F64, 0);
            break;
        case EPointDataComponent::Vector3:
            for (std::uint8_t part = 0; part < 3; ++part)
                add(entry.name + "_" + "xyz"[part], ELasExtraBytesType::F64, part);
            break;
        case EPointDataComponent::Color:
            for (std::uint8_t part = 0; part < 3; ++part)
                add(entry.name + "_" + "rgb"[part], ELasExtraBytesType::U16, part);
            break;
        default:
            throw std::invalid_argument("extra bytes \"" + entry.name +
                                        "\": only extra-data keys can be written");
        }
    }
    return out;
}

// The descriptor of one written dimension in the extra-bytes record, "no data" declared.
void Describe(const ExtraOut& d, std::vector<std::uint8_t>& payload)
{
    std::uint8_t p[kExtraBytesDescriptorSize] = {};
    p[2] = static_cast<std::uint8_t>(d.dataType);
    p[3] = 0x01; // no_data is set
    std::memcpy(p + 4, d.name.data(), d.name.size());
    if (d.dataType == ELasExtraBytesType::U16)
        PutU16(p + 40, 0xFFFF);
    else if (d.dataType == ELasExtraBytesType::U64)
        PutU64(p + 40, ~std::uint64_t{0});
    else if (d.dataType == ELasExtraBytesType::I64)
        PutU64(p + 40, std::uint64_t{1} << 63);
    else
        PutF64(p + 40, std::numeric_limits<double>::quiet_NaN());
    std::memcpy(p + 160, d.description.data(), d.description.size());
    payload.insert(payload.end(), p, p + sizeof p);
}

// The source's records, fetched a window at a time (a clip keeps the file's order); from a
// source in memory, the window is the memory itself, not a copy.
class SourceRecords
{
public:
    explicit SourceRecords(const LasReader& reader)
        : m_reader(reader), m_length(reader.Header().recordLength),
          m_window(std::max<std::size_t>(1, (std::size_t{4} << 20) / m_length))
    {
    }
    const std::uint8_t* Record(std::uint64_t i)
    {
        if (i < m_first || i >= m_first + m_count)
        {
            const LasHeader& h = m_reader.Header();
            m_first = i;
            m_count = static_cast<std::size_t>(std::min<std::uint64_t>(m_window, h.pointCount - i));
            m_records =
                m_reader.Bytes(h.offsetToPointData + i * m_length, m_count * m_length, m_bytes);
        }
        return m_records + (i - m_first) * m_length;
    }

private:
    const LasReader& m_reader;
    std::size_t m_length;
    std::size_t m_window;
    std::uint64_t m_first = 0;
    std::size_t m_count = 0;
    const std::uint8_t* m_records = nullptr; // the window
    std::vector<std::uint8_t> m_bytes;       // its bytes, read from a file
};

// What the records look like and where they come from.
struct Plan
{
    std::uint8_t format = 6;
    std::uint8_t minor = 4;
    std::uint16_t length = 0;
    std::uint16_t extraAt = 0; // the first byte of the written extra bytes
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    std::optional<std::array<double, 3>> tolerance;
    std::vector<ExtraOut> extras;
};

// Encodes points into records, keeping what the header needs: the coordinate bounds and the
// counts by return.
class RecordEncoder
{
public:
    RecordEncoder(const std::string& path, const LasFieldMap& fields,
                  const std::vector<LasExtraBytesKey>& extraKeys, const Plan& plan,
                  const LasReader* source)
        : m_path(path), m_fields(fields), m_extraKeys(extraKeys), m_plan(plan),
          m_layout(kRecordLayouts[plan.format]), m_columns(fields.size()),
          m_extraColumns(extraKeys.size()), m_perStep{1.0 / plan.scale[0], 1.0 / plan.scale[1],
                                                      1.0 / plan.scale[2]}
    {
        for (std::size_t k = 0; k < fields.size(); ++k)
            m_slots.push_back(SlotOf(fields[k].field, m_layout));
        if (source == nullptr)
            return;
        m_source = source;
        m_records.emplace(*source);
        m_sourceHeader = &source->Header();
        m_sourceLayout = &kRecordLayouts[m_sourceHeader->pointFormat];
        m_sameFormat = m_sourceHeader->pointFormat == plan.format;
        m_sourceScale = m_sourceHeader->scale;
        m_sourceOffset = m_sourceHeader->offset;
        m_reexpress = m_sourceScale != plan.scale || m_sourceOffset != plan.offset;
        m_fixedTolerance = plan.tolerance.has_value();
        m_tolerance = plan.tolerance.value_or(plan.scale);
        m_eightBit = source->EightBitColors();
        const auto recordKey = fields.KeyOf(ELasField::RecordNumber);
        for (std::size_t k = 0; k < fields.size(); ++k)
            if (recordKey && fields[k].field == ELasField::RecordNumber)
                m_recordColumn = k;
    }

    void Bind(const PointDataBlock& block)
    {
        m_block = &block;
        for (std::size_t k = 0; k < m_fields.size(); ++k)
            m_columns[k] = Resolve(block, m_fields[k].key);
        for (std::size_t k = 0; k < m_extraKeys.size(); ++k)
            m_extraColumns[k] = Resolve(block, m_extraKeys[k].key);
    }

    // Encodes the bound block's points into `n` consecutive records at `out`, a step at a time
    // over all of them: each record starts as its source's copy (or zeros, with one return),
    // then the positions, then each field's column in one loop, then the extra bytes, the
    // bounds and the counts by return.
    void EncodeBlock(std::size_t n, std::uint8_t* out)
    {
        const std::size_t length = m_plan.length;
        const PointDataBlock& block = *m_block;
        for (std::size_t at = 0; at < n; ++at)
        {
            std::uint8_t* r = out + at * length;
            const GPointDouble p{block.X()[at], block.Y()[at], block.Z()[at]};
            const std::uint8_t* src = SourceRecord(at);
            m_copied[at] = src != nullptr;
            bool keepPosition = false;
            if (src != nullptr)
            {
                Copy(src, r);
                keepPosition = Unmoved(src, p, r, at);
                ++m_summary.copiedRecords;
            }
            else
            {
                std::fill(r, r + length, std::uint8_t{0});
                WriteSlot(r, SlotOf(ELasField::ReturnNumber, m_layout), 1);
                WriteSlot(r, SlotOf(ELasField::NumberOfReturns, m_layout), 1);
            }
            if (!keepPosition)
                EncodePosition(p, r, at);
        }
        for (std::size_t k = 0; k < m_fields.size(); ++k)
            EncodeColumn(k, n, out);
        for (std::size_t at = 0; at < n && !m_plan.extras.empty(); ++at)
            for (const ExtraOut& d : m_plan.extras)
                EncodeExtra(d, at, out + at * length + d.at);
        const FieldSlot returns = SlotOf(ELasField::ReturnNumber, m_layout);
        for (std::size_t at = 0; at < n; ++at)
        {
            const std::uint8_t* r = out + at * length;
            for (std::size_t axis = 0; axis < 3; ++axis)
            {
                const std::int32_t stored = I32(r + 4 * axis);
                m_min[axis] = std::min(m_min[axis], stored);
                m_max[axis] = std::max(m_max[axis], stored);
            }
            const auto returnNumber = ReadSlot(r, returns);
            if (returnNumber >= 1)
                ++m_summary.pointsByReturn[returnNumber - 1];
        }
        m_summary.pointCount += n;
    }

    // The summary, with the bounds of the stored coordinates.
    const LasWriteSummary& Finish()
    {
        for (std::size_t axis = 0; axis < 3 && m_summary.pointCount != 0; ++axis)
        {
            m_summary.min[axis] = m_min[axis] * m_plan.scale[axis] + m_plan.offset[axis];
            m_summary.max[axis] = m_max[axis] * m_plan.scale[axis] + m_plan.offset[axis];
        }
        m_summary.scale = m_plan.scale;
        m_summary.offset = m_plan.offset;
        m_summary.pointFormat = m_plan.format;
        m_summary.versionMinor = m_plan.minor;
        m_summary.recordLength = m_plan.length;
        return m_summary;
    }

private:
    const std::uint8_t* SourceRecord(std::size_t at)
    {
        if (!m_records || m_recordColumn == kNone || !m_columns[m_recordColumn].Has(at))
            return nullptr;
        const Column& c = m_columns[m_recordColumn];
        const double number = c.Number(at);
        if (!(number >= 0.0 && number < static_cast<double>(m_sourceHeader->pointCount)))
            (Failure(m_path) << "point " << m_summary.pointCount + at << " gives record number "
                             << number << ", which " << m_source->Name() << " ("
                             << m_sourceHeader->pointCount << " points) does not have")
                .Throw();
        return m_records->Record(static_cast<std::uint64_t>(number));
    }

    // The source record in the output's format: the bytes as they are when the format is the
    // same, else field by field through the one table.
    void Copy(const std::uint8_t* src, std::uint8_t* r) const
    {
        const LasHeader& sh = *m_sourceHeader;
        if (m_sameFormat)
        {
            std::memcpy(r, src, sh.recordLength);
            std::fill(r + sh.recordLength, r + m_plan.length, std::uint8_t{0});
            return;
        }
        std::fill(r, r + m_plan.length, std::uint8_t{0});
        std::memcpy(r, src, 12);
        const RecordLayout& from = *m_sourceLayout;
        for (const ELasField field : kRecordFields)
        {
            const FieldSlot out = SlotOf(field, m_layout), in = SlotOf(field, from);
            if (out.width != 0 && in.width != 0)
                WriteSlot(r, out, ReadSlot(src, in));
        }
        if (m_layout.extended && !from.extended) // a whole-degree rank to steps of 0.006
            WriteSlot(r, SlotOf(ELasField::ScanAngle, m_layout),
                      static_cast<std::uint16_t>(static_cast<std::int16_t>(
                          Saturate(ScanAngleDegrees(src, false) / kScanAngleStep, -32768, 32767))));
        for (const ELasField field : {ELasField::GpsTime, ELasField::Rgb, ELasField::Nir})
        {
            const FieldSlot out = SlotOf(field, m_layout), in = SlotOf(field, from);
            if (out.width != 0 && in.width != 0)
                std::memcpy(r + out.at, src + in.at, in.width);
        }
        const bool sourceWaves = sh.pointFormat == 4 || sh.pointFormat == 5 || sh.pointFormat >= 9;
        const bool outWaves = m_plan.format >= 9;
        if (sourceWaves && outWaves)
            std::memcpy(r + m_layout.length - kWavePacketSize, src + from.length - kWavePacketSize,
                        kWavePacketSize);
        std::memcpy(r + m_layout.length, src + from.length, sh.recordLength - from.length);
    }

    // Whether the provider's position is the source record's, within the tolerance: then
    // the source's coordinates are written, re-expressed when scale or offset changed.
    bool Unmoved(const std::uint8_t* src, const GPointDouble& p, std::uint8_t* r, std::size_t at)
    {
        const double xyz[3] = {p.x, p.y, p.z};
        double exact[3];
        bool unmoved = true;
        for (std::size_t axis = 0; axis < 3; ++axis)
        {
            exact[axis] = I32(src + 4 * axis) * m_sourceScale[axis] + m_sourceOffset[axis];
            const double tolerance =
                m_fixedTolerance ? m_tolerance[axis]
                                 : std::max(m_tolerance[axis], std::abs(exact[axis]) * kFloatStep);
            unmoved &= std::abs(xyz[axis] - exact[axis]) <= tolerance;
        }
        if (unmoved && m_reexpress)
            EncodePosition({exact[0], exact[1], exact[2]}, r, at);
        return unmoved;
    }

    void EncodePosition(const GPointDouble& p, std::uint8_t* r, std::size_t at) const
    {
        const double xyz[3] = {p.x, p.y, p.z};
        for (std::size_t axis = 0; axis < 3; ++axis)
        {
            const double steps = (xyz[axis] - m_plan.offset[axis]) * m_perStep[axis];
            if (!(steps > -2147483648.5 && steps < 2147483647.5))
                Unfit(p, m_summary.pointCount + at);
            PutU32(r + 4 * axis, static_cast<std::uint32_t>(static_cast<std::int32_t>(
                                     Saturate(steps, -2147483648.0, 2147483647.0))));
        }
    }

    // Field k of the n records at `out`, from its column: one loop over the points that have a
    // value, chosen once for the field (and the column's value type).
    void EncodeColumn(std::size_t k, std::size_t n, std::uint8_t* out) const
    {
        const Column& c = m_columns[k];
        const FieldSlot slot = m_slots[k];
        const std::size_t length = m_plan.length;
        if (c.present == nullptr || (slot.width == 0 && m_fields[k].field != ELasField::ScanAngle))
            return;
        const auto each = [&](auto encode)
        {
            for (std::size_t at = 0; at < n; ++at)
                if (c.present[at] != 0)
                    encode(at, out + at * length);
        };
        // The column's values as numbers, read with their own type.
        const auto numbers = [&](auto encode)
        {
            switch (c.component)
            {
            case EPointDataComponent::UnsignedInteger:
                each([&](std::size_t at, std::uint8_t* r)
                     { encode(static_cast<double>(c.Get<std::uint64_t>(at)), r); });
                break;
            case EPointDataComponent::SignedInteger:
                each([&](std::size_t at, std::uint8_t* r)
                     { encode(static_cast<double>(c.Get<std::int64_t>(at)), r); });
                break;
            default:
                each([&](std::size_t at, std::uint8_t* r) { encode(c.Get<double>(at), r); });
            }
        };
        switch (m_fields[k].field)
        {
        case ELasField::Rgb:
            each([&](std::size_t at, std::uint8_t* r)
                 { EncodeColor(c.Get<RgbaColor>(at), m_copied[at], r + slot.at); });
            return;
        case ELasField::RecordNumber:
        case ELasField::ExtraBytes:
            return;
        case ELasField::ScanAngle:
            if (m_layout.extended)
                numbers(
                    [&](double degrees, std::uint8_t* r)
                    {
                        WriteSlot(r, slot,
                                  static_cast<std::uint16_t>(static_cast<std::int16_t>(
                                      Saturate(degrees / kScanAngleStep, -30000.0, 30000.0))));
                    });
            else
                numbers(
                    [&](double degrees, std::uint8_t* r)
                    {
                        r[slot.at] = static_cast<std::uint8_t>(
                            static_cast<std::int8_t>(Saturate(degrees, -90.0, 90.0)));
                    });
            return;
        case ELasField::GpsTime:
            numbers([&](double time, std::uint8_t* r) { PutF64(r + slot.at, time); });
            return;
        default:
        {
            const double top = slot.mask != 0 ? slot.mask : slot.width == 1 ? 255 : 65535;
            if (slot.mask == 0 && slot.width == 2) // intensity, point source id, NIR
                numbers([&](double v, std::uint8_t* r)
                        { PutU16(r + slot.at, static_cast<std::uint16_t>(Saturate(v, 0, top))); });
            else if (slot.mask == 0)
                numbers([&](double v, std::uint8_t* r)
                        { r[slot.at] = static_cast<std::uint8_t>(Saturate(v, 0, top)); });
            else
                numbers([&](double v, std::uint8_t* r)
                        { WriteSlot(r, slot, static_cast<std::uint64_t>(Saturate(v, 0, top))); });
        }
        }
    }

    // The source's channels (already copied into the record, at `rgb`, when `copied` and the
    // source has them) while the provider's color is what the host kept of them.
    void EncodeColor(const RgbaColor& color, bool copied, std::uint8_t* rgb) const
    {
        const double channels[3] = {color.r, color.g, color.b};
        const bool sourceRgb = copied && m_sourceLayout->rgbAt != 0;
        if (sourceRgb)
        {
            const unsigned shift = m_eightBit ? 0 : 8;
            bool same = true;
            for (std::size_t c = 0; c < 3; ++c)
                same &= Saturate(channels[c] * 255.0, 0, 255) == U16(rgb + 2 * c) >> shift;
            if (same)
                return;
        }
        const double top = m_eightBit && sourceRgb ? 255.0 : 65535.0;
        for (std::size_t c = 0; c < 3; ++c)
            PutU16(rgb + 2 * c, static_cast<std::uint16_t>(Saturate(channels[c] * top, 0, top)));
    }

    void EncodeExtra(const ExtraOut& d, std::size_t at, std::uint8_t* p) const
    {
        const Column& c = m_extraColumns[d.key];
        const bool has = c.Has(at);
        switch (d.dataType)
        {
        case ELasExtraBytesType::U16:
        {
            const RgbaColor* color = has ? &c.Get<RgbaColor>(at) : nullptr;
            const double channels[3] = {color ? color->r : 0, color ? color->g : 0,
                                        color ? color->b : 0};
            PutU16(p, color ? static_cast<std::uint16_t>(
                                  Saturate(channels[d.part] * 65535.0, 0, 65534))
                            : 0xFFFF);
            return;
        }
        case ELasExtraBytesType::U64:
            PutU64(p, has ? c.Get<std::uint64_t>(at) : ~std::uint64_t{0});
            return;
        case ELasExtraBytesType::I64:
            PutU64(p, has ? static_cast<std::uint64_t>(c.Get<std::int64_t>(at))
                          : std::uint64_t{1} << 63);
            return;
        default:
        {
            double value = std::numeric_limits<double>::quiet_NaN();
            if (has && c.component == EPointDataComponent::Vector3)
            {
                const GVector3& v = c.Get<GVector3>(at);
                value = d.part == 0 ? v.x : d.part == 1 ? v.y : v.z;
            }
            else if (has)
                value = c.Get<double>(at);
            PutF64(p, value);
        }
        }
    }

    [[noreturn]] void Unfit(const GPointDouble& p, std::uint64_t point) const
    {
        (Failure(m_path) << "point " << point << " at (" << p.x << ", " << p.y << ", " << p.z
                         << ") does not fit 32-bit coordinates with scale (" << m_plan.scale[0]
                         << ", " << m_plan.scale[1] << ", " << m_plan.scale[2] << ") and offset ("
                         << m_plan.offset[0] << ", " << m_plan.offset[1] << ", " << m_plan.offset[2]
                         << ")")
            .Throw();
    }

    static constexpr std::size_t kNone = ~std::size_t{0};
    const std::string& m_path;
    const LasFieldMap& m_fields;
    const std::vector<LasExtraBytesKey>& m_extraKeys;
    const Plan& m_plan;
    const RecordLayout& m_layout;
    std::vector<FieldSlot> m_slots; // one per field
    std::vector<Column> m_columns;  // one per field, in the map's order
    std::vector<Column> m_extraColumns;
    const PointDataBlock* m_block = nullptr;
    std::array<bool, PointDataBlock::kCapacity> m_copied{}; // per point: from a source record
    std::array<double, 3> m_perStep; // a multiplication per coordinate, not a division
    const LasReader* m_source = nullptr;
    std::optional<SourceRecords> m_records;
    const LasHeader* m_sourceHeader = nullptr;
    const RecordLayout* m_sourceLayout = nullptr;
    bool m_sameFormat = false;
    // Unmoved: the source's coordinates, whether they are written re-expressed (another scale
    // or offset), and the tolerance per axis (given, or at least the scale).
    std::array<double, 3> m_sourceScale{}, m_sourceOffset{}, m_tolerance{};
    bool m_reexpress = false;
    bool m_fixedTolerance = false;
    bool m_eightBit = false;
    std::size_t m_recordColumn = kNone;
    std::array<std::int32_t, 3> m_min{std::numeric_limits<std::int32_t>::max(),
                                      std::numeric_limits<std::int32_t>::max(),
                                      std::numeric_limits<std::int32_t>::max()};
    std::array<std::int32_t, 3> m_max{std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::min()};
    LasWriteSummary m_summary;
};

// The minimum corner of the provider's box, or of its positions; 0 without points.
std::array<double, 3> MinimumCorner(const orv::DataProxy::IPointDataProvider& provider,
                                    const LasFieldMap& fields)
{
    if (const auto* boxed = dynamic_cast<const orv::DataProxy::IBoundingBoxProvider*>(&provider))
    {
        const auto box = boxed->GetBoundingBox();
        const std::array<double, 3> corner{std::min(box.firstCorner.x, box.secondCorner.x),
                                           std::min(box.firstCorner.y, box.secondCorner.y),
                                           std::min(box.firstCorner.z, box.secondCorner.z)};
        if (std::all_of(corner.begin(), corner.end(), [](double v) { return std::isfinite(v); }))
            return corner;
    }
    const double inf = std::numeric_limits<double>::infinity();
    std::array<double, 3> lo{inf, inf, inf};
    const FieldConsumer positions(fields, /*positionOnly=*/true);
    const auto iterable = provider.GetIterable(positions);
    ForEachBlock(*iterable, positions,
                 [&](const PointDataBlock& block)
                 {
                     for (std::size_t i = 0; i < block.Size(); ++i)
                         lo = {std::min(lo[0], block.X()[i]), std::min(lo[1], block.Y()[i]),
                               std::min(lo[2], block.Z()[i])};
                 });
    for (double& v : lo)
        v = std::isfinite(v) ? v : 0.0;
    return lo;
}

// The smallest format of 6 to 10 that holds the source's fields and the mapped ones.
std::uint8_t ExtendedFormat(bool rgb, bool nir, bool waves)
{
    if (waves)
        return rgb || nir ? 10 : 9;
    return nir ? 8 : rgb ? 7 : 6;
}

Plan MakePlan(const std::string& path, const orv::DataProxy::IPointDataProvider& provider,
              const LasFieldMap& fields, const LasWriteOptions& options)
{
    Plan plan;
    const LasHeader* source = options.source ? &options.source->Header() : nullptr;
    const auto maps = [&](ELasField field) { return fields.KeyOf(field).has_value(); };
    std::uint16_t sourceExtra = 0;
    if (source == nullptr)
        plan.format = ExtendedFormat(maps(ELasField::Rgb), maps(ELasField::Nir), false);
    else
    {
        const RecordLayout& from = kRecordLayouts[source->pointFormat];
        const bool rgb = maps(ELasField::Rgb) || from.rgbAt != 0;
        const bool nir = maps(ELasField::Nir) || from.nirAt != 0;
        const bool gps = maps(ELasField::GpsTime) || from.gpsAt != 0;
        const bool channel =
            maps(ELasField::ScannerChannel) || maps(ELasField::ClassificationFlags);
        const bool holds = (!rgb || from.rgbAt != 0) && (!nir || from.nirAt != 0) &&
                           (!gps || from.gpsAt != 0) && (!channel || from.extended);
        const bool waves =
            source->pointFormat == 4 || source->pointFormat == 5 || source->pointFormat >= 9;
        plan.format = holds ? source->pointFormat : ExtendedFormat(rgb, nir, waves);
        plan.minor = plan.format >= 6 ? 4 : source->versionMinor;
        sourceExtra = static_cast<std::uint16_t>(source->recordLength - from.length);
    }
    plan.extraAt = static_cast<std::uint16_t>(kRecordLayouts[plan.format].length + sourceExtra);
    plan.extras = PlanExtraBytes(options.extraBytes);
    std::size_t length = plan.extraAt;
    for (ExtraOut& d : plan.extras)
    {
        d.at = static_cast<std::uint16_t>(length);
        length += LasExtraBytesWidth(static_cast<std::uint8_t>(d.dataType));
    }
    if (length > 0xFFFF)
        throw std::invalid_argument("the extra bytes make records longer than 65535 bytes");
    plan.length = static_cast<std::uint16_t>(length);

    plan.scale = options.scale ? *options.scale
                 : source      ? source->scale
                               : std::array<double, 3>{0.001, 0.001, 0.001};
    for (const double step : plan.scale)
        if (!(std::isfinite(step) && step > 0.0))
            (Failure(path) << "scale " << step << " is not a finite, positive number").Throw();
    if (options.offset)
        plan.offset = *options.offset;
    else if (source != nullptr)
        plan.offset = source->offset;
    else
    {
        const std::array<double, 3> corner = MinimumCorner(provider, fields);
        for (std::size_t axis = 0; axis < 3; ++axis)
        {
            const double grid = std::ldexp(plan.scale[axis], 20);
            plan.offset[axis] = std::floor(corner[axis] / grid) * grid;
        }
    }
    for (const double v : plan.offset)
        if (!std::isfinite(v))
            (Failure(path) << "offset " << v << " is not finite").Throw();
    plan.tolerance = options.positionTolerance;
    return plan;
}

// The VLRs of the output: the source's, those of the coordinate system first, and the
// extra-bytes record, the source's dimensions followed by the written ones.
std::vector<LasVlr> MakeVlrs(const LasHeader* source, const Plan& plan)
{
    std::vector<LasVlr> vlrs;
    std::vector<std::uint8_t> extraBytes;
    if (source != nullptr)
    {
        for (const bool coordinateSystem : {true, false})
            for (const LasVlr& vlr : source->vlrs)
            {
                if (vlr.userId == "LASF_Spec" && vlr.recordId == 4)
                {
                    if (!coordinateSystem)
                        extraBytes = vlr.payload;
                }
                else if (vlr.IsCoordinateSystem() == coordinateSystem)
                    vlrs.push_back(vlr);
            }
    }
    for (const ExtraOut& d : plan.extras)
        Describe(d, extraBytes);
    if (!extraBytes.empty())
    {
        LasVlr vlr;
        vlr.userId = "LASF_Spec";
        vlr.recordId = 4;
        vlr.description = "Extra bytes";
        vlr.payload = std::move(extraBytes);
        vlrs.push_back(std::move(vlr));
    }
    return vlrs;
}

std::vector<std::uint8_t> VlrBytes(const std::vector<LasVlr>& vlrs)
{
    std::vector<std::uint8_t> bytes;
    for (const LasVlr& vlr : vlrs)
    {
        std::uint8_t head[kVlrHeaderSize] = {};
        std::memcpy(head + 2, vlr.userId.data(), std::min<std::size_t>(16, vlr.userId.size()));
        PutU16(head + 18, vlr.recordId);
        PutU16(head + 20, static_cast<std::uint16_t>(vlr.payload.size()));
        std::memcpy(head + 22, vlr.description.data(),
                    std::min<std::size_t>(32, vlr.description.size()));
        bytes.insert(bytes.end(), head, head + sizeof head);
        bytes.insert(bytes.end(), vlr.payload.begin(), vlr.payload.end());
    }
    return bytes;
}

// Year and day of the year (1 to 366) of today, in UTC.
std::pair<unsigned, unsigned> Today()
{
    using namespace std::chrono;
    auto days = duration_cast<hours>(system_clock::now().time_since_epoch()).count() / 24;
    unsigned year = 1970;
    for (;;)
    {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const int length = leap ? 366 : 365;
        if (days < length)
            break;
        days -= length;
        ++year;
    }
    return {year, static_cast<unsigned>(days) + 1};
}

// The names of the temporary files being written, for RemoveUnfinishedFiles: fixed slots, so
// that a signal handler reads them without allocating or locking.
constexpr std::size_t kUnfinishedSlots = 16;
constexpr std::size_t kUnfinishedNameBytes = 4096;
std::atomic<bool> g_unfinishedUsed[kUnfinishedSlots];
char g_unfinishedNames[kUnfinishedSlots][kUnfinishedNameBytes];

// The file under its temporary name; removed unless Commit renamed it.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::string& target) : m_target(target)
    {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".partial-%llx-%x",
                      static_cast<unsigned long long>(stamp), counter++);
        m_name = target + suffix;
        m_file = std::fopen(m_name.c_str(), "wb");
        if (m_file == nullptr)
            Fail("cannot create the temporary file " + m_name);
        for (std::size_t i = 0; i < kUnfinishedSlots && m_name.size() < kUnfinishedNameBytes; ++i)
        {
            bool expected = false;
            if (g_unfinishedUsed[i].load() ||
                !g_unfinishedUsed[i].compare_exchange_strong(expected, true))
                continue;
            std::memcpy(g_unfinishedNames[i], m_name.c_str(), m_name.size() + 1);
            m_slot = i;
            break;
        }
    }
    ~TemporaryFile()
    {
        if (m_file != nullptr)
            std::fclose(m_file);
        if (!m_committed)
            std::remove(m_name.c_str());
        if (m_slot < kUnfinishedSlots)
        {
            g_unfinishedNames[m_slot][0] = '\0';
            g_unfinishedUsed[m_slot].store(false);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void Write(const std::uint8_t* bytes, std::size_t count)
    {
        if (count != 0 && std::fwrite(bytes, 1, count, m_file) != count)
            Fail("write error in " + m_name);
    }
    void Rewind()
    {
        if (std::fseek(m_file, 0, SEEK_SET) != 0)
            Fail("cannot seek in " + m_name);
    }
    void Commit()
    {
        const int closed = std::fclose(m_file);
        m_file = nullptr;
        if (closed != 0)
            Fail("write error when closing " + m_name);
        std::error_code error;
        std::filesystem::rename(m_name, m_target, error);
        if (error)
            (Failure(m_target) << "cannot rename " << m_name << " to it: " << error.message())
                .Throw();
        m_committed = true;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const
    {
        const int code = errno;
        (Failure(m_target) << what << ": " << std::generic_category().message(code)).Throw();
    }

    std::string m_target;
    std::string m_name;
    std::FILE* m_file = nullptr;
    bool m_committed = false;
    std::size_t m_slot = kUnfinishedSlots; // none
};

} // namespace

void RemoveUnfinishedFiles() noexcept
{
    for (std::size_t i = 0; i < kUnfinishedSlots; ++i)
        if (g_unfinishedUsed[i].load() && g_unfinishedNames[i][0] != '\0')
            ::unlink(g_unfinishedNames[i]);
}

LasWriteSummary WriteLas(const std::string& path,
                         const orv::DataProxy::IPointDataProvider& provider,
                         const LasFieldMap& fields, const LasWriteOptions& options)
{
    CheckFieldMap(fields, /*uniqueKeys=*/false);
    const auto offers = [&](Key key, const char* what)
    {
        if (!provider.HasComponent(key.component, key.index))
            (Failure(path) << what << " is mapped to key (" << unsigned(key.component) << ", "
                           << unsigned(key.index) << "), which the provider does not offer")
                .Throw();
    };
    for (const LasFieldKey& entry : fields)
        offers(entry.key, FieldName(entry.field));
    for (const LasExtraBytesKey& entry : options.extraBytes)
        offers(entry.key, entry.name.c_str());
    if (options.source != nullptr && options.source->IsFile(path))
        (Failure(path) << "is the file the points are copied from: it would be overwritten")
            .Throw();
    const Plan plan = MakePlan(path, provider, fields, options);
    const LasHeader* source = options.source ? &options.source->Header() : nullptr;
    const std::vector<LasVlr> vlrs = MakeVlrs(source, plan);
    const std::vector<std::uint8_t> vlrBytes = VlrBytes(vlrs);

    LasHeader header;
    if (source != nullptr)
    {
        header.fileSourceId = source->fileSourceId;
        header.globalEncoding = source->globalEncoding;
        header.projectId = source->projectId;
        header.systemIdentifier = source->systemIdentifier;
    }
    else
    {
        header.globalEncoding = kLasWkt;
        header.systemIdentifier = "OTHER";
    }
    header.versionMajor = 1;
    header.versionMinor = plan.minor;
    header.generatingSoftware = "OrvDataProxyLas";
    const auto [year, day] = Today();
    header.creationDay = static_cast<std::uint16_t>(day);
    header.creationYear = static_cast<std::uint16_t>(year);
    header.pointFormat = plan.format;
    header.recordLength = plan.length;
    header.offsetToPointData =
        static_cast<std::uint32_t>(LasHeader::SizeOf(plan.minor) + vlrBytes.size());
    header.vlrCount = static_cast<std::uint32_t>(vlrs.size());

    TemporaryFile file(path);
    const std::vector<std::uint8_t> placeholder(header.offsetToPointData, 0);
    file.Write(placeholder.data(), placeholder.size());

    RecordEncoder encoder(path, fields, options.extraBytes, plan, options.source);
    LasFieldMap asked = fields;
    for (const LasExtraBytesKey& entry : options.extraBytes)
        asked.push_back({ELasField::ExtraBytes, entry.key});
    const FieldConsumer consumer(asked);
    const auto iterable = provider.GetIterable(consumer);
    std::vector<std::uint8_t> records(kRecordsPerWrite * plan.length);
    std::size_t pending = 0;
    std::uint64_t written = 0;
    // The points are read a block at a time: columns filled from the host's tables in runs
    // (from a cursor for another plugin's provider), instead of virtual calls per value.
    ForEachBlock(*iterable, consumer,
                 [&](const PointDataBlock& block)
                 {
                     encoder.Bind(block);
                     const std::size_t n = block.Size();
                     if (pending + n > kRecordsPerWrite)
                     {
                         file.Write(records.data(), pending * plan.length);
                         pending = 0;
                     }
                     encoder.EncodeBlock(n, records.data() + pending * plan.length);
                     pending += n;
                     if (options.progress &&
                         (written + n) / kProgressEvery != written / kProgressEvery)
                         options.progress(written + n);
                     written += n;
                 });
    file.Write(records.data(), pending * plan.length);

    const LasWriteSummary summary = encoder.Finish();
    if (summary.pointCount > 0xFFFFFFFFu && plan.minor < 4)
        (Failure(path) << summary.pointCount << " points need LAS 1.4; the source is 1."
                       << unsigned{plan.minor})
            .Throw();
    // The source's extended records follow the points, in a 1.4 file.
    std::uint64_t at = header.offsetToPointData + summary.pointCount * plan.length;
    if (source != nullptr && plan.minor >= 4 && !source->evlrs.empty())
    {
        header.startOfFirstEvlr = at;
        header.evlrCount = static_cast<std::uint32_t>(source->evlrs.size());
        for (const LasVlr& evlr : source->evlrs)
        {
            if (evlr.userId == "LASF_Spec" && evlr.recordId == 65535)
                header.startOfWaveformData = at;
            std::uint8_t head[60] = {};
            std::memcpy(head + 2, evlr.userId.data(),
                        std::min<std::size_t>(16, evlr.userId.size()));
            PutU16(head + 18, evlr.recordId);
            PutU64(head + 20, evlr.payloadSize);
            std::memcpy(head + 28, evlr.description.data(),
                        std::min<std::size_t>(32, evlr.description.size()));
            file.Write(head, sizeof head);
            options.source->ReadBytes(evlr.payloadAt, evlr.payloadSize,
                                      [&](const std::uint8_t* bytes, std::size_t n)
                                      { file.Write(bytes, n); });
            at += sizeof head + evlr.payloadSize;
        }
    }
    header.pointCount = summary.pointCount;
    header.pointsByReturn = summary.pointsByReturn;
    header.scale = summary.scale;
    header.offset = summary.offset;
    header.min = summary.min;
    header.max = summary.max;
    const std::vector<std::uint8_t> block = header.Bytes();
    file.Rewind();
    file.Write(block.data(), block.size());
    file.Write(vlrBytes.data(), vlrBytes.size());
    file.Commit();
    if (options.progress && written % kProgressEvery != 0)
        options.progress(written);
    return summary;
}

} // namespace orv::DataProxy::Las
