#pragma once

#include "host/geometry/Algebra.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Values.h"

#include <cstddef>
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
//   order            the place of the class's policy in the library's registrations
//                    (ExtraDataRowAt<order>; LibraryPolicies.h builds the list from it)
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

// The class registered at place I; every place below kExtraDataRowCount has exactly one.
template <std::size_t I>
struct ExtraDataRowAt;
inline constexpr std::size_t kExtraDataRowCount = 12;

#define ORV_EXTRA_DATA_ROW(order, X, StoredType, PlainClass, flagA, zeroesDefaults, rotates)       \
    template <>                                                                                    \
    struct ExtraDataRowAt<order>                                                                   \
    {                                                                                              \
        using Type = orv::Data::Cloud::X;                                                          \
    };                                                                                             \
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

ORV_EXTRA_DATA_ROW(0, CloudClassificationExtraData, std::uint8_t, ClassificationExtraData, true,
                   false, false)
ORV_EXTRA_DATA_ROW(1, CloudGridPositionIndexExtraData, std::uint32_t, GridPositionIndexExtraData,
                   false, false, false)
ORV_EXTRA_DATA_ROW(2, CloudSegmentationExtraData, std::uint32_t, SegmentationExtraData, false,
                   false, false)
ORV_EXTRA_DATA_ROW(3, CloudSplitColorExtraData, std::uint16_t, SplitColorExtraData, false, false,
                   false)
ORV_EXTRA_DATA_ROW(4, CloudClassificationInstanceExtraData, std::uint16_t,
                   ClassificationInstanceExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(9, CloudScanIDExtraData, std::uint32_t, ScanIDExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(5, CloudImprovementStatsExtraData, float, ImprovementStatsExtraData, false,
                   false, false)
ORV_EXTRA_DATA_ROW(6, CloudIntensityNewExtraData, float, IntensityNewExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(7, CloudIntensityTempExtraData, float, IntensityTempExtraData, false, false,
                   false)
ORV_EXTRA_DATA_ROW(8, CloudMaxProbabilityExtraData, float, MaxProbabilityExtraData, true, false,
                   false)
ORV_EXTRA_DATA_ROW(10, CloudNormalExtraData, orv::Math::Algebra::CompressedVector32Bits,
                   NormalExtraData, false, true, true)
ORV_EXTRA_DATA_ROW(11, CloudIntensityExtraData, orv::Data::Primitive::ColorValue,
                   IntensityExtraData, false, true, false)

#undef ORV_EXTRA_DATA_ROW

} // namespace orv::Data::ExtraData::Details
