#pragma once

#include "examples/demo/DemoSteps.h"
#include "host/geometry/Cloud.h"
#include "las/LasFields.h"

#include <string>

namespace orv::Demo
{

// Loads an uncompressed LAS file into a reference-host cloud through a builder (the LAS
// library's reader and default field mapping). Intensity becomes CloudIntensityNewExtraData,
// classification CloudClassificationExtraData, the point source id CloudScanIDExtraData; with
// RGB the cloud is a colour cloud whose CloudIntensityExtraData holds the colours (8-bit
// colours stored in the 16-bit fields are recognised). The cloud's frame sits at the data
// (LasBuilderFactory). Throws orv::DataProxy::Las::LasError naming the file and what is wrong
// with it, std::range_error when a point cannot be kept within a millimetre even so.
orv::Data::Cloud::PointCloud LoadLasScan(const std::string& path);

// The LAS fields a scan's keys write to (intensity, classification, point source id, RGB): the
// field map with which WriteLas writes a cloud such as LoadLasScan gives, or one built like it.
orv::DataProxy::Las::LasFieldMap LasFieldsOf(const ScanKeys& keys);

} // namespace orv::Demo
