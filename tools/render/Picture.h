#pragma once

// Pictures of a scan seen from above, read through the point data contract.
//
// A panel is a title row with north marked, the map (the data's extent at its own aspect
// ratio, one square pixel per metresPerPixel, the highest point of each pixel drawn), and
// under it a scale bar and a legend saying what the colours mean. Gaps narrower than the
// scan's point spacing are filled from the nearest point so that sparse scans read as
// surfaces, and a light relief shading from the heights lets roofs, trees and ground stand
// apart whatever the colours say; flat ground keeps exactly its legend colour.
//
// Nothing here throws for hostile data: points with non-finite coordinates and points outside
// the box are left out, an empty or non-finite box gives a panel saying there is nothing to
// draw. The providers are only read, on the calling thread.

#include "contract/Interfaces.h"
#include "tools/render/PngImage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orv::Demo::Render
{

// What the colours of the map say. Auto is Colour when the scan has a colour key, else Height.
enum class ColorBy
{
    Auto,
    Class,     // the LAS class codes, in their customary colours
    Height,    // the top height on a viridis ramp between the 1st and 99th percentiles
    Color,     // the points' own colours
    Intensity, // grey from dark to bright between the 2nd and 98th percentiles
};

// "auto", "class", "height", "color" (or "colour"), "intensity"; nullopt for anything else.
std::optional<ColorBy> ParseColorBy(const std::string& name);
const char* ColorByName(ColorBy by);

// The keys of the scan's provider the picture reads, each optional; keys the scan's provider
// does not have (HasComponent false) are ignored. Values a point lacks are drawn as class 0, the
// dark end of a ramp, or grey.
struct PictureKeys
{
    std::optional<unsigned char> classification; // (UnsignedInteger, index): LAS class codes
    std::optional<unsigned char> color;          // (Color, index): r, g, b in [0, 1]
    std::optional<unsigned char> intensity;      // (Real, index)
};

// What is drawn when `wanted` is asked for with these keys: Auto resolved, and a mode whose key
// is missing replaced by Height.
ColorBy ResolveColorBy(ColorBy wanted, const PictureKeys& keys);

struct PictureOptions
{
    ColorBy colorBy = ColorBy::Auto;
    // Pixels along the longer side of the map, clamped to [64, 2048].
    int mapSize = 900;
    // Empty: a title saying what is drawn.
    std::string title;
};

// One highlighted point set of the selections panel: its legend label and its points (borrowed;
// null counts as empty).
struct Selection
{
    std::string label;
    const orv::DataProxy::IPointDataProvider* points = nullptr;
};

struct Rect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct LegendEntry
{
    std::string label; // as drawn
    Rgb color;
    Rect swatch;
};

// A panel, with where its parts were drawn (for callers that annotate it, and for tests).
struct Picture
{
    explicit Picture(PngImage drawn) : image(std::move(drawn)) {}

    PngImage image;
    ColorBy coloredBy = ColorBy::Height;
    Rect map;                    // the data's extent; empty when there was nothing to draw
    double left = 0.0;           // world x at the map's left edge
    double top = 0.0;            // world y at the map's top edge (world +y is up, north)
    double metresPerPixel = 0.0; // the same along both axes
    double scaleBarMetres = 0.0; // 0 when there is no scale bar
    Rect scaleBar;
    std::vector<LegendEntry> legend; // entries with a colour swatch, in drawing order
};

// The scan from above, coloured as options.colourBy says. `bounds` frames the map: pass the
// scan's provider twice when it implements both interfaces, as the library's provider does.
Picture RenderOverview(const orv::DataProxy::IPointDataProvider& scan,
                       const orv::DataProxy::IBoundingBoxProvider& bounds, const PictureKeys& keys,
                       const PictureOptions& options = {});

// The same framing with the scan faded and each selection drawn over it in its own colour,
// with its point count in the legend. Larger selections are drawn first so that smaller ones
// stay visible; every selection's outline is drawn over all of them.
Picture RenderSelections(const orv::DataProxy::IPointDataProvider& scan,
                         const orv::DataProxy::IBoundingBoxProvider& bounds,
                         const PictureKeys& keys, const std::vector<Selection>& selections,
                         const PictureOptions& options = {});

// The panels in a row (sideBySide) or a column, top-aligned, on the panels' background.
PngImage Arrange(const std::vector<const PngImage*>& panels, bool sideBySide);

} // namespace orv::Demo::Render
