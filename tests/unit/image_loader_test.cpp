#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>
#include <png.h>

#include <algorithm>
#include <cmath>

#include "platform/image/image_loader.h"
#include "support/test_scopes.h"
#include "textures/texture_file.h"

namespace {

ArgbImage solid(int w, int h, uint32_t texel) { return {w, h, std::vector<uint32_t>(size_t(w) * size_t(h), texel)}; }

// Writes 0xRRGGBB texels as a 24-bit BMP.
void writeBmp(const std::filesystem::path& path, int w, int h, const std::vector<uint32_t>& texels)
{
    std::vector<uint8_t> rgb;
    for (uint32_t t : texels) rgb.insert(rgb.end(), {uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t)});
    ASSERT_TRUE(stbi_write_bmp(path.c_str(), w, h, 3, rgb.data()));
}

int channel(uint32_t texel, int shift) { return int(texel >> shift & 0xFF); }

uint32_t levelTexel(Texture& texture, uint32_t level, int x, int y)
{
    const LockedRect rect = texture.lockRect(level);
    const uint8_t* p = rect.bits + y * rect.pitch + x * 4;
    texture.unlockRect(level);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

TEST(ImagePreparation, ScalesUpToPowersOfTwoWithATentFilter)
{
    const ArgbImage flat = scaleToPowerOfTwo(solid(100, 60, 0xFF336699));
    EXPECT_EQ(flat.width, 128);
    EXPECT_EQ(flat.height, 64);
    EXPECT_EQ(flat.texels, solid(128, 64, 0xFF336699).texels);

    const ArgbImage pow2{2, 1, {1, 2}};
    EXPECT_EQ(scaleToPowerOfTwo(pow2).texels, pow2.texels);

    // 3 texels to 4: output centres fall at input 0.625 and 1.375; the ends clamp.
    const ArgbImage ramp = scaleToPowerOfTwo({3, 1, {0xFF000000, 0xFF00005A, 0xFF0000B4}});
    ASSERT_EQ(ramp.width, 4);
    const int expected[4] = {0, 56, 124, 180};
    for (int x = 0; x < 4; ++x) EXPECT_NEAR(channel(ramp.at(x, 0), 0), expected[x], 1) << x;
}

TEST(ImagePreparation, ColourKeyTakesExactOpaqueBlackAndStaysTransparentThroughScaling)
{
    ArgbImage keys{3, 1, {0xFF000000, 0xFF010101, 0x80000000}};
    applyColorKey(keys, 0xFF000000);
    EXPECT_EQ(keys.texels, (std::vector<uint32_t>{0, 0xFF010101, 0x80000000}));

    ArgbImage disc = solid(100, 100, 0xFF000000);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (std::hypot(x - 49.5f, y - 49.5f) < 30.0f) disc.texels[size_t(y * 100 + x)] = 0xFFFFC800;
    applyColorKey(disc, 0xFF000000);
    const ArgbImage scaled = scaleToPowerOfTwo(disc);
    ASSERT_EQ(scaled.width, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const float d = std::hypot(x + 0.5f - 64.0f, y + 0.5f - 64.0f);  // disc radius 38.4 here
            if (d > 41.0f) { ASSERT_EQ(scaled.at(x, y), 0u) << x << "," << y; }
            if (d < 35.0f) { ASSERT_EQ(scaled.at(x, y), 0xFFFFC800u) << x << "," << y; }
        }
}

TEST(ImagePreparation, BoxFilterRoundsTheMeanOfEachChannel)
{
    // alpha 765/4 = 191.25, red/green 24/4, blue 25/4 = 6.25: nearest.
    EXPECT_EQ(boxDownsample({2, 2, {0xFF000000, 0xFF040404, 0x00080808, 0xFF0C0C0D}}).texels, (std::vector<uint32_t>{0xBF060606}));
    const ArgbImage half = boxDownsample({4, 1, {0xFF000000, 0xFF000002, 0xFF000010, 0xFF000020}});
    EXPECT_EQ(half.texels, (std::vector<uint32_t>{0xFF000001, 0xFF000018}));
    const ArgbImage last = boxDownsample(half);  // a side of 1 stays 1
    EXPECT_EQ(last.width * last.height, 1);
    EXPECT_EQ(last.texels[0], 0xFF00000Du);
}

TEST(ImageFiles, DecodesBmpPngAndJpegAndRefusesTheRest)
{
    TempDir dir;
    writeBmp(dir / "a.bmp", 2, 1, {0xFF0000, 0x123456});
    const uint8_t rgba[8] = {255, 0, 0, 128, 0, 0, 255, 255};
    ASSERT_TRUE(stbi_write_png((dir / "a.png").c_str(), 2, 1, 4, rgba, 8));
    std::vector<uint8_t> flat;
    for (int i = 0; i < 256; ++i) flat.insert(flat.end(), {0x30, 0x80, 0xC0});
    ASSERT_TRUE(stbi_write_jpg((dir / "a.jpg").c_str(), 16, 16, 3, flat.data(), 95));

    ArgbImage image;
    std::string error;
    ImageFileType type{};
    ASSERT_TRUE(loadImageFile((dir / "a.bmp").string(), image, error, &type)) << error;
    EXPECT_EQ(type, ImageFileType::Bmp);
    EXPECT_EQ(image.texels, (std::vector<uint32_t>{0xFFFF0000, 0xFF123456}));
    ASSERT_TRUE(loadImageFile((dir / "a.png").string(), image, error, &type)) << error;
    EXPECT_EQ(type, ImageFileType::Png);
    EXPECT_EQ(image.texels, (std::vector<uint32_t>{0x80FF0000, 0xFF0000FF}));
    ASSERT_TRUE(loadImageFile((dir / "a.jpg").string(), image, error, &type)) << error;
    EXPECT_EQ(type, ImageFileType::Jpeg);
    ASSERT_EQ(image.width * image.height, 256);
    const uint32_t t = image.at(7, 7);  // lossy: near the flat colour
    EXPECT_EQ(channel(t, 24), 255);
    EXPECT_NEAR(channel(t, 16), 0x30, 6);
    EXPECT_NEAR(channel(t, 8), 0x80, 6);
    EXPECT_NEAR(channel(t, 0), 0xC0, 6);

    dir.writeText("notes.bmp", "just some text");
    EXPECT_FALSE(loadImageFile((dir / "notes.bmp").string(), image, error));
    EXPECT_EQ(error, "not a BMP, JPEG or PNG image");
}

namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
std::vector<uint8_t> be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// A BMP file header and info header for 24 bits per pixel, uncompressed.
std::vector<uint8_t> bmpHeader(int32_t width, int32_t height)
{
    return bytesOf({{'B', 'M'}, le32(54), le32(0), le32(54), le32(40), le32(uint32_t(width)), le32(uint32_t(height)),
                    {1, 0, 24, 0}, le32(0), le32(0), le32(2835), le32(2835), le32(0), le32(0)});
}

std::string decodeError(const std::vector<uint8_t>& bytes)
{
    ArgbImage image;
    std::string error;
    EXPECT_FALSE(decodeImage(bytes.data(), bytes.size(), image, error));
    EXPECT_TRUE(image.texels.empty());
    return error;
}

}  // namespace

TEST(ImageFiles, CraftedHeadersAreRefusedBeforeDecoding)
{
    // Each message comes from the header check: the decoder never ran, so nothing was allocated
    // for the announced pixels.
    EXPECT_EQ(decodeError(bmpHeader(16, -2000000000)), "the image is 16 x 2000000000, more than 8192 texels on a side");
    EXPECT_EQ(decodeError(bmpHeader(INT32_MIN, 1)), "the image is 2147483648 x 1, more than 8192 texels on a side");
    EXPECT_EQ(decodeError(bmpHeader(8192, 8192)), "the BMP file ends before the 8192 x 8192 pixels its header announces");
    EXPECT_EQ(decodeError(bmpHeader(0, 4)), "the BMP header gives a size of 0 x 4");

    const std::vector<uint8_t> png = bytesOf({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, be32(13), {'I', 'H', 'D', 'R'},
                                              be32(100000), be32(100000), {8, 6, 0, 0, 0}, be32(0)});
    EXPECT_EQ(decodeError(png), "the image is 100000 x 100000, more than 8192 texels on a side");
    EXPECT_EQ(decodeError(std::vector<uint8_t>(png.begin(), png.begin() + 20)),
              "the PNG header is cut short or does not begin with IHDR");
    // A chunk announcing 1.8 GB in a file of 60 bytes.
    std::vector<uint8_t> longChunk = bytesOf({std::vector<uint8_t>(png.begin(), png.begin() + 16), be32(16), be32(9),
                                              {8, 0, 0, 0, 0}, be32(0), be32(0x6B6B6B6B), {'k', 'k', 'k', 'k'}});
    longChunk.resize(60, 'k');
    EXPECT_EQ(decodeError(longChunk), "a PNG chunk of 1802201963 bytes runs past the end of the file");

    // A comment segment, then a frame header of 65000 x 8193 (height first).
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xC2, 0x00, 0x0B, 8,
                                       0x20, 0x01, 0xFD, 0xE8, 1, 1, 0x11, 0, 0xFF, 0xD9};
    EXPECT_EQ(decodeError(jpeg), "the image is 65000 x 8193, more than 8192 texels on a side");
    EXPECT_EQ(decodeError({0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9}),
              "the JPEG has no frame header before its image data");
}

TEST(ImageFiles, OnlyTheDecoderTheFirstBytesAnnounceRuns)
{
    // Found by fuzzing: JPEG's first bytes, then bytes no JPEG decoder accepts, with "<svg" among
    // them. Asked in turn, the vector loader claimed it (and leaked); only the JPEG decoder may.
    ArgbImage image;
    std::string error;
    EXPECT_FALSE(loadImageFile(std::string(ZENTRIX_SOURCE_DIR) + "/tests/fuzz/corpus/image/jpeg_containing_svg", image,
                               error));
    // Its layout is refused before the decoder runs; the complaint must still be a JPEG's.
    EXPECT_NE(error.find("JPEG"), std::string::npos) << error;
}

TEST(ImageFiles, TopDownBmpDecodesInItsRowOrderAndNonFilesAreRefusedByType)
{
    // Two rows stored top-down: red on top, blue below (pixels are B, G, R; rows padded to 4).
    std::vector<uint8_t> bmp = bmpHeader(1, -2);
    bmp.insert(bmp.end(), {0, 0, 255, 0, 255, 0, 0, 0});
    ArgbImage image;
    std::string error;
    ASSERT_TRUE(decodeImage(bmp.data(), bmp.size(), image, error)) << error;
    EXPECT_EQ(image.texels, (std::vector<uint32_t>{0xFFFF0000, 0xFF0000FF}));

    TempDir dir;
    EXPECT_FALSE(loadImageFile(dir.path(), image, error));
    EXPECT_EQ(error, "is a directory");
    EXPECT_FALSE(loadImageFile("/dev/zero", image, error));
    EXPECT_EQ(error, "is not a regular file");
}

TEST(TextureFileLoad, MakesAKeyedPowerOfTwoTextureWithFilledMipLevels)
{
    TempDir dir;
    // Left half colour, right half the key; a relative name far over 99 characters.
    std::vector<uint32_t> texels(100 * 60);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = i % 100 < 50 ? 0x204080 : 0x000000;
    const std::string name = std::string(180, 'k') + ".bmp";
    writeBmp(dir / name, 100, 60, texels);

    WorkingDirectory cwd(dir.path());
    DeviceScope device;
    TextureFile file{name, nullptr};
    file.load();
    ASSERT_TRUE(file.texture);
    Texture& texture = *file.texture;
    EXPECT_EQ(device->calls, (std::vector<std::string>{"CreateTexture 128 64 0 0 21 1"}));
    ASSERT_EQ(texture.levelCount(), 8u);
    EXPECT_EQ(texture.width(7) * texture.height(7), 1u);
    const uint8_t* bits = texture.lockRect(0).bits;
    EXPECT_EQ(std::vector<uint8_t>(bits, bits + 4), (std::vector<uint8_t>{0x80, 0x40, 0x20, 0xFF}));  // B G R A
    texture.unlockRect(0);
    EXPECT_EQ(levelTexel(texture, 0, 127, 63), 0u);
    EXPECT_EQ(levelTexel(texture, 3, 15, 7), 0u);
    const uint32_t last = levelTexel(texture, 7, 0, 0);  // half covered
    EXPECT_NEAR(channel(last, 24), 128, 2);
    EXPECT_NEAR(channel(last, 0), 0x40, 2);
}

TEST(TextureFileLoad, UnloadableFileLeavesNoTextureAndWarnsOnce)
{
    DeviceScope device;
    TextureFile file{"Graphic/no-such-picture.bmp", nullptr};
    testing::internal::CaptureStderr();
    file.load();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(file.texture);
    EXPECT_TRUE(device->calls.empty());
    EXPECT_EQ(err, "zentrix: warning: cannot load texture Graphic/no-such-picture.bmp: No such file or directory\n");
}

namespace {

// A decoded surface's texels as 0xAARRGGBB, row by row; the surface is freed.
std::vector<uint32_t> argbTexels(SDL_Surface* decoded)
{
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(decoded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(decoded);
    std::vector<uint32_t> texels;
    for (int y = 0; y < argb->h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) + y * argb->pitch);
        texels.insert(texels.end(), row, row + argb->w);
    }
    SDL_FreeSurface(argb);
    return texels;
}

// What SDL's own BMP reader makes of bytes, as 0xAARRGGBB texels.
std::vector<uint32_t> sdlDecoded(const std::vector<uint8_t>& bmp)
{
    SDL_RWops* source = SDL_RWFromConstMem(bmp.data(), int(bmp.size()));
    SDL_Surface* decoded = SDL_LoadBMP_RW(source, 1);
    EXPECT_TRUE(decoded) << SDL_GetError();
    if (!decoded) return {};
    return argbTexels(decoded);
}

}  // namespace

TEST(ImageFiles, PlainBmpsReadWithoutTheDecoderGiveTheDecodersTexels)
{
    // Widths whose rows need 0 to 3 bytes of padding, both row orders; then kinds that still go
    // through the decoder: 32 bits per pixel, and 8 bits with a palette.
    uint32_t seed = 12345;
    auto next = [&] { return uint8_t((seed = seed * 1103515245u + 12345u) >> 16); };
    for (int32_t width : {1, 2, 3, 4, 5, 7}) {
        for (int32_t height : {1, 3, -1, -3}) {
            std::vector<uint8_t> bmp = bmpHeader(width, height);
            const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
            for (size_t i = 0; i < stride * size_t(std::abs(height)); ++i) bmp.push_back(next());
            ArgbImage image;
            std::string error;
            ASSERT_TRUE(decodeImage(bmp.data(), bmp.size(), image, error)) << error;
            EXPECT_EQ(image.width, width);
            EXPECT_EQ(image.height, std::abs(height));
            EXPECT_EQ(image.texels, sdlDecoded(bmp)) << width << " x " << height;
        }
    }

    std::vector<uint8_t> deep = bmpHeader(2, 2);
    deep[28] = 32;
    for (int i = 0; i < 16; ++i) deep.push_back(next());
    ArgbImage image;
    std::string error;
    ASSERT_TRUE(decodeImage(deep.data(), deep.size(), image, error)) << error;
    EXPECT_EQ(image.texels, sdlDecoded(deep));

    // Two palette entries (B, G, R, 0), then rows of one index byte padded to 4.
    std::vector<uint8_t> indexed = bmpHeader(1, 2);
    indexed[10] = 54 + 8;
    indexed[28] = 8;
    indexed[46] = 2;  // colours used
    indexed.insert(indexed.end(), {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(decodeImage(indexed.data(), indexed.size(), image, error)) << error;
    EXPECT_EQ(image.texels, (std::vector<uint32_t>{0xFF302010, 0xFF605040}));
}

TEST(TextureFileLoad, PowerOfTwoPictureIsKeyedAndFilteredInPlace)
{
    // 4 x 2, read straight into level 0: one texel is the key, the rest colours.
    TempDir dir;
    const std::vector<uint32_t> texels = {0x000000, 0x102030, 0x405060, 0x708090,
                                          0xA0B0C0, 0xD0E0F0, 0x010203, 0xFFFFFF};
    writeBmp(dir / "p.bmp", 4, 2, texels);
    WorkingDirectory cwd(dir.path());
    DeviceScope device;
    TextureFile file{"p.bmp", nullptr};
    file.load();
    ASSERT_TRUE(file.texture);
    Texture& texture = *file.texture;
    EXPECT_EQ(device->calls, (std::vector<std::string>{"CreateTexture 4 2 0 0 21 1"}));
    ASSERT_EQ(texture.levelCount(), 3u);

    ArgbImage expected{4, 2, {}};
    for (uint32_t t : texels) expected.texels.push_back(t == 0 ? 0u : 0xFF000000u | t);
    for (uint32_t level = 0; level < 3; ++level) {
        for (int y = 0; y < expected.height; ++y)
            for (int x = 0; x < expected.width; ++x)
                EXPECT_EQ(levelTexel(texture, level, x, y), expected.at(x, y)) << level << ": " << x << ", " << y;
        expected = boxDownsample(expected);
    }
}

TEST(PageBlocks, SmallAndLargeBlocksAreZeroedWholeAndMoveTheirBytes)
{
    for (size_t size : {size_t(1), size_t(4096), (size_t(2) << 20) + 3, size_t(5) << 20}) {
        PageBlock block(size);
        ASSERT_TRUE(block.data());
        ASSERT_EQ(block.size(), size);
        EXPECT_EQ(std::count(block.data(), block.data() + size, uint8_t(0)), std::ptrdiff_t(size));
        block.data()[size - 1] = 7;  // the last byte is the block's own
        uint8_t* bytes = block.data();
        PageBlock moved(std::move(block));
        EXPECT_EQ(moved.data(), bytes);
        EXPECT_EQ(moved.data()[size - 1], 7);
        EXPECT_EQ(block.data(), nullptr);
        EXPECT_EQ(block.size(), 0u);
        moved = PageBlock(16);
        EXPECT_EQ(moved.size(), 16u);
    }
    EXPECT_EQ(PageBlock(0).size(), 0u);
}

TEST(ImageFiles, TheDecodersOwnComplaintBecomesPartOfTheOneErrorLine)
{
    // A PNG whose compressed image data is broken: libpng would print its own line on stderr.
    TempDir dir;
    std::vector<uint8_t> rgba(16 * 16 * 4, 0x80);
    ASSERT_TRUE(stbi_write_png((dir / "a.png").c_str(), 16, 16, 4, rgba.data(), 16 * 4));
    const std::string bytes = readFile((dir / "a.png").string());
    std::vector<uint8_t> png(bytes.begin(), bytes.end());
    const size_t idat = bytes.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    png[idat + 6] ^= 0xFF;
    testing::internal::CaptureStderr();
    const std::string error = decodeError(png);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error, "cannot decode the PNG image: Error reading the PNG file. (IDAT: invalid code lengths set)");
}

namespace {

// A PNG of w x h texels written by libpng in any layout: varied samples, or all zero when flat.
std::vector<uint8_t> pngOf(int w, int h, int colour, int depth, bool interlaced, bool transparency, bool flat = false)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the picture";
        return {};
    }
    png_set_write_fn(png, &out, [](png_structp p, png_bytep data, png_size_t n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + n);
    }, nullptr);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colour,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // A full palette; index 1 transparent and index 2 half so.
    const int entries = colour == PNG_COLOR_TYPE_PALETTE ? 1 << depth : 0;
    png_color palette[256];
    png_byte alphas[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {png_byte(i * 17), png_byte(255 - i * 13), png_byte(i * 5)};
        alphas[i] = png_byte(i == 1 ? 0 : i == 2 ? 128 : 255);
    }
    if (entries) png_set_PLTE(png, info, palette, entries);
    png_color_16 key{0, 3, 7, 11, png_uint_16(depth == 1 ? 1 : 3)};
    if (transparency) png_set_tRNS(png, info, alphas, std::min(entries, 3), &key);
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const size_t rowBytes = (size_t(w) * size_t(channels) * size_t(depth) + 7) / 8;
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h), std::vector<uint8_t>(rowBytes));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < h; ++y) {
        for (size_t i = 0; i < rowBytes && !flat; ++i) rows[size_t(y)][i] = uint8_t(i * 37 + size_t(y) * 11);
        pointers.push_back(rows[size_t(y)].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// What SDL2_image itself makes of a PNG held in memory, as 0xAARRGGBB texels.
std::vector<uint32_t> libraryDecoded(const std::vector<uint8_t>& bytes)
{
    SDL_RWops* source = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    SDL_Surface* decoded = IMG_LoadPNG_RW(source);
    SDL_RWclose(source);
    EXPECT_TRUE(decoded) << IMG_GetError();
    if (!decoded) return {};
    return argbTexels(decoded);
}

}  // namespace

TEST(ImageFiles, EveryPngLayoutPassesTheChecksAndDecodesAsTheLibraryDecodesIt)
{
    struct Layout {
        int colour;
        std::vector<int> depths;
    };
    const Layout layouts[] = {{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}}, {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
                              {PNG_COLOR_TYPE_RGB, {8, 16}}, {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
                              {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}}};
    for (const Layout& layout : layouts)
        for (int depth : layout.depths)
            for (bool interlaced : {false, true})
                for (bool transparency : {false, true}) {
                    if (transparency && (layout.colour & PNG_COLOR_MASK_ALPHA)) continue;
                    const std::vector<uint8_t> png = pngOf(13, 7, layout.colour, depth, interlaced, transparency);
                    ArgbImage image;
                    std::string error;
                    ASSERT_TRUE(decodeImage(png.data(), png.size(), image, error))
                        << layout.colour << "/" << depth << "/" << interlaced << "/" << transparency << ": " << error;
                    EXPECT_EQ(image.texels, libraryDecoded(png))
                        << layout.colour << "/" << depth << "/" << interlaced << "/" << transparency;
                }
    // The most compressible picture of the largest size still holds enough image data.
    const std::vector<uint8_t> flat = pngOf(8192, 8192, PNG_COLOR_TYPE_GRAY, 1, false, false, true);
    std::string error;
    EXPECT_TRUE(checkPngLayout(flat.data(), flat.size(), error)) << error;
}

TEST(ImageFiles, PicturesThatEndEarlyOrClaimMoreThanTheyHoldAreRefused)
{
    const std::vector<uint8_t> png = pngOf(64, 64, PNG_COLOR_TYPE_RGB, 8, false, false);
    // Empty chunks; their CRCs are never read, as the layout is refused first.
    const auto chunk = [](const char* type) { return bytesOf({be32(0), {type, type + 4}, be32(0)}); };
    const std::vector<uint8_t> header(png.begin(), png.begin() + 33);  // signature and IHDR
    // An empty side chunk, then the end: libpng, fed by SDL2_image, used to read it for ever.
    EXPECT_EQ(decodeError(bytesOf({header, chunk("tEXt")})), "the PNG file ends before its image data");
    // A side chunk that claims 2 GiB, its header only: it used to cost 2 GB of memory.
    EXPECT_EQ(decodeError(bytesOf({header, be32(0x7FFFFFFF), {'t', 'E', 'X', 't'}})),
              "a PNG chunk of 2147483647 bytes runs past the end of the file");
    EXPECT_EQ(decodeError(std::vector<uint8_t>(png.begin(), png.end() - 12)), "the PNG file ends before its IEND chunk");
    EXPECT_EQ(decodeError(bytesOf({header, chunk("IEND")})), "the PNG file ends (IEND) before its image data");
    // The largest picture in a few bytes of image data: refused before room is made for it.
    std::vector<uint8_t> large = png;
    large[18] = large[22] = 0x20;  // 64 -> 8192 texels a side (the header's CRC is not reached)
    large[19] = large[23] = 0;
    EXPECT_EQ(decodeError(large).rfind("the PNG file holds ", 0), 0u);

    // A JPEG cut in half, one that announces 8192 x 8192 texels in a few bytes, and one whose
    // thousands of scans would each pass over all of them.
    std::vector<uint8_t> flat;
    for (int i = 0; i < 64 * 64; ++i) flat.insert(flat.end(), {uint8_t(i), uint8_t(i >> 4), 0x40});
    std::vector<uint8_t> jpeg;
    stbi_write_jpg_to_func([](void* to, void* data, int n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(to);
        bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + n);
    }, &jpeg, 64, 64, 3, flat.data(), 90);
    EXPECT_EQ(decodeError(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + ptrdiff_t(jpeg.size() / 2))),
              "the JPEG file ends before its end marker");
    const std::vector<uint8_t> frame = {0xFF, 0xC2, 0x00, 0x0B, 8, 0x20, 0x00, 0x20, 0x00, 1, 1, 0x11, 0};
    const std::vector<uint8_t> scan = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> start = {0xFF, 0xD8}, end = {0xFF, 0xD9};
    EXPECT_EQ(decodeError(bytesOf({start, frame, scan, end})),
              "the JPEG file holds 4 bytes of image data, too few for the 8192 x 8192 texels its header announces");
    std::vector<uint8_t> scans = bytesOf({start, frame});
    for (int i = 0; i < 300; ++i) {
        scans.insert(scans.end(), scan.begin(), scan.end());
        scans.resize(scans.size() + 8192, 0x55);
    }
    EXPECT_EQ(decodeError(bytesOf({scans, end})), "the JPEG has 300 scans, too many for a picture of 8192 x 8192");
}
