#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "extradata/internal/ComponentTable.h"
#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/Values.h"

#include <cstdint>
#include <optional>
#include <tuple>
#include <utility>
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

    bool ServesPosition() const override { return positionReader.has_value(); }
    std::vector<orv::DataProxy::PointDataComponents::ComponentKey> GetServedKeys() const override;

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

    // The readers of one component by index. A cursor has a handful at most, so a linear
    // search over contiguous entries is cheaper per read than hashing (no division, no node
    // to chase). find/end have the shape the keyed look-up expects.
    template <class T>
    class ReaderTable
    {
    public:
        using Entry = std::pair<unsigned char, Reader<T>>;

        const Entry* find(unsigned char index) const
        {
            const Entry* entry = entries.data();
            const Entry* const last = entry + entries.size();
            while (entry != last && entry->first != index)
            {
                ++entry;
            }
            return entry;
        }
        const Entry* end() const { return entries.data() + entries.size(); }

        // Adds the reader unless the index has one already (the first one stays).
        void TryAdd(unsigned char index, const Reader<T>& reader)
        {
            if (find(index) == end())
            {
                entries.emplace_back(index, reader);
            }
        }

        // Entries never move once the cursor is built: the step list points into them.
        std::vector<Entry> entries;
    };

    // One reader table per extra-data component, in the component table's order.
    template <class... Rows>
    using ReaderTables = std::tuple<ReaderTable<typename Rows::HostValue>...>;

    template <class Row>
    ReaderTable<typename Row::HostValue>& ReadersOf()
    {
        return std::get<ReaderTable<typename Row::HostValue>>(readers);
    }
    template <class Row>
    const ReaderTable<typename Row::HostValue>& ReadersOf() const
    {
        return std::get<ReaderTable<typename Row::HostValue>>(readers);
    }

    template <class T>
    void AddReader(ReaderTable<T>& table, unsigned char index, int extraDataType);

    template <class T>
    std::optional<T> Read(const ReaderTable<T>& table, unsigned char index) const;

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
    orv::DataProxy::ExtraData::ForEachRow<ReaderTables>::Type readers;
    // Every reader's position, for the step; listed once all readers are in place.
    std::vector<ElementPosition*> positions;
};

} // namespace orv::Data::Cloud
