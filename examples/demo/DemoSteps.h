#pragma once

#include "provider/PointCloudDataProvider.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>

// The demo's steps, kept apart from its command line so that tests can check their numbers
// against an independent computation.

namespace orv::Demo
{

// Which extra data a scan carries, as keys mapped on its provider.
struct ScanKeys
{
    std::optional<unsigned char> normal;         // Vector3
    std::optional<unsigned char> intensity;      // Real
    std::optional<unsigned char> classification; // UnsignedInteger
    std::optional<unsigned char> scanId;         // UnsignedInteger
    std::optional<unsigned char> color;          // Color
};

// Maps the extra data the cloud holds on `provider` and returns the keys.
ScanKeys MapScanExtraData(orv::Data::Cloud::PointCloudDataProvider& provider);

struct ReadStats
{
    std::uint64_t points = 0;
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    std::map<std::uint64_t, std::uint64_t> perClass;
    double intensitySum = 0.0;
    std::uint64_t intensityCount = 0;
    std::uint64_t normalCount = 0;
    double worstNormalError = 0.0; // largest | |n| - 1 |
    std::uint64_t pieces = 0;
    // Order-independent checksum of (point index, position) over every point read.
    std::uint64_t checksum = 0;
    double seconds = 0.0;
};

// Splits the provider's iterable for `threads` workers and reads every point with the
// given keys on that many threads.
ReadStats ReadInParallel(const orv::Data::Cloud::PointCloudDataProvider& provider,
                         const ScanKeys& keys, unsigned threads);

} // namespace orv::Demo
