#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "host/geometry/Cloud.h"
#include "provider/internal/ReadPlan.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orv::Data::Cloud
{

// Walks a range of ordinals of a host cloud and delivers, per point, the world position,
// the point index and the values of the extra-data keys the consumer asked for.
//
// Everything is resolved once, at construction, by its ReadPlan: the consumer is asked about
// (Position, 0) and then about every mapped key; each wanted key of components Vector3 .. Color
// gets the host's conversion policy (or none) and an element iterator. The per-point path
// (getters, MoveNext) allocates nothing and re-fetches iterators from the host only when the
// walk enters a new subset.
//
// Holds its own copy of the cloud (the host's copies share storage), so it stays valid
// when the iterable that made it is gone; the policies belong to the host registry and must
// stay registered while the cursor is used. One thread at a time.
// Throws: extra-data getters std::out_of_range ("invalid unordered_map<K, T> key") for an
// index that has no reader; GetPosition std::out_of_range when (Position, 0) was not requested
// or the cursor is past its end (IsValid() false), changing nothing. An absent value is an
// empty optional. Past the end GetPointIndex returns where the walk stopped (see
// IPointDataCursor in contract/Interfaces.h).
// Beside the contract it says what it serves (IPointDataServedKeys), for block reads of it.
class PointCloudDataCursor final : public orv::DataProxy::IPointDataServedKeys
{
public:
    PointCloudDataCursor(const orv::DataProxy::IPointDataConsumer& consumer,
                         const PointCloud& cloud, const ComponentMapping& mapping,
                         std::uint64_t begin, std::uint64_t end);
    PointCloudDataCursor(const PointCloudDataCursor&) = delete;
    PointCloudDataCursor& operator=(const PointCloudDataCursor&) = delete;

    orv::DataProxy::GPointDouble GetPosition() const override;
    std::uint64_t GetPointIndex() const override;
    std::optional<orv::DataProxy::GVector3> GetVector3(unsigned char index) const override;
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char index) const override;
    std::optional<std::int64_t> GetSignedInteger(unsigned char index) const override;
    std::optional<double> GetReal(unsigned char index) const override;
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char index) const override;
    void MoveNext() override;
    bool IsValid() const override;

    bool ServesPosition() const override { return plan.positionReader.has_value(); }
    std::vector<orv::DataProxy::PointDataComponents::ComponentKey> GetServedKeys() const override;

private:
    template <class T>
    std::optional<T> Read(orv::DataProxy::EPointDataComponent component, unsigned char index) const;

    // Resolves the keys and walks the subsets; the cursor reads it a point at a time.
    ReadPlan plan;
};

} // namespace orv::Data::Cloud
