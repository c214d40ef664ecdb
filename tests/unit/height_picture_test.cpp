#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/image/height_picture.h"

namespace {

// The seed pictures of the height-picture fuzz harness, made for these checks.
std::string seed(const std::string& name)
{
    return std::string(ZENTRIX_SOURCE_DIR) + "/tests/fuzz/corpus/height_picture/" + name;
}

HeightPicture load(const std::string& name)
{
    HeightPicture picture;
    std::string error;
    EXPECT_TRUE(loadHeightPicture(seed(name), picture, error)) << name << ": " << error;
    return picture;
}

}  // namespace

TEST(HeightPicture, PngLevelsKeepTheirOwnDepthAndOrientation)
{
    // 16-bit grey: texel (x, y) holds (4x + y) x 2000, every level exact (not rounded to 8 bits).
    const HeightPicture grey16 = load("grey16_8x4.png");
    ASSERT_EQ(grey16.width, 8);
    ASSERT_EQ(grey16.height, 4);
    EXPECT_EQ(grey16.bitDepth, 16);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(grey16.at(x, y), (4 * x + y) * 2000) << x << "," << y;

    // 8-bit grey spreads over the whole range: 255 becomes 65535.
    const HeightPicture grey8 = load("grey8_5x3.png");
    EXPECT_EQ(grey8.at(1, 2), (50 + 2) * 257);
    EXPECT_EQ(grey8.bitDepth, 8);

    // Interlaced: the same texels as written row by row.
    const HeightPicture interlaced = load("interlaced8_9x9.png");
    ASSERT_EQ(interlaced.width, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) ASSERT_EQ(interlaced.at(x, y), ((x * 28 + y * 3) % 256) * 257) << x << "," << y;
}

TEST(HeightPicture, ColourIsReadAsLuminanceAndAlphaIgnored)
{
    // RGB 16: red x 20000, green y 30000, blue 65535 - x 1000.
    const HeightPicture rgb = load("rgb16_3x3.png");
    const auto lum = [](int r, int g, int b) { return (2126 * r + 7152 * g + 722 * b + 5000) / 10000; };
    EXPECT_EQ(rgb.at(2, 1), lum(40000, 30000, 63535));
    EXPECT_EQ(rgb.at(0, 0), lum(0, 0, 65535));
    // Grey with alpha: the alpha 1000 changes nothing.
    EXPECT_EQ(load("greyalpha16_4x2.png").at(3, 1), 27000);
    // A 2-bit palette of black, red, green and white, the first colour transparent.
    const HeightPicture palette = load("palette2_4x4.png");
    EXPECT_EQ(palette.at(0, 0), 0);
    EXPECT_EQ(palette.at(1, 0), lum(65535, 0, 0));
    EXPECT_EQ(palette.at(3, 3), 65535);
    // Other formats come through the image loader at 8 bits.
    EXPECT_EQ(load("rgb_7x5.bmp").bitDepth, 8);
}

TEST(HeightPicture, BadPicturesAreRefusedWithAReason)
{
    HeightPicture picture;
    std::string error;
    EXPECT_FALSE(loadHeightPicture(seed("cut_short.png"), picture, error));
    EXPECT_EQ(error, "a PNG chunk of 79 bytes runs past the end of the file");
    EXPECT_FALSE(loadHeightPicture(seed("bad_crc.png"), picture, error));
    EXPECT_NE(error.find("corrupt PNG: "), std::string::npos) << error;
    EXPECT_FALSE(loadHeightPicture(seed("huge_header.png"), picture, error));
    EXPECT_NE(error.find("9000 x 9000, more than 8192"), std::string::npos) << error;
    EXPECT_FALSE(loadHeightPicture(seed(""), picture, error));
    EXPECT_EQ(error, "is a directory");
    // A header, then an empty side chunk and the end; a side chunk's header claiming 2 GiB.
    // libpng would allocate the whole claim before finding that the file ends.
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                                      0, 0, 64, 0, 0, 0, 64, 8, 0, 0, 0, 0, 0x8F, 0x02, 0x2E, 0x02};
    for (const auto& [side, reason] : {std::pair<std::vector<uint8_t>, std::string>{
                                           {0, 0, 0, 0, 't', 'E', 'X', 't', 0, 0, 0, 0}, "ends before its image data"},
                                       {{0x7F, 0xFF, 0xFF, 0xFF, 'i', 'T', 'X', 't'}, "2147483647 bytes runs past"}}) {
        std::vector<uint8_t> bytes = png;
        bytes.insert(bytes.end(), side.begin(), side.end());
        EXPECT_FALSE(decodeHeightPicture(bytes.data(), bytes.size(), picture, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    const uint8_t text[] = "not a picture at all";
    EXPECT_FALSE(decodeHeightPicture(text, sizeof text, picture, error));
    EXPECT_TRUE(picture.levels.empty());
}
