#include "extradata/PolicyRegistration.h"

#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"
#include "host/eastl/allocator.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/Values.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <typeindex>

// Registration of the library's twelve policies with the host registry at load, and their
// withdrawal at unload.
//
// The twelve scopes live in one library-global array built from one type list, so the
// registrations run in the list's order by construction (static initialisation order is
// only guaranteed within a translation unit) and the array's elements are destroyed in the
// reverse order at unload: intensity first, classification last.

namespace orv::DataProxy::ExtraData
{
namespace
{

using namespace orv::Data::Cloud;
using orv::Data::ExtraData::Details::CloudExtraDataPolicy;
using orv::Data::ExtraData::Details::ExtraDataRegisterScope;
using orv::Data::ExtraData::Details::ICloudExtraDataPolicy;

// Each policy lives in one block from the host's allocator: the shared-pointer control
// block followed by the policy. The host takes over the reference; the library keeps no
// pointer to any policy. An allocator that gives nothing registers an empty pointer.
template <class Policy>
ExtraDataRegisterScope Register()
{
    static_assert(sizeof(Policy) == sizeof(void*), "policies hold no data");
    static_assert(eastl::allocate_shared_block_size<Policy> == 32,
                  "one 32-byte block: control block, then the policy");
    eastl::shared_ptr<ICloudExtraDataPolicy> policy =
        eastl::allocate_shared<Policy>(eastl::allocator());
    const std::type_index valueType(typeid(typename Policy::Value));
    const int typeId = ExtraDataTypeId<typename Policy::ExtraData>();
    return orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(typeId, valueType,
                                                                                 policy);
}

template <class... Policies>
struct PolicyTable
{
    struct Registrations
    {
        std::array<ExtraDataRegisterScope, sizeof...(Policies)> scopes{{Register<Policies>()...}};
    };

    // The element size of the class whose type id is `typeId`, 0 when no row has that id.
    static unsigned int StoredSize(int typeId)
    {
        const int ids[] = {ExtraDataTypeId<typename Policies::ExtraData>()...};
        const unsigned int sizes[] = {
            static_cast<unsigned int>(sizeof(typename Policies::Traits::Stored))...};
        for (std::size_t i = 0; i < sizeof...(Policies); ++i)
        {
            if (ids[i] == typeId)
            {
                return sizes[i];
            }
        }
        return 0;
    }
};

// The registration table, in the order the registrations run.
using LibraryPolicies =
    PolicyTable<CloudExtraDataPolicy<CloudClassificationExtraData, std::uint64_t>,
                CloudExtraDataPolicy<CloudGridPositionIndexExtraData, std::uint64_t>,
                CloudExtraDataPolicy<CloudSegmentationExtraData, std::uint64_t>,
                CloudExtraDataPolicy<CloudSplitColorExtraData, std::uint64_t>,
                CloudExtraDataPolicy<CloudClassificationInstanceExtraData, std::uint64_t>,
                CloudExtraDataPolicy<CloudImprovementStatsExtraData, double>,
                CloudExtraDataPolicy<CloudIntensityNewExtraData, double>,
                CloudExtraDataPolicy<CloudIntensityTempExtraData, double>,
                CloudExtraDataPolicy<CloudMaxProbabilityExtraData, double>,
                CloudExtraDataPolicy<CloudScanIDExtraData, std::uint64_t>,
                CloudNormalExtraDataConversionPolicy, CloudIntensityExtraDataConversionPolicy>;

LibraryPolicies::Registrations g_registrations;

} // namespace

unsigned int KnownElementSize(int extraDataType)
{
    if (const unsigned int size = LibraryPolicies::StoredSize(extraDataType); size != 0)
    {
        return size;
    }
    const std::type_index valueTypes[] = {typeid(orv::Math::Algebra::GVector3),
                                          typeid(std::uint64_t), typeid(std::int64_t),
                                          typeid(double), typeid(orv::Data::Primitive::ColorValue)};
    for (const std::type_index& valueType : valueTypes)
    {
        if (const ICloudExtraDataPolicy* policy =
                orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(extraDataType,
                                                                                 valueType))
        {
            return policy->GetElementSize();
        }
    }
    return 0;
}

} // namespace orv::DataProxy::ExtraData
