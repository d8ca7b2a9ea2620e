#include "contract/ComponentMapping.h"

#include <stdexcept>
#include <utility>

namespace orv::Data::Cloud
{

ComponentMapping::ComponentMapping() = default;

ComponentMapping::ComponentMapping(const ComponentMapping& other) = default;

ComponentMapping::ComponentMapping(ComponentMapping&& other) noexcept
    : extraDataTypeByKey(std::move(other.extraDataTypeByKey)),
      nextIndexByComponent(std::move(other.nextIndexByComponent))
{
    // A moved-from standard map is only "valid but unspecified": make it empty.
    other.extraDataTypeByKey.clear();
    other.nextIndexByComponent.clear();
}

ComponentMapping::~ComponentMapping() = default;

ComponentMapping& ComponentMapping::operator=(const ComponentMapping& other)
{
    extraDataTypeByKey = other.extraDataTypeByKey;
    nextIndexByComponent = other.nextIndexByComponent;
    return *this;
}

ComponentMapping& ComponentMapping::operator=(ComponentMapping&& other) noexcept
{
    // Emptying first and then swapping would empty a mapping assigned to itself.
    if (this == &other)
    {
        return *this;
    }
    Clear();
    extraDataTypeByKey.swap(other.extraDataTypeByKey);
    nextIndexByComponent.swap(other.nextIndexByComponent);
    return *this;
}

unsigned char ComponentMapping::Map(EPointDataComponent component, int extraDataType)
{
    auto counter = nextIndexByComponent.find(component);
    if (counter == nextIndexByComponent.end())
    {
        counter = nextIndexByComponent.emplace(component, std::uint8_t{0}).first;
    }
    else if (counter->second == 0)
    {
        // The 8-bit counter wrapped: all 256 indices of the component are in use.
        throw std::length_error(
            "ComponentMapping::Map: all 256 indices of the component are in use");
    }
    const std::uint8_t index = counter->second;
    counter->second = static_cast<std::uint8_t>(index + 1);
    extraDataTypeByKey[ComponentKey{component, index}] = extraDataType;
    return index;
}

void ComponentMapping::Clear()
{
    nextIndexByComponent.clear();
    extraDataTypeByKey.clear();
}

} // namespace orv::Data::Cloud
