#pragma once

#include <cstddef>
#include <cstdint>

// Components of per-point data and the keys that address one value of a component.
//
// A point carries a position and a point index, always, and any number of extra-data
// values of the five extra-data components (Vector3 .. Color). Several values of one
// component are told apart by an 8-bit index: (UnsignedInteger, 0) may be a
// classification and (UnsignedInteger, 1) a scan identifier.

namespace orv::DataProxy
{

enum class EPointDataComponent : std::uint8_t
{
    Position = 0,        // GPointDouble, world coordinates
    PointIndex = 1,      // uint64_t, storage position in the host cloud
    Vector3 = 2,         // GVector3
    UnsignedInteger = 3, // uint64_t
    SignedInteger = 4,   // int64_t
    Real = 5,            // double
    Color = 6,           // RgbaColor
};

// True for the five components that are carried as per-point extra data. Every
// component-by-component dispatch handles exactly these and skips the others
// (Position, PointIndex and any value of 7 or more).
constexpr bool IsExtraDataComponent(EPointDataComponent component) noexcept
{
    const auto value = static_cast<std::uint8_t>(component);
    return value >= static_cast<std::uint8_t>(EPointDataComponent::Vector3) &&
           value <= static_cast<std::uint8_t>(EPointDataComponent::Color);
}

namespace PointDataComponents
{

// One value of one component: two bytes, passed by value.
struct ComponentKey
{
    EPointDataComponent component;
    std::uint8_t index;
};

constexpr bool operator==(const ComponentKey& a, const ComponentKey& b) noexcept
{
    return a.component == b.component && a.index == b.index;
}

constexpr bool operator!=(const ComponentKey& a, const ComponentKey& b) noexcept
{
    return !(a == b);
}

// 64-bit FNV-1a over the key's two bytes, component first, then index.
struct ComponentKeyHash
{
    constexpr std::size_t operator()(const ComponentKey& key) const noexcept
    {
        std::uint64_t h = 14695981039346656037ull;
        h = (h ^ static_cast<std::uint8_t>(key.component)) * 1099511628211ull;
        h = (h ^ key.index) * 1099511628211ull;
        return static_cast<std::size_t>(h);
    }
};

} // namespace PointDataComponents
} // namespace orv::DataProxy
