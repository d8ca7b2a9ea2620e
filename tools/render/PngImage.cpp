#include "tools/render/PngImage.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <png.h>
#include <stdexcept>

namespace orv::Demo::Render
{
namespace
{

uint8_t Channel(double value)
{
    return std::isnan(value) ? 0 : static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

// One glyph: the character, then seven rows of five pixels, the leftmost in bit 4.
struct Glyph
{
    char c;
    uint8_t rows[7];
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

const Glyph& FindGlyph(char c)
{
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& glyph : kFont)
        if (glyph.c == upper)
            return glyph;
    return kFont[sizeof(kFont) / sizeof(kFont[0]) - 1];
}

} // namespace

Rgb Mix(Rgb a, Rgb b, double t)
{
    if (std::isnan(t))
        return a;
    t = std::clamp(t, 0.0, 1.0);
    return Rgb{Channel(a.r + (b.r - a.r) * t), Channel(a.g + (b.g - a.g) * t),
               Channel(a.b + (b.b - a.b) * t)};
}

Rgb Viridis(double t)
{
    // The ramp sampled at nine even steps; linear in between is close to the real thing.
    static const Rgb stops[] = {{68, 1, 84},    {71, 45, 123},  {59, 82, 139},
                                {44, 114, 142}, {33, 145, 140}, {40, 174, 128},
                                {94, 201, 98},  {173, 220, 48}, {253, 231, 37}};
    constexpr int last = sizeof(stops) / sizeof(stops[0]) - 1;
    if (std::isnan(t))
        return stops[0];
    const double position = std::clamp(t, 0.0, 1.0) * last;
    const int stop = std::min(static_cast<int>(position), last - 1);
    return Mix(stops[stop], stops[stop + 1], position - stop);
}

Rgb ClassColor(std::uint64_t classification)
{
    switch (classification)
    {
    case 0: // never classified
    case 1: // unclassified
        return {160, 160, 160};
    case 2: // ground
        return {165, 120, 70};
    case 3: // low vegetation
        return {160, 210, 100};
    case 4: // medium vegetation
        return {70, 170, 60};
    case 5: // high vegetation
        return {20, 110, 30};
    case 6: // building
        return {210, 60, 50};
    case 7:  // low point (noise)
    case 18: // high noise
        return {255, 0, 255};
    case 9: // water
        return {50, 110, 220};
    case 10: // rail
        return {150, 110, 90};
    case 11: // road surface
        return {100, 100, 100};
    case 13: // wire guard
    case 14: // wire conductor
    case 16: // wire connector
        return {245, 200, 0};
    case 15: // transmission tower
        return {200, 120, 0};
    case 17: // bridge deck
        return {150, 90, 200};
    default:
        return Palette(classification);
    }
}

Rgb Palette(size_t index)
{
    static const Rgb colors[] = {{230, 25, 75},  {60, 180, 75},  {0, 130, 200},  {245, 130, 48},
                                 {145, 30, 180}, {70, 200, 200}, {240, 50, 230}, {128, 128, 0}};
    return colors[index % (sizeof(colors) / sizeof(colors[0]))];
}

PngImage::PngImage(int width, int height, Rgb background) : m_width(width), m_height(height)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        throw std::invalid_argument("image size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is outside 1.." +
                                    std::to_string(kMaxSide));
    m_bytes.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    FillRect(0, 0, width, height, background);
}

Rgb PngImage::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") is outside the image");
    const uint8_t* p = &m_bytes[(static_cast<size_t>(y) * m_width + x) * 3];
    return Rgb{p[0], p[1], p[2]};
}

void PngImage::SetPixel(int x, int y, Rgb color)
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    uint8_t* p = &m_bytes[(static_cast<size_t>(y) * m_width + x) * 3];
    p[0] = color.r;
    p[1] = color.g;
    p[2] = color.b;
}

void PngImage::FillRect(int x, int y, int width, int height, Rgb color)
{
    // 64-bit arithmetic: x + width must not overflow for extreme arguments.
    const auto x0 = std::max<int64_t>(x, 0);
    const auto y0 = std::max<int64_t>(y, 0);
    const auto x1 = std::min<int64_t>(int64_t{x} + width, m_width);
    const auto y1 = std::min<int64_t>(int64_t{y} + height, m_height);
    for (int64_t row = y0; row < y1; ++row)
        for (int64_t column = x0; column < x1; ++column)
            SetPixel(static_cast<int>(column), static_cast<int>(row), color);
}

void PngImage::StrokeRect(int x, int y, int width, int height, Rgb color)
{
    if (width <= 0 || height <= 0)
        return;
    const int64_t right = int64_t{x} + width - 1;
    const int64_t bottom = int64_t{y} + height - 1;
    FillRect(x, y, width, 1, color);
    FillRect(x, y, 1, height, color);
    // Beyond the far edge the side is invisible (and may not fit in an int).
    if (bottom < m_height)
        FillRect(x, static_cast<int>(bottom), width, 1, color);
    if (right < m_width)
        FillRect(static_cast<int>(right), y, 1, height, color);
}

void PngImage::DrawPoint(double x, double y, int radius, Rgb color)
{
    if (radius < 0 || !std::isfinite(x) || !std::isfinite(y))
        return;
    radius = std::min(radius, kMaxSide);
    const double cx = std::floor(x);
    const double cy = std::floor(y);
    // Reject far-away points before converting: a huge double does not fit in an int.
    if (cx < -radius || cy < -radius || cx >= m_width + radius || cy >= m_height + radius)
        return;
    const int px = static_cast<int>(cx);
    const int py = static_cast<int>(cy);
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (dx * dx + dy * dy <= radius * radius)
                SetPixel(px + dx, py + dy, color);
}

void PngImage::Paste(const PngImage& source, int x, int y)
{
    for (int row = 0; row < source.m_height; ++row)
        for (int column = 0; column < source.m_width; ++column)
        {
            const uint8_t* p =
                &source.m_bytes[(static_cast<size_t>(row) * source.m_width + column) * 3];
            SetPixel(x + column, y + row, Rgb{p[0], p[1], p[2]});
        }
}

int PngImage::DrawText(int x, int y, const std::string& text, Rgb color, int scale)
{
    scale = std::clamp(scale, 1, 64);
    int64_t left = x;
    for (char c : text)
    {
        if (left >= m_width)
            break;
        const Glyph& glyph = FindGlyph(c);
        for (int row = 0; row < kGlyphHeight; ++row)
        {
            const int64_t top = int64_t{y} + row * scale;
            if (top >= m_height || top + scale <= 0)
                continue;
            for (int column = 0; column < 5; ++column)
                if (glyph.rows[row] & (0x10 >> column))
                    FillRect(static_cast<int>(left + column * scale), static_cast<int>(top), scale,
                             scale, color);
        }
        left += kGlyphAdvance * scale;
    }
    return TextWidth(text, scale);
}

int PngImage::TextWidth(const std::string& text, int scale)
{
    const auto width = static_cast<int64_t>(text.size()) * kGlyphAdvance * std::clamp(scale, 1, 64);
    return static_cast<int>(std::min<int64_t>(width, kMaxSide));
}

void PngImage::WritePng(const std::string& path) const
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(m_width);
    image.height = static_cast<png_uint_32>(m_height);
    image.format = PNG_FORMAT_RGB;
    const int ok = png_image_write_to_file(&image, path.c_str(), 0, m_bytes.data(),
                                           static_cast<png_int_32>(m_width * 3), nullptr);
    const std::string message = image.message;
    png_image_free(&image);
    if (!ok)
        throw std::runtime_error(path + ": cannot write the PNG image (" + message + ")");
}

} // namespace orv::Demo::Render
