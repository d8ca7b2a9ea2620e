#pragma once

#include "examples/neighbourhoods/Neighbourhoods.h"

#include <cstddef>

namespace orv::Demo
{

// The neighbourhood example's checks, written apart from it and without its search.

// The tree's k nearest neighbours of every `stride`-th point are the ones a brute-force search
// over all points finds, at the same squared distances (a tie at the k-th distance may be
// broken either way).
bool SameNeighbours(const orv::DataProxy::PointArrays& points, const KdTree& tree, unsigned k,
                    std::size_t stride);

// How far the normals Estimate gives on a flat, level patch of ground (a host cloud at projected
// coordinates in a rotated frame, read as the scan is) are from straight up, before they are
// packed for the host: the largest distance of one from (0, 0, 1).
double LevelPlaneTilt(unsigned k, unsigned threads);

// Both checks (every 500th point against brute force; the level plane's normals within 1e-6),
// each reported on a line of stdout; true when both pass.
bool CheckNeighbourhoods(const orv::DataProxy::PointArrays& points, const KdTree& tree, unsigned k,
                         unsigned threads);

} // namespace orv::Demo
