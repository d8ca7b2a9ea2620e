#pragma once

#include "host/geometry/Algebra.h"
#include "host/geometry/GeometryExport.h"

#include <cstdint>
#include <cstring>
#include <limits>

// Per-point value types of the host: the 4-byte colour / intensity value and the bounding box.

namespace orv::Data::Primitive
{

// Four bytes that hold, depending on the colour mode of the cloud that stores them, a colour,
// a plain float or an intensity compressed into the cloud's value range. The object is exactly
// its four bytes (trivially copyable), so tables store it as a raw element and all-zero bytes
// are a valid value (black; the float +0; the bottom of any range).
//
// Colour: channels in [0, 1] stored as 8 bits each in bytes 0, 1, 2 (red, green, blue); byte 3
// is written 0. SetRGB clamps each channel to [0, 1] (NaN counts as 0) and rounds to the nearest
// of the 256 levels (ties away from zero), so a channel reads back within 1/510 of the clamped
// value and k/255 reads back exactly.
//
// Plain float: the four bytes hold the float bit for bit (NaN and infinities included).
//
// Compressed value: the value is clamped into [min, max] and quantised to a 16-bit code,
// round((value - min) / (max - min) * 65535). The code's high byte is written into bytes 0, 1
// and 2, so the value also reads as a grey level through GetRGB; its low byte goes into byte 3.
// Resolution (max - min) / 65535; min and max themselves read back exactly. Values below min
// (including -inf) read back as min, values above max (including +inf) as max, NaN as min.
// A range that is not usable (min or max not finite, or max <= min) stores code 0 and reads
// back as min. SetCompressedValue returns the grey level (the code's high byte). The alternate
// host (host/base/HostVariant.h) keeps only 12 bits: round((value - min) / (max - min) * 4095)
// in the top 12 bits of the code, resolution (max - min) / 4095; everything else the same.
class ORV_GEOMETRY_API ColorValue
{
public:
    uint8_t bytes[4] = {0, 0, 0, 0};

    void SetRGB(float r, float g, float b);
    // Always decodes (any four bytes read as a colour): returns 1.
    int GetRGB(float& r, float& g, float& b) const;

    void SetValueFloat(float value) { std::memcpy(bytes, &value, sizeof value); }
    float GetValueFloat() const
    {
        float value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    unsigned char SetCompressedValue(float value, float min, float max);
    float GetCompressedValue(float min, float max) const;

    uint32_t GetRaw() const
    {
        uint32_t raw;
        std::memcpy(&raw, bytes, sizeof raw);
        return raw;
    }
    void SetRaw(uint32_t raw) { std::memcpy(bytes, &raw, sizeof raw); }

    bool operator==(const ColorValue& o) const { return GetRaw() == o.GetRaw(); }
    bool operator!=(const ColorValue& o) const { return GetRaw() != o.GetRaw(); }
};

static_assert(sizeof(ColorValue) == 4, "a colour value is stored in 4 bytes");

// An axis-aligned box: min x, y, z, then max x, y, z. The empty box (nothing inside) is
// (+inf, +inf, +inf, -inf, -inf, -inf); extending it by one point gives that point's box.
struct GBBox
{
    double v[6];

    static GBBox Empty()
    {
        const double inf = std::numeric_limits<double>::infinity();
        return GBBox{{inf, inf, inf, -inf, -inf, -inf}};
    }
    bool IsEmpty() const { return !(v[0] <= v[3] && v[1] <= v[4] && v[2] <= v[5]); }
    void Extend(const orv::Math::Algebra::GPointDouble& p)
    {
        v[0] = p.x < v[0] ? p.x : v[0];
        v[1] = p.y < v[1] ? p.y : v[1];
        v[2] = p.z < v[2] ? p.z : v[2];
        v[3] = p.x > v[3] ? p.x : v[3];
        v[4] = p.y > v[4] ? p.y : v[4];
        v[5] = p.z > v[5] ? p.z : v[5];
    }
};

} // namespace orv::Data::Primitive
