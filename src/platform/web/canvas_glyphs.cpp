#include "platform/web/canvas_glyphs.h"

#include <algorithm>
#include <vector>

#include <emscripten/emscripten.h>

namespace {

// One 2-D canvas of its own, not in the page, for every face; returns its id or 0.
EM_JS(int, zxGlyphFaceOpen, (const char* font), {
    const canvas = document.createElement('canvas');
    const context = canvas.getContext('2d', {willReadFrequently: true});
    if (!context) return 0;
    context.font = UTF8ToString(font);
    const m = context.measureText('Hg');
    if (!(m.fontBoundingBoxAscent > 0)) return 0;
    Module.zxGlyphFaces = Module.zxGlyphFaces || [null];
    Module.zxGlyphFaces.push({canvas: canvas, context: context, font: context.font,
                              ascent: Math.round(m.fontBoundingBoxAscent),
                              descent: Math.round(m.fontBoundingBoxDescent)});
    return Module.zxGlyphFaces.length - 1;
});

EM_JS(void, zxGlyphFaceClose, (int face), { Module.zxGlyphFaces[face] = null; });

EM_JS(int, zxGlyphAscent, (int face), { return Module.zxGlyphFaces[face].ascent; });
EM_JS(int, zxGlyphDescent, (int face), { return Module.zxGlyphFaces[face].descent; });

EM_JS(int, zxGlyphAdvance, (int face, int code), {
    const f = Module.zxGlyphFaces[face];
    return Math.max(0, Math.round(f.context.measureText(String.fromCharCode(code)).width));
});

// Draws the character at its cell's origin into a width x height cell and writes its grey
// levels, one byte a pixel, to out.
EM_JS(void, zxGlyphDraw, (int face, int code, int width, int height, unsigned char* out), {
    const f = Module.zxGlyphFaces[face];
    if (f.canvas.width < width || f.canvas.height < height) {
        f.canvas.width = Math.max(f.canvas.width, width);
        f.canvas.height = Math.max(f.canvas.height, height);
        f.context.font = f.font;  // a resize resets the context's state
    }
    const c = f.context;
    c.fillStyle = '#000';
    c.fillRect(0, 0, width, height);
    c.fillStyle = '#fff';
    c.textBaseline = 'alphabetic';
    c.fillText(String.fromCharCode(code), 0, f.ascent);
    const pixels = c.getImageData(0, 0, width, height).data;
    for (let i = 0; i < width * height; ++i) HEAPU8[out + i] = pixels[i * 4];
});

class CanvasRasterizer : public GlyphRasterizer {
public:
    explicit CanvasRasterizer(int face) : face_(face), height_(zxGlyphAscent(face) + zxGlyphDescent(face))
    {
        std::fill(std::begin(advance_), std::end(advance_), -1);  // not measured yet
    }
    ~CanvasRasterizer() override { zxGlyphFaceClose(face_); }

    TextExtent measure(unsigned char c) override
    {
        if (advance_[c] < 0) advance_[c] = zxGlyphAdvance(face_, c);
        return {advance_[c], height_};
    }

    void draw(unsigned char c, int x, int y, uint32_t* pixels, int width, int height) override
    {
        const TextExtent cell = measure(c);
        if (cell.width <= 0 || cell.height <= 0) return;
        // The glyph may reach beyond its advance (italics): drawn over a cell a little wider,
        // with the cell itself black first.
        const int drawnWidth = cell.width + cell.height / 2;
        grey_.assign(size_t(drawnWidth) * size_t(cell.height), 0);
        zxGlyphDraw(face_, c, drawnWidth, cell.height, grey_.data());
        for (int row = std::max(0, y); row < std::min(height, y + cell.height); ++row)
            for (int col = std::max(0, x); col < std::min(width, x + cell.width); ++col) pixels[size_t(row) * width + col] = 0;
        for (int row = 0; row < cell.height; ++row) {
            const int py = y + row;
            if (py < 0 || py >= height) continue;
            for (int col = 0; col < drawnWidth; ++col) {
                const int px = x + col;
                const uint8_t level = grey_[size_t(row) * drawnWidth + col];
                if (px < 0 || px >= width || level == 0) continue;
                uint32_t& p = pixels[size_t(py) * width + px];
                const uint32_t old = p & 0xFF;
                const uint32_t v = std::max(old, uint32_t(level));  // white over what is there
                p = (v << 16) | (v << 8) | v;
            }
        }
    }

private:
    int face_;
    int height_;
    int advance_[256] = {};
    std::vector<uint8_t> grey_;
};

}  // namespace

std::unique_ptr<GlyphRasterizer> createCanvasRasterizer(const GlyphFaceRequest& request, std::string& error)
{
    std::string font;
    if (request.italic) font += "italic ";
    if (request.bold) font += "bold ";
    font += std::to_string(std::max(1, request.emHeight)) + "px \"" + request.faceName + "\", sans-serif";
    const int face = zxGlyphFaceOpen(font.c_str());
    if (face == 0) {
        error = "the browser cannot draw text in " + font;
        return nullptr;
    }
    return std::make_unique<CanvasRasterizer>(face);
}
