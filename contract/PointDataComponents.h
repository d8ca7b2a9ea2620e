#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

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

// The five extra-data components, in order, as a type.
template <EPointDataComponent... Components>
struct ComponentList
{
};
using ExtraDataComponents =
    ComponentList<EPointDataComponent::Vector3, EPointDataComponent::UnsignedInteger,
                  EPointDataComponent::SignedInteger, EPointDataComponent::Real,
                  EPointDataComponent::Color>;

namespace Detail
{

template <class F, EPointDataComponent... Components>
constexpr bool VisitIn(EPointDataComponent component, F& f, ComponentList<Components...>)
{
    return ((component == Components &&
             (f(std::integral_constant<EPointDataComponent, Components>{}), true)) ||
            ...);
}

} // namespace Detail

// The one dispatch over the extra-data components: calls
// f(std::integral_constant<EPointDataComponent, C>{}) for the component C that `component`
// names and returns true; returns false without a call for Position, PointIndex and values of
// 7 and above. Code that treats every component alike writes its case once, as a template on C.
template <class F>
constexpr bool VisitExtraDataComponent(EPointDataComponent component, F&& f)
{
    return Detail::VisitIn(component, f, ExtraDataComponents{});
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
