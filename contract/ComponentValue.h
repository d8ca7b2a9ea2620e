#pragma once

#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"

#include <cstdint>
#include <optional>

namespace orv::DataProxy
{

// Each extra-data component's value type (Type: what the cursor's getter returns, and the type
// of the component's block columns) and its getter (Get(point, index) calls the accessor's
// getter of that component). Get is a template on the accessor, so that the getters of a final
// class are called directly.
template <EPointDataComponent C>
struct ComponentValue;

#define ORV_DATAPROXY_COMPONENT_VALUE(C, T, Getter)                                                \
    template <>                                                                                    \
    struct ComponentValue<EPointDataComponent::C>                                                  \
    {                                                                                              \
        using Type = T;                                                                            \
        template <class Accessor>                                                                  \
        static std::optional<T> Get(const Accessor& point, unsigned char index)                    \
        {                                                                                          \
            return point.Getter(index);                                                            \
        }                                                                                          \
    };
ORV_DATAPROXY_COMPONENT_VALUE(Vector3, GVector3, GetVector3)
ORV_DATAPROXY_COMPONENT_VALUE(UnsignedInteger, std::uint64_t, GetUnsignedInteger)
ORV_DATAPROXY_COMPONENT_VALUE(SignedInteger, std::int64_t, GetSignedInteger)
ORV_DATAPROXY_COMPONENT_VALUE(Real, double, GetReal)
ORV_DATAPROXY_COMPONENT_VALUE(Color, RgbaColor, GetColor)
#undef ORV_DATAPROXY_COMPONENT_VALUE

// An accessor whose five extra-data getters all come from one template of Derived:
//   template <EPointDataComponent C>
//   std::optional<typename ComponentValue<C>::Type> Value(unsigned char index) const;
// Derived gives the position and the point index, and befriends this class if Value is private.
template <class Derived>
class ComponentValueAccessor : public IPointDataAccessor
{
public:
    std::optional<GVector3> GetVector3(unsigned char index) const override
    {
        return Of<EPointDataComponent::Vector3>(index);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char index) const override
    {
        return Of<EPointDataComponent::UnsignedInteger>(index);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char index) const override
    {
        return Of<EPointDataComponent::SignedInteger>(index);
    }
    std::optional<double> GetReal(unsigned char index) const override
    {
        return Of<EPointDataComponent::Real>(index);
    }
    std::optional<RgbaColor> GetColor(unsigned char index) const override
    {
        return Of<EPointDataComponent::Color>(index);
    }

private:
    template <EPointDataComponent C>
    std::optional<typename ComponentValue<C>::Type> Of(unsigned char index) const
    {
        return static_cast<const Derived&>(*this).template Value<C>(index);
    }
};

} // namespace orv::DataProxy
