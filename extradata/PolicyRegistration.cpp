#include "extradata/PolicyRegistration.h"

#include "extradata/LibraryPolicies.h"
#include "host/eastl/allocator.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/ExtraDataRegistry.h"

#include <array>
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
struct Registrations;

template <class... Policies>
struct Registrations<PolicyList<Policies...>>
{
    std::array<ExtraDataRegisterScope, sizeof...(Policies)> scopes{{Register<Policies>()...}};
};

// The registration table, in the order the registrations run.
Registrations<LibraryPolicies> g_registrations;

} // namespace
} // namespace orv::DataProxy::ExtraData
