#include "host/geometry/Selection.h"

#include <utility>

#include <cmath>
#include <limits>

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

// Radii whose square could overflow are compared after scaling every difference and the
// radius by 2^-600: a power of two changes no rounding, so the comparison stays exact.
double ScaleFor(double radius)
{
    return (std::isfinite(radius) && radius > std::ldexp(1.0, 500)) ? std::ldexp(1.0, -600) : 1.0;
}

} // namespace

SelPrcBox::SelPrcBox(const GPointDouble& firstCorner, const GPointDouble& secondCorner)
    : m_first(firstCorner), m_second(secondCorner), m_lo{}, m_hi{},
      m_usable(!AnyNaN(firstCorner) && !AnyNaN(secondCorner))
{
    const double a[3] = {firstCorner.x, firstCorner.y, firstCorner.z};
    const double b[3] = {secondCorner.x, secondCorner.y, secondCorner.z};
    for (int i = 0; i < 3; ++i)
    {
        m_lo[i] = a[i] < b[i] ? a[i] : b[i];
        m_hi[i] = a[i] < b[i] ? b[i] : a[i];
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
      m_scale(ScaleFor(radius)), m_scaledRadius2(0)
{
    const double r = radius * m_scale;
    m_scaledRadius2 = r * r;
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
      m_scale(ScaleFor(radius)), m_scaledRadius2(0), m_tMin(0), m_tMax(0)
{
    const bool anyNaN = std::isnan(length) || std::isnan(a) || std::isnan(radius) ||
                        std::isnan(b) || AnyNaN(axisPoint) || std::isnan(direction.x) ||
                        std::isnan(direction.y) || std::isnan(direction.z);
    const double big = std::fmax(std::fabs(direction.x),
                                 std::fmax(std::fabs(direction.y), std::fabs(direction.z)));
    const bool directionUsable = AllFinite(direction.x, direction.y, direction.z) && big > 0;
    m_usable = !anyNaN && directionUsable && radius >= 0 &&
               AllFinite(axisPoint.x, axisPoint.y, axisPoint.z);
    if (!m_usable)
        return;
    const double dx = direction.x / big, dy = direction.y / big, dz = direction.z / big;
    const double norm = std::sqrt((dx * dx + dy * dy) + dz * dz);
    m_unit = GVector3{dx / norm, dy / norm, dz / norm};
    const double r = radius * m_scale;
    m_scaledRadius2 = r * r;
    if (unbounded)
    {
        m_tMin = -kInf;
        m_tMax = kInf;
    }
    else
    {
        m_tMin = 0;
        m_tMax = length * m_scale; // a negative length leaves [0, negative]: nothing passes
    }
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

SelPrcPntClipPlane::SelPrcPntClipPlane(const GCompSelClippingPlane& planes) : m_component(planes) {}

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
