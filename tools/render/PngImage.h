#pragma once

// A tiny RGB raster for the demo's pictures, written out as PNG.
//
// Drawing clips silently at the image's edges and ignores non-finite coordinates, so
// callers can project arbitrary points without checking them first. Only the
// constructor, GetPixel and WritePng throw. An image is a plain value: copyable, and
// usable by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv::Demo::Render
{

struct Rgb
{
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;

    friend bool operator==(Rgb lhs, Rgb rhs)
    {
        return lhs.r == rhs.r && lhs.g == rhs.g && lhs.b == rhs.b;
    }
    friend bool operator!=(Rgb lhs, Rgb rhs) { return !(lhs == rhs); }
};

// Colour helpers.
// a at t = 0, b at t = 1; t is clamped to [0, 1] and a NaN t gives a.
Rgb Mix(Rgb a, Rgb b, double t);
// A perceptually uniform dark violet - teal - yellow ramp over t in [0, 1] (clamped; NaN gives
// the dark end), for values such as heights.
Rgb Viridis(double t);
// The customary colours of the common LAS classes (ground brown, vegetation greens,
// buildings red, water blue, ...); other classes get distinct colours from Palette.
Rgb ClassColor(std::uint64_t classification);
// Well separated colours for labelling a few categories; repeats after 8.
Rgb Palette(size_t index);

class PngImage
{
public:
    static constexpr int kMaxSide = 16384;
    // Glyphs are 5 x 7 pixels and advance 6 pixels, each multiplied by the text's scale.
    static constexpr int kGlyphAdvance = 6;
    static constexpr int kGlyphHeight = 7;

    // Throws std::invalid_argument unless 1 <= width, height <= kMaxSide.
    PngImage(int width, int height, Rgb background = Rgb{255, 255, 255});

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Row-major, 3 bytes per pixel, top row first.
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

    // Throws std::out_of_range outside the image.
    Rgb GetPixel(int x, int y) const;
    void SetPixel(int x, int y, Rgb color);
    void FillRect(int x, int y, int width, int height, Rgb color);
    // Copies `source` with its top-left corner at (x, y), clipped at the edges.
    void Paste(const PngImage& source, int x, int y);
    // A one-pixel outline of the rectangle FillRect would fill.
    void StrokeRect(int x, int y, int width, int height, Rgb color);
    // A filled disc of the pixels whose centres lie within `radius` pixels of the centre
    // of the pixel holding (x, y); radius 0 sets that one pixel, a negative radius nothing.
    void DrawPoint(double x, double y, int radius, Rgb color);
    // Upper-case letters, digits and " .,:-/()=+%_"; lower case is drawn as upper case and
    // any other character as '?'. (x, y) is the top-left corner. Returns the width drawn.
    int DrawText(int x, int y, const std::string& text, Rgb color, int scale = 1);
    static int TextWidth(const std::string& text, int scale = 1);

    // Writes an 8-bit RGB PNG; throws std::runtime_error naming the path on failure.
    void WritePng(const std::string& path) const;

private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_bytes;
};

} // namespace orv::Demo::Render
