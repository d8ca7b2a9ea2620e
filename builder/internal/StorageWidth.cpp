#include "builder/internal/StorageWidth.h"

#include "extradata/internal/ComponentTable.h"
#include "extradata/internal/PolicyRegistration.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Values.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::Data::Cloud
{

using orv::DataProxy::EPointDataComponent;

namespace
{

constexpr std::uint64_t kColorWidth = sizeof(orv::Data::Primitive::ColorValue);

} // namespace

void CheckStorageWidth(EPointDataComponent component, int extraDataType, std::uint64_t width)
{
    bool supported = false;
    const char* widths = "";
    const bool extraData =
        orv::DataProxy::ExtraData::VisitComponentRow(component,
                                                     [&](auto row)
                                                     {
                                                         using Row = decltype(row);
                                                         supported = Row::StoresWidth(width);
                                                         widths = Row::kWidths;
                                                     });
    if (!extraData)
    {
        return; // Position, PointIndex and unknown components store nothing
    }
    if (component == EPointDataComponent::Color)
    {
        width = kColorWidth; // one stored form whatever the width says: a host colour value
    }
    if (!supported)
    {
        throw std::invalid_argument("storage width " + std::to_string(width) +
                                    " is not one the component can be stored at (" + widths +
                                    " bytes)");
    }
    // The host copies its type's whole element from the value written at every point: any
    // other size would store bytes that were never a value.
    const unsigned int elementSize = orv::DataProxy::ExtraData::KnownElementSize(extraDataType);
    if (elementSize != 0 && elementSize != width)
    {
        throw std::invalid_argument(component == EPointDataComponent::Color
                                        ? "the host type's elements (" +
                                              std::to_string(elementSize) +
                                              " bytes) do not hold a colour value (" +
                                              std::to_string(kColorWidth) + " bytes)"
                                        : "storage width " + std::to_string(width) +
                                              " disagrees with the host type's element size (" +
                                              std::to_string(elementSize) + " bytes)");
    }
}

std::uint64_t NaturalStorageWidth(EPointDataComponent component, int extraDataType)
{
    if (component == EPointDataComponent::Color)
    {
        return kColorWidth;
    }
    if (!orv::DataProxy::IsExtraDataComponent(component))
    {
        return 0;
    }
    const unsigned int elementSize = orv::DataProxy::ExtraData::KnownElementSize(extraDataType);
    if (elementSize == 0)
    {
        throw std::invalid_argument("no storage width is known for host extra-data type " +
                                    std::to_string(extraDataType) +
                                    " (not one of the twelve classes, and no policy registered "
                                    "for it): give the width");
    }
    return elementSize;
}

void CheckStorageWidths(const ComponentMapping& mapping, const StorageWidthTable& widths)
{
    for (const auto& [key, extraDataType] : mapping.extraDataTypeByKey)
    {
        if (const std::optional<std::uint64_t> width = StoredWidth(key, widths))
        {
            CheckStorageWidth(key.component, extraDataType, *width);
        }
    }
}

ComponentMapping WrittenMapping(const ComponentMapping& mapping)
{
    using orv::DataProxy::ExtraData::ExtraDataTypeId;
    const int intensity = ExtraDataTypeId<CloudIntensityExtraData>();
    const int plainFloats[] = {ExtraDataTypeId<CloudIntensityNewExtraData>(),
                               ExtraDataTypeId<CloudIntensityTempExtraData>()};
    std::vector<int> taken;
    std::vector<unsigned char> moved;
    for (const auto& [key, extraDataType] : mapping.extraDataTypeByKey)
    {
        if (key.component == EPointDataComponent::Real && extraDataType == intensity)
            moved.push_back(key.index);
        else
            taken.push_back(extraDataType);
    }
    ComponentMapping written(mapping);
    std::sort(moved.begin(), moved.end()); // the map's order is no order
    for (const unsigned char index : moved)
    {
        const int* const free = std::find_if(
            std::begin(plainFloats), std::end(plainFloats),
            [&](int type) { return std::find(taken.begin(), taken.end(), type) == taken.end(); });
        if (free == std::end(plainFloats))
        {
            throw std::invalid_argument(
                "Real key " + std::to_string(index) + " on the host's intensity type (" +
                std::to_string(intensity) +
                ") cannot be written: its values would be read through the new cloud's colour "
                "mode, and both plain float intensity types are taken by other keys");
        }
        written.extraDataTypeByKey[{EPointDataComponent::Real, index}] = *free;
        taken.push_back(*free);
    }
    return written;
}

std::optional<std::uint64_t> StoredWidth(orv::DataProxy::PointDataComponents::ComponentKey key,
                                         const StorageWidthTable& widths)
{
    if (key.component == EPointDataComponent::Color)
    {
        return kColorWidth;
    }
    const auto found = widths.find(key);
    if (!orv::DataProxy::IsExtraDataComponent(key.component) || found == widths.end())
    {
        return std::nullopt;
    }
    return found->second;
}

} // namespace orv::Data::Cloud
