#pragma once

#include "contract/Export.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"
#include "host/geometry/Algebra.h"

#include <cstdint>
#include <memory>
#include <optional>

// The abstract interfaces of the point data contract.
//
// Every interface is a pure abstract class without data, with its virtual destructor
// declared first. The order of the virtual operations is part of the contract: clients
// compiled against these headers call them by their slot, so never reorder, insert or
// remove an operation.
//
// Ownership: results are owning smart pointers. Arguments passed by const reference are
// borrowed. The library's iterables keep plain pointers to the consumer and to the provider's
// mapping, and its builders to the consumer: keep the consumer and the provider alive while
// an iterable may still create a cursor, and the consumer while a builder (or a copy) may
// still receive its first point. A cursor keeps nothing borrowed: it may outlive its iterable,
// its provider and its consumer (it asks the consumer only while it is created).

namespace orv::DataProxy
{

class IPointDataIterable;
class IPointDataCursor;

// Supplied by the client: which components it wants. Called concurrently when cursors are
// created on several threads, so it must answer without changing state.
class ORV_DATAPROXY_INTERFACE IPointDataConsumer
{
public:
    virtual ~IPointDataConsumer() = default;
    virtual bool IsComponentRequested(EPointDataComponent component, unsigned char index) const = 0;
};

// Splitting hint handed to IPointDataIterable::IsDivisible. The library only calls
// GetMinimumPieceSize.
class ORV_DATAPROXY_INTERFACE IPointDataSplitHint
{
public:
    virtual ~IPointDataSplitHint() = default;
    // How many workers the caller intends to use.
    virtual std::uint64_t GetConcurrency() const = 0;
    // Pieces smaller than this are not worth splitting off; 0 means "do not split".
    virtual std::uint64_t GetMinimumPieceSize() const = 0;
};

// A readable point set.
class ORV_DATAPROXY_INTERFACE IPointDataProvider
{
public:
    virtual ~IPointDataProvider() = default;
    // A new iterable over every point; its cursors deliver the keys `consumer` wants.
    virtual std::shared_ptr<IPointDataIterable>
    GetIterable(const IPointDataConsumer& consumer) const = 0;
    // Whether the points carry key (component, index): true for Position and PointIndex
    // whatever the index. The library's providers answer from their mapping, not from the
    // cloud: a mapped key counts as present even where no point has a value for it (its
    // getter then gives empty optionals).
    virtual bool HasComponent(EPointDataComponent component, unsigned char index) const = 0;
};

struct ORV_DATAPROXY_INTERFACE IBoundingBoxProvider
{
    // Six doubles: the host box's two corners in the host's order.
    struct AxisAlignedBoundingBox
    {
        GPointDouble firstCorner;
        GPointDouble secondCorner;
    };

    virtual ~IBoundingBoxProvider() = default;
    virtual AxisAlignedBoundingBox GetBoundingBox() const = 0;
};

struct ORV_DATAPROXY_INTERFACE ISizedCollection
{
    virtual ~ISizedCollection() = default;
    // Number of points.
    virtual std::uint64_t Size() const = 0;
};

// Read access to the point a cursor stands on. The five extra-data getters take the index
// of a key of their component; an absent value is an empty optional.
class ORV_DATAPROXY_INTERFACE IPointDataAccessor
{
public:
    virtual ~IPointDataAccessor() = default;
    virtual GPointDouble GetPosition() const = 0;
    virtual std::uint64_t GetPointIndex() const = 0;
    virtual std::optional<GVector3> GetVector3(unsigned char index) const = 0;
    virtual std::optional<std::uint64_t> GetUnsignedInteger(unsigned char index) const = 0;
    virtual std::optional<std::int64_t> GetSignedInteger(unsigned char index) const = 0;
    virtual std::optional<double> GetReal(unsigned char index) const = 0;
    virtual std::optional<RgbaColor> GetColor(unsigned char index) const = 0;
};

// Walks a range of points: read through the accessor while IsValid, then MoveNext. A new
// cursor stands on the first point of its range (IsValid() false at once for an empty range).
//
// Once IsValid() is false the cursor stands on no point of its range, and what its getters
// answer is no point's data; do not use it. The library's cursors, there:
//   GetPosition        throws std::out_of_range ("GetPosition: the cursor is past its end")
//                      and changes nothing;
//   GetPointIndex      does not throw; returns where the walk stopped, the host's point index
//                      after the last step (for a walk over a whole cloud, the number of points
//                      stored in it, hidden ones included; for a piece of a split range, the
//                      index of the next piece's first point);
//   GetVector3 .. GetColor  throw std::out_of_range for an index without a reader, as always;
//                      otherwise an empty optional: never a value of a point outside the range;
//   MoveNext           outside the contract.
class ORV_DATAPROXY_INTERFACE IPointDataCursor : public IPointDataAccessor
{
public:
    virtual void MoveNext() = 0;
    virtual bool IsValid() const = 0;
};

// A half-open range of points that makes cursors and can be halved for parallel work.
//
// What every iterable guarantees:
//   - Split keeps the lower half [begin, mid) in this object and returns the upper half
//     [mid, end): the two pieces cover the range exactly once, so pieces split to any depth
//     visit every point of the range exactly once, whoever walks them.
//   - Split requires IsDivisible(hint) to be true for some hint; calling it otherwise is
//     outside the contract (the library's iterables still halve the range, one side possibly
//     empty, and never lose or repeat a point).
//   - An empty range is never divisible, whatever the hint.
// The library's iterables: mid = begin + (end - begin) / 2, and IsDivisible(hint) is true
// when the range holds more than twice the hint's minimum piece size (never for a minimum of
// 0, and without overflow for huge sizes). SplitIntoPieces (helpers/PointDataHelpers.h) does
// the splitting for N workers.
class ORV_DATAPROXY_INTERFACE IPointDataIterable
{
public:
    virtual ~IPointDataIterable() = default;
    // A new cursor on the first point of the range; the consumer is asked about its keys now.
    virtual std::shared_ptr<IPointDataCursor> CreateCursor() const = 0;
    // The range holds no point.
    virtual bool IsEmpty() const = 0;
    // Whether Split may be called, given the caller's minimum piece size.
    virtual bool IsDivisible(const IPointDataSplitHint& hint) const = 0;
    // Keeps [begin, mid) here and returns a new iterable over [mid, end).
    virtual std::unique_ptr<IPointDataIterable> Split() = 0;
};

// Accumulates points into a new point set.
class ORV_DATAPROXY_INTERFACE IPointDataBuilder
{
public:
    virtual ~IPointDataBuilder() = default;
    // A hint that about `count` points will be added; changes nothing observable.
    virtual void Reserve(std::uint64_t count) = 0;
    // Appends the point `point` stands on: its position and the values of the builder's keys
    // (the library's builders store zero for a value the accessor does not have). The
    // accessor is used only during the call.
    virtual void AddPointData(const IPointDataAccessor& point) = 0;
    // A new provider over the points added so far; the builder can go on adding.
    virtual std::shared_ptr<IPointDataProvider> GetResult() = 0;
};

// Makes builders that all write the same kind of point set.
class ORV_DATAPROXY_INTERFACE IPointDataBuilderFactory
{
public:
    virtual ~IPointDataBuilderFactory() = default;
    // A new builder, independent of every other; `consumer` says which of the factory's keys
    // it writes, and is borrowed (see Ownership above).
    virtual std::shared_ptr<IPointDataBuilder>
    CreatePointDataBuilder(const IPointDataConsumer& consumer) const = 0;
};

// A point set that answers spatial queries of record type Q with a new provider over the
// accepted points (invert == false) or the rejected ones (invert == true). Instantiated
// and exported for the four query records below.
template <class Q>
class ORV_DATAPROXY_TEMPLATE_API IQueryablePointData
{
public:
    IQueryablePointData();
    IQueryablePointData(const IQueryablePointData& other);
    virtual ~IQueryablePointData();
    IQueryablePointData& operator=(const IQueryablePointData& other);

    virtual std::unique_ptr<IPointDataProvider> GetPoints(const Q& query, bool invert) const = 0;
};

extern template class ORV_DATAPROXY_INSTANTIATION_API
    IQueryablePointData<InsideAxisAlignedBoxQuery>;
extern template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<InsideCylinderQuery>;
extern template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<InsideSphereQuery>;
extern template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<ClippingPlanesQuery>;

} // namespace orv::DataProxy
