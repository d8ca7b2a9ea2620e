#include "provider/internal/BlockKernels.h"

#include "host/geometry/Values.h"

#include <cstring>
#include <optional>
#include <vector>

namespace orv::Data::Cloud::BlockKernels
{

using orv::Data::Primitive::ColorValue;
using orv::Math::Algebra::GVector3;

namespace
{

// The elements the normal and float decodes are checked with before they replace the host's own
// decoders: the edges of the 16-bit codes in both halves, special float patterns, and a spread
// of fixed pseudo-random patterns; a sample, as 2^32 patterns cannot all be tried. The
// compressed intensities have 65,536 codes only and are all checked (CompressedMatchesHost).
// The host's schemes are its own; a host whose decoders give other bits for any of these is
// read element by element through the policies instead.
const std::vector<std::uint32_t>& Probes()
{
    static const std::vector<std::uint32_t> probes = []
    {
        std::vector<std::uint32_t> p = {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0x7F800001u,
                                        0x80000000u, 0x00000001u, 0x3F800000u, 0x00800000u};
        const std::uint32_t codes[] = {0,     1,     2,     255,   256,   16383, 32766,
                                       32767, 32768, 49150, 65279, 65533, 65534, 65535};
        for (const std::uint32_t u : codes)
        {
            for (const std::uint32_t v : codes)
            {
                p.push_back(u | v << 16);
                p.push_back((u >> 8) | (u & 0xFFu) << 24 | (v & 0xFFFFu) << 8);
            }
        }
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (int i = 0; i < 512; ++i)
        {
            state = state * 6364136223846793005u + 1442695040888963407u;
            p.push_back(static_cast<std::uint32_t>(state >> 32));
        }
        return p;
    }();
    return probes;
}

const std::uint8_t* ProbeBytes()
{
    return reinterpret_cast<const std::uint8_t*>(Probes().data());
}

template <class T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b)
{
    return std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// The host's VectorGet against the scalar decode, and the chosen kernels against the scalar
// ones under a frame with every kind of coefficient.
bool NormalsMatch(const Kernels& kernels)
{
    const std::vector<std::uint32_t>& probes = Probes();
    std::vector<GVector3> host(probes.size());
    std::vector<GVector3> ours(probes.size());
    for (std::size_t i = 0; i < probes.size(); ++i)
    {
        host[i] = GVector3{0.0, 0.0, 0.0};
        orv::Math::Algebra::CompressedVector32Bits packed;
        std::memcpy(static_cast<void*>(&packed), &probes[i], sizeof packed);
        (void)packed.VectorGet(host[i]);
        ours[i] = DecodeNormal(probes[i]);
    }
    if (!SameBits(host, ours))
    {
        return false;
    }
    const double frame[9] = {0.6, -0.8, -0.0, 0.8, 0.6, 0.0, 1e-300, -3.0, 1.0 / 3.0};
    Scalar().normals(ProbeBytes(), probes.size(), frame, host.data());
    kernels.normals(ProbeBytes(), probes.size(), frame, ours.data());
    return SameBits(host, ours);
}

// A kernel giving doubles from 4-byte colour values, against the host's decode of each probe.
template <class Host, class Ours>
bool ValuesMatchHost(Host host, Ours ours)
{
    const std::vector<std::uint32_t>& probes = Probes();
    std::vector<double> expected(probes.size());
    std::vector<double> got(probes.size());
    for (std::size_t i = 0; i < probes.size(); ++i)
    {
        ColorValue stored;
        std::memcpy(static_cast<void*>(&stored), &probes[i], sizeof stored);
        expected[i] = static_cast<double>(host(stored));
    }
    ours(ProbeBytes(), probes.size(), got.data());
    return SameBits(expected, got);
}

bool FloatsMatch(const Kernels& kernels)
{
    return ValuesMatchHost([](const ColorValue& stored) { return stored.GetValueFloat(); },
                           kernels.widenF32);
}

// Every one of the 65,536 compressed-intensity codes (byte 0 high, byte 3 low; the middle
// bytes, which the decode ignores, varied too) in the range of the reader's cloud. A reader is
// made for each piece of a split read: the last range checked is remembered per thread.
bool CompressedMatch(const Kernels& kernels, float min, float max)
{
    struct Checked
    {
        const Kernels* kernels;
        float min;
        float max;
        bool matches;
    };
    thread_local std::optional<Checked> last;
    if (last && last->kernels == &kernels && std::memcmp(&last->min, &min, sizeof min) == 0 &&
        std::memcmp(&last->max, &max, sizeof max) == 0)
    {
        return last->matches;
    }
    constexpr std::size_t kCodes = 65536;
    std::vector<std::uint32_t> elements(kCodes);
    std::vector<double> expected(kCodes);
    std::vector<double> got(kCodes);
    for (std::uint32_t code = 0; code < kCodes; ++code)
    {
        const std::uint32_t middle = (code * 2654435761u) & 0x00FFFF00u;
        elements[code] = (code >> 8) | middle | (code & 0xFFu) << 24;
        ColorValue stored;
        std::memcpy(static_cast<void*>(&stored), &elements[code], sizeof stored);
        expected[code] = static_cast<double>(stored.GetCompressedValue(min, max));
    }
    kernels.compressed(reinterpret_cast<const std::uint8_t*>(elements.data()), kCodes, min, max,
                       got.data());
    last = Checked{&kernels, min, max, SameBits(expected, got)};
    return last->matches;
}

// A check's answer for `kernels`, one of the two sets: worked out once per process and set.
template <bool (*Check)(const Kernels&)>
bool Once(const Kernels& kernels)
{
    if (&kernels == &Scalar())
    {
        static const bool scalar = Check(Scalar());
        return scalar;
    }
    static const bool best = Check(Best());
    return best;
}

} // namespace

bool NormalsMatchHost(const Kernels& kernels)
{
    return Once<NormalsMatch>(kernels);
}

bool FloatsMatchHost(const Kernels& kernels)
{
    return Once<FloatsMatch>(kernels);
}

bool CompressedMatchesHost(const Kernels& kernels, float min, float max)
{
    return CompressedMatch(kernels, min, max);
}

} // namespace orv::Data::Cloud::BlockKernels
