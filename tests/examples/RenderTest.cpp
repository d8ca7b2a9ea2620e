#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/Thrown.h"
#include "tools/render/Picture.h"
#include "tools/render/PngImage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <png.h>
#include <stdexcept>
#include <utility>

using namespace orv::Demo::Render;

// Drawing clips at the edges and ignores what lies outside or is not a number; the written
// file decodes to the same pixels.
TEST(PngImage, DrawsClippedAndWritesAFileThatDecodesToTheSamePixels)
{
    const Rgb kWhite{255, 255, 255}, kRed{200, 10, 20}, kBlue{5, 30, 240};
    PngImage image(6, 5);
    image.FillRect(-2, 3, 4, 9, kRed);   // clipped left and bottom
    image.DrawPoint(4.9, 0.2, 1, kBlue); // disc centred on pixel (4, 0), clipped at the top
    image.DrawPoint(NAN, 1, 3, kBlue);
    image.DrawPoint(1e300, -1e300, 2, kBlue);
    image.SetPixel(6, 0, kBlue);
    image.SetPixel(2, 2, kBlue);
    std::string mask;
    for (int y = 0; y < image.Height(); ++y, mask += '\n')
        for (int x = 0; x < image.Width(); ++x)
            mask += image.GetPixel(x, y) == kWhite ? '.' : '#';
    EXPECT_EQ(mask, "...###\n"
                    "....#.\n"
                    "..#...\n"
                    "##....\n"
                    "##....\n");
    EXPECT_EQ(image.GetPixel(0, 4), kRed);
    EXPECT_THROW(image.GetPixel(6, 0), std::out_of_range);
    EXPECT_THROW(PngImage(0, 3), std::invalid_argument);

    const std::string path = testing::TempDir() + "render_png_image_test.png";
    image.WritePng(path);
    png_image decoded;
    std::memset(&decoded, 0, sizeof decoded);
    decoded.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&decoded, path.c_str())) << decoded.message;
    decoded.format = PNG_FORMAT_RGB;
    EXPECT_TRUE(decoded.width == 6 && decoded.height == 5);
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(decoded));
    ASSERT_TRUE(png_image_finish_read(&decoded, nullptr, pixels.data(), 0, nullptr))
        << decoded.message;
    EXPECT_EQ(pixels, image.Bytes());
    std::remove(path.c_str());
    EXPECT_THAT(orv::TestSupport::Thrown<std::runtime_error>(
                    [&] { image.WritePng("/nonexistent-folder/picture.png"); }),
                ::testing::HasSubstr("/nonexistent-folder/picture.png"));
}

namespace
{

using orv::Data::Cloud::PointCloud;

// A host cloud of (x, y, z, class) points given relative to (600000, 5000000, 100).
PointCloud Cloud(const std::vector<std::pair<orv::DataProxy::GPointDouble, std::uint8_t>>& points)
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    cloud.Convert().SetMatrix({{1, 0, 0, 0, 1, 0, 0, 0, 1, 600000, 5000000, 100}});
    orv::DataProxy::GPointDouble position{};
    std::uint8_t classification = 0;
    GCloudPointData record(&position);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    for (const auto& [p, c] : points)
    {
        position = {600000 + p.x, 5000000 + p.y, 100 + p.z};
        classification = c;
        cloud.AddPoint(record, true);
    }
    return cloud;
}

// Whether `text`, drawn at scale 2 in one colour, has its top-left corner within `area`.
bool ShowsText(const PngImage& image, const std::string& text, Rect area)
{
    PngImage probe(PngImage::TextWidth(text, 2), 2 * PngImage::kGlyphHeight, Rgb{});
    probe.DrawText(0, 0, text, Rgb{255, 255, 255}, 2);
    for (int y = std::max(0, area.y); y <= area.y + area.height; ++y)
        for (int x = std::max(0, area.x); x <= area.x + area.width; ++x)
        {
            if (x + probe.Width() > image.Width() || y + probe.Height() > image.Height())
                continue;
            std::optional<Rgb> ink; // the colour of the text's first inked pixel
            bool same = true;
            for (int v = 0; v < probe.Height() && same; ++v)
                for (int u = 0; u < probe.Width() && same; ++u)
                {
                    const bool inked = probe.GetPixel(u, v).r == 255;
                    if (inked && !ink)
                        ink = image.GetPixel(x + u, y + v);
                    same = inked == (ink && image.GetPixel(x + u, y + v) == *ink);
                }
            if (same)
                return true;
        }
    return false;
}

} // namespace

// A 200 m x 100 m scan on a 0.4 m grid: ground (class 2, z 0) in the west half, a flat roof
// (class 6, z 10) in the east half, and one vegetation point (class 5) 20 m up over the ground.
// The names the programs' --picture-by takes: each coloring's own, and "colour" for the points'
// colours as well, so command lines written with either spelling keep working.
TEST(Picture, ParsesTheNameOfEveryColoring)
{
    for (ColorBy by :
         {ColorBy::Auto, ColorBy::Class, ColorBy::Height, ColorBy::Color, ColorBy::Intensity})
        EXPECT_EQ(ParseColorBy(ColorByName(by)), by);
    EXPECT_EQ(ParseColorBy("colour"), ColorBy::Color);
    EXPECT_EQ(ParseColorBy("colours"), std::nullopt);
}

TEST(Picture, FramesColorsAndScalesAScanAsItsDataSay)
{
    std::vector<std::pair<orv::DataProxy::GPointDouble, std::uint8_t>> points;
    for (int i = 0; i <= 500; ++i)
        for (int j = 0; j <= 250; ++j)
            points.push_back(
                {{0.4 * i, 0.4 * j, i < 250 ? 0.0 : 10.0}, std::uint8_t(i < 250 ? 2 : 6)});
    points.push_back({{25.2, 75.2, 20.0}, 5});
    orv::Data::Cloud::PointCloudDataProvider scan(Cloud(points));
    PictureKeys keys;
    keys.classification =
        scan.MapOptionalComponent(orv::DataProxy::EPointDataComponent::UnsignedInteger,
                                  orv::Data::Cloud::CloudClassificationExtraData::TypeId());
    PictureOptions options;
    options.colorBy = ColorBy::Class;
    options.mapSize = 400;
    const Picture picture = RenderOverview(scan, scan, keys, options);
    const PngImage& image = picture.image;

    // The map has the data's 2:1 shape and spans the panel but for a thin margin.
    ASSERT_EQ(picture.coloredBy, ColorBy::Class);
    ASSERT_EQ(picture.map.width, 400);
    ASSERT_EQ(picture.map.height, 200);
    EXPECT_LE(image.Width() - picture.map.width, 30);

    // The legend names the classes with their counts; each shows in its swatch's colour where
    // the data put it, the vegetation point above the ground in its pixel.
    ASSERT_EQ(picture.legend.size(), 3u);
    EXPECT_EQ(picture.legend[0].label, "2 GROUND: 62,750");
    EXPECT_EQ(picture.legend[1].label, "5 HIGH VEGETATION: 1");
    EXPECT_EQ(picture.legend[2].label, "6 BUILDING: 63,001");
    const auto swatch = [&](std::size_t entry)
    {
        const Rect& r = picture.legend[entry].swatch;
        return image.GetPixel(r.x + r.width / 2, r.y + r.height / 2);
    };
    const double metresPerPixel = 0.5;
    const auto at = [&](double x, double y)
    {
        return image.GetPixel(picture.map.x + static_cast<int>(x / metresPerPixel),
                              picture.map.y + static_cast<int>((100.0 - y) / metresPerPixel));
    };
    EXPECT_NE(swatch(0), swatch(2));
    EXPECT_EQ(at(50, 50), swatch(0));
    EXPECT_EQ(at(150, 50), swatch(2));
    EXPECT_EQ(at(25.2, 75.2), swatch(1));
    EXPECT_EQ(at(26.2, 75.2), swatch(0));

    // The scale bar: a 1-2-5 length near a quarter of the width, its pixels matching its label.
    EXPECT_EQ(picture.scaleBarMetres, 50.0);
    const Rect& bar = picture.scaleBar;
    const Rgb ink = image.GetPixel(bar.x, bar.y + 1);
    int length = 0;
    while (image.GetPixel(bar.x + length, bar.y + 1) == ink)
        ++length;
    EXPECT_EQ(length, 100);
    EXPECT_TRUE(ShowsText(image, "50 M", Rect{bar.x + length, bar.y - 8, 20, 16}));

    // Selections: the roof drawn over the faded scan, counted in the legend.
    const auto roof = scan.GetPoints(
        orv::DataProxy::InsideAxisAlignedBoxQuery{{600099.9, 4999999, 0}, {600201, 5000101, 200}},
        false);
    const Picture selected = RenderSelections(scan, scan, keys, {{"ROOF", roof.get()}}, options);
    ASSERT_EQ(selected.legend.size(), 1u);
    EXPECT_EQ(selected.legend[0].label, "ROOF: 63,001");
    const Rect& r = selected.legend[0].swatch;
    EXPECT_EQ(selected.image.GetPixel(selected.map.x + 300, selected.map.y + 100),
              selected.image.GetPixel(r.x + 1, r.y + 1));
    const Rgb faded = selected.image.GetPixel(selected.map.x + 100, selected.map.y + 100);
    EXPECT_TRUE(faded.r == faded.g && faded.g == faded.b && faded != swatch(0));

    // A tall scan gets a tall map, by height as it lacks the class key; an empty scan a panel
    // saying so, without a scale.
    orv::Data::Cloud::PointCloudDataProvider tall(Cloud({{{0, 0, 0}, 1}, {{10, 30, 0}, 1}}));
    const Picture upright = RenderOverview(tall, tall, keys, options);
    EXPECT_TRUE(upright.map.width == 133 && upright.map.height == 400);
    EXPECT_GT(upright.image.Height(), upright.image.Width());
    EXPECT_EQ(upright.coloredBy, ColorBy::Height);
    orv::Data::Cloud::PointCloudDataProvider empty(Cloud({}));
    const Picture nothing = RenderOverview(empty, empty, keys, options);
    EXPECT_TRUE(nothing.map.width == 0 && nothing.scaleBarMetres == 0.0);
    EXPECT_TRUE(ShowsText(nothing.image, "NO POINTS TO DRAW", Rect{0, 0, 60, 200}));
}
