#pragma once

#include "builder/PointCloudDataBuilderFactory.h"
#include "las/LasExport.h"
#include "las/LasFields.h"
#include "las/LasHeader.h"

#include <cstddef>

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

// Maps the file's extra-bytes dimensions on host types that hold their values exactly, each
// type once per cloud (a type that a key of the factory already carries is passed over), and
// adds {ELasField::ExtraBytes, key, dimension} to `fields` for each one mapped:
//   unsigned, 1 byte    UnsignedInteger  CloudClassificationExtraData (1), else
//                                        CloudClassificationInstanceExtraData (2), else
//                                        CloudSegmentationExtraData (4)
//   unsigned, 2 bytes   UnsignedInteger  CloudClassificationInstanceExtraData (2), else
//                                        CloudSegmentationExtraData (4)
//   unsigned, 4 bytes   UnsignedInteger  CloudSegmentationExtraData (4)
//   signed, 1 or 2 bytes; a 4-byte float
//                       Real             CloudImprovementStatsExtraData (4): a float holds them
// only dimensions without scale and offset. The others (64-bit and 4-byte signed integers,
// doubles, scaled values, opaque bytes, and those whose host types are all taken) are left out:
// the host would round them. They still reach a file written with this one as its source,
// through the record copy. Returns how many dimensions were mapped.
ORV_LAS_API std::size_t MapLasExtraBytes(orv::Data::Cloud::PointCloudDataBuilderFactory& factory,
                                         const LasHeader& header, LasFieldMap& fields);

} // namespace orv::DataProxy::Las
