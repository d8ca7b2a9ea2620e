#pragma once

// Umbrella header of OrvDataProxyImplTzk: every public header of the library.

#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"
