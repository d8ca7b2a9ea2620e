#pragma once

// Umbrella header of OrvDataProxyImplTzk: every public header of the library.

#include "builder/PointCloudDataBuilder.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataBlockAppend.h"
#include "contract/PointDataBlocks.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"
#include "provider/PointCloudDataProvider.h"
