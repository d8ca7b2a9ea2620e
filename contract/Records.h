#pragma once

#include "contract/Export.h"
#include "host/geometry/Algebra.h"

#include <vector>

// Value records of the point data contract: colours and the four spatial query records.
// Plain structs; queries are read-only inputs of IQueryablePointData<Q>::GetPoints. They
// carry default visibility because the exported IQueryablePointData<Q> instantiations take
// them as template arguments (a hidden argument would hide the instantiation).

namespace orv::DataProxy
{

// The value of a Color key. Colours read from a host cloud always have a == 1.0.
struct ORV_DATAPROXY_INTERFACE RgbaColor
{
    double r;
    double g;
    double b;
    double a;
};

using GPointDouble = orv::Math::Algebra::GPointDouble;
using GVector3 = orv::Math::Algebra::GVector3;

// Points between the two corners, in the convention of the host's box selection (the
// reference host accepts corners in any order, bounds included; the alternate host reads the
// first corner as the minimum and leaves the bounds out).
struct ORV_DATAPROXY_INTERFACE InsideAxisAlignedBoxQuery
{
    GPointDouble firstCorner;
    GPointDouble secondCorner;
};

struct ORV_DATAPROXY_INTERFACE InsideSphereQuery
{
    GPointDouble center;
    double radius;
};

// Points within `radius` of the axis through `axisPoint` along `axisDirection`, over
// `length` from the axis point. `length` exactly -1.0 means unbounded, in the host's sense:
// it asks for the host's cylinder selection with its unbounded flag set (the reference host
// then reaches infinitely both ways, the alternate host only along the direction); any other
// negative length is the host's to interpret (the reference host selects nothing).
struct ORV_DATAPROXY_INTERFACE InsideCylinderQuery
{
    GPointDouble axisPoint;
    GVector3 axisDirection;
    double radius;
    double length;
};

// The plane of the points p with normal . p == distance, when normal has unit length.
//
// Which side of its planes a ClippingPlanesQuery keeps is the HOST's choice, not the
// contract's: the query selects by the planes' sides, and the host decides which side is
// accepted and whether the plane itself belongs to it. The reference host keeps the side the
// normal points to, plane included (normal . p >= distance for every plane; no plane keeps
// every point); the alternate host keeps the other side, plane excluded (normal . p <
// distance; no plane keeps nothing). An algorithm that must hold on any host relies on
// neither: it takes both halves (invert false and true) and tells them apart by their points.
struct ORV_DATAPROXY_INTERFACE ClippingPlane
{
    GVector3 normal;
    double distance;
};

struct ORV_DATAPROXY_INTERFACE ClippingPlanesQuery
{
    std::vector<ClippingPlane> planes;
};

} // namespace orv::DataProxy
