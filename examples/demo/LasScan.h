#pragma once

#include "host/geometry/Cloud.h"

#include <string>

namespace orv::Demo
{

// Loads an uncompressed LAS file into a reference-host cloud. The cloud's frame is a
// translation to the data's minimum corner, so stored floats keep millimetres at projected
// coordinates of hundreds of thousands. Intensity becomes CloudIntensityNewExtraData,
// classification CloudClassificationExtraData, the point source id CloudScanIDExtraData;
// with RGB the cloud is a colour cloud whose CloudIntensityExtraData holds the colours.
// Throws orv::Demo::Las::LasError naming the file and what is wrong with it.
orv::Data::Cloud::PointCloud LoadLasScan(const std::string& path);

} // namespace orv::Demo
