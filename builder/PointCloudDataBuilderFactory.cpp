#include "builder/PointCloudDataBuilderFactory.h"

#include "builder/internal/StorageWidth.h"

#include <utility>

namespace orv::Data::Cloud
{

PointCloudDataBuilderFactory::PointCloudDataBuilderFactory() = default;

PointCloudDataBuilderFactory::PointCloudDataBuilderFactory(const ComponentMapping& like)
    : mapping(like)
{
    (void)WrittenMapping(mapping); // refuses an intensity key no plain float type is left for
    for (const auto& [key, extraDataType] : mapping.extraDataTypeByKey)
    {
        const std::uint64_t width = NaturalStorageWidth(key.component, extraDataType);
        CheckStorageWidth(key.component, extraDataType, width);
        storageWidthByKey.emplace(key, width);
    }
}

PointCloudDataBuilderFactory::PointCloudDataBuilderFactory(
    const PointCloudDataBuilderFactory& other)
    : IPointDataBuilderFactory(other), mapping(other.mapping),
      storageWidthByKey(other.storageWidthByKey)
{
}

PointCloudDataBuilderFactory::PointCloudDataBuilderFactory(
    PointCloudDataBuilderFactory&& other) noexcept
    : IPointDataBuilderFactory(other), mapping(std::move(other.mapping)),
      storageWidthByKey(std::move(other.storageWidthByKey))
{
    // A moved-from standard map is only "valid but unspecified": make it empty.
    other.storageWidthByKey.clear();
}

PointCloudDataBuilderFactory::~PointCloudDataBuilderFactory() = default;

PointCloudDataBuilderFactory&
PointCloudDataBuilderFactory::operator=(const PointCloudDataBuilderFactory& other)
{
    if (this != &other)
    {
        mapping = other.mapping;
        storageWidthByKey = other.storageWidthByKey;
    }
    return *this;
}

PointCloudDataBuilderFactory&
PointCloudDataBuilderFactory::operator=(PointCloudDataBuilderFactory&& other) noexcept
{
    if (this != &other)
    {
        mapping = std::move(other.mapping);
        storageWidthByKey = std::move(other.storageWidthByKey);
        other.storageWidthByKey.clear();
    }
    return *this;
}

PointCloudDataBuilderFactory::ComponentKey
PointCloudDataBuilderFactory::MapOptionalComponent(EPointDataComponent component, int extraDataType,
                                                   std::uint64_t width)
{
    CheckStorageWidth(component, extraDataType, width); // before anything changes
    ComponentMapping next(mapping);
    const ComponentKey key{component, next.Map(component, extraDataType)};
    (void)WrittenMapping(next); // as every builder will: refused here, before anything changes
    storageWidthByKey.insert_or_assign(key, width);
    mapping = std::move(next);
    return key;
}

PointCloudDataBuilderFactory::ComponentKey
PointCloudDataBuilderFactory::MapOptionalComponent(EPointDataComponent component, int extraDataType)
{
    return MapOptionalComponent(component, extraDataType,
                                NaturalStorageWidth(component, extraDataType));
}

void PointCloudDataBuilderFactory::ClearComponentMapping()
{
    mapping.Clear();
}

std::shared_ptr<orv::DataProxy::IPointDataBuilder>
PointCloudDataBuilderFactory::CreatePointDataBuilder(
    const orv::DataProxy::IPointDataConsumer& consumer) const
{
    // One allocation for the builder and its reference count.
    return std::make_shared<PointCloudDataBuilder>(consumer, mapping, storageWidthByKey);
}

} // namespace orv::Data::Cloud
