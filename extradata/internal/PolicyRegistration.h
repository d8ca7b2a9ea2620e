#pragma once

#include "host/core/Factory.h"

#include <typeinfo>

// Type ids of the host extra-data classes as this library knows them: each asked once from
// the host factory, on first use, under thread-safe one-time initialisation, then kept for
// the life of the library. The normal's id has two users (its registration and the type
// query of the host's normal class as built here) and both go through this one accessor.

namespace orv::DataProxy::ExtraData
{

template <class X>
int ExtraDataTypeId()
{
    static const int id = orv::General::IFactory::GetInstance().GetTypeId(typeid(X));
    return id;
}

// Size in bytes of one stored element of the host extra-data type `extraDataType`, or 0 when
// the library cannot tell. The twelve classes this library converts answer from their traits
// rows; any other type through a policy the host registry holds for it under one of the
// contract's five value types (GetElementSize does not depend on the value type).
unsigned int KnownElementSize(int extraDataType);

} // namespace orv::DataProxy::ExtraData
