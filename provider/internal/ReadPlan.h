#pragma once

#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace orv::Data::Cloud
{

namespace BlockKernels
{
struct Kernels;
}

// One read of a range of ordinals [begin, end) of a host cloud: which keys are read and how,
// and where the walk stands. The cursor is a view of it a point at a time, the block reader a
// view of it a run at a time; both resolve and walk through this one class, so they cannot drift
// apart.
//
// Resolution, once, at construction: the consumer is asked about (Position, 0), then about every
// mapped key in the mapping's order (keys of components without extra data are asked about and
// then ignored). Each wanted key of components Vector3 .. Color gets the host's conversion policy
// for its type id and value type (null when there is none or it is of another type) and an
// element iterator. A block read passes the consumer of its call as `narrowing`: a key is read
// only when that one requests it too (asked only about what the first one wants; not at all when
// it is the first one).
//
// The walk: the host cursor, the position reader and one element iterator per key move together.
// Enter places the iterators on the host cursor's point after it entered a subset; Advance moves
// them k points on within the subset as a host step of k moves them; Step is one host step
// followed by one of the two. An iterator past the end of its table's buffer stays there: its key
// has no value until the next subset re-places it.
//
// Holds its own copy of the cloud (the host's copies share storage); the policies belong to the
// host registry and must stay registered while the plan is used. One thread at a time.
class ReadPlan
{
public:
    using Iterator = orv::Collection::TableCluster::Iterator;
    using ComponentKey = orv::DataProxy::PointDataComponents::ComponentKey;

    // How a run of a key's elements becomes values in a block read (ChooseDecoders). Each one
    // gives the bits the key's policy gives.
    enum class Decode : std::uint8_t
    {
        Absent,  // no policy: never a value
        Generic, // the policy's GetValue, element by element, the host cursor on the element's
                 // point
        WidenU8, // this library's scalar policies
        WidenU16,
        WidenU32,
        WidenF32,   // also the intensity policy in float mode
        Normal,     // this library's normal policy
        Compressed, // this library's intensity policy in compressed mode
        Constant,   // this library's intensity policy in any other mode
    };

    // One key read: where its element of the current point stands and how it becomes a value.
    struct Key
    {
        ComponentKey key;
        Decode decode;
        int extraDataType;
        // The policy as ICloudExtraDataConversionPolicy<T> of the component's T, or null.
        const void* policy;
        // Of the policy: this library's own class (ChooseDecoders); its element size.
        std::uint8_t own;
        std::uint32_t elementSize;
        Iterator iterator;

        template <class T>
        const orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>* Policy() const
        {
            return static_cast<
                const orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>*>(policy);
        }
    };

    ReadPlan(const orv::DataProxy::IPointDataConsumer& consumer,
             const orv::DataProxy::IPointDataConsumer* narrowing, const PointCloud& cloud,
             const ComponentMapping& mapping, std::uint64_t begin, std::uint64_t end);
    ReadPlan(const ReadPlan&) = delete;
    ReadPlan& operator=(const ReadPlan&) = delete;

    // For block reads with `kernels`: picks each key's decode (BlockKernels.h says how the inline
    // ones are checked against the host). Until then every key with a policy reads as Generic.
    void ChooseDecoders(const BlockKernels::Kernels& kernels);

    // The keys of one extra-data component, by index; `component` is one of Vector3 .. Color.
    const Key* FirstOf(orv::DataProxy::EPointDataComponent component) const
    {
        return firstOf[Slot(component)];
    }
    const Key* EndOf(orv::DataProxy::EPointDataComponent component) const
    {
        return firstOf[Slot(component) + 1];
    }

    bool IsValid() const { return hostCursor->GetOrdinal() < end; }

    // Places the iterators on the host cursor's point, which has entered a subset (or the end).
    void Enter();
    // Moves the iterators k points on within the subset; keys read Generic too when `generic`.
    void Advance(std::uint64_t k, bool generic = true)
    {
        if (positionReader)
        {
            Advance(positionReader->iterator, k);
        }
        for (Key& read : keys)
        {
            if (!read.iterator.AtBufferEnd() && (generic || read.decode != Decode::Generic))
            {
                Advance(read.iterator, k);
            }
        }
    }
    // One point on: the cursor's step.
    void Step()
    {
        const auto step = hostCursor->Step();
        if (step.subsetChanged)
        {
            Enter();
            return;
        }
        Advance(step.step);
    }
    // Places a new host cursor at `ordinal` and the iterators on its point: a read that has gone
    // through a subset without moving the host cursor continues from there.
    void Reseat(std::uint64_t ordinal);

    static void Advance(Iterator& iterator, std::uint64_t k)
    {
        if (k == 1)
        {
            iterator.Next();
        }
        else
        {
            Skip(iterator, k);
        }
    }
    // k > 1 points on: out of line, so that the cursor's step of one carries no set-up for it.
    static void Skip(Iterator& iterator, std::uint64_t k);

    std::uint64_t end;
    PointCloud cloud;
    // Optional so that Reseat can place a new one with the host's constructor alone.
    std::optional<CloudCursorBase<1>> hostCursor;
    std::optional<Component::CloudPointCoordinate<1>> positionReader;
    // Ordered by component, then index; never moved after construction.
    std::vector<Key> keys;

private:
    static std::size_t Slot(orv::DataProxy::EPointDataComponent component)
    {
        return static_cast<std::size_t>(component) -
               static_cast<std::size_t>(orv::DataProxy::EPointDataComponent::Vector3);
    }

    // firstOf[c] .. firstOf[c + 1]: the keys of the c-th extra-data component. Pointers, not
    // offsets: a cursor's getter finds its key with two loads, as it would in a table of its own.
    std::array<const Key*, 6> firstOf{};
};

} // namespace orv::Data::Cloud
