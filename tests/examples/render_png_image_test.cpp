#include "examples/render/PngImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <png.h>
#include <stdexcept>

using namespace orv::Demo::Render;

namespace
{

const Rgb kWhite{255, 255, 255}, kRed{200, 10, 20}, kBlue{5, 30, 240};

// Pixels set to anything but the background, drawn as '#'.
std::string Mask(const PngImage& image, Rgb background = kWhite)
{
    std::string mask;
    for (int y = 0; y < image.Height(); ++y, mask += '\n')
        for (int x = 0; x < image.Width(); ++x)
            mask += image.GetPixel(x, y) == background ? '.' : '#';
    return mask;
}

} // namespace

TEST(PngImage, DrawingClipsAtTheEdges)
{
    PngImage image(6, 5);
    image.FillRect(-2, 3, 4, 9, kRed);   // clipped left and bottom
    image.DrawPoint(4.9, 0.2, 1, kBlue); // disc centred on pixel (4, 0), clipped at the top
    image.DrawPoint(NAN, 1, 3, kBlue);   // ignored
    image.DrawPoint(1e300, -1e300, 2, kBlue);
    image.SetPixel(6, 0, kBlue); // outside: ignored
    image.SetPixel(2, 2, kBlue);
    EXPECT_EQ(Mask(image), "...###\n"
                           "....#.\n"
                           "..#...\n"
                           "##....\n"
                           "##....\n");
    EXPECT_EQ(image.GetPixel(0, 4), kRed);
    EXPECT_THROW(image.GetPixel(6, 0), std::out_of_range);

    PngImage frame(4, 4, kBlue);
    frame.StrokeRect(0, 0, 4, 4, kWhite);
    EXPECT_EQ(Mask(frame), "....\n.##.\n.##.\n....\n");
    EXPECT_THROW(PngImage(0, 3), std::invalid_argument);
    EXPECT_THROW(PngImage(3, PngImage::kMaxSide + 1), std::invalid_argument);
}

TEST(PngImage, TextUsesTheFiveBySevenFont)
{
    PngImage image(13, 7);
    EXPECT_EQ(image.DrawText(0, 0, "1l", kRed), 2 * PngImage::kGlyphAdvance);
    EXPECT_EQ(Mask(image), "..#...#......\n"
                           ".##...#......\n"
                           "..#...#......\n"
                           "..#...#......\n"
                           "..#...#......\n"
                           "..#...#......\n"
                           ".###..#####..\n");
    image.DrawText(-100000, 1 << 30, "overflow", kBlue, 64); // far away: nothing drawn
    EXPECT_EQ(image.GetPixel(0, 0), kWhite);
}

TEST(PngImage, ColourHelpers)
{
    EXPECT_EQ(Mix(kWhite, Rgb{}, 0.5), (Rgb{128, 128, 128}));
    EXPECT_EQ(Mix(kRed, kBlue, 7.0), kBlue);
    EXPECT_EQ(Mix(kRed, kBlue, NAN), kRed);
    EXPECT_EQ(Ramp(-1.0), Ramp(0.0));
    EXPECT_EQ(Ramp(2.0), Ramp(1.0));
    EXPECT_NE(Ramp(0.0), Ramp(1.0));
    EXPECT_NE(ClassColour(2), ClassColour(6)); // ground and buildings stand apart
}

TEST(PngImage, WrittenFileDecodesToTheSamePixels)
{
    PngImage image(5, 3, kBlue);
    for (int x = 0; x < 5; ++x)
        image.SetPixel(x, x % 3, Rgb{uint8_t(50 * x), uint8_t(255 - x), uint8_t(x)});
    const std::string path = testing::TempDir() + "render_png_image_test.png";
    image.WritePng(path);

    // The IHDR chunk comes first: big-endian width and height after the 8-byte signature.
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(std::memcmp(bytes.data() + 12, "IHDR", 4), 0);
    EXPECT_EQ(bytes[19], 5);
    EXPECT_EQ(bytes[23], 3);

    png_image decoded;
    std::memset(&decoded, 0, sizeof decoded);
    decoded.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&decoded, bytes.data(), bytes.size()))
        << decoded.message;
    decoded.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(decoded));
    ASSERT_TRUE(png_image_finish_read(&decoded, nullptr, pixels.data(), 0, nullptr))
        << decoded.message;
    EXPECT_EQ(pixels, image.Bytes());
    std::remove(path.c_str());

    try
    {
        image.WritePng("/nonexistent-folder/picture.png");
        ADD_FAILURE() << "no error for an unwritable path";
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_NE(std::string(e.what()).find("/nonexistent-folder/picture.png"), std::string::npos);
    }
}
