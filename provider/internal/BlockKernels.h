#pragma once

#include "host/geometry/Algebra.h"

#include <cstddef>
#include <cstdint>

// The loops of block reads: whole runs of stored elements (raw bytes, packed as the host's
// element table packs them) turned into contract values.
//
// Every kernel gives the bits the per-point path gives: the positions the cursor's formula
// ((R[i][1]*y + R[i][0]*x) + R[i][2]*z) + t[i] in double, the widening of the scalar policies,
// and the normal and compressed-intensity decodes of the host's value types followed by the
// normal policy's rotation. Nothing here may be compiled with contraction into fused
// multiply-adds (the project builds with -ffp-contract=off), or the last bit changes.
//
// Two sets exist: a portable scalar one, and on x86-64 with GCC or Clang one for AVX2 whose
// functions carry their own target attribute; Best() picks once, at run time, what the
// processor supports. The two sets give identical results (the white-box tests call both on the
// same inputs); nothing but the processor chooses between them.
//
// Before a block read decodes a key inline instead of calling the key's policy, the decodes
// that stand in for the host's own value types are checked against them (the *MatchHost
// functions), since the host's schemes are its own: a host whose decoders give other bits is
// read through the policies instead.

namespace orv::Data::Cloud::BlockKernels
{

struct Kernels
{
    const char* name;
    // n points of three floats (x, y, z, 12 bytes each), local frame, to world coordinates
    // with the matrix m (twelve doubles: the 3x3 part row by row, then the translation).
    void (*positions)(const std::uint8_t* xyz, std::size_t n, const double* m, double* x, double* y,
                      double* z);
    // first, first + 1, ..., first + n - 1: the point indices of a run.
    void (*sequence)(std::uint64_t first, std::size_t n, std::uint64_t* out);
    // n unsigned 8, 16 or 32-bit integers zero-extended; n floats widened to double.
    void (*widenU8)(const std::uint8_t* in, std::size_t n, std::uint64_t* out);
    void (*widenU16)(const std::uint8_t* in, std::size_t n, std::uint64_t* out);
    void (*widenU32)(const std::uint8_t* in, std::size_t n, std::uint64_t* out);
    void (*widenF32)(const std::uint8_t* in, std::size_t n, double* out);
    // n packed normals decoded as DecodeNormal does, then rotated by m's 3x3 part, each row as
    // (m0 * x + m1 * y) + m2 * z (no translation).
    void (*normals)(const std::uint8_t* in, std::size_t n, const double* m,
                    orv::Math::Algebra::GVector3* out);
    // n compressed intensity values as DecodeCompressed gives them, widened to double.
    void (*compressed)(const std::uint8_t* in, std::size_t n, float min, float max, double* out);
};

const Kernels& Scalar();
// The fastest set this processor runs (AVX2 when available, else the scalar one).
const Kernels& Best();

// Whether `kernels` (Scalar() or Best()) decode packed normals (and rotate them) and 4-byte float
// colour values to the bits of the host's CompressedVector32Bits::VectorGet and
// ColorValue::GetValueFloat: checked once per process and set on a sample of bit patterns (the
// edges of the 16-bit codes, special floats and fixed pseudo-random words), as 2^32 patterns
// cannot all be tried.
bool NormalsMatchHost(const Kernels& kernels);
bool FloatsMatchHost(const Kernels& kernels);
// Whether `kernels` decode every one of the 65,536 compressed-intensity codes in [min, max] to the
// bits of ColorValue::GetCompressedValue. A reader is made per piece of a split read: the last
// range and set checked are remembered per thread.
bool CompressedMatchesHost(const Kernels& kernels, float min, float max);

// One packed normal as the host's 32-bit compressed vector decodes it: two 16-bit codes on an
// octahedron, unfolded and normalised; raw 0 is "no vector" and gives (0, 0, 0).
orv::Math::Algebra::GVector3 DecodeNormal(std::uint32_t raw);

// One intensity compressed into [min, max], as the host's colour value decodes it: the 16-bit
// code (byte 0 high, byte 3 low) scaled into the range, min for an unusable range.
float DecodeCompressed(const std::uint8_t* element, float min, float max);

} // namespace orv::Data::Cloud::BlockKernels
