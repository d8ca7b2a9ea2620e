#pragma once

#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/Values.h"

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace orv::Data::Cloud
{

// Walks a range of ordinals of a host cloud and delivers, per point, the world position,
// the point index and the values of the extra-data keys the consumer asked for.
//
// Everything is resolved once, at construction: the consumer is asked about (Position, 0)
// and then about every mapped key; each wanted key of components Vector3 .. Color gets a
// reader holding the host's conversion policy (or none) and an element iterator. The
// per-point path (getters, MoveNext) allocates nothing and re-fetches iterators from the
// host only when the walk enters a new subset.
//
// Holds its own copy of the cloud (the host's copies share storage), so it stays valid
// when the iterable that made it is gone; the policies belong to the host registry and must
// stay registered while the cursor is used. One thread at a time.
// Throws: extra-data getters std::out_of_range ("invalid unordered_map<K, T> key") for an
// index that has no reader; GetPosition std::bad_optional_access when (Position, 0) was not
// requested. An absent value is an empty optional.
class PointCloudDataCursor final : public orv::DataProxy::IPointDataCursor
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

private:
    using Iterator = orv::Collection::TableCluster::Iterator;

    // Where a reader stands: the element of the current point in its extra-data table.
    struct ElementPosition
    {
        Iterator iterator;
        int extraDataType;
    };

    template <class T>
    struct Reader
    {
        ElementPosition position;
        const orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>* policy;
    };

    template <class T>
    using ReaderMap = std::unordered_map<unsigned char, Reader<T>>;

    template <class T>
    void AddReader(ReaderMap<T>& readers, unsigned char index, int extraDataType);

    template <class T>
    std::optional<T> Read(const ReaderMap<T>& readers, unsigned char index) const;

    static void Advance(Iterator& iterator, std::uint64_t step)
    {
        if (step == 1)
        {
            iterator.Next();
        }
        else
        {
            iterator += static_cast<std::int64_t>(step);
        }
    }

    std::uint64_t end;
    PointCloud cloud;
    CloudCursorBase<1> hostCursor;
    std::optional<Component::CloudPointCoordinate<1>> positionReader;
    ReaderMap<orv::Data::Primitive::ColorValue> colorReaders;
    ReaderMap<double> realReaders;
    ReaderMap<std::int64_t> signedReaders;
    ReaderMap<std::uint64_t> unsignedReaders;
    ReaderMap<orv::Math::Algebra::GVector3> vectorReaders;
    // Every reader's position, for the step: map nodes never move, so these stay valid.
    std::vector<ElementPosition*> positions;
};

} // namespace orv::Data::Cloud
