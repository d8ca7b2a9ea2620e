// The demo's LAS reader over arbitrary bytes: either a loaded cloud that the bytes can hold,
// or a LasError naming the input, never another exception. Reading is deterministic, and a
// loaded cloud's columns agree with each other and with the header.

#include "examples/las/LasReader.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstring>
#include <optional>

namespace orv::Fuzz
{
namespace
{

using orv::Demo::Las::LasError;
using orv::Demo::Las::LasPoints;

const char kName[] = "fuzz-input.las";

std::optional<LasPoints> Read(const std::uint8_t* data, std::size_t size)
{
    try
    {
        return orv::Demo::Las::ReadLasBuffer(data, size, kName);
    }
    catch (const LasError& error)
    {
        const std::string message = error.what();
        ORV_FUZZ_CHECK(message.rfind(std::string(kName) + ": ", 0) == 0) << message;
        ORV_FUZZ_CHECK(message.size() > sizeof kName + 1) << "the error says what is wrong";
        return std::nullopt;
    }
}

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

void RunLasReader(const std::uint8_t* data, std::size_t size)
{
    const std::optional<LasPoints> points = Read(data, size);
    if (!points)
        return;
    const auto& h = points->header;
    const std::size_t n = points->Size();
    ORV_FUZZ_CHECK(n == h.pointCount) << n << " vs " << h.pointCount;
    // Every record lies inside the input: nothing was read, or allocated, beyond it.
    ORV_FUZZ_CHECK(h.recordLength != 0 && h.offsetToPointData <= size);
    ORV_FUZZ_CHECK(n <= (size - h.offsetToPointData) / h.recordLength);
    ORV_FUZZ_CHECK(h.headerSize <= h.offsetToPointData);
    ORV_FUZZ_CHECK(h.versionMajor == 1 && h.versionMinor >= 2 && h.versionMinor <= 4);

    ORV_FUZZ_CHECK(points->y.size() == n && points->z.size() == n);
    ORV_FUZZ_CHECK(points->intensity.size() == n && points->classification.size() == n &&
                   points->pointSourceId.size() == n);
    const bool rgb =
        h.pointFormat == 2 || h.pointFormat == 3 || h.pointFormat == 7 || h.pointFormat == 8;
    ORV_FUZZ_CHECK(points->hasRgb == rgb) << unsigned{h.pointFormat};
    const std::size_t colours = rgb ? n : 0;
    ORV_FUZZ_CHECK(points->r.size() == colours && points->g.size() == colours &&
                   points->b.size() == colours);
    if (h.pointFormat <= 3)
    {
        for (std::uint8_t c : points->classification)
            ORV_FUZZ_CHECK(c < 32) << "formats 0 to 3 keep the class in 5 bits";
    }

    for (std::size_t axis = 0; axis < 3; ++axis)
    {
        ORV_FUZZ_CHECK(std::isfinite(h.scale[axis]) && h.scale[axis] != 0.0);
        ORV_FUZZ_CHECK(std::isfinite(h.offset[axis]));
        const std::vector<double>& column = axis == 0   ? points->x
                                            : axis == 1 ? points->y
                                                        : points->z;
        for (double v : column)
        {
            // A 32-bit integer times a finite scale plus a finite offset is never NaN.
            ORV_FUZZ_CHECK(!std::isnan(v));
            if (n != 0)
                ORV_FUZZ_CHECK(points->dataMin[axis] <= v && v <= points->dataMax[axis]);
        }
        if (n == 0)
            ORV_FUZZ_CHECK(points->dataMin[axis] == 0.0 && points->dataMax[axis] == 0.0);
    }

    // The same bytes read again give the same cloud.
    const std::optional<LasPoints> again = Read(data, size);
    ORV_FUZZ_CHECK(again && again->Size() == n);
    for (std::size_t i = 0; i < n; ++i)
    {
        ORV_FUZZ_CHECK(SameBits(again->x[i], points->x[i]) && SameBits(again->y[i], points->y[i]) &&
                       SameBits(again->z[i], points->z[i]));
    }
}

} // namespace orv::Fuzz
