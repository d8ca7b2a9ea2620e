#include "host/geometry/Algebra.h"

#include "host/base/HostVariant.h"

#include <cmath>
#include <limits>

namespace orv::Math::Algebra
{

bool IsIdentity(const Matrix3x3& m)
{
    static const Matrix3x3 identity = Identity3x3();
    for (int i = 0; i < 9; ++i)
    {
        if (m.v[i] != identity.v[i])
            return false;
    }
    return true;
}

bool IsIdentity(const Matrix3x4& m)
{
    return IsIdentity(Linear(m)) && m.v[9] == 0 && m.v[10] == 0 && m.v[11] == 0;
}

bool IsFinite(const Matrix3x4& m)
{
    for (double d : m.v)
    {
        if (!std::isfinite(d))
            return false;
    }
    return true;
}

double Determinant(const Matrix3x3& m)
{
    const double* a = m.v;
    return a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
           a[2] * (a[3] * a[7] - a[4] * a[6]);
}

Matrix3x3 Multiply(const Matrix3x3& a, const Matrix3x3& b)
{
    Matrix3x3 r{};
    for (int i = 0; i < 3; ++i)
    {
        for (int j = 0; j < 3; ++j)
        {
            r.v[3 * i + j] =
                (a.v[3 * i] * b.v[j] + a.v[3 * i + 1] * b.v[3 + j]) + a.v[3 * i + 2] * b.v[6 + j];
        }
    }
    return r;
}

Matrix3x4 Multiply(const Matrix3x4& a, const Matrix3x4& b)
{
    const Matrix3x3 l = Multiply(Linear(a), Linear(b));
    const GPointDouble t = TransformPoint(a, GPointDouble{b.v[9], b.v[10], b.v[11]});
    Matrix3x4 r{};
    for (int i = 0; i < 9; ++i)
        r.v[i] = l.v[i];
    r.v[9] = t.x;
    r.v[10] = t.y;
    r.v[11] = t.z;
    return r;
}

bool TryInverse(const Matrix3x4& m, Matrix3x4& out)
{
    if (!IsFinite(m))
        return false;
    const double* a = m.v;
    const double det = Determinant(Linear(m));
    if (det == 0 || !std::isfinite(det))
        return false;
    // Adjugate over determinant: exact enough for the frames a cloud uses (rotations,
    // translations, moderate scales), and it keeps the identity and pure translations exact.
    Matrix3x4 r{};
    r.v[0] = (a[4] * a[8] - a[5] * a[7]) / det;
    r.v[1] = (a[2] * a[7] - a[1] * a[8]) / det;
    r.v[2] = (a[1] * a[5] - a[2] * a[4]) / det;
    r.v[3] = (a[5] * a[6] - a[3] * a[8]) / det;
    r.v[4] = (a[0] * a[8] - a[2] * a[6]) / det;
    r.v[5] = (a[2] * a[3] - a[0] * a[5]) / det;
    r.v[6] = (a[3] * a[7] - a[4] * a[6]) / det;
    r.v[7] = (a[1] * a[6] - a[0] * a[7]) / det;
    r.v[8] = (a[0] * a[4] - a[1] * a[3]) / det;
    const GVector3 t = Multiply(Linear(r), GVector3{a[9], a[10], a[11]});
    r.v[9] = -t.x;
    r.v[10] = -t.y;
    r.v[11] = -t.z;
    if (!IsFinite(r))
        return false;
    out = r;
    return true;
}

Matrix3x4 Inverse(const Matrix3x4& m)
{
    Matrix3x4 r{};
    if (!TryInverse(m, r))
    {
        for (double& d : r.v)
            d = std::numeric_limits<double>::quiet_NaN();
    }
    return r;
}

namespace
{

// Codes 0..65534 cover [-1, 1] in steps of 2/65534, so -1, 0 and 1 are exact (the axes are
// stored exactly); code 65535 is never written.
constexpr double kSteps = 65534.0;

// The code pair (1, 1): the same direction as (-1, -1), whose raw value would be 0.
constexpr uint32_t kStraightDown = 65534u | (65534u << 16);

double SignNotZero(double a)
{
    return a < 0 ? -1.0 : 1.0;
}

uint32_t Quantise(double a)
{
    // a is in [-1, 1] (give or take a rounding), so q is positive and the conversion, which
    // truncates, rounds to the nearest code without a call to floor; the clamp is integer.
    const int64_t code = static_cast<int64_t>((a + 1.0) * (0.5 * kSteps) + 0.5);
    return static_cast<uint32_t>(code < 0 ? 0 : (code > 65534 ? 65534 : code));
}

double Dequantise(uint32_t code)
{
    return static_cast<double>(code) * (2.0 / kSteps) - 1.0;
}

// The alternate host's codec: z quantised like an octahedral coordinate (codes 0..65534 over
// [-1, 1], high half) and the azimuth atan2(y, x) in 65536 steps of the full turn (low half).
constexpr double kTurn = 6.283185307179586476925286766559;
constexpr double kAzimuthSteps = 65536.0;
// The south pole with azimuth code 1: the same direction as the raw value 0.
constexpr uint32_t kSouthPole = 1u;

uint32_t EncodeLatitudeAzimuth(double x, double y, double z)
{
    const double n = std::sqrt(x * x + y * y + z * z);
    const double zn = std::fmax(-1.0, std::fmin(1.0, z / n));
    double azimuth = std::atan2(y, x);
    if (azimuth < 0)
        azimuth += kTurn;
    const uint32_t cz = Quantise(zn);
    const uint32_t ca =
        static_cast<uint32_t>(std::floor(azimuth / kTurn * kAzimuthSteps + 0.5)) & 0xFFFFu;
    const uint32_t bits = ca | (cz << 16);
    return bits == 0 ? kSouthPole : bits;
}

GVector3 DecodeLatitudeAzimuth(uint32_t bits)
{
    const double z = std::fmin(1.0, Dequantise(bits >> 16)); // code 65535 is never written
    const double r = std::sqrt(std::fmax(0.0, 1.0 - z * z));
    const double azimuth = static_cast<double>(bits & 0xFFFFu) * (kTurn / kAzimuthSteps);
    return GVector3{r * std::cos(azimuth), r * std::sin(azimuth), z};
}

} // namespace

namespace
{

// The scheme's input: the vector scaled to L1 norm 1. False for a zero vector or one with a NaN
// or infinite component. The common case costs one division: a norm that is finite and not
// subnormal. Vectors so huge or tiny that the norm overflows or loses digits are scaled by
// their largest magnitude first, so their direction survives.
bool OnOctahedron(const GVector3& in, double& x, double& y, double& z)
{
    x = in.x;
    y = in.y;
    z = in.z;
    double l1 = std::fabs(x) + std::fabs(y) + std::fabs(z);
    if (!(l1 >= std::numeric_limits<double>::min() && l1 <= std::numeric_limits<double>::max()))
    {
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
            return false;
        const double big = std::fmax(std::fabs(x), std::fmax(std::fabs(y), std::fabs(z)));
        if (big == 0)
            return false;
        x /= big;
        y /= big;
        z /= big;
        l1 = std::fabs(x) + std::fabs(y) + std::fabs(z);
    }
    const double inverse = 1.0 / l1;
    x *= inverse;
    y *= inverse;
    z *= inverse;
    return true;
}

} // namespace

void CompressedVector32Bits::VectorSet(const GVector3& in)
{
    // The variant is asked first, so that the common path below calls nothing.
    const bool alternate = orv::IsAlternateHost();
    double u = 0;
    double v = 0;
    double w = 0;
    if (!OnOctahedron(in, u, v, w))
    {
        bits = 0;
        return;
    }
    if (alternate)
    {
        bits = EncodeLatitudeAzimuth(u, v, w);
        return;
    }
    if (w < 0)
    {
        const double fu = (1.0 - std::fabs(v)) * SignNotZero(u);
        const double fv = (1.0 - std::fabs(u)) * SignNotZero(v);
        u = fu;
        v = fv;
    }
    const uint32_t cu = Quantise(u);
    const uint32_t cv = Quantise(v);
    bits = cu | (cv << 16);
    if (bits == 0)
        bits = kStraightDown; // (-1, -1) and (1, 1) both decode to (0, 0, -1); 0 means "none"
}

int CompressedVector32Bits::VectorGet(GVector3& out) const
{
    if (bits == 0)
        return 0;
    if (orv::IsAlternateHost())
    {
        out = DecodeLatitudeAzimuth(bits);
        return 1;
    }
    const double u = Dequantise(bits & 0xFFFFu);
    const double v = Dequantise(bits >> 16);
    double x = u;
    double y = v;
    const double z = 1.0 - std::fabs(u) - std::fabs(v);
    if (z < 0)
    {
        x = (1.0 - std::fabs(v)) * SignNotZero(u);
        y = (1.0 - std::fabs(u)) * SignNotZero(v);
    }
    const double n = std::sqrt(x * x + y * y + z * z);
    out = GVector3{x / n, y / n, z / n};
    return 1;
}

CompressedVector32Bits& CompressedVector32Bits::operator*=(const Matrix3x3& m)
{
    GVector3 v{0, 0, 0};
    if (VectorGet(v) != 0)
        VectorSet(Multiply(m, v));
    return *this;
}

} // namespace orv::Math::Algebra
