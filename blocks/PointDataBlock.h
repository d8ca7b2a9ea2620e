#pragma once

#include "contract/ComponentValue.h"
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

// The block type of block reads and appends, and the interfaces of those who fill blocks (see
// blocks/PointDataBlocks.h for ForEachBlock).

namespace orv::DataProxy
{

// Points per block, sized for the first-level data cache (32 KiB on current x86 cores): at 256
// points, positions and point indices take 8 KiB and a block with three extra-data columns
// (a double, an integer and a GVector3) about 19 KiB, so the loop that reads a block back finds
// it where the reader has just written it, beside the element tables the reader streams
// through. Larger blocks no longer fit that cache; smaller ones pay the per-block calls more
// often.
inline constexpr std::size_t kPointDataBlockCapacity = 256;

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
    PointDataColumn<typename ComponentValue<C>::Type> Column(unsigned char index) const
    {
        using T = typename ComponentValue<C>::Type;
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
    PointDataMutableColumn<typename ComponentValue<C>::Type> MutableColumn(unsigned char index)
    {
        using T = typename ComponentValue<C>::Type;
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
            { bytes = sizeof(typename ComponentValue<decltype(c)::value>::Type); });
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

} // namespace orv::DataProxy
