#include "host/geometry/ExtraDataTypes.h"

#include "host/geometry/ExtraDataRegistry.h"

#include <vector>

namespace orv::Data::Cloud
{

#define ORV_DEFINE_STATIC_TYPE(Name, Stored)                                                       \
    const eastl::basic_string<char>& Name##ExtraData::GetStaticType()                              \
    {                                                                                              \
        static const eastl::basic_string<char> name(#Name "ExtraData");                            \
        return name;                                                                               \
    }

ORV_CLOUD_EXTRA_DATA_TYPES(ORV_DEFINE_STATIC_TYPE)

#undef ORV_DEFINE_STATIC_TYPE

namespace
{

struct KnownType
{
    int typeId;
    uint32_t width;
    const eastl::basic_string<char>* name;
};

const std::vector<KnownType>& KnownTypes()
{
#define ORV_KNOWN_TYPE(Name, Stored)                                                               \
    KnownType{Cloud##Name##ExtraData::TypeId(), uint32_t(sizeof(Stored)),                          \
              &Name##ExtraData::GetStaticType()},
    static const std::vector<KnownType> table{ORV_CLOUD_EXTRA_DATA_TYPES(ORV_KNOWN_TYPE)};
#undef ORV_KNOWN_TYPE
    return table;
}

// The twelve ids are asked for when the library loads, once each, so what the factory has
// counted is the same whatever runs first afterwards.
const bool g_knownTypesAskedAtLoad = !KnownTypes().empty();

} // namespace

uint32_t GetExtraDataElementSize(int typeId)
{
    for (const KnownType& t : KnownTypes())
    {
        if (t.typeId == typeId)
            return t.width;
    }
    const orv::Data::ExtraData::Details::ICloudExtraDataPolicy* policy =
        orv::Data::ExtraData::Details::FindAnyCloudExtraDataPolicy(typeId);
    return policy != nullptr ? policy->GetElementSize() : 0;
}

const eastl::basic_string<char>* GetExtraDataTypeName(int typeId)
{
    for (const KnownType& t : KnownTypes())
    {
        if (t.typeId == typeId)
            return t.name;
    }
    return nullptr;
}

} // namespace orv::Data::Cloud
