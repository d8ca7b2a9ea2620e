#include "host/base/HostVariant.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace orv
{
namespace
{

HostVariant VariantOfEnvironment()
{
    const char* value = std::getenv("ORV_HOST_VARIANT");
    return value != nullptr && std::strcmp(value, "alternate") == 0 ? HostVariant::Alternate
                                                                    : HostVariant::Reference;
}

// Read at load: OrvBase is initialised before the libraries that depend on it, so every choice
// made during their own static initialisation (type ids, registrations) already sees it.
std::atomic<int> g_variant{static_cast<int>(VariantOfEnvironment())};

} // namespace

HostVariant CurrentHostVariant()
{
    return static_cast<HostVariant>(g_variant.load(std::memory_order_relaxed));
}

namespace Details
{
void SetHostVariant(HostVariant variant)
{
    g_variant.store(static_cast<int>(variant), std::memory_order_relaxed);
}
} // namespace Details

} // namespace orv
