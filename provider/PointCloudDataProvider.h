#pragma once

#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "host/geometry/Cloud.h"

#include <memory>
#include <optional>

namespace orv::Data::Cloud
{

// The reading side of the contract over one host point cloud.
//
// Owns a copy of the host cloud (the host's copies share storage until written) and a
// component mapping telling which host extra-data type serves each key of components
// Vector3 .. Color. The cloud never changes after construction; only the mapping does,
// through MapOptionalComponent and ClearComponentMapping.
//
// Lifetimes: keep the provider alive while any iterable made from it is used: iterables keep
// a pointer to its mapping, which CreateCursor reads. A cursor holds its own copy of the cloud
// and its readers, set up from the mapping when it was created, so it needs neither the
// provider nor its iterable afterwards. Results of GetPoints are independent providers.
// Threads: the const operations may run concurrently; MapOptionalComponent and
// ClearComponentMapping must not overlap any other use of the provider or its iterables.
// Throws: std::bad_alloc; host exceptions pass through.
class ORV_DATAPROXY_API PointCloudDataProvider
    : public orv::DataProxy::IPointDataProvider,
      public orv::DataProxy::IBoundingBoxProvider,
      public orv::DataProxy::ISizedCollection,
      public orv::DataProxy::IQueryablePointData<orv::DataProxy::InsideAxisAlignedBoxQuery>,
      public orv::DataProxy::IQueryablePointData<orv::DataProxy::InsideCylinderQuery>,
      public orv::DataProxy::IQueryablePointData<orv::DataProxy::InsideSphereQuery>,
      public orv::DataProxy::IQueryablePointData<orv::DataProxy::ClippingPlanesQuery>
{
public:
    using EPointDataComponent = orv::DataProxy::EPointDataComponent;

    // With a cloud alone the mapping starts empty: only Position and PointIndex are
    // available until extra data is mapped. Not explicit: callers convert a cloud implicitly.
    PointCloudDataProvider(const PointCloud& cloud);
    PointCloudDataProvider(const PointCloud& cloud, const ComponentMapping& mapping);
    PointCloudDataProvider(const PointCloudDataProvider& other);
    PointCloudDataProvider& operator=(const PointCloudDataProvider&) = delete;
    ~PointCloudDataProvider() override;

    // A new iterable over every point, with a copy of the cloud, and pointers to this
    // provider's mapping and to `consumer` (both must stay alive while it is used).
    std::shared_ptr<orv::DataProxy::IPointDataIterable>
    GetIterable(const orv::DataProxy::IPointDataConsumer& consumer) const override;

    // Position and PointIndex for any index; otherwise whether the key is mapped (the
    // cloud is not consulted).
    bool HasComponent(EPointDataComponent component, unsigned char index) const override;

    // The host's bounding box, computed afresh on every call.
    AxisAlignedBoundingBox GetBoundingBox() const override;

    std::uint64_t Size() const override;

    std::unique_ptr<orv::DataProxy::IPointDataProvider>
    GetPoints(const orv::DataProxy::InsideAxisAlignedBoxQuery& query, bool invert) const override;
    std::unique_ptr<orv::DataProxy::IPointDataProvider>
    GetPoints(const orv::DataProxy::InsideCylinderQuery& query, bool invert) const override;
    std::unique_ptr<orv::DataProxy::IPointDataProvider>
    GetPoints(const orv::DataProxy::InsideSphereQuery& query, bool invert) const override;
    std::unique_ptr<orv::DataProxy::IPointDataProvider>
    GetPoints(const orv::DataProxy::ClippingPlanesQuery& query, bool invert) const override;

    // A copy of the held cloud.
    PointCloud GetPointCloud() const;

    // Maps one more value of `component` to the host extra-data type id and returns its
    // index (always engaged).
    std::optional<unsigned char> MapOptionalComponent(EPointDataComponent component,
                                                      int extraDataType);
    void ClearComponentMapping();

    // The mapping cursors read, for writing new clouds like this one
    // (PointCloudDataBuilderFactory's constructor from a mapping) or for listing its keys.
    // Valid as long as the provider; changed by MapOptionalComponent and ClearComponentMapping.
    const ComponentMapping& GetMapping() const;

private:
    PointCloud cloud;
    ComponentMapping mapping;
};

} // namespace orv::Data::Cloud
