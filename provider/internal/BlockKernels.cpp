#include "provider/internal/BlockKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORV_BLOCK_KERNELS_AVX2 1
#include <immintrin.h>
#else
#define ORV_BLOCK_KERNELS_AVX2 0
#endif

namespace orv::Data::Cloud::BlockKernels
{

using orv::Math::Algebra::GVector3;

namespace
{

// The host's octahedral codes: 0 .. 65534 over [-1, 1].
constexpr double kNormalStep = 2.0 / 65534.0;
constexpr double kIntensityCodes = 65535.0;

template <class T>
T Load(const std::uint8_t* bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

bool UsableRange(float min, float max)
{
    return std::isfinite(min) && std::isfinite(max) && max > min;
}

// The row order of the normal policy's rotation.
GVector3 Rotate(const double* m, const GVector3& v)
{
    return {(m[0] * v.x + m[1] * v.y) + m[2] * v.z, (m[3] * v.x + m[4] * v.y) + m[5] * v.z,
            (m[6] * v.x + m[7] * v.y) + m[8] * v.z};
}

void PositionsScalar(const std::uint8_t* xyz, std::size_t n, const double* matrix, double* x,
                     double* y, double* z)
{
    double m[12];
    std::memcpy(m, matrix, sizeof m);
    for (std::size_t i = 0; i < n; ++i)
    {
        const double px = Load<float>(xyz + 12 * i);
        const double py = Load<float>(xyz + 12 * i + 4);
        const double pz = Load<float>(xyz + 12 * i + 8);
        x[i] = ((m[1] * py + m[0] * px) + m[2] * pz) + m[9];
        y[i] = ((m[4] * py + m[3] * px) + m[5] * pz) + m[10];
        z[i] = ((m[7] * py + m[6] * px) + m[8] * pz) + m[11];
    }
}

void SequenceScalar(std::uint64_t first, std::size_t n, std::uint64_t* out)
{
    for (std::size_t i = 0; i < n; ++i)
    {
        out[i] = first + i;
    }
}

template <class S, class T>
void Widen(const std::uint8_t* in, std::size_t n, T* out)
{
    for (std::size_t i = 0; i < n; ++i)
    {
        out[i] = static_cast<T>(Load<S>(in + sizeof(S) * i));
    }
}

void WidenU8Scalar(const std::uint8_t* in, std::size_t n, std::uint64_t* out)
{
    Widen<std::uint8_t>(in, n, out);
}

void WidenU16Scalar(const std::uint8_t* in, std::size_t n, std::uint64_t* out)
{
    Widen<std::uint16_t>(in, n, out);
}

void WidenU32Scalar(const std::uint8_t* in, std::size_t n, std::uint64_t* out)
{
    Widen<std::uint32_t>(in, n, out);
}

void WidenF32Scalar(const std::uint8_t* in, std::size_t n, double* out)
{
    Widen<float>(in, n, out);
}

void NormalsScalar(const std::uint8_t* in, std::size_t n, const double* matrix, GVector3* out)
{
    double m[9];
    std::memcpy(m, matrix, sizeof m);
    for (std::size_t i = 0; i < n; ++i)
    {
        out[i] = Rotate(m, DecodeNormal(Load<std::uint32_t>(in + 4 * i)));
    }
}

void CompressedScalar(const std::uint8_t* in, std::size_t n, float min, float max, double* out)
{
    for (std::size_t i = 0; i < n; ++i)
    {
        out[i] = static_cast<double>(DecodeCompressed(in + 4 * i, min, max));
    }
}

constexpr Kernels kScalar{"scalar",       PositionsScalar, SequenceScalar,
                          WidenU8Scalar,  WidenU16Scalar,  WidenU32Scalar,
                          WidenF32Scalar, NormalsScalar,   CompressedScalar};

#if ORV_BLOCK_KERNELS_AVX2

// Four points at a time; the tails go through the scalar loops, which give the same bits.
#define ORV_AVX2 __attribute__((target("avx2")))

ORV_AVX2 void PositionsAvx2(const std::uint8_t* xyz, std::size_t n, const double* m, double* x,
                            double* y, double* z)
{
    __m256d r[12];
    for (int k = 0; k < 12; ++k)
    {
        r[k] = _mm256_set1_pd(m[k]);
    }
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        // x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3 -> four x, four y, four z.
        const float* p = reinterpret_cast<const float*>(xyz + 12 * i);
        const __m128 a = _mm_loadu_ps(p);
        const __m128 b = _mm_loadu_ps(p + 4);
        const __m128 c = _mm_loadu_ps(p + 8);
        const __m128 xy23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 1, 3, 2));
        const __m128 yz01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 2, 1));
        const __m256d px = _mm256_cvtps_pd(_mm_shuffle_ps(a, xy23, _MM_SHUFFLE(2, 0, 3, 0)));
        const __m256d py = _mm256_cvtps_pd(_mm_shuffle_ps(yz01, xy23, _MM_SHUFFLE(3, 1, 2, 0)));
        const __m256d pz = _mm256_cvtps_pd(_mm_shuffle_ps(yz01, c, _MM_SHUFFLE(3, 0, 3, 1)));
        double* const out[3] = {x + i, y + i, z + i};
        for (int row = 0; row < 3; ++row)
        {
            const __m256d sum =
                _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(r[3 * row + 1], py),
                                                          _mm256_mul_pd(r[3 * row], px)),
                                            _mm256_mul_pd(r[3 * row + 2], pz)),
                              r[9 + row]);
            _mm256_storeu_pd(out[row], sum);
        }
    }
    PositionsScalar(xyz + 12 * i, n - i, m, x + i, y + i, z + i);
}

ORV_AVX2 void SequenceAvx2(std::uint64_t first, std::size_t n, std::uint64_t* out)
{
    const __m256i step = _mm256_set1_epi64x(4);
    __m256i value = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<long long>(first)),
                                     _mm256_setr_epi64x(0, 1, 2, 3));
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), value);
        value = _mm256_add_epi64(value, step);
    }
    SequenceScalar(first + i, n - i, out + i);
}

ORV_AVX2 void WidenU8Avx2(const std::uint8_t* in, std::size_t n, std::uint64_t* out)
{
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        auto* o = reinterpret_cast<__m256i*>(out + i);
        _mm256_storeu_si256(o, _mm256_cvtepu8_epi64(v));
        _mm256_storeu_si256(o + 1, _mm256_cvtepu8_epi64(_mm_srli_si128(v, 4)));
        _mm256_storeu_si256(o + 2, _mm256_cvtepu8_epi64(_mm_srli_si128(v, 8)));
        _mm256_storeu_si256(o + 3, _mm256_cvtepu8_epi64(_mm_srli_si128(v, 12)));
    }
    WidenU8Scalar(in + i, n - i, out + i);
}

ORV_AVX2 void WidenU16Avx2(const std::uint8_t* in, std::size_t n, std::uint64_t* out)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        auto* o = reinterpret_cast<__m256i*>(out + i);
        _mm256_storeu_si256(o, _mm256_cvtepu16_epi64(v));
        _mm256_storeu_si256(o + 1, _mm256_cvtepu16_epi64(_mm_srli_si128(v, 8)));
    }
    WidenU16Scalar(in + 2 * i, n - i, out + i);
}

ORV_AVX2 void WidenU32Avx2(const std::uint8_t* in, std::size_t n, std::uint64_t* out)
{
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepu32_epi64(v));
    }
    WidenU32Scalar(in + 4 * i, n - i, out + i);
}

ORV_AVX2 void WidenF32Avx2(const std::uint8_t* in, std::size_t n, double* out)
{
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        const __m128 v = _mm_loadu_ps(reinterpret_cast<const float*>(in + 4 * i));
        _mm256_storeu_pd(out + i, _mm256_cvtps_pd(v));
    }
    WidenF32Scalar(in + 4 * i, n - i, out + i);
}

// Two passes over chunks of the run: the decode, whose square roots and divisions keep the
// divider busy, then the rotation and the interleaving. Kept apart, the many operations that
// wait for a division do not crowd the scheduler while the next divisions could start.
ORV_AVX2 void NormalsAvx2(const std::uint8_t* in, std::size_t n, const double* m, GVector3* out)
{
    constexpr std::size_t kChunk = 128;
    alignas(32) double decoded[3][kChunk];
    const __m256d step = _mm256_set1_pd(kNormalStep);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d sign = _mm256_set1_pd(-0.0);
    __m256d r[9];
    for (int k = 0; k < 9; ++k)
    {
        r[k] = _mm256_set1_pd(m[k]);
    }
    std::size_t i = 0;
    while (i + 4 <= n)
    {
        const std::size_t chunk = std::min(kChunk, (n - i) / 4 * 4);
        for (std::size_t k = 0; k < chunk; k += 4)
        {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * (i + k)));
            const __m256d u = _mm256_sub_pd(
                _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(raw, _mm_set1_epi32(0xFFFF))), step),
                one);
            const __m256d v = _mm256_sub_pd(
                _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_srli_epi32(raw, 16)), step), one);
            const __m256d au = _mm256_andnot_pd(sign, u);
            const __m256d av = _mm256_andnot_pd(sign, v);
            const __m256d z = _mm256_sub_pd(_mm256_sub_pd(one, au), av);
            // The lower half of the octahedron is folded over the upper one. Multiplying by -1
            // or 1 as the sign of u (v) is negative or not flips or keeps the sign bit, and u
            // and v are never -0: their own sign bit says it.
            const __m256d folded = _mm256_cmp_pd(z, zero, _CMP_LT_OQ);
            const __m256d x = _mm256_blendv_pd(
                u, _mm256_xor_pd(_mm256_sub_pd(one, av), _mm256_and_pd(u, sign)), folded);
            const __m256d y = _mm256_blendv_pd(
                v, _mm256_xor_pd(_mm256_sub_pd(one, au), _mm256_and_pd(v, sign)), folded);
            const __m256d length = _mm256_sqrt_pd(_mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z)));
            // Raw 0 is no vector: (0, 0, 0), then rotated like any other.
            const __m256d none = _mm256_castsi256_pd(
                _mm256_cvtepi32_epi64(_mm_cmpeq_epi32(raw, _mm_setzero_si128())));
            _mm256_store_pd(decoded[0] + k, _mm256_andnot_pd(none, _mm256_div_pd(x, length)));
            _mm256_store_pd(decoded[1] + k, _mm256_andnot_pd(none, _mm256_div_pd(y, length)));
            _mm256_store_pd(decoded[2] + k, _mm256_andnot_pd(none, _mm256_div_pd(z, length)));
        }
        for (std::size_t k = 0; k < chunk; k += 4)
        {
            const __m256d x = _mm256_load_pd(decoded[0] + k);
            const __m256d y = _mm256_load_pd(decoded[1] + k);
            const __m256d w = _mm256_load_pd(decoded[2] + k);
            __m256d rotated[3];
            for (int row = 0; row < 3; ++row)
            {
                rotated[row] = _mm256_add_pd(
                    _mm256_add_pd(_mm256_mul_pd(r[3 * row], x), _mm256_mul_pd(r[3 * row + 1], y)),
                    _mm256_mul_pd(r[3 * row + 2], w));
            }
            // Four (x, y, z) triples, interleaved back into GVector3s.
            const __m256d xy02 = _mm256_unpacklo_pd(rotated[0], rotated[1]); // x0 y0 x2 y2
            const __m256d xy13 = _mm256_unpackhi_pd(rotated[0], rotated[1]); // x1 y1 x3 y3
            const __m256d zx = _mm256_shuffle_pd(rotated[2], xy13, 0x0);     // z0 x1 z2 x3
            const __m256d yz = _mm256_shuffle_pd(xy13, rotated[2], 0xF);     // y1 z1 y3 z3
            double* o = reinterpret_cast<double*>(out + i + k);
            _mm256_storeu_pd(o, _mm256_permute2f128_pd(xy02, zx, 0x20));
            _mm256_storeu_pd(o + 4, _mm256_permute2f128_pd(yz, xy02, 0x30));
            _mm256_storeu_pd(o + 8, _mm256_permute2f128_pd(zx, yz, 0x31));
        }
        i += chunk;
    }
    NormalsScalar(in + 4 * i, n - i, m, out + i);
}

ORV_AVX2 void CompressedAvx2(const std::uint8_t* in, std::size_t n, float min, float max,
                             double* out)
{
    std::size_t i = 0;
    if (UsableRange(min, max))
    {
        const __m256d low = _mm256_set1_pd(min);
        const __m256d high = _mm256_set1_pd(max);
        const __m256d span = _mm256_set1_pd(static_cast<double>(max) - min);
        const __m256d codes = _mm256_set1_pd(kIntensityCodes);
        for (; i + 4 <= n; i += 4)
        {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
            const __m128i code =
                _mm_or_si128(_mm_slli_epi32(_mm_and_si128(raw, _mm_set1_epi32(0xFF)), 8),
                             _mm_srli_epi32(raw, 24));
            const __m256d scaled = _mm256_add_pd(
                low, _mm256_mul_pd(span, _mm256_div_pd(_mm256_cvtepi32_pd(code), codes)));
            __m256d value = _mm256_cvtps_pd(_mm256_cvtpd_ps(scaled));
            const __m256d bottom = _mm256_castsi256_pd(
                _mm256_cvtepi32_epi64(_mm_cmpeq_epi32(code, _mm_setzero_si128())));
            const __m256d top = _mm256_castsi256_pd(
                _mm256_cvtepi32_epi64(_mm_cmpeq_epi32(code, _mm_set1_epi32(0xFFFF))));
            value = _mm256_blendv_pd(_mm256_blendv_pd(value, low, bottom), high, top);
            _mm256_storeu_pd(out + i, value);
        }
    }
    CompressedScalar(in + 4 * i, n - i, min, max, out + i);
}

#undef ORV_AVX2

constexpr Kernels kAvx2{"avx2",       PositionsAvx2, SequenceAvx2, WidenU8Avx2,   WidenU16Avx2,
                        WidenU32Avx2, WidenF32Avx2,  NormalsAvx2,  CompressedAvx2};

#endif

} // namespace

GVector3 DecodeNormal(std::uint32_t raw)
{
    if (raw == 0)
    {
        return {0.0, 0.0, 0.0};
    }
    const double u = static_cast<double>(raw & 0xFFFFu) * kNormalStep - 1.0;
    const double v = static_cast<double>(raw >> 16) * kNormalStep - 1.0;
    double x = u;
    double y = v;
    const double z = 1.0 - std::fabs(u) - std::fabs(v);
    if (z < 0)
    {
        x = (1.0 - std::fabs(v)) * (u < 0 ? -1.0 : 1.0);
        y = (1.0 - std::fabs(u)) * (v < 0 ? -1.0 : 1.0);
    }
    const double length = std::sqrt(x * x + y * y + z * z);
    return {x / length, y / length, z / length};
}

float DecodeCompressed(const std::uint8_t* element, float min, float max)
{
    if (!UsableRange(min, max))
    {
        return min;
    }
    const std::uint32_t code = (std::uint32_t{element[0]} << 8) | element[3];
    if (code == 0)
    {
        return min;
    }
    if (code == 65535)
    {
        return max;
    }
    const double span = static_cast<double>(max) - min;
    return static_cast<float>(min + span * (code / kIntensityCodes));
}

const Kernels& Scalar()
{
    return kScalar;
}

const Kernels& Best()
{
    static const Kernels& chosen = []() -> const Kernels&
    {
#if ORV_BLOCK_KERNELS_AVX2
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
        {
            return kAvx2;
        }
#endif
        return kScalar;
    }();
    return chosen;
}

} // namespace orv::Data::Cloud::BlockKernels
