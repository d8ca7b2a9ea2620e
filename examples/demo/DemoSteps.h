#pragma once

#include "provider/PointCloudDataProvider.h"
#include "tools/render/Picture.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// An empty cloud whose frame is the translation to the origin of `source`'s frame: the prototype
// of clouds built from `source`'s points, which the host then stores about as precisely as
// `source` (a builder refuses points its host would store more coarsely than the tolerance, and
// a new cloud's frame is otherwise the host's choice).
orv::Data::Cloud::PointCloud EmptyCloudAtOriginOf(const orv::Data::Cloud::PointCloud& source);

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

// How the pieces are read: a block at a time (ForEachBlock), or point by point with a cursor.
enum class ReadPath
{
    Blocks,
    Cursor
};

// Splits the provider's iterable for `threads` workers and reads every point with the
// given keys on that many threads.
ReadStats ReadInParallel(const orv::Data::Cloud::PointCloudDataProvider& provider,
                         const ScanKeys& keys, unsigned threads, ReadPath path = ReadPath::Blocks);

} // namespace orv::Demo

namespace orv::Demo
{

// One spatial query of the demo, with its inversion.
struct QueryRun
{
    std::string name;
    std::uint64_t selected = 0;
    std::uint64_t rejected = 0;
    // selected + rejected hold every point exactly once (counts and position checksums).
    bool partitions = false;
    double seconds = 0.0; // both calls
    std::shared_ptr<orv::DataProxy::IPointDataProvider> inside;
};

// The four queries, placed from the scan's bounding box so they suit any scan: a box over
// the middle of the scan, a sphere at its centre, an endless vertical cylinder, and two
// clipping planes keeping one quadrant.
std::vector<QueryRun> RunQueries(const orv::Data::Cloud::PointCloudDataProvider& provider,
                                 std::uint64_t allPointsChecksum);

// The order-independent checksum of the positions of every point of `provider`.
std::uint64_t PositionChecksum(const orv::DataProxy::IPointDataProvider& provider);

struct CopyRun
{
    std::uint64_t points = 0;   // points copied
    std::uint64_t verified = 0; // read back from the new cloud and matched to the source
    unsigned builders = 0;
    double seconds = 0.0;
    bool hasKeys = false; // the result reports every mapped key
};

// The typical request: copies the points of `selection` (a query result carrying the
// scan's `mapping`) with their extra data into a new cloud through a factory and one builder
// per thread, merges the builders, reads the result back and verifies it point by point. An
// exception of a builder (a position its host would store too coarsely, say) passes through.
CopyRun CopyWithBuilders(const orv::DataProxy::IPointDataProvider& selection, const ScanKeys& keys,
                         const orv::Data::Cloud::ComponentMapping& mapping, unsigned threads);

// Writes the picture: the scan from above coloured as `colourBy` asks (when the scan has the key
// for it), and the same view with the query selections drawn over the faded scan. Returns what
// the colours show.
orv::Demo::Render::ColorBy WritePicture(const std::string& path,
                                        const orv::Data::Cloud::PointCloudDataProvider& provider,
                                        const ScanKeys& keys, const std::vector<QueryRun>& queries,
                                        orv::Demo::Render::ColorBy colorBy);

} // namespace orv::Demo
