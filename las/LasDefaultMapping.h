#pragma once

#include "builder/PointCloudDataBuilderFactory.h"
#include "las/LasExport.h"
#include "las/LasFields.h"

namespace orv::DataProxy::Las
{

// Maps the usual LAS fields on a factory of host clouds and returns which key carries which:
//   intensity       (Real, next index)             CloudIntensityNewExtraData, width 4: a float,
//                                                  which holds every 16-bit value exactly
//   classification  (UnsignedInteger, next index)  CloudClassificationExtraData, width 1
//   RGB, if `color` (Color, next index)            CloudIntensityExtraData, the host's colour
//                                                  value: the clouds built are colour clouds
//   record number, if `recordNumbers`
//                   (UnsignedInteger, next index)  CloudGridPositionIndexExtraData, width 4:
//                                                  the record's ordinal in the file, which lets
//                                                  the writer copy every field of the source
//                                                  record (LasWriteOptions::source)
// The same map then serves to write those clouds, or query results over them, back to LAS.
// `color` is typically LasHeader::HasRgb() of the file to be read. Find a field's key with
// KeyOf: fields.KeyOf(ELasField::Intensity).
ORV_LAS_API LasFieldMap MapDefaultLasFields(orv::Data::Cloud::PointCloudDataBuilderFactory& factory,
                                            bool color, bool recordNumbers = false);

} // namespace orv::DataProxy::Las
