#pragma once

#include "host/geometry/GeometryExport.h"

#include <cstdint>

// Algebra types of the host's geometry library: points, vectors and frames in double
// precision. Plain structs, laid out as three (or nine, twelve) consecutive doubles.
//
// Matrix conventions: a Matrix3x3 is stored row by row (m00 m01 m02 m10 ... m22); a Matrix3x4
// holds the same 3x3 linear part row by row, then the translation tx ty tz. A Matrix3x4 maps a
// point q to L q + t. All helpers are pure functions of their arguments and thread-safe.

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

// A linear map, row by row.
struct Matrix3x3
{
    double v[9];
};

// An affine map: the 3x3 linear part row by row, then the translation (v[9], v[10], v[11]).
struct Matrix3x4
{
    double v[12];
};

inline Matrix3x3 Identity3x3()
{
    return Matrix3x3{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
}

inline Matrix3x4 Identity3x4()
{
    return Matrix3x4{{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};
}

// Exact comparison with the identity (every coefficient exactly 0 or 1).
ORV_GEOMETRY_API bool IsIdentity(const Matrix3x3& m);
ORV_GEOMETRY_API bool IsIdentity(const Matrix3x4& m);

// True when every coefficient is finite.
ORV_GEOMETRY_API bool IsFinite(const Matrix3x4& m);

// The linear part of an affine map.
inline Matrix3x3 Linear(const Matrix3x4& m)
{
    return Matrix3x3{{m.v[0], m.v[1], m.v[2], m.v[3], m.v[4], m.v[5], m.v[6], m.v[7], m.v[8]}};
}

// A pure translation.
inline Matrix3x4 Translation(double tx, double ty, double tz)
{
    return Matrix3x4{{1, 0, 0, 0, 1, 0, 0, 0, 1, tx, ty, tz}};
}

ORV_GEOMETRY_API double Determinant(const Matrix3x3& m);

// Composition: the map that applies b first, then a.
ORV_GEOMETRY_API Matrix3x3 Multiply(const Matrix3x3& a, const Matrix3x3& b);
ORV_GEOMETRY_API Matrix3x4 Multiply(const Matrix3x4& a, const Matrix3x4& b);

// Inverse of an affine map. Returns false and leaves `out` untouched when the map has no
// usable inverse: a non-finite coefficient, a zero determinant, or an inverse that overflows.
ORV_GEOMETRY_API bool TryInverse(const Matrix3x4& m, Matrix3x4& out);

// Inverse of an affine map; a map without a usable inverse (see TryInverse) gives a matrix of
// NaNs, so that nothing computed from it can pass for a real coordinate.
ORV_GEOMETRY_API Matrix3x4 Inverse(const Matrix3x4& m);

// L v (no translation). Each row is evaluated as (r0 x + r1 y) + r2 z.
inline GVector3 Multiply(const Matrix3x3& m, const GVector3& a)
{
    return GVector3{(m.v[0] * a.x + m.v[1] * a.y) + m.v[2] * a.z,
                    (m.v[3] * a.x + m.v[4] * a.y) + m.v[5] * a.z,
                    (m.v[6] * a.x + m.v[7] * a.y) + m.v[8] * a.z};
}

// L q + t. Each row is evaluated as ((r1 y + r0 x) + r2 z) + t, the order in which cursor
// clients compute world positions, so that a point tested here and read there agree to the bit.
inline GPointDouble TransformPoint(const Matrix3x4& m, const GPointDouble& q)
{
    return GPointDouble{((m.v[1] * q.y + m.v[0] * q.x) + m.v[2] * q.z) + m.v[9],
                        ((m.v[4] * q.y + m.v[3] * q.x) + m.v[5] * q.z) + m.v[10],
                        ((m.v[7] * q.y + m.v[6] * q.x) + m.v[8] * q.z) + m.v[11]};
}

// A unit vector packed into 32 bits.
//
// Scheme: octahedral mapping. The vector is projected onto the octahedron |x|+|y|+|z| = 1, the
// lower half is folded over the upper one, and the two resulting coordinates in [-1, 1] are
// quantised to 16 bits each (u in the low half of `bits`, v in the high half), rounding to the
// nearest of the codes 0..65534 (steps of 2/65534, so the six axis directions are exact).
//
// Precision: a decoded vector is unit length (to double rounding) and lies within 7e-5 rad
// (0.004 degree) of the unit vector that was stored (the worst case found by a dense sweep of
// the octahedron is 6.45e-5 rad, where the octahedron is far from the sphere); the tests hold
// this bound on a dense sweep of the sphere, poles and octahedron edges included. Encoding
// costs one division and no library call (cheaper than decoding, which normalises).
//
// Raw value 0 means "no vector": VectorGet then returns 0 and leaves its argument untouched.
// No stored vector ever encodes to 0 (the one direction whose code would be 0, straight down
// the -z axis, is written with its equivalent code pair (65534, 65534) instead).
//
// Hostile input: VectorSet of a zero vector or of a vector with any NaN or infinite component
// stores 0. Any other vector is normalised first (scaled so that tiny and huge vectors keep
// their direction). operator*= decodes, applies the matrix, and re-encodes, hence normalises;
// a result that is zero or not finite (singular or non-finite matrix) stores 0; 0 stays 0.
class ORV_GEOMETRY_API CompressedVector32Bits
{
public:
    uint32_t bits = 0;

    CompressedVector32Bits() = default;
    explicit CompressedVector32Bits(const GVector3& v) { VectorSet(v); }

    void VectorSet(const GVector3& v);

    // 1 when a vector was decoded into `v`, 0 (and `v` untouched) for the raw value 0.
    int VectorGet(GVector3& v) const;

    CompressedVector32Bits& operator*=(const Matrix3x3& m);

    uint32_t GetRaw() const { return bits; }
    void SetRaw(uint32_t raw) { bits = raw; }

    bool operator==(const CompressedVector32Bits& o) const { return bits == o.bits; }
    bool operator!=(const CompressedVector32Bits& o) const { return bits != o.bits; }
};

static_assert(sizeof(CompressedVector32Bits) == 4, "a compressed vector is stored in 4 bytes");

} // namespace orv::Math::Algebra
