// The four spatial queries of PointCloudDataProvider: each record becomes one of the host's
// selection procedures, the host copies the accepted (or rejected) points into a new cloud,
// and the result is wrapped with a copy of the mapping. The records are passed through
// unvalidated: what a degenerate record selects is the host selection's documented answer.
#include "host/geometry/Selection.h"
#include "provider/PointCloudDataProvider.h"

namespace orv::Data::Cloud
{
namespace
{

enum class Outcome
{
    Accepted,
    Rejected
};

// Runs `selection` over `source` and wraps the chosen side. Every temporary is a local
// object, released on every path, exceptions included.
template <class Selection>
std::unique_ptr<orv::DataProxy::IPointDataProvider> Select(const PointCloud& source,
                                                           const ComponentMapping& mapping,
                                                           Selection& selection, Outcome outcome)
{
    PointCloud result;
    GCloud& target = result.Convert();
    (void)source.Convert().ApplySelectionProcedure(
        selection, outcome == Outcome::Accepted ? &target : nullptr,
        outcome == Outcome::Rejected ? &target : nullptr, nullptr, AutoCompactOption(0));
    return std::make_unique<PointCloudDataProvider>(result, mapping);
}

Outcome OutcomeOf(bool invert)
{
    return invert ? Outcome::Rejected : Outcome::Accepted;
}

} // namespace

std::unique_ptr<orv::DataProxy::IPointDataProvider>
PointCloudDataProvider::GetPoints(const orv::DataProxy::InsideAxisAlignedBoxQuery& query,
                                  bool invert) const
{
    orv::Graphics::SelPrcBox selection(query.firstCorner, query.secondCorner);
    return Select(cloud, mapping, selection, OutcomeOf(invert));
}

std::unique_ptr<orv::DataProxy::IPointDataProvider>
PointCloudDataProvider::GetPoints(const orv::DataProxy::InsideCylinderQuery& query,
                                  bool invert) const
{
    // Exactly -1.0 asks for the host's flagged cylinder; the length goes through unchanged.
    const bool flagged = query.length == -1.0;
    orv::Graphics::SelPrcCyl selection(query.axisPoint, query.axisDirection, query.length, 0.0,
                                       query.radius, flagged, 0.0, nullptr, nullptr);
    return Select(cloud, mapping, selection, OutcomeOf(invert));
}

std::unique_ptr<orv::DataProxy::IPointDataProvider>
PointCloudDataProvider::GetPoints(const orv::DataProxy::InsideSphereQuery& query, bool invert) const
{
    orv::Graphics::SelPrcSph selection(query.radius, query.center, false);
    return Select(cloud, mapping, selection, OutcomeOf(invert));
}

std::unique_ptr<orv::DataProxy::IPointDataProvider>
PointCloudDataProvider::GetPoints(const orv::DataProxy::ClippingPlanesQuery& query,
                                  bool invert) const
{
    // The host keeps the side opposite to each plane's normal: a plane is handed over as
    // its point normal * distance and the negated normal (every sign flipped, so a zero
    // component becomes -0).
    orv::Graphics::GCompSelClippingPlane planes;
    for (const orv::DataProxy::ClippingPlane& plane : query.planes)
    {
        const orv::Math::Algebra::GPointDouble point{plane.normal.x * plane.distance,
                                                     plane.normal.y * plane.distance,
                                                     plane.normal.z * plane.distance};
        const orv::Math::Algebra::GVector3 normal{-plane.normal.x, -plane.normal.y,
                                                  -plane.normal.z};
        planes.AddPlane(point, normal);
    }
    orv::Graphics::SelPrcPntClipPlane selection(planes);
    return Select(cloud, mapping, selection, OutcomeOf(invert));
}

} // namespace orv::Data::Cloud
