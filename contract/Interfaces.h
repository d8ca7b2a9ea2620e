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
// borrowed; iterables and builders keep plain pointers to the consumer (iterables also to
// the provider's mapping), so the caller keeps the consumer and the provider alive as long
// as anything made from them is used.

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
    virtual std::shared_ptr<IPointDataIterable>
    GetIterable(const IPointDataConsumer& consumer) const = 0;
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

// Walks a range of points: read through the accessor while IsValid, then MoveNext.
//
// Past the end (IsValid() false) the library's cursors stand on no point of their range:
// GetPosition throws std::out_of_range ("GetPosition: the cursor is past its end") and changes
// nothing; GetPointIndex does not throw and returns where the walk stopped, the host's point
// index after the last step (for a walk over a whole cloud, the number of points stored in it,
// hidden ones included; for a piece of a split range, the index of the next piece's first
// point), which belongs to no point of the range. MoveNext there is outside the contract.
class ORV_DATAPROXY_INTERFACE IPointDataCursor : public IPointDataAccessor
{
public:
    virtual void MoveNext() = 0;
    virtual bool IsValid() const = 0;
};

// A half-open range of points that makes cursors and can be halved for parallel work.
// Split keeps the lower half [begin, mid) in this object and returns the upper half
// [mid, end), mid = begin + (end - begin) / 2. IsDivisible(hint) is the guard: true when
// the range holds more than twice the hint's minimum piece size.
class ORV_DATAPROXY_INTERFACE IPointDataIterable
{
public:
    virtual ~IPointDataIterable() = default;
    virtual std::shared_ptr<IPointDataCursor> CreateCursor() const = 0;
    virtual bool IsEmpty() const = 0;
    virtual bool IsDivisible(const IPointDataSplitHint& hint) const = 0;
    virtual std::unique_ptr<IPointDataIterable> Split() = 0;
};

// Accumulates points into a new point set.
class ORV_DATAPROXY_INTERFACE IPointDataBuilder
{
public:
    virtual ~IPointDataBuilder() = default;
    virtual void Reserve(std::uint64_t count) = 0;
    virtual void AddPointData(const IPointDataAccessor& point) = 0;
    virtual std::shared_ptr<IPointDataProvider> GetResult() = 0;
};

class ORV_DATAPROXY_INTERFACE IPointDataBuilderFactory
{
public:
    virtual ~IPointDataBuilderFactory() = default;
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
