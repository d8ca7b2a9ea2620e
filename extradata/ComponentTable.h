#pragma once

#include "contract/Interfaces.h"
#include "contract/PointDataBlocks.h"
#include "contract/PointDataComponents.h"
#include "host/geometry/Values.h"

#include <cstddef>
#include <optional>

// The extra-data components, one row each: what the accessor's getter returns (Value, the
// block column's type too), what the host's conversion policies read and write (HostValue),
// how many bytes a builder's staging slot for one value takes (kSlotSize: the widest stored
// form), and the getter itself (call it as (point.*Row::kGetter)(index)). Code that treats every
// component alike visits the rows with VisitComponentRow instead of switching over the components,
// so a new component is one row.

namespace orv::DataProxy::ExtraData
{

template <EPointDataComponent C>
struct ComponentRow;

#define ORV_COMPONENT_ROW(C, HostType, slotSize, Getter)                                           \
    template <>                                                                                    \
    struct ComponentRow<EPointDataComponent::C>                                                    \
    {                                                                                              \
        static constexpr EPointDataComponent kComponent = EPointDataComponent::C;                  \
        using Value = typename PointDataBlockValue<EPointDataComponent::C>::Type;                  \
        using HostValue = HostType;                                                                \
        static constexpr std::size_t kSlotSize = slotSize;                                         \
        static constexpr auto kGetter = &IPointDataAccessor::Getter;                               \
    };

ORV_COMPONENT_ROW(Vector3, GVector3, 24, GetVector3)
ORV_COMPONENT_ROW(UnsignedInteger, std::uint64_t, 8, GetUnsignedInteger)
ORV_COMPONENT_ROW(SignedInteger, std::int64_t, 8, GetSignedInteger)
ORV_COMPONENT_ROW(Real, double, 8, GetReal)
ORV_COMPONENT_ROW(Color, orv::Data::Primitive::ColorValue, 4, GetColor)

#undef ORV_COMPONENT_ROW

// Every row, for members that hold one thing per component: ForEachRow<X>::Type is
// X<ComponentRow<C>...> over all extra-data components.
template <template <class...> class X>
struct ForEachRow
{
    using Type =
        X<ComponentRow<EPointDataComponent::Vector3>,
          ComponentRow<EPointDataComponent::UnsignedInteger>,
          ComponentRow<EPointDataComponent::SignedInteger>, ComponentRow<EPointDataComponent::Real>,
          ComponentRow<EPointDataComponent::Color>>;
};

// Calls visit(ComponentRow<component>{}) and returns true; false (no call) for a component
// without extra data (Position, PointIndex, unknown values).
template <class Visit>
bool VisitComponentRow(EPointDataComponent component, Visit&& visit)
{
    switch (component)
    {
    case EPointDataComponent::Vector3:
        visit(ComponentRow<EPointDataComponent::Vector3>{});
        return true;
    case EPointDataComponent::UnsignedInteger:
        visit(ComponentRow<EPointDataComponent::UnsignedInteger>{});
        return true;
    case EPointDataComponent::SignedInteger:
        visit(ComponentRow<EPointDataComponent::SignedInteger>{});
        return true;
    case EPointDataComponent::Real:
        visit(ComponentRow<EPointDataComponent::Real>{});
        return true;
    case EPointDataComponent::Color:
        visit(ComponentRow<EPointDataComponent::Color>{});
        return true;
    default:
        return false;
    }
}

} // namespace orv::DataProxy::ExtraData
