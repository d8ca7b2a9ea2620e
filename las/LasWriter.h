#pragma once

#include "contract/Interfaces.h"
#include "las/LasExport.h"
#include "las/LasFields.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv::DataProxy::Las
{

class LasReader;

// A provider's key written as extra bytes, described in the LAS 1.4 extra-bytes record (user
// "LASF_Spec", record 4) so that other programs read it back by its name:
//   UnsignedInteger  one unsigned 64-bit dimension `name`
//   SignedInteger    one signed 64-bit dimension `name`
//   Real             one double `name`
//   Vector3          three doubles `name`_x, `name`_y, `name`_z (normals, for example)
//   Color            three unsigned 16-bit channels `name`_r, _g, _b (channel times 65535)
// A point without a value gets the dimension's "no data" value (the largest unsigned, the
// smallest signed integer, NaN), which the record declares. `name` (with its suffix) must fit
// 32 bytes.
struct LasExtraBytesKey
{
    std::string name;
    orv::DataProxy::PointDataComponents::ComponentKey key;
    std::string description = {}; // up to 32 bytes, may be empty
};

struct LasWriteOptions
{
    // The file the points were read from, with ELasField::RecordNumber among the fields the
    // reader delivered and among the writer's `fields` (on the same key). Each point that has
    // a record number starts as a copy of that record of the source: every field, its extra
    // bytes and its waveform packet are kept, including those no key carries; the mapped
    // fields are then written over it from the provider (a clip writes the same values back).
    // Two exceptions keep what the host's storage would coarsen:
    //   - the position: the source's exact coordinates, unless the provider's position lies
    //     further than `positionTolerance` from them (the point was moved: it is written at
    //     its new position);
    //   - RGB: the source's 16 bits, unless the provider's colour, at 8 bits per channel,
    //     differs from what LasColorDepth::Detect gives for the source record.
    // The output keeps the source's point format when it holds every mapped field (else the
    // LAS 1.4 format of 6 to 10 that holds them and the source's), its version when that
    // allows the format (else 1.4), its scale and offset unless given below, its global
    // encoding, file source id and project id, and its variable-length records, those of the
    // coordinate system first, the extra-bytes record extended by `extraBytes`; a 1.4 output
    // also gets the source's extended records (a waveform record among them is pointed to).
    // Counts and bounds are those of the points written. Points without a record number are
    // encoded from the provider alone. The reader must live until the write ends and must not
    // name the output file (LasError). Limits: record numbers are 4 bytes in the host, so a
    // source of more than 2^32 points cannot be copied from; internal waveform data of a 1.3
    // file is not copied.
    const LasReader* source = nullptr;
    // Coordinate steps, each finite and positive. Default: the source's, else 0.001.
    std::optional<std::array<double, 3>> scale;
    // Default: the source's; without a source, the largest multiple of 2^20 steps at most the
    // minimum corner of the provider's bounding box (IBoundingBoxProvider when the provider
    // offers it, otherwise a first pass over the positions; 0 without points), so that a
    // corner moved by float noise gives the same offset and writing the same points twice
    // gives the same records. A point that does not fit 32 bits at the scale and offset is a
    // LasError naming it and the scale and offset.
    std::optional<std::array<double, 3>> offset;
    // Per axis; default: the larger of the scale and |coordinate| x 2^-23 (what float storage
    // relative to the origin may move a point by).
    std::optional<std::array<double, 3>> positionTolerance;
    // Keys written as extra bytes after the records' fields (and after the source's own).
    std::vector<LasExtraBytesKey> extraBytes;
    // Called every few hundred thousand points with the number written so far.
    std::function<void(std::uint64_t written)> progress;
};

// What was written, as the file's header says it.
struct LasWriteSummary
{
    std::uint64_t pointCount = 0;
    std::uint8_t versionMinor = 4;
    std::uint8_t pointFormat = 0;
    std::uint16_t recordLength = 0;
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    // Bounds of the coordinates as stored (all zero without points).
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    std::array<std::uint64_t, 15> pointsByReturn{};
    std::uint64_t copiedRecords = 0; // points that started as a copy of their source record
};

// Removes the temporary files of the writes under way, and nothing else. Safe in a signal
// handler (it only unlinks names kept in fixed slots): a program interrupted while writing
// calls it before it ends, so that no OUT.partial-* file is left behind (orv_clip does so on
// SIGINT, SIGTERM and SIGHUP).
ORV_LAS_API void RemoveUnfinishedFiles() noexcept;

// Writes every point of `provider` to a LAS file. Without a source (see LasWriteOptions):
// LAS 1.4, point format 6, 7 when an Rgb field is mapped, 8 when Nir is. The provider is read
// through the contract a block at a time (ForEachBlock over an iterable whose consumer asks for
// the position and the keys of `fields` and `extraBytes`); each field takes its value
// from its key, rounded and saturated to the field's range (Rgb channels times 65535, the scan
// angle in degrees). A field not mapped, or whose key has no value for a point, keeps the
// source record's value, or is 0 without one, except return number and number of returns,
// which are then 1. Positions are stored as round((coordinate - offset) / scale).
//
// The file is written under a temporary name beside `path` and renamed to `path` only when
// complete: a failure (a position that does not fit 32 bits at the chosen scale and offset, a
// full disk, an exception of the provider) removes it and leaves `path` as it was.
//
// Throws LasError naming `path` and the fault, also for a key of `fields` the provider does
// not have and for an unusable scale or offset; std::invalid_argument for an unusable
// `fields` or `extraBytes`; the provider's exceptions pass through.
ORV_LAS_API LasWriteSummary WriteLas(const std::string& path,
                                     const orv::DataProxy::IPointDataProvider& provider,
                                     const LasFieldMap& fields,
                                     const LasWriteOptions& options = {});

} // namespace orv::DataProxy::Las
