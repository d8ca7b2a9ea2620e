#pragma once

// The host's free choices as the tests meet them. The suite runs on the reference host and on the
// alternate one (ORV_HOST_VARIANT=alternate), which makes the other legal choice wherever the
// host's interface leaves one open; where a test observes such a choice, it asks here instead of
// assuming the reference host's answer.

#include "host/base/HostVariant.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/Values.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <typeindex>

namespace orv::TestSupport::HostChoice
{

// An element of type T that a point lacks, as the host stores it.
template <class T>
T Lacking()
{
    T value;
    std::memset(&value, orv::IsAlternateHost() ? orv::kAlternateFillByte : 0, sizeof value);
    return value;
}

// Whether Color keys over the extra-data type can be read: the library registers no colour
// conversion, so only one the host registers itself serves them (the reference host has one
// for its intensity type); without it a Color key reads as absent.
inline bool HostReadsColors(int typeId)
{
    return orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
               typeId, std::type_index(typeid(orv::Data::Primitive::ColorValue))) != nullptr;
}

// Whether a box query given `first` and `second` on one axis holds a point's coordinate `v`
// there (away from the faces, where closed or open is the host's choice too): corners in any
// order on the reference host, the minimum first on the alternate one.
inline bool BoxHolds(double first, double second, double v)
{
    if (orv::IsAlternateHost())
        return first < v && v < second;
    return std::fmin(first, second) <= v && v <= std::fmax(first, second);
}

// Whether a clipping plane given to the library as (normal, distance), with a unit normal,
// keeps a point whose normal . p is `dot`. The query hands the plane over unchanged on both
// hosts; the side kept is the host's.
inline bool PlaneKeeps(double dot, double distance)
{
    return orv::IsAlternateHost() ? dot < distance : dot >= distance;
}

// Whether a cylinder of length -1 (unbounded) keeps a point at axial distance t from its axis
// point along the direction.
inline bool UnboundedCylinderKeeps(double t)
{
    return !orv::IsAlternateHost() || t > 0;
}

// Steps of a compressed intensity between the ends of its range.
inline double CompressedValueSteps()
{
    return orv::IsAlternateHost() ? 4095.0 : 65535.0;
}

// The documented bound (radians) between a unit vector and what the host's normal codec gives
// back for it.
inline double NormalCodecBound()
{
    return orv::IsAlternateHost() ? 5.6e-3 : 7e-5;
}

// How far `rounds` trips through a cloud's float storage may move a world position: half a
// float step at the point's distance from the cloud's frame origin, per trip and coordinate.
// The reference host puts a built cloud's origin at its first point; a host that keeps the
// identity frame stores world coordinates as they are.
inline double FloatStorageBound(const orv::Data::Cloud::GCloud& cloud,
                                const orv::Math::Algebra::GPointDouble& p, int rounds = 1)
{
    const double* t = cloud.GetMatrix().v + 9;
    const double far = std::hypot(p.x - t[0], p.y - t[1], p.z - t[2]);
    return rounds * std::sqrt(3.0) * std::ldexp(far, -24);
}

} // namespace orv::TestSupport::HostChoice
