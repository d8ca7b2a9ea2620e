#pragma once

#include "builder/PointCloudDataBuilder.h"
#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"

#include <cstdint>
#include <memory>

namespace orv::Data::Cloud
{

// Configuration of the builders that write new host clouds: which extra data they carry,
// under which host extra-data type, and at which storage width (see StorageWidthTable).
//
// Holds no host object. Every builder it creates starts from a snapshot of both tables;
// later changes to the factory do not reach builders already created. Copies are deep and
// independent; a moved-from factory is empty and usable.
//
// ClearComponentMapping clears the mapping alone: the widths of keys no longer mapped stay
// behind, are never read, and are replaced when the key is handed out again.
//
// Threads: one thread at a time; CreatePointDataBuilder only reads, so several threads may
// create builders from a factory that no thread is changing.
// Throws: std::bad_alloc; MapOptionalComponent also whatever ComponentMapping::Map throws.
class ORV_DATAPROXY_API PointCloudDataBuilderFactory
    : public orv::DataProxy::IPointDataBuilderFactory
{
public:
    using ComponentKey = orv::DataProxy::PointDataComponents::ComponentKey;
    using EPointDataComponent = orv::DataProxy::EPointDataComponent;

    ComponentMapping mapping;
    StorageWidthTable storageWidthByKey;

    PointCloudDataBuilderFactory();
    PointCloudDataBuilderFactory(const PointCloudDataBuilderFactory& other);
    PointCloudDataBuilderFactory(PointCloudDataBuilderFactory&& other) noexcept;
    ~PointCloudDataBuilderFactory() override;
    PointCloudDataBuilderFactory& operator=(const PointCloudDataBuilderFactory& other);
    PointCloudDataBuilderFactory& operator=(PointCloudDataBuilderFactory&& other) noexcept;

    // Maps one more value of `component` to the host type `extraDataType`, records `width`
    // under the new key and returns the key. Nothing is validated.
    ComponentKey MapOptionalComponent(EPointDataComponent component, int extraDataType,
                                      std::uint64_t width);

    // Every component's indices start again at 0; the width table is left as it is.
    void ClearComponentMapping();

    // A new builder over a snapshot of this configuration; `consumer` is borrowed by it.
    std::shared_ptr<orv::DataProxy::IPointDataBuilder>
    CreatePointDataBuilder(const orv::DataProxy::IPointDataConsumer& consumer) const override;
};

} // namespace orv::Data::Cloud
