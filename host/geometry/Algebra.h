#pragma once

// Algebra types of the host's geometry library: points, vectors and frames in double
// precision. Plain structs, laid out as three (or nine, twelve) consecutive doubles.

namespace orv::Math::Algebra
{

// A point: three doubles x, y, z.
struct GPointDouble
{
    double x;
    double y;
    double z;
};

// A direction or free vector: three doubles x, y, z.
struct GVector3
{
    double x;
    double y;
    double z;
};

} // namespace orv::Math::Algebra
