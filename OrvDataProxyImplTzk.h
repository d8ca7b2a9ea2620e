#pragma once

// Umbrella header of OrvDataProxyImplTzk: every public header an algorithm author needs.
//
//   the contract       components and keys, the mapping, the interfaces, the value records,
//                      and the client helpers (consumers, split hint, SplitIntoPieces,
//                      PointCount, AsQueryable, Select, PointRecord, MappedKeys, and
//                      ReadPointArrays: positions and values as arrays)
//   the adapter        PointCloudDataProvider, PointCloudDataBuilderFactory,
//                      PointCloudDataBuilder and MergeBuilders
//   the host           its cloud model (PointCloud, GCloud, GCloudPointData, ColorValue,
//                      CompressedVector32Bits) and the twelve extra-data classes whose TypeId()
//                      a mapping records
//
// Not here: the iterable and cursor classes (internal: reach them through IPointDataIterable
// and IPointDataCursor), the LAS library (its own target, Orv::DataProxyLas: las/LasReader.h,
// las/LasWriter.h, las/LasDefaultMapping.h) and the reference host's test switches
// (host/geometry/VariantSwitch.h, host/base/HostVariant.h).

#include "blocks/PointDataBlockAppend.h"
#include "blocks/PointDataBlocks.h"
#include "builder/PointCloudDataBuilder.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"
#include "helpers/PointDataArrays.h"
#include "helpers/PointDataHelpers.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Values.h"
#include "provider/PointCloudDataProvider.h"
