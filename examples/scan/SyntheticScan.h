#pragma once

#include "host/geometry/Cloud.h"

#include <cstdint>

// A generated aerial scan for the demo, the benchmarks and the end-to-end tests: a rolling
// terrain with a few flat-roofed buildings and scattered vegetation, seen by five flight
// lines, in a rotated cloud frame at projected coordinates of hundreds of thousands of
// metres. Every point carries a normal, an intensity, a classification and a scan id;
// about one point in fifty is hidden.

namespace orv::Demo
{

struct ScanOptions
{
    std::uint64_t points = 2'000'000;
    std::uint64_t seed = 42;
    std::uint32_t subsetCapacity = 65'536;
    // One stored point in `hideEvery` is hidden (0: none).
    std::uint32_t hideEvery = 50;
};

// The classes the generator uses (the usual aerial-survey codes).
enum ScanClass : std::uint8_t
{
    kGround = 2,
    kVegetation = 5,
    kBuilding = 6,
};

// World extent of the generated tile.
constexpr double kOriginX = 652'000.0;
constexpr double kOriginY = 5'180'000.0;
constexpr double kBaseZ = 300.0;
constexpr double kTileSize = 1'000.0;

// Builds the scan in the reference host. Deterministic for given options.
orv::Data::Cloud::PointCloud GenerateScan(const ScanOptions& options);

// The frame the generator gives the cloud: a rotation of 30 degrees about z, translated
// to the tile's origin.
orv::Math::Algebra::Matrix3x4 ScanFrame();

} // namespace orv::Demo
