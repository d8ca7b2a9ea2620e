#pragma once

#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"

#include <vector>

namespace orv::Demo
{

// The voxel example's check, written apart from it and without its code: a plain one-thread
// pass over `input` groups the points by voxels of `size` metres (the first point of a voxel
// in the walk has its lowest point index), and `result` must hold, as a set, one point per
// voxel at its centroid (within the float precision of a frame at the origin: the result's
// coordinates are stored as floats) with the values of `keys` of its first point, exactly
// (normals left out: they come back within the host codec's bound).
bool MatchesOnePass(const orv::DataProxy::IPointDataProvider& input,
                    const std::vector<orv::DataProxy::PointDataComponents::ComponentKey>& keys,
                    double size, const orv::DataProxy::IPointDataProvider& result);

} // namespace orv::Demo
