#pragma once

#include "contract/Export.h"
#include "contract/PointDataComponents.h"

#include <cstdint>
#include <unordered_map>

namespace orv::Data::Cloud
{

// Which host extra-data type stands behind each ComponentKey of a point set.
//
// Map hands out indices per component, counting from 0, and records the host's integer
// extra-data type id under the new key; ids are stored, never interpreted. Copies are
// deep and independent; a moved-from mapping is empty and usable. Not synchronised:
// one thread at a time per mapping, copies may live on different threads.
//
// A component can hold at most 256 keys between two Clear calls: a further Map of that
// component throws std::length_error and leaves the mapping exactly as it was, so a
// wrapped counter can never overwrite the type of key 0.
struct ORV_DATAPROXY_API ComponentMapping
{
    using ComponentKey = orv::DataProxy::PointDataComponents::ComponentKey;
    using ComponentKeyHash = orv::DataProxy::PointDataComponents::ComponentKeyHash;
    using EPointDataComponent = orv::DataProxy::EPointDataComponent;

    std::unordered_map<ComponentKey, std::int32_t, ComponentKeyHash> extraDataTypeByKey;
    std::unordered_map<EPointDataComponent, std::uint8_t> nextIndexByComponent;

    ComponentMapping();
    ComponentMapping(const ComponentMapping& other);
    ComponentMapping(ComponentMapping&& other) noexcept;
    ~ComponentMapping();
    ComponentMapping& operator=(const ComponentMapping& other);
    ComponentMapping& operator=(ComponentMapping&& other) noexcept;

    // Hands out the next index of `component`, records `extraDataType` under the new key
    // and returns the index.
    unsigned char Map(EPointDataComponent component, int extraDataType);

    // Empties both tables; the next Map of any component returns 0.
    void Clear();
};

} // namespace orv::Data::Cloud
