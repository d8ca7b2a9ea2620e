#pragma once

#include "host/geometry/ExtraDataTypes.h"

#include <cstdint>

// The traits of the twelve host extra-data classes the library converts: one row per class.
// Everything else about a policy follows from its row and from the class's stored type
// (X::StoredType): element size, comparison, conversion.
//
//   Plain            the host's plain extra-data class whose GetStaticType() names the type
//   kFlagA           the constant the host reads through GetTypeFlagA
//   kZeroesDefaults  AddDefaultElement writes zero into the new element
//   kRotates         TransformElement rotates the stored vector

namespace orv::Data::ExtraData::Details
{

template <class X>
struct ExtraDataTraits;

#define ORV_EXTRA_DATA_ROW(X, PlainClass, flagA, zeroesDefaults, rotates)                          \
    template <>                                                                                    \
    struct ExtraDataTraits<orv::Data::Cloud::X>                                                    \
    {                                                                                              \
        using Plain = orv::Data::Cloud::PlainClass;                                                \
        static constexpr bool kFlagA = flagA;                                                      \
        static constexpr bool kZeroesDefaults = zeroesDefaults;                                    \
        static constexpr bool kRotates = rotates;                                                  \
    };

ORV_EXTRA_DATA_ROW(CloudClassificationExtraData, ClassificationExtraData, true, false, false)
ORV_EXTRA_DATA_ROW(CloudGridPositionIndexExtraData, GridPositionIndexExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudSegmentationExtraData, SegmentationExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudSplitColorExtraData, SplitColorExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudClassificationInstanceExtraData, ClassificationInstanceExtraData, false,
                   false, false)
ORV_EXTRA_DATA_ROW(CloudScanIDExtraData, ScanIDExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudImprovementStatsExtraData, ImprovementStatsExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudIntensityNewExtraData, IntensityNewExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudIntensityTempExtraData, IntensityTempExtraData, false, false, false)
ORV_EXTRA_DATA_ROW(CloudMaxProbabilityExtraData, MaxProbabilityExtraData, true, false, false)
ORV_EXTRA_DATA_ROW(CloudNormalExtraData, NormalExtraData, false, true, true)
ORV_EXTRA_DATA_ROW(CloudIntensityExtraData, IntensityExtraData, false, true, false)

#undef ORV_EXTRA_DATA_ROW

} // namespace orv::Data::ExtraData::Details
