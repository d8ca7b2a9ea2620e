#include "host/geometry/Values.h"

#include "host/base/HostVariant.h"

#include <cmath>

namespace orv::Data::Primitive
{

namespace
{

uint8_t ChannelToByte(float c)
{
    if (!(c > 0.0f)) // NaN, negative and zero
        return 0;
    if (c >= 1.0f)
        return 255;
    return static_cast<uint8_t>(std::lround(static_cast<double>(c) * 255.0));
}

constexpr double kCodeSteps = 65535.0;
// The alternate host keeps 12 bits of a compressed value: a code of 0..4095 in the top 12 bits
// of the 16-bit code.
constexpr double kCoarseSteps = 4095.0;

bool UsableRange(float min, float max)
{
    return std::isfinite(min) && std::isfinite(max) && max > min;
}

} // namespace

void ColorValue::SetRGB(float r, float g, float b)
{
    bytes[0] = ChannelToByte(r);
    bytes[1] = ChannelToByte(g);
    bytes[2] = ChannelToByte(b);
    bytes[3] = 0;
}

int ColorValue::GetRGB(float& r, float& g, float& b) const
{
    r = bytes[0] / 255.0f;
    g = bytes[1] / 255.0f;
    b = bytes[2] / 255.0f;
    return 1;
}

unsigned char ColorValue::SetCompressedValue(float value, float min, float max)
{
    const bool coarse = orv::IsAlternateHost();
    const double steps = coarse ? kCoarseSteps : kCodeSteps;
    uint32_t code = 0;
    if (UsableRange(min, max) && !std::isnan(value))
    {
        if (value >= max)
        {
            code = uint32_t(steps);
        }
        else if (value > min)
        {
            const double t = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
            code = static_cast<uint32_t>(std::lround(t * steps));
            code = code > uint32_t(steps) ? uint32_t(steps) : code;
        }
    }
    if (coarse)
        code <<= 4;
    const uint8_t high = static_cast<uint8_t>(code >> 8);
    bytes[0] = high;
    bytes[1] = high;
    bytes[2] = high;
    bytes[3] = static_cast<uint8_t>(code & 0xFFu);
    return high;
}

float ColorValue::GetCompressedValue(float min, float max) const
{
    if (!UsableRange(min, max))
        return min;
    const bool coarse = orv::IsAlternateHost();
    const double steps = coarse ? kCoarseSteps : kCodeSteps;
    uint32_t code = (static_cast<uint32_t>(bytes[0]) << 8) | bytes[3];
    if (coarse)
        code >>= 4;
    if (code == 0)
        return min;
    if (code == uint32_t(steps))
        return max;
    const double span = static_cast<double>(max) - min;
    return static_cast<float>(min + span * (code / steps));
}

} // namespace orv::Data::Primitive
