#pragma once

#include "contract/Interfaces.h"
#include "las/LasExport.h"
#include "las/LasFields.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orv::DataProxy::Las
{

struct LasWriteOptions
{
    // Coordinate steps; each must be finite and positive.
    std::array<double, 3> scale{0.001, 0.001, 0.001};
    // Default: the minimum corner of the provider's bounding box (IBoundingBoxProvider when
    // the provider offers it, otherwise a first pass over the positions; 0 without points).
    std::optional<std::array<double, 3>> offset;
    // Called every few hundred thousand points with the number written so far.
    std::function<void(std::uint64_t written)> progress;
};

// What was written, as the file's header says it.
struct LasWriteSummary
{
    std::uint64_t pointCount = 0;
    std::uint8_t pointFormat = 0;
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    // Bounds of the coordinates as stored (all zero without points).
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    std::array<std::uint64_t, 15> pointsByReturn{};
};

// Writes every point of `provider` to a LAS 1.4 file: point format 6, 7 when an Rgb field is
// mapped, 8 when Nir is. The provider is read through the contract a block at a time
// (ForEachBlock over an iterable whose consumer asks for the position and the keys of
// `fields`: the provider's own block reader, or its cursor); each field takes its value
// from its key, rounded and saturated to the field's range (Rgb channels times 65535, the scan
// angle in degrees). A key without a value for a point, or a field not mapped, is written as
// 0, except return number and number of returns, which are then 1. Positions are stored as
// round((coordinate - offset) / scale).
//
// The file is written under a temporary name beside `path` and renamed to `path` only when
// complete: a failure (a position that does not fit 32 bits at the chosen scale and offset, a
// full disk, an exception of the provider) removes it and leaves `path` as it was.
//
// Throws LasError naming `path` and the fault, also for a key of `fields` the provider does
// not have and for an unusable scale or offset; std::invalid_argument for an unusable
// `fields`; the provider's exceptions pass through.
// Removes the temporary files of the writes under way, and nothing else. Safe in a signal
// handler (it only unlinks names kept in fixed slots): a program interrupted while writing
// calls it before it ends, so that no OUT.partial-* file is left behind (orv_clip does so on
// SIGINT, SIGTERM and SIGHUP).
ORV_LAS_API void RemoveUnfinishedFiles() noexcept;

ORV_LAS_API LasWriteSummary WriteLas(const std::string& path,
                                     const orv::DataProxy::IPointDataProvider& provider,
                                     const LasFieldMap& fields,
                                     const LasWriteOptions& options = {});

} // namespace orv::DataProxy::Las
