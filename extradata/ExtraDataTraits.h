#pragma once

#include "host/geometry/Algebra.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Values.h"

#include <cstdint>
#include <type_traits>

// The traits of the twelve host extra-data classes the library converts: one row per class.
// Everything about a policy follows from its row: element size, comparison, conversion. The
// stored type is written here rather than read off the host class: the host declares its
// classes, not what they hold.
//
//   Stored           the type of one stored element (1, 2 or 4 bytes)
//   Plain            the host's plain extra-data class whose GetStaticType() names the type
//   kFlagA           the constant the host reads through GetTypeFlagA
//   kZeroesDefaults  AddDefaultElement writes zero into the new element
//   kRotates         TransformElement rotates the stored vector
//
// Which contract component reads a row is the value type its policy is registered under
// (PolicyRegistration.cpp): the integer rows UnsignedInteger, the float rows Real, Normal
// Vector3 and Intensity Real (decoded by the cloud's colour mode). The library registers no
// SignedInteger or Color policy. host/geometry/ExtraDataTypes.h lists each class with its
// component, width and meaning.

namespace orv::Data::ExtraData::Details
{

template <class X>
struct ExtraDataTraits;

#define ORV_EXTRA_DATA_ROW(X, StoredType, PlainClass, flagA, zeroesDefaults, rotates)              \
    template <>                                                                                    \
    struct ExtraDataTraits<orv::Data::Cloud::X>                                                    \
    {                                                                                              \
        using Stored = StoredType;                                                                 \
        static_assert(std::is_trivially_copyable_v<Stored>, "stored elements are raw bytes");      \
        static_assert(sizeof(Stored) == 1 || sizeof(Stored) == 2 || sizeof(Stored) == 4,           \
                      "the host stores 1, 2 or 4 bytes per element");                              \
        using Plain = orv::Data::Cloud::PlainClass;                                                \
        static constexpr bool kFlagA = flagA;                                                      \
        static constexpr bool kZeroesDefaults = zeroesDefaults;                                    \
        static constexpr bool kRotates = rotates;                                                  \
    };

ORV_EXTRA_DATA_ROW(CloudClassificationExtraData, std::uint8_t, ClassificationExtraData, true, false,
                   false)
ORV_EXTRA_DATA_ROW(CloudGridPositionIndexExtraData, std::uint32_t, GridPositionIndexExtraData,
                   false, false, false)
ORV_EXTRA_DATA_ROW(CloudSegmentationExtraData, std::uint32_t, SegmentationExtraData, false, false,
                   false)
ORV_EXTRA_DATA_ROW(CloudSplitColorExtraData, std::uint16_t, SplitColorExtraData, false, false,
                   false)
ORV_EXTRA_DATA_ROW(CloudClassificationInstanceExtraData, std::uint16_t,
                   ClassificationInstanceExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudScanIDExtraData, std::uint32_t, ScanIDExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudImprovementStatsExtraData, float, ImprovementStatsExtraData, false, false,
                   false)
ORV_EXTRA_DATA_ROW(CloudIntensityNewExtraData, float, IntensityNewExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudIntensityTempExtraData, float, IntensityTempExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudMaxProbabilityExtraData, float, MaxProbabilityExtraData, true, false, false)
ORV_EXTRA_DATA_ROW(CloudNormalExtraData, orv::Math::Algebra::CompressedVector32Bits,
                   NormalExtraData, false, true, true)
ORV_EXTRA_DATA_ROW(CloudIntensityExtraData, orv::Data::Primitive::ColorValue, IntensityExtraData,
                   false, true, false)

#undef ORV_EXTRA_DATA_ROW

} // namespace orv::Data::ExtraData::Details
