#pragma once

// A small shared library that asks the host factory about a class it shares with the tests.
// Both sides are built with hidden visibility, so each holds its own type_info for that class.

#include "host/core/Factory.h"

#include <cstdint>
#include <typeinfo>

#define ORV_PROBE_API __attribute__((visibility("default")))

namespace probe
{

// Defined inline on both sides of the library boundary.
class SharedProduct : public orv::General::IFactoryProduct
{
public:
    int payload = 0;
};

ORV_PROBE_API int TypeIdOfSharedProduct();
ORV_PROBE_API const std::type_info& TypeInfoOfSharedProduct();
ORV_PROBE_API const orv::General::IFactory* FactorySeenByProbe();

} // namespace probe
