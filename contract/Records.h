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

// Points between the two corners, in the convention of the host's box selection
// (the reference host accepts corners in any order, bounds included).
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

// `length` exactly -1.0 is special: it asks the host for its cylinder selection with the
// selection's flag set (an axis unbounded in both directions in the reference host).
struct ORV_DATAPROXY_INTERFACE InsideCylinderQuery
{
    GPointDouble axisPoint;
    GVector3 axisDirection;
    double radius;
    double length;
};

// The plane of the points p with normal . p == distance, when normal has unit length.
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
