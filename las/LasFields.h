#pragma once

#include "contract/PointDataComponents.h"
#include "las/LasExport.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

// The LAS point fields offered to and taken from the point data contract, and the table that
// says which contract key carries which field.

namespace orv::DataProxy::Las
{

// Every file that cannot be read or written: the message starts with the file's name, then
// says what is wrong ("x.las: point count 12 (records of 34 bytes) is more than ...").
class ORV_LAS_API LasError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    ~LasError() override;
};

// The point fields besides the position. Which components may carry a field (CanCarry):
//   integer fields       UnsignedInteger, SignedInteger or Real
//   ScanAngle, GpsTime   Real only
//   Rgb                  Color only (channels in [0, 1], alpha 1)
enum class ELasField : std::uint8_t
{
    Intensity,       // 16 bits
    ReturnNumber,    // 3 bits in formats 0 to 5, 4 bits in 6 to 10
    NumberOfReturns, // as ReturnNumber
    Classification,  // the low 5 bits of the byte in formats 0 to 5, the whole byte in 6 to 10
    ScanAngle,       // degrees: the whole-degree rank of formats 0 to 5, steps of 0.006 in 6 to 10
    UserData,        // 8 bits
    PointSourceId,   // 16 bits
    GpsTime,         // double; formats 1, 3, 4, 5 and 6 to 10
    Rgb,             // three 16-bit channels; formats 2, 3, 5, 7, 8 and 10
    Nir,             // 16 bits; formats 8 and 10
    // Bit 0 synthetic, 1 key-point, 2 withheld, 3 overlap (formats 6 to 10 only).
    ClassificationFlags,
    ScannerChannel,   // 2 bits; formats 6 to 10
    ScanDirection,    // 1 bit
    EdgeOfFlightLine, // 1 bit
    // Not a field of the record: its ordinal in the file (0 for the first). Carried through a
    // host cloud as a 4-byte value, it lets the writer copy every field of the source record
    // (LasWriteOptions::source), including those no key carries. Files of more than 2^32
    // points cannot be told apart this way: the reader refuses to deliver it for them.
    RecordNumber,
    // A dimension of the file's extra bytes (LasFieldKey::extraBytes: which one, in the order
    // of LasHeader::extraBytes), scaled and offset as the file describes it.
    ExtraBytes,
};

// One field carried by one contract key (component, index).
struct LasFieldKey
{
    ELasField field;
    orv::DataProxy::PointDataComponents::ComponentKey key;
    std::uint8_t extraBytes = 0; // ExtraBytes only: the dimension's position in the file
};

// Reading: each key at most once (several keys may carry one field). Writing: each field at
// most once (one key may feed several fields). Both throw std::invalid_argument otherwise,
// and for a field on a component that cannot carry it.
class LasFieldMap : public std::vector<LasFieldKey>
{
public:
    using std::vector<LasFieldKey>::vector;

    // The key that carries `field` (the first, if several do), or nothing: after
    // MapDefaultLasFields, KeyOf(ELasField::Intensity) is the key to read intensities by.
    std::optional<orv::DataProxy::PointDataComponents::ComponentKey> KeyOf(ELasField field) const
    {
        const auto found = std::find_if(
            begin(), end(), [&](const LasFieldKey& entry) { return entry.field == field; });
        return found != end() ? std::optional(found->key) : std::nullopt;
    }
};

ORV_LAS_API bool CanCarry(ELasField field, orv::DataProxy::EPointDataComponent component) noexcept;

// "intensity", "return number", ... for messages.
ORV_LAS_API const char* FieldName(ELasField field) noexcept;

} // namespace orv::DataProxy::Las
