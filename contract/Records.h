#pragma once

#include "host/geometry/Algebra.h"

#include <vector>

// Value records of the point data contract: colours and the four spatial query records.
// Plain structs; queries are read-only inputs of IQueryablePointData<Q>::GetPoints.

namespace orv::DataProxy
{

// The value of a Color key. Colours read from a host cloud always have a == 1.0.
struct RgbaColor
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
struct InsideAxisAlignedBoxQuery
{
    GPointDouble firstCorner;
    GPointDouble secondCorner;
};

struct InsideSphereQuery
{
    GPointDouble center;
    double radius;
};

// `length` exactly -1.0 is special: it asks the host for its cylinder selection with the
// selection's flag set (an axis unbounded in both directions in the reference host).
struct InsideCylinderQuery
{
    GPointDouble axisPoint;
    GVector3 axisDirection;
    double radius;
    double length;
};

// The plane of the points p with normal . p == distance, when normal has unit length.
struct ClippingPlane
{
    GVector3 normal;
    double distance;
};

struct ClippingPlanesQuery
{
    std::vector<ClippingPlane> planes;
};

} // namespace orv::DataProxy
