#pragma once

#include "host/base/HostVariant.h"
#include "host/geometry/GeometryExport.h"

namespace orv::Testing
{

// Test-only: makes this process's host follow `variant` from now on, as if ORV_HOST_VARIANT had
// said so when the host loaded, so that one test can run on both hosts in one process. Refused
// (false, nothing changes) while any cloud exists, since a cloud made under one set of choices
// must not meet the other. Everything follows the switch except the type ids: they are handed
// out while the host libraries load, so only the environment variable changes their scheme.
// Not for concurrent use; production code never calls it.
ORV_GEOMETRY_API bool UseHostVariant(orv::HostVariant variant);

} // namespace orv::Testing
