#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "provider/internal/BlockKernels.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orv::Data::Cloud
{

class PointCloudDataIterable;

// Fills blocks with the points of an iterable's range of ordinals [begin, end): what a
// PointCloudDataCursor of the same iterable delivers, a run of consecutive elements at a time
// instead of a point at a time.
//
// Construction resolves everything the cursor resolves, in the same way: the consumer is asked
// about (Position, 0), then about every mapped key, and each wanted key of components
// Vector3 .. Color gets the host's policy for its type id and value type. Where that policy is
// one of this library's own, whole runs are decoded inline by the block kernels, once checked
// against the host's own decoders: every compressed-intensity code in the cloud's range, and a
// sample of packed normals and floats (see the .cpp); any other policy is called per element.
//
// The walk: in a subset without hidden points a run is every point up to the subset's end (or
// the block's room), read straight from the element tables, and the host cursor is placed anew
// at the next ordinal afterwards; in a subset with hidden points the host cursor steps point by
// point and the runs are the stretches of consecutive visible points. Element iterators move
// exactly as the cursor moves them, so an iterator that runs off its table's buffers gives "no
// value" until the next subset, as with the cursor.
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

    // How a key's elements become values.
    enum class Decode : std::uint8_t
    {
        Absent,  // no policy: never a value
        Generic, // the policy's GetValue, element by element
        WidenU8, // this library's scalar policies
        WidenU16,
        WidenU32,
        WidenF32,   // also the intensity policy in float mode
        Normal,     // this library's normal policy
        Compressed, // this library's intensity policy in compressed mode
        Constant,   // this library's intensity policy in any other mode
    };

    struct KeyReader
    {
        orv::DataProxy::PointDataComponents::ComponentKey key;
        int extraDataType;
        Decode decode;
        // The policy as ICloudExtraDataConversionPolicy<T> of the component's T, or null.
        const void* policy;
        std::uint32_t elementSize; // of the inline decodes
        Iterator iterator;
    };

    KeyReader MakeReader(orv::DataProxy::PointDataComponents::ComponentKey key, int extraDataType);
    void Enter();
    std::size_t ReadFiltered(orv::DataProxy::PointDataBlock& block, std::size_t at,
                             std::uint64_t room);
    void ReadRun(orv::DataProxy::PointDataBlock& block, std::size_t at, std::size_t n);
    void ReadPositions(orv::DataProxy::PointDataBlock& block, std::size_t at, std::size_t n);
    void ReadKey(KeyReader& reader, orv::DataProxy::PointDataBlock::Storage& column, std::size_t at,
                 std::size_t n);
    void DecodeElements(const KeyReader& reader, const std::uint8_t* elements, std::uint32_t stride,
                        std::size_t n, void* values) const;
    template <class T, class Out>
    void CallPolicy(const KeyReader& reader, const std::uint8_t* elements, std::uint32_t stride,
                    std::size_t n, Out* out) const;
    void Skip(std::uint64_t k);

    std::uint64_t end;
    PointCloud cloud;
    const BlockKernels::Kernels& kernels;
    std::optional<CloudCursorBase<1>> hostCursor;
    std::optional<Component::CloudPointCoordinate<1>> positionReader;
    std::vector<KeyReader> readers; // in layout order
    orv::DataProxy::PointDataBlockLayout layout;
    float valueMin = 0.0f; // the cloud's range, for compressed intensities
    float valueMax = 0.0f;

    // Where the walk stands: the ordinal of the next point, its local index and the point
    // index of local index 0 of its subset. `reseat`: the walk has left a subset without
    // hidden points, so the host cursor must be placed at `ordinal` before reading on.
    std::uint64_t ordinal = 0;
    std::uint64_t local = 0;
    std::uint64_t subsetBase = 0;
    bool reseat = false;
    std::vector<std::uint64_t> locals; // local indices of the points of a filtered stretch
};

} // namespace orv::Data::Cloud
