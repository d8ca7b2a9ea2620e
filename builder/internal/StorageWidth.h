#pragma once

#include "builder/PointCloudDataBuilder.h"
#include "contract/ComponentMapping.h"
#include "contract/PointDataComponents.h"

#include <cstdint>
#include <optional>

// Internal to the library: the rule that decides which storage widths a builder accepts.

namespace orv::Data::Cloud
{

// The storage-width rule (PointCloudDataBuilderFactory::MapOptionalComponent documents it):
// throws std::invalid_argument, naming the width and the reason, when values of `component`
// cannot be stored at `width` in the host extra-data type `extraDataType`.
void CheckStorageWidth(orv::DataProxy::EPointDataComponent component, int extraDataType,
                       std::uint64_t width);

// The width a key of `component` takes when none is given: the element size of the host type
// `extraDataType` for Vector3, the integers and Real; a host colour value for Color (its width
// is never consulted); 0 for Position, PointIndex and components 7 and above, which store
// nothing. Throws std::invalid_argument when the component needs a width and the library
// knows no element size for the type. The result still has to pass CheckStorageWidth.
std::uint64_t NaturalStorageWidth(orv::DataProxy::EPointDataComponent component, int extraDataType);

// The same rule over a whole configuration: every mapped key that has a width, and every
// Color key. Keys without a width are left to the builder's look-up.
void CheckStorageWidths(const ComponentMapping& mapping, const StorageWidthTable& widths);

// The mapping a builder writes: `mapping` with every Real key on the host's own intensity type
// (CloudIntensityExtraData, whose 4 bytes mean what the cloud's colour mode says) moved to a
// plain float intensity type: CloudIntensityNewExtraData, or CloudIntensityTempExtraData when
// another key already takes that one (keys moved in the order of their indices). Throws
// std::invalid_argument, naming the key, when both are taken.
ComponentMapping WrittenMapping(const ComponentMapping& mapping);

// How many bytes a key's value takes in its slot: the width for Vector3, the integers and
// Real (when the table has one), a host colour value for Color; nothing for other components.
std::optional<std::uint64_t> StoredWidth(orv::DataProxy::PointDataComponents::ComponentKey key,
                                         const StorageWidthTable& widths);

} // namespace orv::Data::Cloud
