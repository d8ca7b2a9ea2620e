#pragma once

#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"

#include <cstdint>

// The twelve policy classes this library registers, in the order the registrations run.
// Registration builds one policy of each; block reads recognise them among the policies the
// host hands out, to decode whole runs of their elements inline.

namespace orv::DataProxy::ExtraData
{

template <class... Policies>
struct PolicyList
{
};

using LibraryPolicies =
    PolicyList<orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudClassificationExtraData, std::uint64_t>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudGridPositionIndexExtraData, std::uint64_t>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudSegmentationExtraData, std::uint64_t>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudSplitColorExtraData, std::uint64_t>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudClassificationInstanceExtraData, std::uint64_t>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudImprovementStatsExtraData, double>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudIntensityNewExtraData, double>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudIntensityTempExtraData, double>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudMaxProbabilityExtraData, double>,
               orv::Data::ExtraData::Details::CloudExtraDataPolicy<
                   orv::Data::Cloud::CloudScanIDExtraData, std::uint64_t>,
               CloudNormalExtraDataConversionPolicy, CloudIntensityExtraDataConversionPolicy>;

} // namespace orv::DataProxy::ExtraData
