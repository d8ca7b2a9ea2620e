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
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    png_image decoded;
    std::memset(&decoded, 0, sizeof decoded);
    decoded.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&decoded, bytes.data(), bytes.size()))
        << decoded.message;
    decoded.format = PNG_FORMAT_RGB;
    EXPECT_TRUE(decoded.width == 6 && decoded.height == 5);
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
