#pragma once

// Byte-level knowledge of the format shared by the reader and the writer: where the fields of
// each point record format sit, little-endian access whatever the machine, the offsets of the
// public header block, and the message builder of LasError.

#include "contract/Interfaces.h"
#include "las/LasFields.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

namespace orv::DataProxy::Las::Detail
{

// Public header block. Fields up to 227 exist in every version; 1.3 adds the start of the
// waveform data (8 bytes), 1.4 the extended records and the 64-bit counts.
constexpr std::size_t kHeaderSize10 = 227;
constexpr std::size_t kHeaderSize13 = 235;
constexpr std::size_t kHeaderSize14 = 375;
constexpr std::size_t kGlobalEncodingAt = 6;
constexpr std::size_t kVersionMajorAt = 24;
constexpr std::size_t kVersionMinorAt = 25;
constexpr std::size_t kSystemIdentifierAt = 26;
constexpr std::size_t kGeneratingSoftwareAt = 58;
constexpr std::size_t kHeaderSizeAt = 94;
constexpr std::size_t kOffsetToPointDataAt = 96;
constexpr std::size_t kVlrCountAt = 100;
constexpr std::size_t kPointFormatAt = 104;
constexpr std::size_t kRecordLengthAt = 105;
constexpr std::size_t kLegacyPointCountAt = 107;
constexpr std::size_t kLegacyByReturnAt = 111; // 5 x 32 bits
constexpr std::size_t kScaleAt = 131;
constexpr std::size_t kOffsetAt = 155;
constexpr std::size_t kBoundsAt = 179; // max x, min x, max y, min y, max z, min z
constexpr std::size_t kPointCount64At = 247;
constexpr std::size_t kByReturn64At = 255; // 15 x 64 bits
constexpr std::size_t kVlrHeaderSize = 54;

// Where the optional fields of one point record format sit (0: the format lacks the field).
// Formats 0 to 5 share the legacy layout of the first 20 bytes, 6 to 10 the extended one of
// the first 30; formats 4, 5, 9 and 10 end with a 29-byte waveform packet descriptor.
struct RecordLayout
{
    std::uint16_t length;
    bool extended;
    std::uint8_t gpsAt;
    std::uint8_t rgbAt;
    std::uint8_t nirAt;
};

constexpr unsigned kFormatCount = 11;
constexpr RecordLayout kRecordLayouts[kFormatCount] = {
    {20, false, 0, 0, 0},   {28, false, 20, 0, 0},  {26, false, 0, 20, 0},  {34, false, 20, 28, 0},
    {57, false, 20, 0, 0},  {63, false, 20, 28, 0}, {30, true, 22, 0, 0},   {36, true, 22, 30, 0},
    {38, true, 22, 30, 36}, {59, true, 22, 0, 0},   {67, true, 22, 30, 36},
};

// Extended formats: the scan angle counts steps of 0.006 degrees.
constexpr double kScanAngleStep = 0.006;
constexpr std::size_t kWavePacketSize = 29;

// Where one field sits in a record: `width` bytes at `at` (little-endian), of which the bits
// `mask` << `shift` when `mask` is not 0. `width` 0: the format lacks the field.
struct FieldSlot
{
    std::uint8_t at = 0;
    std::uint8_t width = 0;
    std::uint8_t mask = 0;
    std::uint8_t shift = 0;
};

// The one table of the fields' places, used by the reader's accessor and the writer's encoder.
inline FieldSlot SlotOf(ELasField field, const RecordLayout& layout)
{
    const bool x = layout.extended;
    switch (field)
    {
    case ELasField::Intensity:
        return {12, 2, 0, 0};
    case ELasField::ReturnNumber:
        return x ? FieldSlot{14, 1, 0x0F, 0} : FieldSlot{14, 1, 0x07, 0};
    case ELasField::NumberOfReturns:
        return x ? FieldSlot{14, 1, 0x0F, 4} : FieldSlot{14, 1, 0x07, 3};
    case ELasField::ScanDirection:
        return x ? FieldSlot{15, 1, 0x01, 6} : FieldSlot{14, 1, 0x01, 6};
    case ELasField::EdgeOfFlightLine:
        return x ? FieldSlot{15, 1, 0x01, 7} : FieldSlot{14, 1, 0x01, 7};
    case ELasField::Classification:
        return x ? FieldSlot{16, 1, 0, 0} : FieldSlot{15, 1, 0x1F, 0};
    case ELasField::ClassificationFlags:
        return x ? FieldSlot{15, 1, 0x0F, 0} : FieldSlot{15, 1, 0x07, 5};
    case ELasField::ScannerChannel:
        return x ? FieldSlot{15, 1, 0x03, 4} : FieldSlot{};
    case ELasField::ScanAngle: // signed: a rank in whole degrees, or steps of 0.006
        return x ? FieldSlot{18, 2, 0, 0} : FieldSlot{16, 1, 0, 0};
    case ELasField::UserData:
        return {17, 1, 0, 0};
    case ELasField::PointSourceId:
        return {std::uint8_t(x ? 20 : 18), 2, 0, 0};
    case ELasField::GpsTime:
        return layout.gpsAt ? FieldSlot{layout.gpsAt, 8, 0, 0} : FieldSlot{};
    case ELasField::Rgb:
        return layout.rgbAt ? FieldSlot{layout.rgbAt, 6, 0, 0} : FieldSlot{};
    case ELasField::Nir:
        return layout.nirAt ? FieldSlot{layout.nirAt, 2, 0, 0} : FieldSlot{};
    case ELasField::RecordNumber:
    case ELasField::ExtraBytes:
        break;
    }
    return {};
}

// The fields every record carries beside the position, in the order a copy between formats
// goes through them (Rgb, GpsTime and Nir are copied apart).
constexpr ELasField kRecordFields[] = {
    ELasField::Intensity,           ELasField::ReturnNumber,     ELasField::NumberOfReturns,
    ELasField::ScanDirection,       ELasField::EdgeOfFlightLine, ELasField::Classification,
    ELasField::ClassificationFlags, ELasField::ScannerChannel,   ELasField::UserData,
    ELasField::PointSourceId};

// The slot's value (ScanAngle: its raw bits, sign not extended).
inline std::uint64_t ReadSlot(const std::uint8_t* r, FieldSlot s)
{
    std::uint64_t v = 0;
    for (unsigned b = s.width; b-- > 0;)
        v = (v << 8) | r[s.at + b];
    return s.mask != 0 ? (v >> s.shift) & s.mask : v;
}

// Writes `v` (cut to the slot's width) into the slot, the other bits of its bytes untouched.
inline void WriteSlot(std::uint8_t* r, FieldSlot s, std::uint64_t v)
{
    if (s.mask != 0)
    {
        const auto keep = static_cast<std::uint8_t>(~(s.mask << s.shift));
        r[s.at] = static_cast<std::uint8_t>((r[s.at] & keep) | ((v & s.mask) << s.shift));
        return;
    }
    for (unsigned b = 0; b < s.width; ++b, v >>= 8)
        r[s.at + b] = static_cast<std::uint8_t>(v);
}

// The scan angle in degrees.
inline double ScanAngleDegrees(const std::uint8_t* r, bool extended)
{
    if (extended)
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(r[18] | (r[19] << 8))) *
               kScanAngleStep;
    return static_cast<double>(static_cast<std::int8_t>(r[16]));
}

inline std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t U64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}

inline std::int16_t I16(const std::uint8_t* p)
{
    const std::uint16_t bits = U16(p);
    std::int16_t value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline std::int32_t I32(const std::uint8_t* p)
{
    const std::uint32_t bits = U32(p);
    std::int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline double F64(const std::uint8_t* p)
{
    const std::uint64_t bits = U64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void PutU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutU32(std::uint8_t* p, std::uint32_t v)
{
    PutU16(p, static_cast<std::uint16_t>(v));
    PutU16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

inline void PutU64(std::uint8_t* p, std::uint64_t v)
{
    PutU32(p, static_cast<std::uint32_t>(v));
    PutU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

inline void PutF64(std::uint8_t* p, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    PutU64(p, bits);
}

// std::invalid_argument for a field on a component that cannot carry it, and for a repeated
// key (reading: `uniqueKeys`) or a repeated field (writing).
void CheckFieldMap(const LasFieldMap& fields, bool uniqueKeys);

// Asks for the position and, unless `positionOnly`, for the keys that carry fields.
class FieldConsumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    explicit FieldConsumer(const LasFieldMap& fields, bool positionOnly = false)
        : m_fields(fields), m_positionOnly(positionOnly)
    {
    }
    bool IsComponentRequested(orv::DataProxy::EPointDataComponent component,
                              unsigned char index) const override
    {
        if (component == orv::DataProxy::EPointDataComponent::Position)
            return true;
        return !m_positionOnly && std::any_of(m_fields.begin(), m_fields.end(),
                                              [&](const LasFieldKey& entry) {
                                                  return entry.key.component == component &&
                                                         entry.key.index == index;
                                              });
    }

private:
    const LasFieldMap& m_fields;
    bool m_positionOnly;
};

// Builds the message of a LasError: Failure(name) << "what" << value ... .Throw().
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

} // namespace orv::DataProxy::Las::Detail
