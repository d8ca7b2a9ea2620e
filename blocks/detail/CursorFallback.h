#pragma once

#include "blocks/PointDataBlock.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

// The fallback of ForEachBlock: blocks filled point by point from a cursor, for iterables that
// do not fill blocks themselves. Not an interface: included by blocks/PointDataBlocks.h only.

namespace orv::DataProxy
{

namespace Detail
{

// Calls f with the value the accessor's (or cursor's) getter of the key's component gives for
// the key; false for components without a getter of their own. A template, so that the getters
// of a final class are called directly.
template <class Accessor, class F>
bool WithValue(const Accessor& cursor, PointDataComponents::ComponentKey key, F&& f)
{
    return VisitExtraDataComponent(
        key.component,
        [&](auto c) { f(ComponentValue<decltype(c)::value>::Get(cursor, key.index)); });
}

// Whether the cursor serves the key: its getters throw std::out_of_range for keys it does not.
inline bool Serves(const IPointDataCursor& cursor, PointDataComponents::ComponentKey key)
{
    try
    {
        if (key == PointDataComponents::ComponentKey{EPointDataComponent::Position, 0})
        {
            (void)cursor.GetPosition();
            return true;
        }
        return WithValue(cursor, key, [](const auto&) {});
    }
    catch (const std::out_of_range&)
    {
        return false;
    }
}

// The layout of a cursor's blocks: point indices, and of what the cursor, standing on its first
// point, serves, the position and the extra-data keys the consumer requests. A cursor that
// lists what it serves is asked once; any other is tried once per key the consumer requests.
inline PointDataBlockLayout CursorLayout(const IPointDataCursor& cursor,
                                         const IPointDataConsumer& consumer)
{
    PointDataBlockLayout layout;
    layout.pointIndices = true;
    const auto* listed = dynamic_cast<const IPointDataServedKeys*>(&cursor);
    layout.positions = consumer.IsComponentRequested(EPointDataComponent::Position, 0) &&
                       (listed != nullptr ? listed->ServesPosition()
                                          : Serves(cursor, {EPointDataComponent::Position, 0}));
    if (listed != nullptr)
    {
        for (const PointDataComponents::ComponentKey& key : listed->GetServedKeys())
        {
            if (consumer.IsComponentRequested(key.component, key.index))
            {
                layout.keys.push_back(key);
            }
        }
        return layout;
    }
    for (auto c = static_cast<std::uint8_t>(EPointDataComponent::Vector3);
         c <= static_cast<std::uint8_t>(EPointDataComponent::Color); ++c)
    {
        for (unsigned index = 0; index < 256; ++index)
        {
            const PointDataComponents::ComponentKey key{static_cast<EPointDataComponent>(c),
                                                        static_cast<std::uint8_t>(index)};
            if (consumer.IsComponentRequested(key.component, key.index) && Serves(cursor, key))
            {
                layout.keys.push_back(key);
            }
        }
    }
    return layout;
}

// Point i's value of the column's key, or its absence.
template <class Accessor>
void ReadKey(const Accessor& cursor, PointDataBlock::Storage& column, std::size_t i)
{
    WithValue(cursor, column.key,
              [&](const auto& value)
              {
                  using T = typename std::decay_t<decltype(value)>::value_type;
                  if (value)
                  {
                      static_cast<T*>(column.values)[i] = *value;
                      column.present[i] = 1;
                  }
                  else
                  {
                      std::memset(static_cast<T*>(column.values) + i, 0, sizeof(T));
                      column.present[i] = 0;
                  }
              });
}

// One block filled point by point from the cursor, which stands on a valid point; leaves it on
// the point after the block's last and says whether that one is valid. One loop per choice of
// columns, so that the loop does no more than the block needs.
template <bool kPositions, bool kKeys>
std::size_t FillFromCursor(IPointDataCursor& cursor, PointDataBlock& block, bool& valid)
{
    // y and z lie at fixed distances after x: one pointer fewer to keep across the calls.
    double* const x = block.MutableX();
    constexpr std::size_t kY = PointDataBlock::kCapacity;
    constexpr std::size_t kZ = 2 * PointDataBlock::kCapacity;
    std::uint64_t* const indices = block.MutablePointIndices();
    std::size_t n = 0;
    bool more = true;
    do
    {
        if constexpr (kPositions)
        {
            const GPointDouble p = cursor.GetPosition();
            x[n] = p.x;
            x[kY + n] = p.y;
            x[kZ + n] = p.z;
        }
        indices[n] = cursor.GetPointIndex();
        if constexpr (kKeys)
        {
            for (PointDataBlock::Storage& column : block.MutableColumns())
            {
                ReadKey(cursor, column, n);
            }
        }
        cursor.MoveNext();
        more = cursor.IsValid();
        ++n;
    } while (more && n < PointDataBlock::kCapacity);
    valid = more;
    return n;
}

// The blocks of any iterable, filled point by point from one of its cursors.
template <class F>
void ForEachCursorBlock(const IPointDataIterable& iterable, const IPointDataConsumer& consumer,
                        F& f)
{
    const std::shared_ptr<IPointDataCursor> owned = iterable.CreateCursor();
    IPointDataCursor& cursor = *owned;
    if (!cursor.IsValid())
    {
        return;
    }
    PointDataBlock block(CursorLayout(cursor, consumer));
    using Fill = std::size_t (*)(IPointDataCursor&, PointDataBlock&, bool&);
    constexpr Fill kFills[4] = {FillFromCursor<false, false>, FillFromCursor<false, true>,
                                FillFromCursor<true, false>, FillFromCursor<true, true>};
    const Fill fill =
        kFills[(block.HasPositions() ? 2 : 0) + (block.MutableColumns().empty() ? 0 : 1)];
    for (bool valid = true; valid;)
    {
        block.SetSize(fill(cursor, block, valid));
        f(static_cast<const PointDataBlock&>(block));
    }
}

} // namespace Detail

} // namespace orv::DataProxy
