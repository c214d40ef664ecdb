#pragma once

// The platform's text rasteriser as the font sees it: one typeface at one size, measuring and
// drawing single characters, anti-aliased white on black, into a 32-bit top-down bitmap. The
// program installs the real one (src/platform/glyphs); tests install their own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The screen's vertical resolution the font sizes are converted with, in dots per inch.
inline constexpr int screenDotsPerInchY = 96;

struct GlyphFaceRequest {
    std::string faceName;
    int emHeight = 0;  // pixels from the top to the bottom of the em square
    bool bold = false;
    bool italic = false;
};

struct TextExtent {
    int width = 0;   // advance width, whole pixels
    int height = 0;  // the font's cell height (ascent + descent), the same for every character
};

class GlyphRasterizer {
public:
    virtual ~GlyphRasterizer() = default;
    // The extent of the one-character string c.
    virtual TextExtent measure(unsigned char c) = 0;
    // Draws c with the top-left corner of its cell at (x, y): the cell (measure(c) wide and high)
    // is filled with black first, then the glyph is blended in white. Pixels are 0x00RRGGBB;
    // whatever falls outside the bitmap is clipped.
    virtual void draw(unsigned char c, int x, int y, uint32_t* pixels, int width, int height) = 0;
};

// Null with error set when the face cannot be resolved or loaded.
using GlyphRasterizerFactory =
    std::function<std::unique_ptr<GlyphRasterizer>(const GlyphFaceRequest& request, std::string& error)>;
void setGlyphRasterizerFactory(GlyphRasterizerFactory factory);
std::unique_ptr<GlyphRasterizer> createGlyphRasterizer(const GlyphFaceRequest& request, std::string& error);
