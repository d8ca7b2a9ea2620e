#include "las/LasWriter.h"

#include "las/LasRecordLayout.h"

#include "contract/PointDataBlocks.h"

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

namespace
{

constexpr std::uint8_t kLasWkt = 0x10; // global encoding: the coordinate system would be WKT
constexpr std::size_t kRecordsPerWrite = 1 << 16;
constexpr std::uint64_t kProgressEvery = 1 << 18;

// One point of a block as the encoder reads it: each field's column is found once per block
// (Bind), so a value costs an index, not a search.
class BlockPoint
{
public:
    explicit BlockPoint(const LasFieldMap& fields) : m_fields(fields), m_columns(fields.size()) {}

    // Stands on the first point of `block`, with each field's column resolved.
    void Bind(const PointDataBlock& block)
    {
        m_block = &block;
        at = 0;
        for (std::size_t k = 0; k < m_fields.size(); ++k)
        {
            const PointDataComponents::ComponentKey key = m_fields[k].key;
            Column& column = m_columns[k];
            column = Column{key.component, nullptr, nullptr};
            VisitExtraDataComponent(key.component,
                                    [&](auto c)
                                    {
                                        const auto from =
                                            block.Column<decltype(c)::value>(key.index);
                                        column.values = from.values;
                                        column.present = from.present;
                                    });
        }
    }

    std::size_t at = 0;

    GPointDouble Position() const { return {m_block->X()[at], m_block->Y()[at], m_block->Z()[at]}; }
    // Field k's value as a number, whatever its component (Real, or an integer one); false
    // when the point has none.
    bool Number(std::size_t k, double& number) const
    {
        const Column& c = m_columns[k];
        if (c.present == nullptr || c.present[at] == 0)
            return false;
        switch (c.component)
        {
        case EPointDataComponent::UnsignedInteger:
            number = static_cast<double>(static_cast<const std::uint64_t*>(c.values)[at]);
            return true;
        case EPointDataComponent::SignedInteger:
            number = static_cast<double>(static_cast<const std::int64_t*>(c.values)[at]);
            return true;
        case EPointDataComponent::Real:
            number = static_cast<const double*>(c.values)[at];
            return true;
        default:
            return false;
        }
    }
    // Field k's colour; null when the point has none.
    const RgbaColor* Color(std::size_t k) const
    {
        const Column& c = m_columns[k];
        if (c.component != EPointDataComponent::Color || c.present == nullptr || c.present[at] == 0)
            return nullptr;
        return static_cast<const RgbaColor*>(c.values) + at;
    }

private:
    struct Column
    {
        EPointDataComponent component;
        const void* values;
        const std::uint8_t* present;
    };
    const LasFieldMap& m_fields;
    std::vector<Column> m_columns; // one per field, in the map's order
    const PointDataBlock* m_block = nullptr;
};

// Rounded to the nearest integer and saturated to [lo, hi]; NaN gives 0.
std::int64_t Saturate(double value, double lo, double hi)
{
    if (std::isnan(value))
        return 0;
    value = std::min(std::max(value, lo), hi);
    return static_cast<std::int64_t>(value + (value >= 0.0 ? 0.5 : -0.5));
}

// Encodes points of one provider into records of format 6, 7 or 8, keeping what the header
// needs: the coordinate bounds and the counts by return.
class RecordEncoder
{
public:
    RecordEncoder(const std::string& path, const LasFieldMap& fields, const RecordLayout& layout,
                  const std::array<double, 3>& scale, const std::array<double, 3>& offset)
        : m_path(path), m_fields(fields), m_layout(layout), m_scale(scale),
          m_offset(offset), m_perStep{1.0 / scale[0], 1.0 / scale[1], 1.0 / scale[2]}
    {
    }

    void Encode(const BlockPoint& point, std::uint8_t* r)
    {
        std::fill(r, r + m_layout.length, std::uint8_t{0});
        const GPointDouble p = point.Position();
        const double xyz[3] = {p.x, p.y, p.z};
        for (std::size_t axis = 0; axis < 3; ++axis)
        {
            const double steps = (xyz[axis] - m_offset[axis]) * m_perStep[axis];
            if (!(steps > -2147483648.5 && steps < 2147483647.5))
                Unfit(p);
            const auto stored =
                static_cast<std::int32_t>(Saturate(steps, -2147483648.0, 2147483647.0));
            PutU32(r + 4 * axis, static_cast<std::uint32_t>(stored));
            m_min[axis] = std::min(m_min[axis], stored);
            m_max[axis] = std::max(m_max[axis], stored);
        }
        unsigned returnNumber = 1;
        unsigned returns = 1;
        for (std::size_t k = 0; k < m_fields.size(); ++k)
        {
            const LasFieldKey& entry = m_fields[k];
            if (entry.field == ELasField::Rgb)
            {
                if (const RgbaColor* c = point.Color(k); c && m_layout.rgbAt != 0)
                {
                    const double channels[3] = {c->r, c->g, c->b};
                    for (std::size_t channel = 0; channel < 3; ++channel)
                        PutU16(r + m_layout.rgbAt + 2 * channel,
                               static_cast<std::uint16_t>(
                                   Saturate(channels[channel] * 65535.0, 0, 65535)));
                }
                continue;
            }
            double value = 0.0;
            if (!point.Number(k, value))
                continue;
            const auto u8 = [&] { return static_cast<std::uint8_t>(Saturate(value, 0, 255)); };
            const auto u16 = [&] { return static_cast<std::uint16_t>(Saturate(value, 0, 65535)); };
            switch (entry.field)
            {
            case ELasField::Intensity:
                PutU16(r + 12, u16());
                break;
            case ELasField::ReturnNumber:
                returnNumber = static_cast<unsigned>(Saturate(value, 0, 15));
                break;
            case ELasField::NumberOfReturns:
                returns = static_cast<unsigned>(Saturate(value, 0, 15));
                break;
            case ELasField::Classification:
                r[16] = u8();
                break;
            case ELasField::UserData:
                r[17] = u8();
                break;
            case ELasField::ScanAngle:
                PutU16(r + 18, static_cast<std::uint16_t>(
                                   Saturate(value / kScanAngleStep, -30000.0, 30000.0)));
                break;
            case ELasField::PointSourceId:
                PutU16(r + 20, u16());
                break;
            case ELasField::GpsTime:
                PutF64(r + m_layout.gpsAt, value);
                break;
            case ELasField::Nir:
                if (m_layout.nirAt != 0)
                    PutU16(r + m_layout.nirAt, u16());
                break;
            case ELasField::Rgb:
                break;
            }
        }
        r[14] = static_cast<std::uint8_t>(returnNumber | (returns << 4));
        if (returnNumber >= 1)
            ++m_summary.pointsByReturn[returnNumber - 1];
        ++m_summary.pointCount;
    }

    // The summary, with the bounds of the stored coordinates.
    const LasWriteSummary& Finish()
    {
        for (std::size_t axis = 0; axis < 3 && m_summary.pointCount != 0; ++axis)
        {
            m_summary.min[axis] = m_min[axis] * m_scale[axis] + m_offset[axis];
            m_summary.max[axis] = m_max[axis] * m_scale[axis] + m_offset[axis];
        }
        m_summary.scale = m_scale;
        m_summary.offset = m_offset;
        return m_summary;
    }

private:
    [[noreturn]] void Unfit(const GPointDouble& p) const
    {
        (Failure(m_path) << "point " << m_summary.pointCount << " at (" << p.x << ", " << p.y
                         << ", " << p.z << ") does not fit 32-bit coordinates with scale ("
                         << m_scale[0] << ", " << m_scale[1] << ", " << m_scale[2]
                         << ") and offset (" << m_offset[0] << ", " << m_offset[1] << ", "
                         << m_offset[2] << ")")
            .Throw();
    }

    const std::string& m_path;
    const LasFieldMap& m_fields;
    const RecordLayout& m_layout;
    std::array<double, 3> m_scale;
    std::array<double, 3> m_offset;
    std::array<double, 3> m_perStep; // a multiplication per coordinate, not a division
    std::array<std::int32_t, 3> m_min{std::numeric_limits<std::int32_t>::max(),
                                      std::numeric_limits<std::int32_t>::max(),
                                      std::numeric_limits<std::int32_t>::max()};
    std::array<std::int32_t, 3> m_max{std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::min()};
    LasWriteSummary m_summary;
};

// The minimum corner of the provider's box, or of its positions; 0 without points.
std::array<double, 3> DefaultOffset(const orv::DataProxy::IPointDataProvider& provider,
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

std::array<std::uint8_t, kHeaderSize14> MakeHeader(const LasWriteSummary& s,
                                                   const RecordLayout& layout)
{
    std::array<std::uint8_t, kHeaderSize14> h{};
    std::memcpy(h.data(), "LASF", 4);
    PutU16(&h[kGlobalEncodingAt], kLasWkt);
    h[kVersionMajorAt] = 1;
    h[kVersionMinorAt] = 4;
    std::memcpy(&h[kSystemIdentifierAt], "OTHER", 5);
    std::memcpy(&h[kGeneratingSoftwareAt], "OrvDataProxyLas", 15);
    const auto [year, day] = Today();
    PutU16(&h[90], static_cast<std::uint16_t>(day));
    PutU16(&h[92], static_cast<std::uint16_t>(year));
    PutU16(&h[kHeaderSizeAt], kHeaderSize14);
    PutU32(&h[kOffsetToPointDataAt], kHeaderSize14);
    h[kPointFormatAt] = s.pointFormat;
    PutU16(&h[kRecordLengthAt], layout.length);
    // The legacy counts stay 0: formats 6 and above have only the 64-bit ones.
    for (std::size_t axis = 0; axis < 3; ++axis)
    {
        PutF64(&h[kScaleAt + 8 * axis], s.scale[axis]);
        PutF64(&h[kOffsetAt + 8 * axis], s.offset[axis]);
        PutF64(&h[kBoundsAt + 16 * axis], s.max[axis]);
        PutF64(&h[kBoundsAt + 16 * axis + 8], s.min[axis]);
    }
    PutU64(&h[kPointCount64At], s.pointCount);
    for (std::size_t r = 0; r < 15; ++r)
        PutU64(&h[kByReturn64At + 8 * r], s.pointsByReturn[r]);
    return h;
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
    for (const LasFieldKey& entry : fields)
        if (!provider.HasComponent(entry.key.component, entry.key.index))
            (Failure(path) << FieldName(entry.field) << " is mapped to key ("
                           << unsigned(entry.key.component) << ", " << unsigned(entry.key.index)
                           << "), which the provider does not offer")
                .Throw();
    for (const double step : options.scale)
        if (!(std::isfinite(step) && step > 0.0))
            (Failure(path) << "scale " << step << " is not a finite, positive number").Throw();
    const std::array<double, 3> offset =
        options.offset ? *options.offset : DefaultOffset(provider, fields);
    for (const double v : offset)
        if (!std::isfinite(v))
            (Failure(path) << "offset " << v << " is not finite").Throw();

    const auto maps = [&](ELasField field)
    {
        return std::any_of(fields.begin(), fields.end(),
                           [&](const LasFieldKey& entry) { return entry.field == field; });
    };
    const std::uint8_t format = maps(ELasField::Nir) ? 8 : maps(ELasField::Rgb) ? 7 : 6;
    const RecordLayout& layout = kRecordLayouts[format];

    TemporaryFile file(path);
    const std::array<std::uint8_t, kHeaderSize14> placeholder{};
    file.Write(placeholder.data(), placeholder.size());

    RecordEncoder encoder(path, fields, layout, options.scale, offset);
    const FieldConsumer consumer(fields);
    const auto iterable = provider.GetIterable(consumer);
    std::vector<std::uint8_t> records(kRecordsPerWrite * layout.length);
    std::size_t pending = 0;
    std::uint64_t written = 0;
    // The points are read a block at a time: columns filled from the host's tables in runs
    // (from a cursor for another plugin's provider), instead of virtual calls per value.
    BlockPoint point(fields);
    ForEachBlock(*iterable, consumer,
                 [&](const PointDataBlock& block)
                 {
                     for (point.Bind(block); point.at < block.Size(); ++point.at)
                     {
                         encoder.Encode(point, records.data() + pending * layout.length);
                         if (++pending == kRecordsPerWrite)
                         {
                             file.Write(records.data(), pending * layout.length);
                             pending = 0;
                         }
                         if (++written % kProgressEvery == 0 && options.progress)
                             options.progress(written);
                     }
                 });
    file.Write(records.data(), pending * layout.length);

    LasWriteSummary summary = encoder.Finish();
    summary.pointFormat = format;
    const auto header = MakeHeader(summary, layout);
    file.Rewind();
    file.Write(header.data(), header.size());
    file.Commit();
    if (options.progress && written % kProgressEvery != 0)
        options.progress(written);
    return summary;
}

} // namespace orv::DataProxy::Las
