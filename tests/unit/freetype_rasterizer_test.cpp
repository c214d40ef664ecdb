#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/glyphs/freetype_rasterizer.h"

// The real rasteriser on the fonts the project installs (fonts-liberation2).

namespace {

GlyphFaceRequest arialBold(int emHeight)
{
    GlyphFaceRequest r;
    r.faceName = "Arial";
    r.emHeight = emHeight;
    r.bold = true;
    return r;
}

}  // namespace

TEST(FreeTypeRasterizer, ArialBoldResolvesToAMetricCompatibleBoldFace)
{
    const std::string face = resolvedFontDescription(arialBold(27));
    EXPECT_NE(face.find("Liberation Sans"), std::string::npos) << face;
    EXPECT_NE(face.find("Bold"), std::string::npos) << face;

    std::string error;
    auto r = createFreeTypeRasterizer(arialBold(27), error);
    ASSERT_NE(r, nullptr) << error;
    // Every character reports the same cell: ascent 1854 and descent 434 of 2048 units at 27
    // pixels, each rounded (24 + 6).
    for (unsigned char c : {' ', 'A', 'g', '~', '|'}) EXPECT_EQ(r->measure(c).height, 30) << c;
    // Advance widths of the metric-compatible face: space 569, 'A' 1479, 'W' 1933, '0' 1139 units.
    const struct {
        unsigned char c;
        int units;
    } widths[] = {{' ', 569}, {'A', 1479}, {'W', 1933}, {'0', 1139}, {'i', 569}};
    for (const auto& w : widths) EXPECT_NEAR(r->measure(w.c).width, w.units * 27.0 / 2048.0, 1.0) << w.c;

    // Half the em height, as on a device with half the texture width.
    auto half = createFreeTypeRasterizer(arialBold(13), error);
    ASSERT_NE(half, nullptr) << error;
    EXPECT_EQ(half->measure('A').height, 15);  // 11.77 + 2.75, each rounded
}

TEST(FreeTypeRasterizer, DrawsWhiteCoverageInsideItsBlackenedCell)
{
    std::string error;
    auto r = createFreeTypeRasterizer(arialBold(27), error);
    ASSERT_NE(r, nullptr) << error;
    const int w = 64, h = 48;
    std::vector<uint32_t> pixels(size_t(w * h), 0x00FFFFFFu);
    const TextExtent cell = r->measure('H');

    // The cell is filled black, the glyph drawn into it; around the cell nothing changes.
    r->draw('H', 10, 5, pixels.data(), w, h);
    int ink = 0, full = 0, top = h, bottom = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t p = pixels[size_t(y * w + x)];
            const bool inCell = x >= 10 && x < 10 + cell.width && y >= 5 && y < 5 + cell.height;
            if (!inCell) {
                EXPECT_EQ(p, 0x00FFFFFFu) << x << "," << y;
                continue;
            }
            EXPECT_EQ(p & 0xFF, (p >> 8) & 0xFF);  // grey: white over black
            EXPECT_EQ(p & 0xFF, (p >> 16) & 0xFF);
            if (p != 0) {
                ++ink;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
            full += p == 0x00FFFFFFu;
        }
    EXPECT_GT(ink, 60);
    EXPECT_GT(full, 40);
    // Capitals stand on the baseline (the ascent, 24, below the cell top) and rise about 0.72 em.
    EXPECT_EQ(bottom, 5 + 24 - 1);
    EXPECT_NEAR(top, 5 + 24 - 0.716 * 27, 1.0);

    // Clipped at the bitmap's edges rather than written past them.
    std::vector<uint32_t> small(size_t(8 * 8), 0u);
    r->draw('W', -5, -10, small.data(), 8, 8);
    r->draw('W', 4, 4, small.data(), 8, 8);
}
