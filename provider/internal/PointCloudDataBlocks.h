#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "provider/internal/BlockKernels.h"
#include "provider/internal/ReadPlan.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orv::Data::Cloud
{

class PointCloudDataIterable;

// Fills blocks with the points of an iterable's range of ordinals [begin, end): what a
// PointCloudDataCursor of the same iterable delivers, a run of consecutive elements at a time
// instead of a point at a time. Both read through a ReadPlan, which resolves the keys (see there)
// and walks the subsets; this reader adds the choice of decode per key: where a key's policy is
// one of this library's own, whole runs are decoded inline by the block kernels, once checked
// against the host's own decoders; any other policy is called element by element.
//
// The walk: in a subset without hidden points a run is every point up to the subset's end (or
// the block's room), read straight from the element tables, and the host cursor is placed anew
// at the next ordinal afterwards. In a subset with hidden points, or when a key is read through a
// policy not of ours, the host cursor steps point by point: such a policy is called with the host
// cursor on the point it reads (the host gives policies the cursor reading the point), and the
// inline decodes read the stretches of consecutive visible points as runs. Element iterators
// move exactly as the cursor moves them, so an iterator that runs off its table's buffers gives
// "no value" until the next subset, as with the cursor.
//
// Holds its own copy of the cloud; the policies must stay registered while it is used. One
// thread at a time.
class PointCloudDataBlockReader final : public orv::DataProxy::IPointDataBlockReader
{
public:
    // The columns: what a cursor of the iterable serves and `narrowing` also requests.
    PointCloudDataBlockReader(const PointCloudDataIterable& iterable,
                              const orv::DataProxy::IPointDataConsumer& narrowing);
    PointCloudDataBlockReader(const PointCloudDataBlockReader&) = delete;
    PointCloudDataBlockReader& operator=(const PointCloudDataBlockReader&) = delete;

    orv::DataProxy::PointDataBlockLayout GetLayout() const override;
    std::size_t Fill(orv::DataProxy::PointDataBlock& block) override;

private:
    using Iterator = orv::Collection::TableCluster::Iterator;
    using Decode = ReadPlan::Decode;

    void Enter();
    std::size_t ReadStepping(orv::DataProxy::PointDataBlock& block, std::size_t at,
                             std::uint64_t room);
    void ReadRun(orv::DataProxy::PointDataBlock& block, std::size_t at, std::size_t n);
    void Skip(std::uint64_t k);
    void ReadPositions(orv::DataProxy::PointDataBlock& block, std::size_t at, std::size_t n);
    void ReadKey(ReadPlan::Key& read, orv::DataProxy::PointDataBlock::Storage& column,
                 std::size_t at, std::size_t n);
    void DecodeElements(const ReadPlan::Key& read, const std::uint8_t* elements,
                        std::uint32_t stride, std::size_t n, void* values) const;
    template <class T, class Out>
    void CallPolicy(const ReadPlan::Key& read, const std::uint8_t* elements, std::uint32_t stride,
                    std::size_t n, Out* out) const;

    ReadPlan plan;
    const BlockKernels::Kernels& kernels;
    orv::DataProxy::PointDataBlockLayout layout;
    // The cloud's range, for compressed intensities.
    float cloudMin;
    float cloudMax;
    // A key read through a policy not of ours: the host cursor steps point by point.
    bool generic = false;

    // Where the walk stands: the ordinal of the next point, its local index and the point
    // index of local index 0 of its subset. `reseat`: the walk has left a subset without
    // hidden points, so the host cursor must be placed at `ordinal` before reading on.
    std::uint64_t ordinal = 0;
    std::uint64_t local = 0;
    std::uint64_t subsetBase = 0;
    bool reseat = false;
    std::vector<std::uint64_t> locals; // local indices of the points of a stepped stretch
};

} // namespace orv::Data::Cloud
