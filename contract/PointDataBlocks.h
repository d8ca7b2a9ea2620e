#pragma once

#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

// Block reads: the points of an iterable a block at a time, as columns.
//
// A cursor answers three virtual calls per point (IsValid, a getter, MoveNext); a block
// carries up to kPointDataBlockCapacity consecutive points as plain arrays, so an algorithm
// runs a tight loop over them that the compiler can vectorise. Blocks hold exactly what a
// cursor of the same iterable would deliver, bit for bit: the same points in the same order,
// world positions computed in the cursor's order of operations, the same point indices, the
// same extra-data values and the same absences.
//
// The entry point is ForEachBlock (below). Iterables that can fill blocks themselves offer the
// optional interface IPointDataBlockSource beside the contract's IPointDataIterable (found with
// dynamic_cast); for any other iterable ForEachBlock fills the very same blocks from a cursor.
// Split pieces are iterables too: read them on several threads, ForEachBlock on each.

namespace orv::DataProxy
{

// Points per block, sized for the first-level data cache (32 KiB on current x86 cores): at 256
// points, positions and point indices take 8 KiB and a block with three extra-data columns
// (a double, an integer and a GVector3) about 19 KiB, so the loop that reads a block back finds
// it where the reader has just written it, beside the element tables the reader streams
// through. Larger blocks no longer fit that cache; smaller ones pay the per-block calls more
// often.
inline constexpr std::size_t kPointDataBlockCapacity = 256;

// Each extra-data component's value type (Type: what the cursor's getter returns, and the type
// of the component's block columns) and its getter (Get(point, index) calls the accessor's
// getter of that component). Get is a template on the accessor, so that the getters of a final
// class are called directly.
template <EPointDataComponent C>
struct PointDataBlockValue;

#define ORV_DATAPROXY_COMPONENT_VALUE(C, T, Getter)                                                \
    template <>                                                                                    \
    struct PointDataBlockValue<EPointDataComponent::C>                                             \
    {                                                                                              \
        using Type = T;                                                                            \
        template <class Accessor>                                                                  \
        static std::optional<T> Get(const Accessor& point, unsigned char index)                    \
        {                                                                                          \
            return point.Getter(index);                                                            \
        }                                                                                          \
    };
ORV_DATAPROXY_COMPONENT_VALUE(Vector3, GVector3, GetVector3)
ORV_DATAPROXY_COMPONENT_VALUE(UnsignedInteger, std::uint64_t, GetUnsignedInteger)
ORV_DATAPROXY_COMPONENT_VALUE(SignedInteger, std::int64_t, GetSignedInteger)
ORV_DATAPROXY_COMPONENT_VALUE(Real, double, GetReal)
ORV_DATAPROXY_COMPONENT_VALUE(Color, RgbaColor, GetColor)
#undef ORV_DATAPROXY_COMPONENT_VALUE

// An accessor whose five extra-data getters all come from one template of Derived:
//   template <EPointDataComponent C>
//   std::optional<typename PointDataBlockValue<C>::Type> Value(unsigned char index) const;
// Derived gives the position and the point index, and befriends this class if Value is private.
template <class Derived>
class ComponentValueAccessor : public IPointDataAccessor
{
public:
    std::optional<GVector3> GetVector3(unsigned char index) const override
    {
        return Of<EPointDataComponent::Vector3>(index);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char index) const override
    {
        return Of<EPointDataComponent::UnsignedInteger>(index);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char index) const override
    {
        return Of<EPointDataComponent::SignedInteger>(index);
    }
    std::optional<double> GetReal(unsigned char index) const override
    {
        return Of<EPointDataComponent::Real>(index);
    }
    std::optional<RgbaColor> GetColor(unsigned char index) const override
    {
        return Of<EPointDataComponent::Color>(index);
    }

private:
    template <EPointDataComponent C>
    std::optional<typename PointDataBlockValue<C>::Type> Of(unsigned char index) const
    {
        return static_cast<const Derived&>(*this).template Value<C>(index);
    }
};

// Which columns a block carries: positions, point indices and one column per extra-data key,
// ordered by component, then index. Blocks that ForEachBlock gives always carry point indices,
// positions when (Position, 0) was requested; a writer of blocks chooses for itself.
struct PointDataBlockLayout
{
    bool positions = false;
    bool pointIndices = false;
    std::vector<PointDataComponents::ComponentKey> keys;
};

// One extra-data key's column: values[i] is point i's value where present[i] is 1; where it
// is 0 the point has no value (the cursor's empty optional) and values[i] is all zero bits.
template <class T>
struct PointDataColumn
{
    const T* values = nullptr;
    const std::uint8_t* present = nullptr;

    explicit operator bool() const { return values != nullptr; }
    // Point i's value as a getter gives it: none when absent or when there is no column.
    std::optional<T> At(std::size_t i) const
    {
        if (values == nullptr || present[i] == 0)
            return std::nullopt;
        return values[i];
    }
};

// The writing side of one key's column, for those who fill blocks to append them: Set gives
// point i a value, SetAbsent none (the value zeroed, as a read leaves it). Both sides of the
// pair change together, so a block never says a value is present that was not written.
template <class T>
struct PointDataMutableColumn
{
    T* values = nullptr;
    std::uint8_t* present = nullptr;

    explicit operator bool() const { return values != nullptr; }
    void Set(std::size_t i, const T& value) const
    {
        values[i] = value;
        present[i] = 1;
    }
    void SetAbsent(std::size_t i) const
    {
        std::memset(static_cast<void*>(values + i), 0, sizeof(T));
        present[i] = 0;
    }
};

// Up to kPointDataBlockCapacity consecutive points of an iterable, as columns. Arrays are
// 64-byte aligned and hold Size() valid entries. Not copyable; a block is filled again for
// each call of the callback, so keep copies of what must outlive the call.
class PointDataBlock
{
public:
    static constexpr std::size_t kCapacity = kPointDataBlockCapacity;

    explicit PointDataBlock(PointDataBlockLayout layoutIn) : layout(std::move(layoutIn))
    {
        std::size_t bytes = 0;
        const auto take = [&bytes](std::size_t length)
        {
            const std::size_t at = bytes;
            bytes += (length + 63) / 64 * 64;
            return at;
        };
        const std::size_t positionAt = layout.positions ? take(3 * kCapacity * sizeof(double)) : 0;
        const std::size_t indexAt =
            layout.pointIndices ? take(kCapacity * sizeof(std::uint64_t)) : 0;
        std::vector<std::pair<std::size_t, std::size_t>> columnAt;
        for (const PointDataComponents::ComponentKey& key : layout.keys)
        {
            const std::size_t valueSize = ValueSize(key.component);
            const std::size_t valuesAt = take(kCapacity * valueSize);
            columnAt.emplace_back(valuesAt, take(kCapacity));
        }
        storage.reset(static_cast<std::byte*>(::operator new (bytes, std::align_val_t{64})));
        std::memset(storage.get(), 0, bytes);
        if (layout.positions)
        {
            // One array, x then y then z: the cursor fallback relies on it.
            x = reinterpret_cast<double*>(storage.get() + positionAt);
            y = x + kCapacity;
            z = y + kCapacity;
        }
        if (layout.pointIndices)
        {
            indices = reinterpret_cast<std::uint64_t*>(storage.get() + indexAt);
        }
        for (std::size_t i = 0; i < layout.keys.size(); ++i)
        {
            columns.push_back(
                Storage{layout.keys[i], storage.get() + columnAt[i].first,
                        reinterpret_cast<std::uint8_t*>(storage.get()) + columnAt[i].second});
        }
    }
    PointDataBlock(const PointDataBlock&) = delete;
    PointDataBlock& operator=(const PointDataBlock&) = delete;

    std::size_t Size() const { return size; }
    bool HasPositions() const { return layout.positions; }
    const PointDataBlockLayout& Layout() const { return layout; }

    // World coordinates; null when (Position, 0) was not requested.
    const double* X() const { return x; }
    const double* Y() const { return y; }
    const double* Z() const { return z; }
    // Each point's index, as GetPointIndex gives it. Never null in a block that ForEachBlock
    // gives, whatever the consumer answers; null only in a block made from a layout without
    // point indices.
    const std::uint64_t* PointIndices() const { return indices; }

    // The column of key (C, index); empty (false) when the block carries none for the key:
    // not requested, not mapped, or a getter the cursor does not serve.
    template <EPointDataComponent C>
    PointDataColumn<typename PointDataBlockValue<C>::Type> Column(unsigned char index) const
    {
        using T = typename PointDataBlockValue<C>::Type;
        for (const Storage& column : columns)
        {
            if (column.key == PointDataComponents::ComponentKey{C, index})
            {
                return {static_cast<const T*>(column.values), column.present};
            }
        }
        return {};
    }

    // The column of key (C, index) to write, typed; empty (false) when the layout has no such
    // key. A new block's columns are all zero and absent.
    template <EPointDataComponent C>
    PointDataMutableColumn<typename PointDataBlockValue<C>::Type> MutableColumn(unsigned char index)
    {
        using T = typename PointDataBlockValue<C>::Type;
        const PointDataColumn<T> column =
            static_cast<const PointDataBlock&>(*this).Column<C>(index);
        return {const_cast<T*>(column.values), const_cast<std::uint8_t*>(column.present)};
    }

    // The writing side, for block readers: the columns untyped, MutableColumns()[k] being the
    // column of Layout().keys[k] (the order the layout lists them in: the layouts readers make
    // list them by component, then index), and the point count.
    struct Storage
    {
        PointDataComponents::ComponentKey key;
        void* values;
        std::uint8_t* present;
    };
    double* MutableX() { return x; }
    double* MutableY() { return y; }
    double* MutableZ() { return z; }
    std::uint64_t* MutablePointIndices() { return indices; }
    std::vector<Storage>& MutableColumns() { return columns; }
    void SetSize(std::size_t n) { size = n; }

    // Bytes of one value of an extra-data component's column (0 for other components).
    static constexpr std::size_t ValueSize(EPointDataComponent component)
    {
        std::size_t bytes = 0;
        VisitExtraDataComponent(
            component, [&bytes](auto c)
            { bytes = sizeof(typename PointDataBlockValue<decltype(c)::value>::Type); });
        return bytes;
    }

private:
    struct Release
    {
        void operator()(std::byte* p) const { ::operator delete (p, std::align_val_t{64}); }
    };

    PointDataBlockLayout layout;
    std::unique_ptr<std::byte, Release> storage;
    std::size_t size = 0;
    double* x = nullptr;
    double* y = nullptr;
    double* z = nullptr;
    std::uint64_t* indices = nullptr;
    std::vector<Storage> columns;
};

// Fills blocks with the consecutive points of one iterable, from its first point on.
class ORV_DATAPROXY_INTERFACE IPointDataBlockReader
{
public:
    virtual ~IPointDataBlockReader() = default;
    // Fixed for the reader's life; blocks passed to Fill are made from it.
    virtual PointDataBlockLayout GetLayout() const = 0;
    // Writes the next points (at most kPointDataBlockCapacity) into `block`, sets its size and
    // returns it; 0 once every point has been read.
    virtual std::size_t Fill(PointDataBlock& block) = 0;
};

// The optional interface of iterables that fill blocks themselves. A reader behaves as a cursor
// created at the same moment: it asks the iterable's consumer what a cursor asks, sees the
// mapping as it stands then, and may be used on another thread than the iterable's. Its blocks
// carry point indices, and of what a cursor serves, the position and the keys `consumer`
// requests (asked once each; not at all when it is the iterable's own consumer).
class ORV_DATAPROXY_INTERFACE IPointDataBlockSource
{
public:
    virtual ~IPointDataBlockSource() = default;
    virtual std::unique_ptr<IPointDataBlockReader>
    CreateBlockReader(const IPointDataConsumer& consumer) const = 0;
};

// A cursor that says what it serves (found with dynamic_cast), so that a block read of it needs
// no trial read per key: whether GetPosition answers, and the extra-data keys whose getters
// answer (a value or its absence) instead of throwing, ordered by component, then index. Both
// fixed for the cursor's life. A cursor's own refinement rather than a second base, so that the
// cursor's object keeps one table pointer and its layout.
class ORV_DATAPROXY_INTERFACE IPointDataServedKeys : public IPointDataCursor
{
public:
    ~IPointDataServedKeys() override = default;
    virtual bool ServesPosition() const = 0;
    virtual std::vector<PointDataComponents::ComponentKey> GetServedKeys() const = 0;
};

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
        [&](auto c) { f(PointDataBlockValue<decltype(c)::value>::Get(cursor, key.index)); });
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

// For writers of blocks (a file reader, say): sets point i of the block from an accessor
// standing on that point: its position when the block has positions, and for every column the
// accessor's value or its absence. Point indices and the block's size are the caller's. A
// template, so that the getters of a final accessor class are called directly.
template <class Accessor>
void SetBlockPoint(PointDataBlock& block, std::size_t i, const Accessor& point)
{
    if (block.HasPositions())
    {
        const GPointDouble p = point.GetPosition();
        block.MutableX()[i] = p.x;
        block.MutableY()[i] = p.y;
        block.MutableZ()[i] = p.z;
    }
    for (PointDataBlock::Storage& column : block.MutableColumns())
    {
        Detail::ReadKey(point, column, i);
    }
}

// Calls f(const PointDataBlock&) for the points of `iterable` in order, a block at a time; each
// block but the last is full, and an empty iterable calls f never. Every block carries the
// points' indices, and of what the iterable's cursor serves (what the iterable's consumer
// requested and its provider maps), the position and the keys `consumer` requests: pass the
// iterable's own consumer for everything its cursor delivers, or a narrower one.
//
// With an iterable that offers IPointDataBlockSource (this library's: providers, query and
// builder results, and their split pieces) the blocks are filled from the host's tables in
// runs; with any other, from a cursor, which is asked once what it serves when it offers
// IPointDataServedKeys (this library's cursors do), else tried once per key `consumer`
// requests. Either way the blocks hold what the cursor delivers.
//
// Throws what the iterable, its cursor or reader, the consumer and f throw, and std::bad_alloc.
template <class F>
void ForEachBlock(const IPointDataIterable& iterable, const IPointDataConsumer& consumer, F&& f)
{
    if (const auto* source = dynamic_cast<const IPointDataBlockSource*>(&iterable))
    {
        const std::unique_ptr<IPointDataBlockReader> reader = source->CreateBlockReader(consumer);
        PointDataBlock block(reader->GetLayout());
        while (reader->Fill(block) != 0)
        {
            f(static_cast<const PointDataBlock&>(block));
        }
        return;
    }
    Detail::ForEachCursorBlock(iterable, consumer, f);
}

} // namespace orv::DataProxy
