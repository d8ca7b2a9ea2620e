#pragma once

#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

// Small helpers that every client of the contract would otherwise write again: consumers,
// a splitting hint, cutting an iterable into pieces for workers, the size of a point set,
// the query interface of a provider, and an accessor over one point's values.
//
// Header-only and built on the contract alone, so they work with any provider, iterable and
// builder, not only this library's. None of them keeps a pointer to what it is given beyond
// the call, except where a comment says so.

namespace orv::DataProxy
{

// Wants every key it is asked about. Stateless: one object may serve any number of
// iterables, cursors and builders on any number of threads.
class WantAll final : public IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

// Wants exactly the keys it was given, and the position unless told otherwise. The point
// index needs no request: every cursor answers it. Never changes after construction, so it
// may be shared between threads.
class WantKeys final : public IPointDataConsumer
{
public:
    using Key = PointDataComponents::ComponentKey;

    WantKeys(std::initializer_list<Key> wanted, bool wantPosition = true)
        : keys(wanted), position(wantPosition)
    {
    }
    explicit WantKeys(std::vector<Key> wanted, bool wantPosition = true)
        : keys(std::move(wanted)), position(wantPosition)
    {
    }

    bool IsComponentRequested(EPointDataComponent component, unsigned char index) const override
    {
        if (component == EPointDataComponent::Position && index == 0)
            return position;
        return std::find(keys.begin(), keys.end(), Key{component, index}) != keys.end();
    }

private:
    std::vector<Key> keys;
    bool position;
};

// A splitting hint with a fixed minimum piece size: IsDivisible(hint) is true for a range of
// more than twice that many points. A size of 0 means "never split".
class MinimumPieceHint final : public IPointDataSplitHint
{
public:
    explicit MinimumPieceHint(std::uint64_t minimumPieceSize, std::uint64_t concurrency = 1)
        : minimum(minimumPieceSize), workers(concurrency)
    {
    }
    std::uint64_t GetConcurrency() const override { return workers; }
    std::uint64_t GetMinimumPieceSize() const override { return minimum; }

private:
    std::uint64_t minimum;
    std::uint64_t workers;
};

// Cuts `whole` into at most `pieceCount` pieces of at least `minimumPieceSize` points
// (fewer pieces when the range is too small), always halving the largest piece that
// IsDivisible allows, so the pieces differ in size by at most a factor of two. The pieces
// cover the range exactly once, in no particular order; `whole` itself is the first one
// (it keeps the lowest points). Call it on one thread, then hand each piece to its own
// worker. The pieces borrow what `whole` borrows (the provider, the consumer).
inline std::vector<std::shared_ptr<IPointDataIterable>>
SplitIntoPieces(std::shared_ptr<IPointDataIterable> whole, std::size_t pieceCount,
                std::uint64_t minimumPieceSize = 4096)
{
    std::vector<std::shared_ptr<IPointDataIterable>> pieces{std::move(whole)};
    const MinimumPieceHint hint(std::max<std::uint64_t>(minimumPieceSize, 1), pieceCount);
    // Splitting in rounds, every piece once per round, keeps the pieces balanced without
    // needing their sizes.
    while (pieces.size() < pieceCount)
    {
        const std::size_t before = pieces.size();
        for (std::size_t i = 0; i < before && pieces.size() < pieceCount; ++i)
            if (pieces[i]->IsDivisible(hint))
                pieces.push_back(pieces[i]->Split());
        if (pieces.size() == before)
            break;
    }
    return pieces;
}

// The number of points of a provider: its ISizedCollection::Size when it has one (this
// library's providers do), otherwise counted by walking a cursor over its points.
inline std::uint64_t PointCount(const IPointDataProvider& provider)
{
    if (const auto* sized = dynamic_cast<const ISizedCollection*>(&provider))
        return sized->Size();
    const WantKeys nothing({}, /*wantPosition=*/false);
    std::uint64_t count = 0;
    for (auto cursor = provider.GetIterable(nothing)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
        ++count;
    return count;
}

// The number of points of an iterable (or of a piece of one): its ISizedCollection::Size
// when it has one, otherwise counted by walking a cursor. Counting creates a cursor, so the
// iterable's consumer is asked about its keys once more.
inline std::uint64_t PointCount(const IPointDataIterable& iterable)
{
    if (const auto* sized = dynamic_cast<const ISizedCollection*>(&iterable))
        return sized->Size();
    std::uint64_t count = 0;
    for (auto cursor = iterable.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
        ++count;
    return count;
}

// The spatial query interface of a provider of unknown origin, for query record Q
// (InsideAxisAlignedBoxQuery, InsideSphereQuery, InsideCylinderQuery, ClippingPlanesQuery).
// Throws std::invalid_argument when the provider does not answer that query.
template <class Q>
const IQueryablePointData<Q>& AsQueryable(const IPointDataProvider& provider)
{
    if (const auto* queryable = dynamic_cast<const IQueryablePointData<Q>*>(&provider))
        return *queryable;
    throw std::invalid_argument(std::string("the provider does not answer ") + typeid(Q).name() +
                                " queries");
}

// Runs query `query` on `provider`: the points it accepts, or with `invert` the points it
// rejects, as a new provider. Throws std::invalid_argument as AsQueryable.
template <class Q>
std::unique_ptr<IPointDataProvider> Select(const IPointDataProvider& provider, const Q& query,
                                           bool invert = false)
{
    return AsQueryable<Q>(provider).GetPoints(query, invert);
}

// One point's values, handed to IPointDataBuilder::AddPointData. Set what the point has;
// every key left unset reads as absent. Values are addressed by key index, per component,
// as the accessor's getters are.
//
//   PointRecord point;
//   point.position = {x, y, z};
//   point.Set<EPointDataComponent::UnsignedInteger>(0, 2);   // key (UnsignedInteger, 0)
//   builder->AddPointData(point);
//
// Reusing one record for many points is cheap: Clear() keeps the storage.
class PointRecord final : public IPointDataAccessor
{
public:
    GPointDouble position{};
    std::uint64_t pointIndex = 0;
    std::vector<std::optional<GVector3>> vectors;
    std::vector<std::optional<std::uint64_t>> unsignedIntegers;
    std::vector<std::optional<std::int64_t>> signedIntegers;
    std::vector<std::optional<double>> reals;
    std::vector<std::optional<RgbaColor>> colors;

    // Sets the value of key (C, index); C is one of the five extra-data components.
    template <EPointDataComponent C, class V>
    void Set(unsigned char index, const V& value)
    {
        auto& column = Column<C>();
        using T = typename std::decay_t<decltype(column)>::value_type::value_type;
        Put(column, index, std::optional<T>(value));
    }

    // Takes the position, the point index and the values of `keys` of the point `point`
    // stands on (a cursor whose consumer requested the position, for instance), so that the
    // point can be kept and written later. Every key not in `keys` is made absent; keys of
    // Position and PointIndex in `keys` change nothing.
    void Assign(const IPointDataAccessor& point,
                const std::vector<PointDataComponents::ComponentKey>& keys)
    {
        Clear();
        position = point.GetPosition();
        pointIndex = point.GetPointIndex();
        for (const auto& key : keys)
        {
            switch (key.component)
            {
            case EPointDataComponent::Vector3:
                Put(vectors, key.index, point.GetVector3(key.index));
                break;
            case EPointDataComponent::UnsignedInteger:
                Put(unsignedIntegers, key.index, point.GetUnsignedInteger(key.index));
                break;
            case EPointDataComponent::SignedInteger:
                Put(signedIntegers, key.index, point.GetSignedInteger(key.index));
                break;
            case EPointDataComponent::Real:
                Put(reals, key.index, point.GetReal(key.index));
                break;
            case EPointDataComponent::Color:
                Put(colors, key.index, point.GetColor(key.index));
                break;
            default:
                break;
            }
        }
    }

    // Makes every key absent again; the position and index stay.
    void Clear()
    {
        vectors.assign(vectors.size(), std::nullopt);
        unsignedIntegers.assign(unsignedIntegers.size(), std::nullopt);
        signedIntegers.assign(signedIntegers.size(), std::nullopt);
        reals.assign(reals.size(), std::nullopt);
        colors.assign(colors.size(), std::nullopt);
    }

    GPointDouble GetPosition() const override { return position; }
    std::uint64_t GetPointIndex() const override { return pointIndex; }
    std::optional<GVector3> GetVector3(unsigned char index) const override
    {
        return Get(vectors, index);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char index) const override
    {
        return Get(unsignedIntegers, index);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char index) const override
    {
        return Get(signedIntegers, index);
    }
    std::optional<double> GetReal(unsigned char index) const override
    {
        return Get(reals, index);
    }
    std::optional<RgbaColor> GetColor(unsigned char index) const override
    {
        return Get(colors, index);
    }

private:
    template <class T>
    static void Put(std::vector<std::optional<T>>& column, unsigned char index,
                    std::optional<T> value)
    {
        if (column.size() <= index)
            column.resize(std::size_t{index} + 1);
        column[index] = std::move(value);
    }

    template <class T>
    static std::optional<T> Get(const std::vector<std::optional<T>>& column, unsigned char index)
    {
        return index < column.size() ? column[index] : std::nullopt;
    }

    template <EPointDataComponent C>
    auto& Column()
    {
        static_assert(IsExtraDataComponent(C), "only extra-data components carry values");
        if constexpr (C == EPointDataComponent::Vector3)
            return vectors;
        else if constexpr (C == EPointDataComponent::UnsignedInteger)
            return unsignedIntegers;
        else if constexpr (C == EPointDataComponent::SignedInteger)
            return signedIntegers;
        else if constexpr (C == EPointDataComponent::Real)
            return reals;
        else
            return colors;
    }
};

// Every key of `mapping` (also of Position and PointIndex), ordered by component, then
// index: the keys a consumer asks for to read everything a provider maps.
inline std::vector<PointDataComponents::ComponentKey>
MappedKeys(const orv::Data::Cloud::ComponentMapping& mapping)
{
    std::vector<PointDataComponents::ComponentKey> keys;
    keys.reserve(mapping.extraDataTypeByKey.size());
    for (const auto& entry : mapping.extraDataTypeByKey)
        keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a.component != b.component ? a.component < b.component : a.index < b.index;
    });
    return keys;
}

} // namespace orv::DataProxy
