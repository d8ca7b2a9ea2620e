#include "extradata/internal/PolicyRegistration.h"

#include "extradata/internal/ComponentTable.h"
#include "extradata/internal/LibraryPolicies.h"
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

template <class List>
struct PolicyTable;

template <class... Policies>
struct PolicyTable<PolicyList<Policies...>>
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

// The host value type of every extra-data component, in the component table's order.
template <class... Rows>
struct HostValueTypes
{
    static std::array<std::type_index, sizeof...(Rows)> Get()
    {
        return {std::type_index(typeid(typename Rows::HostValue))...};
    }
};

// The registration table, in the order the registrations run.
using Table = PolicyTable<LibraryPolicies>;
Table::Registrations g_registrations;

} // namespace

unsigned int KnownElementSize(int extraDataType)
{
    if (const unsigned int size = Table::StoredSize(extraDataType); size != 0)
    {
        return size;
    }
    for (const std::type_index& valueType : ForEachRow<HostValueTypes>::Type::Get())
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
