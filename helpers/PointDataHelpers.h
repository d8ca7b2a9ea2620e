#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

// Small helpers that every client of the contract would otherwise write again: consumers, a
// splitting hint, cutting an iterable into pieces for workers, the size of a point set, the
// optional interfaces of a provider without a visible cast, and an accessor over one point's
// values to hand to a builder.
//
// Header-only and built on the contract alone, so they work with any provider, iterable and
// builder, not only this library's. None keeps a pointer to what it is given beyond the call,
// except where a comment says so. Merging builders needs this library's builder:
// MergeBuilders lives beside it, in builder/PointCloudDataBuilder.h.

namespace orv::DataProxy
{

using PointDataComponents::ComponentKey;

// Wants every key it is asked about, the position included. Stateless: one object may serve
// any number of iterables, cursors and builders on any number of threads.
class WantAll final : public IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

// Wants exactly the keys it was given, and the position unless told otherwise. The point
// index needs no request: every cursor answers it and every block read carries it. Never changes
// after construction, so it may be shared between threads.
class WantKeys final : public IPointDataConsumer
{
public:
    WantKeys(std::initializer_list<ComponentKey> wanted, bool wantPosition = true)
        : keys(wanted), position(wantPosition)
    {
    }
    explicit WantKeys(std::vector<ComponentKey> wanted, bool wantPosition = true)
        : keys(std::move(wanted)), position(wantPosition)
    {
    }

    bool IsComponentRequested(EPointDataComponent component, unsigned char index) const override
    {
        if (component == EPointDataComponent::Position && index == 0)
            return position;
        return std::find(keys.begin(), keys.end(), ComponentKey{component, index}) != keys.end();
    }

private:
    std::vector<ComponentKey> keys;
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

// Cuts `whole` into at most `pieceCount` pieces of at least `minimumPieceSize` points (fewer
// pieces when the range is too small; one piece, `whole` itself, when it cannot be split at
// all). Every round halves each piece that IsDivisible allows, so the pieces stay within a
// factor of about two of each other. Together they cover the range exactly once, in the order
// of their points (Split keeps the lower half and returns the upper one, which is placed right
// after it): `whole` is the first piece, and pieces filling arrays in turn keep the range's
// order. Call it on one thread, then give each piece to its own worker, which makes its own
// cursors. The pieces borrow what `whole` borrows (the provider, the consumer).
inline std::vector<std::shared_ptr<IPointDataIterable>>
SplitIntoPieces(std::shared_ptr<IPointDataIterable> whole, std::size_t pieceCount,
                std::uint64_t minimumPieceSize = 4096)
{
    std::vector<std::shared_ptr<IPointDataIterable>> pieces{std::move(whole)};
    const MinimumPieceHint hint(std::max<std::uint64_t>(minimumPieceSize, 1), pieceCount);
    for (std::size_t before = 0; pieces.size() < pieceCount && pieces.size() != before;)
    {
        before = pieces.size();
        std::vector<std::shared_ptr<IPointDataIterable>> halved;
        std::size_t count = before;
        for (std::shared_ptr<IPointDataIterable>& piece : pieces)
        {
            halved.push_back(piece);
            if (count < pieceCount && piece->IsDivisible(hint))
            {
                halved.push_back(piece->Split());
                ++count;
            }
        }
        pieces = std::move(halved);
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

// The number of points of an iterable (or of a piece of one): its ISizedCollection::Size when
// it has one (this library's iterables and their pieces do), otherwise counted by walking a
// cursor, which costs a pass over the range and asks the iterable's consumer about its keys
// once more.
inline std::uint64_t PointCount(const IPointDataIterable& iterable)
{
    if (const auto* sized = dynamic_cast<const ISizedCollection*>(&iterable))
        return sized->Size();
    std::uint64_t count = 0;
    for (auto cursor = iterable.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
        ++count;
    return count;
}

namespace Detail
{
template <class Q>
constexpr const char* QueryName()
{
    if constexpr (std::is_same_v<Q, InsideAxisAlignedBoxQuery>)
        return "InsideAxisAlignedBoxQuery";
    else if constexpr (std::is_same_v<Q, InsideSphereQuery>)
        return "InsideSphereQuery";
    else if constexpr (std::is_same_v<Q, InsideCylinderQuery>)
        return "InsideCylinderQuery";
    else
    {
        static_assert(std::is_same_v<Q, ClippingPlanesQuery>, "not a query record");
        return "ClippingPlanesQuery";
    }
}

template <class Interface>
const Interface& As(const IPointDataProvider& provider, const char* interfaceName)
{
    if (const auto* found = dynamic_cast<const Interface*>(&provider))
        return *found;
    throw std::invalid_argument(std::string("the provider does not implement ") + interfaceName);
}
} // namespace Detail

// The spatial query interface of a provider of unknown origin, for query record Q
// (InsideAxisAlignedBoxQuery, InsideSphereQuery, InsideCylinderQuery, ClippingPlanesQuery).
// Throws std::invalid_argument ("the provider does not implement IQueryablePointData<Q>",
// with Q's name) when it does not answer that query. This library's providers answer all four.
template <class Q>
const IQueryablePointData<Q>& AsQueryable(const IPointDataProvider& provider)
{
    return Detail::As<IQueryablePointData<Q>>(
        provider, (std::string("IQueryablePointData<") + Detail::QueryName<Q>() + ">").c_str());
}

// Runs `query` on `provider`: the points it accepts, or with `invert` the points it rejects,
// as a new provider. Throws std::invalid_argument as AsQueryable.
template <class Q>
std::unique_ptr<IPointDataProvider> Select(const IPointDataProvider& provider, const Q& query,
                                           bool invert = false)
{
    return AsQueryable<Q>(provider).GetPoints(query, invert);
}

// The bounding-box interface of a provider of unknown origin; std::invalid_argument ("the
// provider does not implement IBoundingBoxProvider") when it has none.
inline const IBoundingBoxProvider& AsBoundingBoxProvider(const IPointDataProvider& provider)
{
    return Detail::As<IBoundingBoxProvider>(provider, "IBoundingBoxProvider");
}

// One point's values, handed to IPointDataBuilder::AddPointData. Set what the point has;
// every key left unset reads as absent (a builder stores zero for it). Values are addressed
// by key index, per component, as the accessor's getters are.
//
//   PointRecord point;
//   point.position = {x, y, z};
//   point.SetUnsignedInteger(0, 2);   // key (UnsignedInteger, 0)
//   builder->AddPointData(point);
//
// Reusing one record for many points is cheap: Clear() and Assign() keep the storage.
class PointRecord final : public ComponentValueAccessor<PointRecord>
{
public:
    GPointDouble position{};
    std::uint64_t pointIndex = 0;

    void SetVector3(unsigned char index, const GVector3& value)
    {
        Put<EPointDataComponent::Vector3>(index, value);
    }
    void SetUnsignedInteger(unsigned char index, std::uint64_t value)
    {
        Put<EPointDataComponent::UnsignedInteger>(index, value);
    }
    void SetSignedInteger(unsigned char index, std::int64_t value)
    {
        Put<EPointDataComponent::SignedInteger>(index, value);
    }
    void SetReal(unsigned char index, double value)
    {
        Put<EPointDataComponent::Real>(index, value);
    }
    void SetColor(unsigned char index, const RgbaColor& value)
    {
        Put<EPointDataComponent::Color>(index, value);
    }

    // Takes the position, the point index and the values of `keys` of the point `point`
    // stands on, so that the point can be kept and written later. `point` must deliver its
    // position (a cursor whose consumer requested (Position, 0)). Every key not in `keys` is
    // made absent; keys of Position, PointIndex and components 7 and above change nothing.
    void Assign(const IPointDataAccessor& point, const std::vector<ComponentKey>& keys)
    {
        Clear();
        position = point.GetPosition();
        pointIndex = point.GetPointIndex();
        for (const ComponentKey& key : keys)
        {
            VisitExtraDataComponent(key.component,
                                    [&](auto c)
                                    {
                                        constexpr EPointDataComponent C = decltype(c)::value;
                                        Put<C>(key.index, ComponentValue<C>::Get(point, key.index));
                                    });
        }
    }

    // Makes every key absent again; the position and the point index stay.
    void Clear()
    {
        std::apply([](auto&... column) { (column.assign(column.size(), std::nullopt), ...); },
                   columns);
    }

    GPointDouble GetPosition() const override { return position; }
    std::uint64_t GetPointIndex() const override { return pointIndex; }

private:
    // One column per extra-data component, in component order, indexed by key index.
    template <EPointDataComponent C>
    using Column = std::vector<std::optional<typename ComponentValue<C>::Type>>;
    template <EPointDataComponent C>
    static constexpr std::size_t kColumn = static_cast<std::size_t>(C) -
                                           static_cast<std::size_t>(EPointDataComponent::Vector3);

    // `value` is a value of C or an optional of one.
    template <EPointDataComponent C, class V>
    void Put(unsigned char index, const V& value)
    {
        Column<C>& column = std::get<kColumn<C>>(columns);
        if (column.size() <= index)
            column.resize(std::size_t{index} + 1);
        column[index] = value;
    }

    friend class ComponentValueAccessor<PointRecord>;

    template <EPointDataComponent C>
    std::optional<typename ComponentValue<C>::Type> Value(unsigned char index) const
    {
        const Column<C>& column = std::get<kColumn<C>>(columns);
        return index < column.size() ? column[index] : std::nullopt;
    }

    std::tuple<Column<EPointDataComponent::Vector3>, Column<EPointDataComponent::UnsignedInteger>,
               Column<EPointDataComponent::SignedInteger>, Column<EPointDataComponent::Real>,
               Column<EPointDataComponent::Color>>
        columns;
};

// The extra-data keys of `mapping` (components Vector3 .. Color), ordered by component, then
// index: the keys to want, and to Assign, to read everything a provider maps.
inline std::vector<ComponentKey> MappedKeys(const orv::Data::Cloud::ComponentMapping& mapping)
{
    std::vector<ComponentKey> keys;
    keys.reserve(mapping.extraDataTypeByKey.size());
    for (const auto& entry : mapping.extraDataTypeByKey)
        if (IsExtraDataComponent(entry.first.component))
            keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end(),
              [](const ComponentKey& a, const ComponentKey& b) {
                  return a.component != b.component ? a.component < b.component : a.index < b.index;
              });
    return keys;
}

} // namespace orv::DataProxy
