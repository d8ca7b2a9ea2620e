#pragma once

#include "contract/PointDataComponents.h"
#include "las/LasExport.h"

#include <cstdint>
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
};

// One field carried by one contract key (component, index).
struct LasFieldKey
{
    ELasField field;
    orv::DataProxy::PointDataComponents::ComponentKey key;
};

// Reading: each key at most once (several keys may carry one field). Writing: each field at
// most once (one key may feed several fields). Both throw std::invalid_argument otherwise,
// and for a field on a component that cannot carry it.
using LasFieldMap = std::vector<LasFieldKey>;

ORV_LAS_API bool CanCarry(ELasField field, orv::DataProxy::EPointDataComponent component) noexcept;

// "intensity", "return number", ... for messages.
ORV_LAS_API const char* FieldName(ELasField field) noexcept;

} // namespace orv::DataProxy::Las
