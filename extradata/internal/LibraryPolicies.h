#pragma once

#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

// The twelve policy classes this library registers, in the order the registrations run (the
// order is the `order` column of the traits rows, extradata/ExtraDataTraits.h).
// Registration builds one policy of each; block reads recognise them among the policies the
// host hands out, to decode whole runs of their elements inline.

namespace orv::DataProxy::ExtraData
{

template <class... Policies>
struct PolicyList
{
};

// The library's policy for a host class: the scalar policy converting to 64-bit integers or to
// doubles, as the class stores integers or floats; the normal and the intensity have their own.
template <class X>
struct LibraryPolicyOf
{
    using Stored = typename orv::Data::ExtraData::Details::ExtraDataTraits<X>::Stored;
    using Type = orv::Data::ExtraData::Details::CloudExtraDataPolicy<
        X, std::conditional_t<std::is_integral_v<Stored>, std::uint64_t, double>>;
};
template <>
struct LibraryPolicyOf<orv::Data::Cloud::CloudNormalExtraData>
{
    using Type = CloudNormalExtraDataConversionPolicy;
};
template <>
struct LibraryPolicyOf<orv::Data::Cloud::CloudIntensityExtraData>
{
    using Type = CloudIntensityExtraDataConversionPolicy;
};

template <class Places>
struct PoliciesInOrder;
template <std::size_t... I>
struct PoliciesInOrder<std::index_sequence<I...>>
{
    using Type = PolicyList<typename LibraryPolicyOf<
        typename orv::Data::ExtraData::Details::ExtraDataRowAt<I>::Type>::Type...>;
};

using LibraryPolicies = PoliciesInOrder<
    std::make_index_sequence<orv::Data::ExtraData::Details::kExtraDataRowCount>>::Type;

} // namespace orv::DataProxy::ExtraData
