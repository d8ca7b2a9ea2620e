#include "host/geometry/Values.h"

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
    uint32_t code = 0;
    if (UsableRange(min, max) && !std::isnan(value))
    {
        if (value >= max)
        {
            code = 65535;
        }
        else if (value > min)
        {
            const double t = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
            code = static_cast<uint32_t>(std::lround(t * kCodeSteps));
            code = code > 65535 ? 65535 : code;
        }
    }
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
    const uint32_t code = (static_cast<uint32_t>(bytes[0]) << 8) | bytes[3];
    if (code == 0)
        return min;
    if (code == 65535)
        return max;
    const double span = static_cast<double>(max) - min;
    return static_cast<float>(min + span * (code / kCodeSteps));
}

} // namespace orv::Data::Primitive
