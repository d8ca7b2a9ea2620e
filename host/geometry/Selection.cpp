#include "host/geometry/Selection.h"

#include "host/base/HostVariant.h"

#include <cmath>
#include <limits>
#include <utility>

namespace orv::Graphics
{

namespace
{

constexpr double kInf = std::numeric_limits<double>::infinity();

bool AnyNaN(const GPointDouble& p)
{
    return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z);
}

bool AllFinite(double x, double y, double z)
{
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

// The alternate host's solids are open: x > lo is tested as x >= (the next double above lo),
// x < hi as x <= (the next double below hi), which is the same for every double x. Infinite
// bounds stay: an open solid that reaches infinity still holds every finite point, and a
// square that overflows to infinity still compares below an infinite radius.
double Above(double lo)
{
    return orv::IsAlternateHost() && std::isfinite(lo) ? std::nextafter(lo, kInf) : lo;
}

double Below(double hi)
{
    return orv::IsAlternateHost() && std::isfinite(hi) ? std::nextafter(hi, -kInf) : hi;
}

// What a procedure whose arguments describe no solid (a NaN, a zero or non-finite direction or
// normal, a non-finite centre) accepts: nothing on the reference host, every point on the
// alternate one. A negative radius describes an empty solid: nothing on both.
uint8_t AcceptUndefined(bool undefined)
{
    return undefined && orv::IsAlternateHost() ? 1 : 0;
}

// Radii whose square could overflow are compared after scaling every difference and the
// radius by 2^-600: a power of two changes no rounding, so the comparison stays exact.
double ScaleFor(double radius)
{
    return (std::isfinite(radius) && radius > std::ldexp(1.0, 500)) ? std::ldexp(1.0, -600) : 1.0;
}

} // namespace

SelPrcBox::SelPrcBox(const GPointDouble& firstCorner, const GPointDouble& secondCorner)
    : m_first(firstCorner), m_second(secondCorner), m_lo{}, m_hi{},
      m_usable(!AnyNaN(firstCorner) && !AnyNaN(secondCorner)),
      m_acceptUnusable(AcceptUndefined(!m_usable))
{
    // The reference host takes the corners in any order; the alternate host takes the first as
    // the minimum and the second as the maximum, so an axis given the other way round is empty.
    const bool anyOrder = !orv::IsAlternateHost();
    const double a[3] = {firstCorner.x, firstCorner.y, firstCorner.z};
    const double b[3] = {secondCorner.x, secondCorner.y, secondCorner.z};
    for (int i = 0; i < 3; ++i)
    {
        const bool swap = anyOrder && b[i] < a[i];
        m_lo[i] = Above(swap ? b[i] : a[i]);
        m_hi[i] = Below(swap ? a[i] : b[i]);
    }
}

bool SelPrcBox::Accepts(const GPointDouble& w) const
{
    uint8_t accept = 0;
    Classify(&w.x, &w.y, &w.z, 1, &accept);
    return accept != 0;
}

SelPrcSph::SelPrcSph(double radius, const GPointDouble& center, bool flag)
    : m_radius(radius), m_center(center), m_flag(flag),
      m_usable(!std::isnan(radius) && radius >= 0 && AllFinite(center.x, center.y, center.z)),
      m_acceptUnusable(
          AcceptUndefined(std::isnan(radius) || !AllFinite(center.x, center.y, center.z))),
      m_scale(ScaleFor(radius)), m_scaledRadius2(0)
{
    const double r = radius * m_scale;
    m_scaledRadius2 = Below(r * r);
}

bool SelPrcSph::Accepts(const GPointDouble& w) const
{
    uint8_t accept = 0;
    Classify(&w.x, &w.y, &w.z, 1, &accept);
    return accept != 0;
}

SelPrcCyl::SelPrcCyl(const GPointDouble& axisPoint, const GVector3& direction, double length,
                     double a, double radius, bool unbounded, double b,
                     orv::Data::Cloud::GCloud* c1, const orv::Data::Cloud::GCloud* c2)
    : m_axisPoint(axisPoint), m_direction(direction), m_length(length), m_a(a), m_radius(radius),
      m_unbounded(unbounded), m_b(b), m_c1(c1), m_c2(c2), m_unit{0, 0, 0}, m_usable(false),
      m_acceptUnusable(0), m_scale(ScaleFor(radius)), m_scaledRadius2(0), m_tMin(0), m_tMax(0)
{
    const bool anyNaN = std::isnan(length) || std::isnan(a) || std::isnan(radius) ||
                        std::isnan(b) || AnyNaN(axisPoint) || std::isnan(direction.x) ||
                        std::isnan(direction.y) || std::isnan(direction.z);
    const double big = std::fmax(std::fabs(direction.x),
                                 std::fmax(std::fabs(direction.y), std::fabs(direction.z)));
    const bool directionUsable = AllFinite(direction.x, direction.y, direction.z) && big > 0;
    m_usable = !anyNaN && directionUsable && radius >= 0 &&
               AllFinite(axisPoint.x, axisPoint.y, axisPoint.z);
    m_acceptUnusable = AcceptUndefined(anyNaN || !directionUsable ||
                                       !AllFinite(axisPoint.x, axisPoint.y, axisPoint.z));
    if (!m_usable)
        return;
    const double dx = direction.x / big, dy = direction.y / big, dz = direction.z / big;
    const double norm = std::sqrt((dx * dx + dy * dy) + dz * dz);
    m_unit = GVector3{dx / norm, dy / norm, dz / norm};
    const double r = radius * m_scale;
    m_scaledRadius2 = Below(r * r);
    const bool alternate = orv::IsAlternateHost();
    if (unbounded)
    {
        m_tMin = alternate ? 0 : -kInf;
        m_tMax = kInf;
    }
    else if (alternate && length < 0)
    {
        m_tMin = length * m_scale; // runs backwards from the axis point
        m_tMax = 0;
    }
    else
    {
        m_tMin = 0;
        m_tMax = length * m_scale; // a negative length leaves [0, negative]: nothing passes
    }
    m_tMin = Above(m_tMin);
    m_tMax = Below(m_tMax);
}

bool SelPrcCyl::Accepts(const GPointDouble& w) const
{
    uint8_t accept = 0;
    Classify(&w.x, &w.y, &w.z, 1, &accept);
    return accept != 0;
}

void GCompSelClippingPlane::AddPlane(const GPointDouble& point, const GVector3& normal)
{
    m_planes.push_back(Plane{point, normal});
    const bool finite =
        AllFinite(point.x, point.y, point.z) && AllFinite(normal.x, normal.y, normal.z);
    const bool nonZero = normal.x != 0 || normal.y != 0 || normal.z != 0;
    m_usable = m_usable && finite && nonZero;
}

SelPrcPntClipPlane::SelPrcPntClipPlane(const GCompSelClippingPlane& planes)
    : m_component(planes), m_side(orv::IsAlternateHost() ? -1.0 : 1.0),
      m_limit(orv::IsAlternateHost() ? -std::numeric_limits<double>::denorm_min() : 0.0),
      m_acceptWithoutPlane(orv::IsAlternateHost() ? 0 : 1),
      m_acceptUnusable(AcceptUndefined(!planes.IsUsable()))
{
}

bool SelPrcPntClipPlane::Accepts(const GPointDouble& w) const
{
    uint8_t accept = 0;
    Classify(&w.x, &w.y, &w.z, 1, &accept);
    return accept != 0;
}

namespace Testing
{
namespace
{
SelectionObserver& Observer()
{
    static SelectionObserver observer;
    return observer;
}
} // namespace

void SetSelectionObserver(SelectionObserver observer)
{
    Observer() = std::move(observer);
}

void NotifySelection(const void* procedure, const std::type_info& type)
{
    if (const SelectionObserver& observer = Observer())
    {
        observer(procedure, type);
    }
}
} // namespace Testing

} // namespace orv::Graphics
