#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "host/geometry/Values.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// The extra-data components, one row each: what the accessor's getter returns (Value, the
// block column's type too), what the host's conversion policies read and write (HostValue),
// how many bytes a builder's staging slot for one value takes (kSlotSize: the widest stored
// form), the getter itself (call it as (point.*Row::kGetter)(index)), and the storage widths a
// builder may store the component at (StoresWidth; kWidths names them for messages; a colour
// has one stored form whatever width is asked for, so it names none). Code that treats every
// component alike visits the rows with VisitComponentRow instead of switching over the
// components, so a new component is one row.

namespace orv::DataProxy::ExtraData
{

template <EPointDataComponent C>
struct ComponentRow;

// Bit w set for each storable width w (bytes); no bit: any width, one stored form.
template <int... Widths>
inline constexpr std::uint64_t kWidthMask = ((1ull << Widths) | ... | 0ull);

#define ORV_COMPONENT_ROW(C, HostType, slotSize, Getter, widthMask, widthText)                     \
    template <>                                                                                    \
    struct ComponentRow<EPointDataComponent::C>                                                    \
    {                                                                                              \
        static constexpr EPointDataComponent kComponent = EPointDataComponent::C;                  \
        using Value = typename ComponentValue<EPointDataComponent::C>::Type;                       \
        using HostValue = HostType;                                                                \
        static constexpr std::size_t kSlotSize = slotSize;                                         \
        static constexpr auto kGetter = &IPointDataAccessor::Getter;                               \
        static constexpr const char* kWidths = widthText;                                          \
        static constexpr bool StoresWidth(std::uint64_t width)                                     \
        {                                                                                          \
            return (widthMask) == 0 || (width < 64 && (((widthMask) >> width) & 1u) != 0);         \
        }                                                                                          \
    };

ORV_COMPONENT_ROW(Vector3, GVector3, 24, GetVector3, (kWidthMask<24, 4>), "24 or 4")
ORV_COMPONENT_ROW(UnsignedInteger, std::uint64_t, 8, GetUnsignedInteger, (kWidthMask<8, 4, 2, 1>),
                  "8, 4, 2 or 1")
ORV_COMPONENT_ROW(SignedInteger, std::int64_t, 8, GetSignedInteger, (kWidthMask<8, 4, 2, 1>),
                  "8, 4, 2 or 1")
ORV_COMPONENT_ROW(Real, double, 8, GetReal, (kWidthMask<8, 4>), "8 or 4")
ORV_COMPONENT_ROW(Color, orv::Data::Primitive::ColorValue, 4, GetColor, (kWidthMask<>), "")

#undef ORV_COMPONENT_ROW

// Every row, for members that hold one thing per component: ForEachRow<X>::Type is
// X<ComponentRow<C>...> over all extra-data components.
template <template <class...> class X, class Components = ExtraDataComponents>
struct ForEachRow;
template <template <class...> class X, EPointDataComponent... Cs>
struct ForEachRow<X, ComponentList<Cs...>>
{
    using Type = X<ComponentRow<Cs>...>;
};

// A host value as the accessor's getters deliver it: the same value; for a host colour, its
// channels widened to doubles, alpha 1.
template <class T>
const T& ToAccessorValue(const T& value)
{
    return value;
}
inline RgbaColor ToAccessorValue(const orv::Data::Primitive::ColorValue& color)
{
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    (void)color.GetRGB(r, g, b);
    return RgbaColor{r, g, b, 1.0};
}

// Calls visit(ComponentRow<component>{}) and returns true; false (no call) for a component
// without extra data (Position, PointIndex, unknown values).
template <class Visit>
bool VisitComponentRow(EPointDataComponent component, Visit&& visit)
{
    return VisitExtraDataComponent(component,
                                   [&](auto c) { visit(ComponentRow<decltype(c)::value>{}); });
}

} // namespace orv::DataProxy::ExtraData
