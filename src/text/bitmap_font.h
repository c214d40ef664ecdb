#pragma once

// Screen-space text: the printable characters of one typeface painted once per device into a
// square glyph atlas, then drawn as two textured triangles per visible character from a dynamic
// vertex buffer, with the font's render states switched in and out by two state blocks.

#include <cstdint>
#include <memory>

#include "base/result_codes.h"
#include "device/graphics_device.h"

// 0 success, negative failure (app/result_codes.h).
using HResult = int32_t;

// Texture coordinates of a glyph's cell in the atlas, its margins included.
struct GlyphRect {
    float left, top, right, bottom;
};

// A pre-transformed, coloured, textured vertex (28 bytes).
struct FontVertex {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};
inline constexpr uint32_t fontVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(sizeof(FontVertex) == 28);

class BitmapFont {
public:
    // styleFlags bits.
    static constexpr uint32_t Bold = 1;
    static constexpr uint32_t Italic = 2;
    static constexpr uint32_t DepthTest = 4;
    // drawText flags.
    static constexpr uint32_t LinearFilter = 8;

    static constexpr uint32_t vertexBufferBytes = 9600;
    // A batch is flushed once it holds this many triangles (50 glyphs, 300 vertices).
    static constexpr uint32_t maxBatchTriangles = 100;

    BitmapFont(const char* faceName, uint32_t pointHeight, uint32_t styleFlags);
    ~BitmapFont();
    BitmapFont(const BitmapFont&) = delete;
    BitmapFont& operator=(const BitmapFont&) = delete;

    HResult createGlyphTexture(GraphicsDevice* device);
    HResult createDrawResources();
    HResult releaseDrawResources();
    HResult releaseGlyphTexture();
    // x, y: screen fractions (-1 left / top edge, +1 right / bottom edge); yScale: line height as
    // a fraction of the screen height; xScale: glyph width scale on the same footing.
    HResult drawText(float x, float y, float z, float xScale, float yScale, uint32_t colour, const char* text,
                     uint32_t drawFlags);
    // Several texts alike in all but place, drawn as drawText would draw them one after another,
    // with the font's states switched in and out once.
    struct Line {
        float x, y;
        const char* text;
    };
    HResult drawLines(const Line* lines, size_t lineCount, float z, float xScale, float yScale, uint32_t colour,
                      uint32_t drawFlags);

    char faceName[80];
    uint32_t pointHeight;
    uint32_t styleFlags;
    GraphicsDevice* device = nullptr;  // not owned
    std::unique_ptr<Texture> glyphTexture;
    std::unique_ptr<VertexBuffer> vertexBuffer;
    uint32_t textureWidth = 0;
    uint32_t textureHeight = 0;
    float textScale = 1.0f;
    GlyphRect glyphs[96];
    uint32_t glyphSpacing = 0;
    std::unique_ptr<StateBlock> savedStateBlock;
    std::unique_ptr<StateBlock> drawStateBlock;

private:
    void recordDrawStates();
    // Glyph quads gathered into the vertex buffer, drawn whenever it is full and at the end.
    struct Batch {
        FontVertex* vertices = nullptr;
        uint32_t triangles = 0;
    };
    void appendLine(Batch& batch, const Line& line, float z, float sx, float sy, float yScale, uint32_t colour);
};
