#include "provider/PointCloudDataProvider.h"

#include "provider/internal/PointCloudDataIterable.h"

namespace orv::Data::Cloud
{

PointCloudDataProvider::PointCloudDataProvider(const PointCloud& source) : cloud(source) {}

PointCloudDataProvider::PointCloudDataProvider(const PointCloud& source,
                                               const ComponentMapping& sourceMapping)
    : cloud(source), mapping(sourceMapping)
{
}

PointCloudDataProvider::PointCloudDataProvider(const PointCloudDataProvider& other)
    : IPointDataProvider(other), IBoundingBoxProvider(other),
      ISizedCollection(other), IQueryablePointData<orv::DataProxy::InsideAxisAlignedBoxQuery>(
                                   other),
      IQueryablePointData<orv::DataProxy::InsideCylinderQuery>(other),
      IQueryablePointData<orv::DataProxy::InsideSphereQuery>(other),
      IQueryablePointData<orv::DataProxy::ClippingPlanesQuery>(other), cloud(other.cloud),
      mapping(other.mapping)
{
}

PointCloudDataProvider::~PointCloudDataProvider() = default;

std::shared_ptr<orv::DataProxy::IPointDataIterable>
PointCloudDataProvider::GetIterable(const orv::DataProxy::IPointDataConsumer& consumer) const
{
    return std::make_shared<PointCloudDataIterable>(cloud, &mapping, &consumer);
}

bool PointCloudDataProvider::HasComponent(EPointDataComponent component, unsigned char index) const
{
    if (static_cast<std::uint8_t>(component) < 2)
    {
        return true; // Position and PointIndex belong to every point
    }
    return mapping.extraDataTypeByKey.count({component, index}) != 0;
}

orv::DataProxy::IBoundingBoxProvider::AxisAlignedBoundingBox
PointCloudDataProvider::GetBoundingBox() const
{
    const orv::Data::Primitive::GBBox box = cloud.ComputeBoundingBox();
    return {{box.v[0], box.v[1], box.v[2]}, {box.v[3], box.v[4], box.v[5]}};
}

std::uint64_t PointCloudDataProvider::Size() const
{
    return cloud.GetPointCount();
}

PointCloud PointCloudDataProvider::GetPointCloud() const
{
    return cloud;
}

std::optional<unsigned char>
PointCloudDataProvider::MapOptionalComponent(EPointDataComponent component, int extraDataType)
{
    return mapping.Map(component, extraDataType);
}

void PointCloudDataProvider::ClearComponentMapping()
{
    mapping.Clear();
}

const ComponentMapping& PointCloudDataProvider::GetMapping() const
{
    return mapping;
}

} // namespace orv::Data::Cloud
