#include "tools/render/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <numeric>

namespace orv::Demo::Render
{
namespace
{

using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::IPointDataProvider;

constexpr Rgb kBackground{250, 250, 250};
constexpr Rgb kInk{40, 40, 40};
constexpr Rgb kEdge{150, 150, 150};
constexpr int kMargin = 12;
constexpr int kText = 2;                                    // text scale
constexpr int kTextHeight = PngImage::kGlyphHeight * kText; // 14
constexpr int kTitleRow = 30;                               // title and north arrow
constexpr int kRow = 22;                                    // legend row pitch
constexpr int kGap = 24;                                    // between legend items
constexpr int kSwatch = 14;
constexpr int kRampWidth = 200;
constexpr int kMinContentWidth = 360;

// Wants the position and the keys the picture reads.
class Wants final : public orv::DataProxy::IPointDataConsumer
{
public:
    explicit Wants(const PictureKeys& keys) : m_keys(keys) {}
    bool IsComponentRequested(EPointDataComponent component, unsigned char index) const override
    {
        switch (component)
        {
        case EPointDataComponent::Position:
            return true;
        case EPointDataComponent::UnsignedInteger:
            return m_keys.classification == index;
        case EPointDataComponent::Color:
            return m_keys.color == index;
        case EPointDataComponent::Real:
            return m_keys.intensity == index;
        default:
            return false;
        }
    }

private:
    PictureKeys m_keys;
};

// A colour channel in [0, 1] as a byte; NaN gives 0.
std::uint8_t Unit(double channel)
{
    return std::isnan(channel)
               ? 0
               : static_cast<std::uint8_t>(std::lround(std::clamp(channel, 0.0, 1.0) * 255.0));
}

std::string Thousands(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The name of a LAS class code, null for codes without an agreed meaning.
const char* ClassName(std::uint64_t code)
{
    static const char* const names[] = {"NEVER CLASSIFIED",
                                        "UNCLASSIFIED",
                                        "GROUND",
                                        "LOW VEGETATION",
                                        "MEDIUM VEGETATION",
                                        "HIGH VEGETATION",
                                        "BUILDING",
                                        "NOISE",
                                        nullptr,
                                        "WATER",
                                        "RAIL",
                                        "ROAD",
                                        nullptr,
                                        "WIRE GUARD",
                                        "WIRE",
                                        "TOWER",
                                        "WIRE CONNECTOR",
                                        "BRIDGE",
                                        "HIGH NOISE"};
    return code < sizeof(names) / sizeof(names[0]) ? names[code] : nullptr;
}

// The map's pixel grid over the world: square pixels, world +y up.
struct Frame
{
    bool valid = false;
    double left = 0.0;
    double top = 0.0;
    double metresPerPixel = 1.0;
    double spanX = 0.0; // the data's extent
    double spanY = 0.0;
    int width = 0;
    int height = 0;

    // The pixel holding a world position; false outside the map or for NaN.
    bool Pixel(double x, double y, int& column, int& row) const
    {
        const double u = (x - left) / metresPerPixel;
        const double v = (top - y) / metresPerPixel;
        if (!(u >= 0.0 && v >= 0.0 && u <= width && v <= height))
            return false;
        column = std::min(static_cast<int>(u), width - 1);
        row = std::min(static_cast<int>(v), height - 1);
        return true;
    }
};

// The box's extent at its own aspect ratio, `mapSize` pixels along the longer side, centred.
Frame Fit(const orv::DataProxy::IBoundingBoxProvider& bounds, int mapSize)
{
    const auto box = bounds.GetBoundingBox();
    // The corners' order is the host's: take the smaller and larger of each coordinate.
    const double x0 = std::min(box.firstCorner.x, box.secondCorner.x);
    const double x1 = std::max(box.firstCorner.x, box.secondCorner.x);
    const double y0 = std::min(box.firstCorner.y, box.secondCorner.y);
    const double y1 = std::max(box.firstCorner.y, box.secondCorner.y);
    Frame frame;
    frame.spanX = x1 - x0;
    frame.spanY = y1 - y0;
    if (!std::isfinite(frame.spanX) || !std::isfinite(frame.spanY) || !std::isfinite(x0) ||
        !std::isfinite(y0))
        return frame;
    // A single point or a line still gets an area: at least a millimetre.
    const double span = std::max({frame.spanX, frame.spanY, 1e-3});
    frame.metresPerPixel = span / mapSize;
    frame.width = std::clamp<int>(static_cast<int>(std::lround(frame.spanX / frame.metresPerPixel)),
                                  1, mapSize);
    frame.height = std::clamp<int>(
        static_cast<int>(std::lround(frame.spanY / frame.metresPerPixel)), 1, mapSize);
    frame.left = x0 - 0.5 * (frame.width * frame.metresPerPixel - frame.spanX);
    frame.top = y1 + 0.5 * (frame.height * frame.metresPerPixel - frame.spanY);
    frame.valid = true;
    return frame;
}

// The highest point of each pixel and what the colours need of it.
struct TopView
{
    int width = 0;
    int height = 0;
    std::vector<double> top;                        // NaN: no point
    std::vector<double> value;                      // intensity (Intensity)
    std::vector<std::uint64_t> code;                // class code (Class)
    std::vector<Rgb> color;                         // own colour (Colour)
    std::map<std::uint64_t, std::uint64_t> classes; // points per class code (Class)
    std::uint64_t points = 0;                       // points read
    std::uint64_t drawn = 0;                        // points inside the map

    bool Filled(std::size_t i) const { return !std::isnan(top[i]); }
};

TopView Rasterise(const IPointDataProvider& points, const Frame& frame, const PictureKeys& keys,
                  ColorBy by)
{
    TopView view;
    view.width = frame.width;
    view.height = frame.height;
    const std::size_t size = static_cast<std::size_t>(frame.width) * frame.height;
    view.top.assign(size, std::numeric_limits<double>::quiet_NaN());
    // Only the key the colours need is read.
    PictureKeys wanted;
    if (by == ColorBy::Class)
    {
        wanted.classification = keys.classification;
        view.code.assign(size, 0);
    }
    else if (by == ColorBy::Intensity)
    {
        wanted.intensity = keys.intensity;
        view.value.assign(size, std::numeric_limits<double>::quiet_NaN());
    }
    else if (by == ColorBy::Color)
    {
        wanted.color = keys.color;
        view.color.assign(size, Rgb{128, 128, 128});
    }
    const Wants consumer(wanted);
    for (auto c = points.GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
    {
        ++view.points;
        std::uint64_t code = 0;
        if (wanted.classification)
        {
            code = c->GetUnsignedInteger(*wanted.classification).value_or(0);
            ++view.classes[code];
        }
        const auto p = c->GetPosition();
        int column = 0;
        int row = 0;
        if (!std::isfinite(p.z) || !frame.Pixel(p.x, p.y, column, row))
            continue;
        ++view.drawn;
        const std::size_t i = static_cast<std::size_t>(row) * frame.width + column;
        if (view.Filled(i) && view.top[i] >= p.z)
            continue;
        view.top[i] = p.z;
        if (wanted.classification)
            view.code[i] = code;
        if (wanted.intensity)
            view.value[i] = c->GetReal(*wanted.intensity).value_or(view.value[i]);
        if (wanted.color)
        {
            if (const auto rgb = c->GetColor(*wanted.color))
                view.color[i] = Rgb{Unit(rgb->r), Unit(rgb->g), Unit(rgb->b)};
        }
    }
    return view;
}

// How far gaps are filled: a little more than half the points' spacing in pixels, measured over
// the footprint (the 8 x 8 pixel cells that hold a point), so that the strips between scan
// lines close while the scan's outline stays where it is.
int FillRadius(const TopView& view)
{
    constexpr int kCell = 8;
    const int columns = (view.width + kCell - 1) / kCell;
    const int rows = (view.height + kCell - 1) / kCell;
    std::vector<bool> occupied(static_cast<std::size_t>(columns) * rows, false);
    for (int y = 0; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x)
            if (view.Filled(static_cast<std::size_t>(y) * view.width + x))
                occupied[static_cast<std::size_t>(y / kCell) * columns + x / kCell] = true;
    const auto cells = std::count(occupied.begin(), occupied.end(), true);
    if (cells == 0 || view.drawn == 0)
        return 1;
    const double spacing =
        std::sqrt(static_cast<double>(cells) * kCell * kCell / static_cast<double>(view.drawn));
    return std::clamp(static_cast<int>(std::ceil(0.6 * spacing)), 1, 8);
}

// Every empty pixel within `radius` of a drawn one takes the nearest drawn pixel's point.
void FillGaps(TopView& view, int radius)
{
    const std::vector<double> drawn = view.top;
    const auto at = [&](int x, int y) { return static_cast<std::size_t>(y) * view.width + x; };
    for (int y = 0; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x)
        {
            if (!std::isnan(drawn[at(x, y)]))
                continue;
            int best = std::numeric_limits<int>::max();
            std::size_t from = 0;
            for (int dy = std::max(-radius, -y); dy <= std::min(radius, view.height - 1 - y); ++dy)
                for (int dx = std::max(-radius, -x); dx <= std::min(radius, view.width - 1 - x);
                     ++dx)
                    if (dx * dx + dy * dy < best && !std::isnan(drawn[at(x + dx, y + dy)]))
                    {
                        best = dx * dx + dy * dy;
                        from = at(x + dx, y + dy);
                    }
            if (best == std::numeric_limits<int>::max())
                continue;
            const std::size_t i = at(x, y);
            view.top[i] = drawn[from];
            if (!view.value.empty())
                view.value[i] = view.value[from];
            if (!view.code.empty())
                view.code[i] = view.code[from];
            if (!view.color.empty())
                view.color[i] = view.color[from];
        }
}

// Relief shading of the top heights, lit from the north-west at 45 degrees: a brightness factor
// per pixel that is exactly 1 on level ground, brighter on slopes facing the light and darker
// on slopes facing away. `strength` scales the departure from 1.
std::vector<double> Relief(const TopView& view, double metresPerPixel, double strength)
{
    const double lx = -0.5, ly = 0.5, lz = std::sqrt(0.5);
    std::vector<double> factor(view.top.size(), 1.0);
    const auto z = [&](int x, int y)
    {
        return x < 0 || y < 0 || x >= view.width || y >= view.height
                   ? std::numeric_limits<double>::quiet_NaN()
                   : view.top[static_cast<std::size_t>(y) * view.width + x];
    };
    // The slope between the neighbours on either side, or one side and the centre.
    const auto slope = [&](double before, double centre, double after)
    {
        if (!std::isnan(before) && !std::isnan(after))
            return (after - before) / (2.0 * metresPerPixel);
        if (!std::isnan(after))
            return (after - centre) / metresPerPixel;
        if (!std::isnan(before))
            return (centre - before) / metresPerPixel;
        return 0.0;
    };
    for (int y = 0; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x)
        {
            const double centre = z(x, y);
            if (std::isnan(centre))
                continue;
            const double gx = slope(z(x - 1, y), centre, z(x + 1, y));
            const double gy = slope(z(x, y + 1), centre, z(x, y - 1)); // world +y is up
            const double shade = (lz - gx * lx - gy * ly) / std::sqrt(gx * gx + gy * gy + 1.0) / lz;
            const double f = 1.0 + strength * (shade - 1.0);
            factor[static_cast<std::size_t>(y) * view.width + x] =
                std::isnan(f) ? 1.0 : std::clamp(f, 0.4, 1.4);
        }
    return factor;
}

Rgb Shade(Rgb color, double factor)
{
    const auto channel = [factor](std::uint8_t c)
    { return static_cast<std::uint8_t>(std::min(255.0, std::round(c * factor))); };
    return factor == 1.0 ? color : Rgb{channel(color.r), channel(color.g), channel(color.b)};
}

// The values at the `low` and `high` fractions of the finite values; (0, 0) without any.
std::pair<double, double> Percentiles(std::vector<double> values, double low, double high)
{
    values.erase(
        std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
        values.end());
    if (values.empty())
        return {0.0, 0.0};
    const auto pick = [&](double fraction)
    {
        const auto k = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k),
                         values.end());
        return values[k];
    };
    return {pick(low), pick(high)};
}

// A piece of the strip under the map, laid out left to right and wrapped; a negative width
// starts a new row.
struct Item
{
    int width;
    std::function<void(Picture&, int x, int y)> draw;
};

const Item kNewRow{-1, nullptr};

Item Text(const std::string& text)
{
    return {PngImage::TextWidth(text, kText), [text](Picture& picture, int x, int y)
            { picture.image.DrawText(x, y, text, kInk, kText); }};
}

Item Swatch(Rgb color, const std::string& label)
{
    return {kSwatch + 6 + PngImage::TextWidth(label, kText),
            [color, label](Picture& picture, int x, int y)
            {
                picture.image.FillRect(x, y, kSwatch, kSwatch, color);
                picture.image.DrawText(x + kSwatch + 6, y, label, kInk, kText);
                picture.legend.push_back({label, color, Rect{x, y, kSwatch, kSwatch}});
            }};
}

// "NAME low [ramp] high".
Item RampItem(const std::string& name, const std::string& low, const std::string& high,
              std::function<Rgb(double)> ramp)
{
    const int width = PngImage::TextWidth(name + " " + low + " ", kText) + kRampWidth +
                      PngImage::TextWidth(" " + high, kText);
    return {width, [=](Picture& picture, int x, int y)
            {
                x += picture.image.DrawText(x, y, name + " " + low + " ", kInk, kText);
                for (int i = 0; i < kRampWidth; ++i)
                    picture.image.FillRect(x + i, y, 1, kSwatch, ramp((i + 0.5) / kRampWidth));
                picture.image.StrokeRect(x - 1, y - 1, kRampWidth + 2, kSwatch + 2, kEdge);
                picture.image.DrawText(x + kRampWidth, y, " " + high, kInk, kText);
            }};
}

// The largest length of the 1, 2, 5 series not above `metres`; 0 for no positive length.
double RoundLength(double metres)
{
    if (!(metres > 0.0) || !std::isfinite(metres))
        return 0.0;
    const double decade = std::pow(10.0, std::floor(std::log10(metres)));
    for (double step : {5.0, 2.0, 1.0})
        if (step * decade <= metres)
            return step * decade;
    return decade;
}

std::string Metres(double metres)
{
    return metres >= 1000.0 ? Format("%g KM", metres / 1000.0) : Format("%g M", metres);
}

// Where the parts of a panel go, and its drawing.
struct Panel
{
    std::string title;
    PictureKeys keys;
    ColorBy coloredBy = ColorBy::Height;
    Frame frame;
    std::vector<Rgb> map; // frame.width x frame.height, row by row; empty: nothing to draw
    std::vector<Item> items;
};

// The scale bar (about a quarter of the map's width) and the data's size.
void AddScale(const Frame& frame, std::uint64_t points, std::vector<Item>& items)
{
    const double metres = RoundLength(0.25 * frame.width * frame.metresPerPixel);
    const int length = static_cast<int>(std::lround(metres / frame.metresPerPixel));
    if (length >= 1)
    {
        const std::string label = Metres(metres);
        items.push_back({length + 8 + PngImage::TextWidth(label, kText),
                         [length, label, metres](Picture& picture, int x, int y)
                         {
                             picture.scaleBar = Rect{x, y + 4, length, 6};
                             picture.scaleBarMetres = metres;
                             picture.image.FillRect(x, y + 4, length, 6, kInk);
                             picture.image.DrawText(x + length + 8, y, label, kInk, kText);
                         }});
    }
    const double span = std::max(frame.spanX, frame.spanY);
    const char* format = span >= 100.0 ? "%.0f" : span >= 1.0 ? "%.1f" : "%.3f";
    items.push_back(Text(Format(format, frame.spanX) + " X " + Format(format, frame.spanY) +
                         " M, " + Thousands(points) + " POINTS"));
}

void DrawNorth(PngImage& image, int right, int top)
{
    const int cx = right - 4;
    for (int r = 0; r < 9; ++r)
        image.FillRect(cx - r / 2, top + r, 2 * (r / 2) + 1, 1, kInk);
    image.FillRect(cx - 1, top + 9, 3, 12, kInk);
    image.DrawText(cx - 8 - PngImage::TextWidth("N", kText), top + 4, "N", kInk, kText);
}

Picture Draw(const Panel& panel)
{
    const Frame& frame = panel.frame;
    const int mapWidth = frame.valid ? frame.width : kMinContentWidth;
    const int mapHeight = frame.valid ? frame.height : kMinContentWidth / 2;
    const int content = std::max(mapWidth, kMinContentWidth);
    const int mapTop = kMargin + kTitleRow;

    // Lay the items out under the map.
    struct Placed
    {
        const Item* item;
        int x, y;
    };
    std::vector<Placed> placed;
    int x = 0;
    int y = mapTop + mapHeight + 12;
    for (const Item& item : panel.items)
    {
        if (item.width < 0 || (x > 0 && x + item.width > content))
        {
            x = 0;
            y += kRow;
        }
        if (item.width < 0)
            continue;
        placed.push_back({&item, kMargin + x, y});
        x += item.width + kGap;
    }
    const int height = y + kTextHeight + kMargin;

    Picture picture(PngImage(content + 2 * kMargin, height, kBackground));
    PngImage& image = picture.image;
    picture.coloredBy = panel.coloredBy;
    image.DrawText(kMargin, kMargin, panel.title, kInk, kText);
    DrawNorth(image, kMargin + content, kMargin - 4);
    if (frame.valid)
    {
        picture.map = Rect{kMargin, mapTop, frame.width, frame.height};
        picture.left = frame.left;
        picture.top = frame.top;
        picture.metresPerPixel = frame.metresPerPixel;
        for (int row = 0; row < frame.height; ++row)
            for (int column = 0; column < frame.width; ++column)
                image.SetPixel(kMargin + column, mapTop + row,
                               panel.map[static_cast<std::size_t>(row) * frame.width + column]);
    }
    else
    {
        image.DrawText(kMargin + 10, mapTop + mapHeight / 2 - kTextHeight / 2, "NO POINTS TO DRAW",
                       kInk, kText);
    }
    image.StrokeRect(kMargin - 1, mapTop - 1, mapWidth + 2, mapHeight + 2, kEdge);
    for (const Placed& p : placed)
        p.item->draw(picture, p.x, p.y);
    return picture;
}

// The scan read, gaps filled, coloured as `by` says and shaded, with its legend items.
struct Colored
{
    TopView view;
    int radius = 1;
    std::vector<double> relief;
    std::vector<Rgb> pixels;
    std::vector<Item> legend;
};

Colored ColorScan(const IPointDataProvider& scan, const Frame& frame, const PictureKeys& keys,
                  ColorBy by)
{
    Colored result;
    result.view = Rasterise(scan, frame, keys, by);
    TopView& view = result.view;
    result.radius = FillRadius(view);
    FillGaps(view, result.radius);
    // Own colours carry their own shadows; the others get the full relief.
    const double strength = by == ColorBy::Color || by == ColorBy::Intensity ? 0.5 : 1.0;
    result.relief = Relief(view, frame.metresPerPixel, strength);

    std::function<Rgb(std::size_t)> colorOf;
    if (by == ColorBy::Class)
    {
        colorOf = [&view](std::size_t i) { return ClassColor(view.code[i]); };
        for (const auto& [code, count] : view.classes)
        {
            const char* name = ClassName(code);
            result.legend.push_back(Swatch(ClassColor(code), std::to_string(code) + " " +
                                                                 (name ? name : "CLASS") + ": " +
                                                                 Thousands(count)));
        }
    }
    else if (by == ColorBy::Color)
    {
        colorOf = [&view](std::size_t i) { return view.color[i]; };
        result.legend.push_back(Text("TRUE COLOUR OF THE POINTS"));
    }
    else
    {
        const bool height = by == ColorBy::Height;
        const std::vector<double>& values = height ? view.top : view.value;
        const auto [low, high] =
            height ? Percentiles(values, 0.01, 0.99) : Percentiles(values, 0.02, 0.98);
        const auto ramp = height ? std::function<Rgb(double)>(Viridis) : [](double t) {
            return Mix(Rgb{0, 0, 0}, Rgb{255, 255, 255}, t);
        };
        colorOf = [&values, low = low, high = high, ramp](std::size_t i)
        { return ramp(high > low ? (values[i] - low) / (high - low) : 0.5); };
        const char* format = !height ? "%.0f" : high - low >= 10.0 ? "%.0f M" : "%.1f M";
        result.legend.push_back(RampItem(height ? "HEIGHT" : "INTENSITY", Format(format, low),
                                         Format(format, high), ramp));
    }
    result.pixels.assign(view.top.size(), kBackground);
    for (std::size_t i = 0; i < view.top.size(); ++i)
        if (view.Filled(i))
            result.pixels[i] = Shade(colorOf(i), result.relief[i]);
    return result;
}

// A panel framed on the box, with the keys the scan has (asking a cursor for a value of a key
// its provider lacks is an error) and the colouring they allow.
Panel Start(const IPointDataProvider& scan, const orv::DataProxy::IBoundingBoxProvider& bounds,
            const PictureKeys& keys, const PictureOptions& options)
{
    const auto has = [&scan](std::optional<unsigned char> key, EPointDataComponent component)
    { return key && scan.HasComponent(component, *key) ? key : std::nullopt; };
    Panel panel;
    panel.keys.classification = has(keys.classification, EPointDataComponent::UnsignedInteger);
    panel.keys.color = has(keys.color, EPointDataComponent::Color);
    panel.keys.intensity = has(keys.intensity, EPointDataComponent::Real);
    panel.coloredBy = ResolveColorBy(options.colorBy, panel.keys);
    // What a host answers for the box of a cloud without points is its own choice (an
    // inverted box, or six zeros): ask the size first where the provider tells it.
    const auto* sized = dynamic_cast<const orv::DataProxy::ISizedCollection*>(&scan);
    if (sized == nullptr || sized->Size() != 0)
        panel.frame = Fit(bounds, std::clamp(options.mapSize, 64, 2048));
    return panel;
}

} // namespace

std::optional<ColorBy> ParseColorBy(const std::string& name)
{
    for (ColorBy by :
         {ColorBy::Auto, ColorBy::Class, ColorBy::Height, ColorBy::Color, ColorBy::Intensity})
        if (name == ColorByName(by))
            return by;
    if (name == "colour") // the British spelling, accepted as well
        return ColorBy::Color;
    return std::nullopt;
}

const char* ColorByName(ColorBy by)
{
    switch (by)
    {
    case ColorBy::Class:
        return "class";
    case ColorBy::Height:
        return "height";
    case ColorBy::Color:
        return "color";
    case ColorBy::Intensity:
        return "intensity";
    default:
        return "auto";
    }
}

ColorBy ResolveColorBy(ColorBy wanted, const PictureKeys& keys)
{
    switch (wanted)
    {
    case ColorBy::Class:
        return keys.classification ? wanted : ColorBy::Height;
    case ColorBy::Color:
        return keys.color ? wanted : ColorBy::Height;
    case ColorBy::Intensity:
        return keys.intensity ? wanted : ColorBy::Height;
    case ColorBy::Height:
        return wanted;
    default:
        return keys.color ? ColorBy::Color : ColorBy::Height;
    }
}

Picture RenderOverview(const IPointDataProvider& scan,
                       const orv::DataProxy::IBoundingBoxProvider& bounds, const PictureKeys& keys,
                       const PictureOptions& options)
{
    Panel panel = Start(scan, bounds, keys, options);
    panel.title =
        options.title.empty()
            ? std::string("SCAN FROM ABOVE BY ") +
                  (panel.coloredBy == ColorBy::Color ? "TRUE COLOUR" : ColorByName(panel.coloredBy))
            : options.title;
    if (panel.frame.valid)
    {
        Colored colored = ColorScan(scan, panel.frame, panel.keys, panel.coloredBy);
        panel.map = std::move(colored.pixels);
        AddScale(panel.frame, colored.view.points, panel.items);
        panel.items.push_back(kNewRow);
        for (Item& item : colored.legend)
            panel.items.push_back(std::move(item));
    }
    return Draw(panel);
}

Picture RenderSelections(const IPointDataProvider& scan,
                         const orv::DataProxy::IBoundingBoxProvider& bounds,
                         const PictureKeys& keys, const std::vector<Selection>& selections,
                         const PictureOptions& options)
{
    Panel panel = Start(scan, bounds, keys, options);
    panel.title = options.title.empty() ? "SELECTIONS OVER THE FADED SCAN" : options.title;
    if (!panel.frame.valid)
        return Draw(panel);
    const Frame& frame = panel.frame;
    Colored colored = ColorScan(scan, frame, panel.keys, panel.coloredBy);
    // Faded: the colours greyed and lightened, the relief kept.
    for (std::size_t i = 0; i < colored.pixels.size(); ++i)
        if (colored.view.Filled(i))
        {
            const Rgb c = colored.pixels[i];
            const auto grey =
                static_cast<std::uint8_t>(std::lround(0.3 * c.r + 0.59 * c.g + 0.11 * c.b));
            colored.pixels[i] = Mix(Rgb{grey, grey, grey}, kBackground, 0.55);
        }
    AddScale(frame, colored.view.points, panel.items);
    panel.items.push_back(kNewRow);

    // Each selection's pixels, the gaps filled as the scan's.
    std::vector<TopView> masks;
    for (const Selection& selection : selections)
    {
        masks.push_back(TopView{});
        if (selection.points == nullptr)
            continue;
        masks.back() = Rasterise(*selection.points, frame, {}, ColorBy::Height);
        FillGaps(masks.back(), colored.radius);
    }
    std::vector<std::size_t> order(selections.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b)
                     { return masks[a].points > masks[b].points; });
    const auto inside = [&](const TopView& mask, int x, int y)
    {
        return x >= 0 && y >= 0 && x < frame.width && y < frame.height &&
               mask.Filled(static_cast<std::size_t>(y) * frame.width + x);
    };
    for (bool outline : {false, true})
        for (std::size_t q : order)
        {
            const TopView& mask = masks[q];
            if (mask.top.empty())
                continue;
            const Rgb color = outline ? Mix(Palette(q), Rgb{0, 0, 0}, 0.45) : Palette(q);
            for (int y = 0; y < frame.height; ++y)
                for (int x = 0; x < frame.width; ++x)
                {
                    if (!inside(mask, x, y))
                        continue;
                    const bool edge = !inside(mask, x - 1, y) || !inside(mask, x + 1, y) ||
                                      !inside(mask, x, y - 1) || !inside(mask, x, y + 1);
                    const std::size_t i = static_cast<std::size_t>(y) * frame.width + x;
                    if (!outline)
                        colored.pixels[i] = Shade(color, colored.relief[i]);
                    else if (edge)
                        colored.pixels[i] = color;
                }
        }
    panel.map = std::move(colored.pixels);
    for (std::size_t q = 0; q < selections.size(); ++q)
        panel.items.push_back(
            Swatch(Palette(q), selections[q].label + ": " + Thousands(masks[q].points)));
    return Draw(panel);
}

PngImage Arrange(const std::vector<const PngImage*>& panels, bool sideBySide)
{
    int width = 0;
    int height = 0;
    for (const PngImage* panel : panels)
    {
        width = sideBySide ? width + panel->Width() : std::max(width, panel->Width());
        height = sideBySide ? std::max(height, panel->Height()) : height + panel->Height();
    }
    PngImage image(std::clamp(width, 1, PngImage::kMaxSide),
                   std::clamp(height, 1, PngImage::kMaxSide), kBackground);
    int offset = 0;
    for (const PngImage* panel : panels)
    {
        image.Paste(*panel, sideBySide ? offset : 0, sideBySide ? 0 : offset);
        offset += sideBySide ? panel->Width() : panel->Height();
    }
    return image;
}

} // namespace orv::Demo::Render
