#pragma once

#include "host/geometry/Algebra.h"
#include "host/geometry/GeometryExport.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <typeinfo>
#include <vector>

namespace orv::Data::Cloud
{
class GCloud;
}

// Selection procedures: solids and half-space sets that decide, point by point, whether a
// point in world coordinates is accepted. GCloud::ApplySelectionProcedure runs them over a
// cloud. Each procedure reports exactly the arguments it was constructed with (the getters), so
// a caller's hand-over can be checked.
//
// Evaluation contract (what ApplySelectionProcedure relies on): Classify(x, y, z, n, accept)
// writes accept[i] = 1 or 0 for n points given as three arrays of world coordinates. It is
// inline, branch-free and makes no call, so a whole chunk of points costs no virtual call and
// no mispredicted branch whatever the order of the points. Procedures are immutable after
// construction (AddPlane aside) and may be evaluated on several threads at once.
//
// Hostile arguments: a NaN in any argument, or a shape that is not defined (zero or non-finite
// direction or normal, non-finite centre, axis point or plane) makes the procedure accept
// nothing on the reference host and every point on the alternate one; a negative radius
// describes an empty solid and accepts nothing on both. IsUsable() is false for all of these.
// Infinite box bounds, radii and lengths are legitimate.
//
// Host choices (see host/base/HostVariant.h), fixed when a procedure is constructed: the
// reference host's solids are closed (points on the boundary are accepted), the alternate
// host's are open (they are not); the other differences are told per procedure.

namespace orv::Graphics
{

using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;

// Accepts the points between the two corners on every axis (bounds included on the reference
// host only). The reference host takes the corners in any order (each axis uses the smaller and
// the larger coordinate); the alternate host takes the first corner as the minimum and the
// second as the maximum, so an axis given the other way round accepts nothing.
class ORV_GEOMETRY_API SelPrcBox
{
public:
    SelPrcBox(const GPointDouble& firstCorner, const GPointDouble& secondCorner);

    const GPointDouble& GetFirstCorner() const { return m_first; }
    const GPointDouble& GetSecondCorner() const { return m_second; }
    bool IsUsable() const { return m_usable; }

    bool Accepts(const GPointDouble& world) const;

    void Classify(const double* x, const double* y, const double* z, uint32_t n,
                  uint8_t* accept) const
    {
        const double lx = m_lo[0], ly = m_lo[1], lz = m_lo[2];
        const double hx = m_hi[0], hy = m_hi[1], hz = m_hi[2];
        const uint8_t usable = m_usable ? 1 : 0;
        const uint8_t otherwise = m_acceptUnusable;
        for (uint32_t i = 0; i < n; ++i)
        {
            accept[i] = static_cast<uint8_t>((usable & (x[i] >= lx) & (x[i] <= hx) & (y[i] >= ly) &
                                              (y[i] <= hy) & (z[i] >= lz) & (z[i] <= hz)) |
                                             otherwise);
        }
    }

private:
    GPointDouble m_first;
    GPointDouble m_second;
    double m_lo[3]; // inclusive bounds tested (moved inwards by one step for an open box)
    double m_hi[3];
    bool m_usable;
    uint8_t m_acceptUnusable; // 1 when undefined and the host accepts every point then
};

// Accepts the points whose distance to the centre is at most the radius (below it on the
// alternate host; compared as squared distances; radii above 2^500 are compared after an exact
// power-of-two scaling, so no square overflows). A radius of 0 accepts the centre only on the
// reference host (nothing on the alternate one), a negative radius nothing, +inf every point.
// The flag is recorded and reported; it does not change the selection.
class ORV_GEOMETRY_API SelPrcSph
{
public:
    SelPrcSph(double radius, const GPointDouble& center, bool flag);

    double GetRadius() const { return m_radius; }
    const GPointDouble& GetCenter() const { return m_center; }
    bool GetFlag() const { return m_flag; }
    bool IsUsable() const { return m_usable; }

    bool Accepts(const GPointDouble& world) const;

    void Classify(const double* x, const double* y, const double* z, uint32_t n,
                  uint8_t* accept) const
    {
        const double cx = m_center.x, cy = m_center.y, cz = m_center.z;
        const double s = m_scale, r2 = m_scaledRadius2;
        const uint8_t usable = m_usable ? 1 : 0;
        const uint8_t otherwise = m_acceptUnusable;
        for (uint32_t i = 0; i < n; ++i)
        {
            const double dx = (x[i] - cx) * s;
            const double dy = (y[i] - cy) * s;
            const double dz = (z[i] - cz) * s;
            accept[i] =
                static_cast<uint8_t>((usable & ((dx * dx + dy * dy) + dz * dz <= r2)) | otherwise);
        }
    }

private:
    double m_radius;
    GPointDouble m_center;
    bool m_flag;
    bool m_usable;
    uint8_t m_acceptUnusable;
    double m_scale;
    double m_scaledRadius2; // inclusive bound tested (one step lower for an open sphere)
};

// A cylinder around the axis that starts at the axis point and runs along the normalised
// direction: a point q with t = (q - axisPoint) . d and radial distance |q - axisPoint - t d| is
// accepted when the radial distance is at most the radius and 0 <= t <= length (strictly
// inside on the alternate host). A negative length accepts nothing on the reference host; on
// the alternate one the cylinder runs backwards from the axis point (length <= t <= 0). With
// `unbounded` set the length is only reported: the reference host accepts every t (the
// cylinder is infinite in both directions), the alternate host every t >= 0 (infinite along the
// direction only). The parameters `a` and `b` and the two cloud pointers are recorded and
// reported; they do not change the selection (a NaN in `a` or `b` still makes it unusable,
// like a NaN anywhere).
class ORV_GEOMETRY_API SelPrcCyl
{
public:
    SelPrcCyl(const GPointDouble& axisPoint, const GVector3& direction, double length, double a,
              double radius, bool unbounded, double b, orv::Data::Cloud::GCloud* c1,
              const orv::Data::Cloud::GCloud* c2);

    const GPointDouble& GetAxisPoint() const { return m_axisPoint; }
    const GVector3& GetDirection() const { return m_direction; }
    double GetLength() const { return m_length; }
    double GetParameterA() const { return m_a; }
    double GetRadius() const { return m_radius; }
    bool IsUnbounded() const { return m_unbounded; }
    double GetParameterB() const { return m_b; }
    orv::Data::Cloud::GCloud* GetFirstCloud() const { return m_c1; }
    const orv::Data::Cloud::GCloud* GetSecondCloud() const { return m_c2; }
    // The normalised axis direction the test uses (meaningful when IsUsable()).
    const GVector3& GetUnitDirection() const { return m_unit; }
    bool IsUsable() const { return m_usable; }

    bool Accepts(const GPointDouble& world) const;

    void Classify(const double* x, const double* y, const double* z, uint32_t n,
                  uint8_t* accept) const
    {
        const double px = m_axisPoint.x, py = m_axisPoint.y, pz = m_axisPoint.z;
        const double ux = m_unit.x, uy = m_unit.y, uz = m_unit.z;
        const double s = m_scale, r2 = m_scaledRadius2, t0 = m_tMin, t1 = m_tMax;
        const uint8_t usable = m_usable ? 1 : 0;
        const uint8_t otherwise = m_acceptUnusable;
        for (uint32_t i = 0; i < n; ++i)
        {
            const double vx = (x[i] - px) * s;
            const double vy = (y[i] - py) * s;
            const double vz = (z[i] - pz) * s;
            const double t = (vx * ux + vy * uy) + vz * uz;
            const double rx = vx - t * ux;
            const double ry = vy - t * uy;
            const double rz = vz - t * uz;
            accept[i] = static_cast<uint8_t>(
                (usable & (t >= t0) & (t <= t1) & ((rx * rx + ry * ry) + rz * rz <= r2)) |
                otherwise);
        }
    }

private:
    GPointDouble m_axisPoint;
    GVector3 m_direction;
    double m_length;
    double m_a;
    double m_radius;
    bool m_unbounded;
    double m_b;
    orv::Data::Cloud::GCloud* m_c1;
    const orv::Data::Cloud::GCloud* m_c2;
    GVector3 m_unit;
    bool m_usable;
    uint8_t m_acceptUnusable;
    double m_scale;
    double m_scaledRadius2; // inclusive bounds tested (moved inwards for an open cylinder)
    double m_tMin;
    double m_tMax;
};

// A set of planes, each given by a point on it and a normal (any non-zero length).
class ORV_GEOMETRY_API GCompSelClippingPlane
{
public:
    struct Plane
    {
        GPointDouble point;
        GVector3 normal;
    };

    GCompSelClippingPlane() = default;

    void AddPlane(const GPointDouble& point, const GVector3& normal);
    size_t GetPlaneCount() const { return m_planes.size(); }
    const Plane& GetPlane(size_t i) const { return m_planes[i]; }
    const std::vector<Plane>& GetPlanes() const { return m_planes; }
    // False when a plane has a NaN or infinite coordinate or a zero normal.
    bool IsUsable() const { return m_usable; }

private:
    std::vector<Plane> m_planes;
    bool m_usable = true;
};

// Which side of each plane is kept is the host's choice. The reference host accepts a point q
// when it lies on the side opposite to every plane's normal or on the plane: (q - point) .
// normal <= 0 for every plane, evaluated as ((dx nx + dy ny) + dz nz); with no plane every
// point. The alternate host keeps the other side, strictly: (q - point) . normal > 0 for every
// plane; with no plane no point. With an unusable plane (see GCompSelClippingPlane::IsUsable)
// the reference host accepts nothing, the alternate host everything. The procedure keeps its
// own copy of the planes.
class ORV_GEOMETRY_API SelPrcPntClipPlane
{
public:
    explicit SelPrcPntClipPlane(const GCompSelClippingPlane& planes);

    const GCompSelClippingPlane& GetComponent() const { return m_component; }
    bool IsUsable() const { return m_component.IsUsable(); }

    bool Accepts(const GPointDouble& world) const;

    void Classify(const double* x, const double* y, const double* z, uint32_t n,
                  uint8_t* accept) const
    {
        if (!m_component.IsUsable())
        {
            std::memset(accept, m_acceptUnusable, n);
            return;
        }
        std::memset(accept, m_component.GetPlaneCount() != 0 ? 1 : m_acceptWithoutPlane, n);
        // With the normal times `side` the test is d <= limit: d <= 0 on the reference host;
        // -d <= -(smallest double), that is d > 0, on the alternate one (negation is exact, so
        // the negated normal gives exactly -d).
        const double side = m_side, limit = m_limit;
        for (const GCompSelClippingPlane::Plane& p : m_component.GetPlanes())
        {
            const double px = p.point.x, py = p.point.y, pz = p.point.z;
            const double nx = p.normal.x * side, ny = p.normal.y * side, nz = p.normal.z * side;
            for (uint32_t i = 0; i < n; ++i)
            {
                const double d = ((x[i] - px) * nx + (y[i] - py) * ny) + (z[i] - pz) * nz;
                accept[i] = static_cast<uint8_t>(accept[i] & (d <= limit));
            }
        }
    }

private:
    GCompSelClippingPlane m_component;
    double m_side;
    double m_limit;
    uint8_t m_acceptWithoutPlane;
    uint8_t m_acceptUnusable;
};

// What a selection was run with, for tests: every GCloud::ApplySelectionProcedure hands
// the observer (when one is set) the procedure it received, with its dynamic type, before
// it selects. Callers cast the pointer back after checking the type. Setting and clearing
// the observer must not overlap selections running on other threads.
namespace Testing
{
using SelectionObserver = std::function<void(const void* procedure, const std::type_info& type)>;
ORV_GEOMETRY_API void SetSelectionObserver(SelectionObserver observer);
ORV_GEOMETRY_API void NotifySelection(const void* procedure, const std::type_info& type);
} // namespace Testing

} // namespace orv::Graphics
