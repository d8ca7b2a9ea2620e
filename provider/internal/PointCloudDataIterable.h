#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "host/geometry/Cloud.h"

#include <cstdint>
#include <memory>

namespace orv::Data::Cloud
{

// A half-open range [begin, end) of point ordinals of a host cloud (ordinals count the
// points a host cursor visits: hidden points are skipped).
//
// Holds a copy of the cloud (cheap: the host's copies share storage) and borrows the
// provider's mapping and the client's consumer: both must outlive the iterable and every
// cursor created while they are read. The mapping is read when a cursor is created, so a
// key mapped between GetIterable and CreateCursor is seen by that cursor.
//
// Splitting: IsDivisible(hint) is true when the range holds more than twice the hint's
// minimum piece size (never for a size of 0, and without overflow for huge sizes); Split
// keeps [begin, mid) and returns [mid, end), mid = begin + (end - begin) / 2. Split checks
// nothing: IsDivisible is the guard. Pieces may go to different threads; each piece and
// its cursors are used by one thread at a time.
//
// Beside the contract it offers block reads (IPointDataBlockSource): a block reader is made
// from what a cursor is made from and delivers the same points; and its size (ISizedCollection).
class PointCloudDataIterable final : public orv::DataProxy::IPointDataIterable,
                                     public orv::DataProxy::IPointDataBlockSource,
                                     public orv::DataProxy::ISizedCollection
{
public:
    PointCloudDataIterable(const PointCloud& cloud, const ComponentMapping* mapping,
                           const orv::DataProxy::IPointDataConsumer* consumer);

    std::shared_ptr<orv::DataProxy::IPointDataCursor> CreateCursor() const override;
    bool IsEmpty() const override;
    bool IsDivisible(const orv::DataProxy::IPointDataSplitHint& hint) const override;
    std::unique_ptr<orv::DataProxy::IPointDataIterable> Split() override;

    std::unique_ptr<orv::DataProxy::IPointDataBlockReader>
    CreateBlockReader(const orv::DataProxy::IPointDataConsumer& narrowing) const override;

    // The points a cursor of this iterable walks: its range of ordinals.
    std::uint64_t Size() const override { return end - begin; }

    // What a cursor or a block reader of the iterable is made from: its range of ordinals, its
    // own copy of the cloud, the provider's mapping and the consumer.
    std::uint64_t Begin() const { return begin; }
    std::uint64_t End() const { return end; }
    const PointCloud& Cloud() const { return cloud; }
    const ComponentMapping& Mapping() const { return *mapping; }
    const orv::DataProxy::IPointDataConsumer& Consumer() const { return *consumer; }

private:
    std::uint64_t begin;
    std::uint64_t end;
    PointCloud cloud;
    const ComponentMapping* mapping;
    const orv::DataProxy::IPointDataConsumer* consumer;
};

} // namespace orv::Data::Cloud
