#include "text/bitmap_font.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "state/settings.h"
#include "text/glyph_rasterizer.h"

namespace {

// a × b ÷ c rounded to the nearest integer, halves away from zero, without overflow on the way.
int64_t mulDiv(int64_t a, int64_t b, int64_t c)
{
    const int64_t product = a * b;
    return product >= 0 ? (product + c / 2) / c : -((-product + c / 2) / c);
}

uint32_t atlasSide(uint32_t pointHeight)
{
    if (pointHeight > 60) return 2048;
    if (pointHeight > 30) return 1024;
    if (pointHeight > 15) return 512;
    return 256;
}

}  // namespace

BitmapFont::BitmapFont(const char* name, uint32_t height, uint32_t flags) : pointHeight(height), styleFlags(flags)
{
    std::memset(faceName, 0, sizeof faceName);
    if (name) std::strncpy(faceName, name, sizeof faceName - 1);
    faceName[sizeof faceName - 1] = '\0';
    std::memset(glyphs, 0, sizeof glyphs);
}

BitmapFont::~BitmapFont()
{
    releaseDrawResources();
    releaseGlyphTexture();
}

HResult BitmapFont::createGlyphTexture(GraphicsDevice* d)
{
    device = d;
    glyphTexture.reset();
    if (!device) return E_FAIL;

    textScale = 1.0f;
    textureWidth = textureHeight = atlasSide(pointHeight);
    const int maxWidth = device->maxTextureWidth();
    if (maxWidth < 1) return E_FAIL;
    if (static_cast<uint32_t>(maxWidth) < textureWidth) {
        textScale = static_cast<float>(maxWidth) / static_cast<float>(textureWidth);
        textureWidth = textureHeight = static_cast<uint32_t>(maxWidth);
    }
    glyphTexture = device->createTexture(textureWidth, textureHeight, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED);
    if (!glyphTexture) return E_FAIL;

    // The em height in pixels: points at the screen's dots per inch, scaled down with the atlas.
    const auto dotsPerInch = static_cast<int64_t>(static_cast<float>(screenDotsPerInchY) * textScale);
    GlyphFaceRequest request;
    request.faceName = faceName;
    request.emHeight = static_cast<int>(std::min<int64_t>(mulDiv(pointHeight, dotsPerInch, 72), 0xFFFF));
    request.bold = (styleFlags & Bold) != 0;
    request.italic = (styleFlags & Italic) != 0;
    std::string error;
    std::unique_ptr<GlyphRasterizer> rasterizer = createGlyphRasterizer(request, error);
    if (!rasterizer) {
        // Without glyphs the font draws nothing; the program goes on without text. Every font
        // asks for a face, so the fault is told once per run, not once per font.
        static bool told = false;
        if (!told)
            std::fprintf(stderr, "zentrix: warning: no font for the face \"%s\": %s; text is not shown\n", faceName,
                         error.c_str());
        told = true;
        glyphTexture.reset();
        return E_FAIL;
    }

    std::vector<uint32_t> bitmap(size_t(textureWidth) * textureHeight, 0u);
    const int width = static_cast<int>(textureWidth), height = static_cast<int>(textureHeight);

    const TextExtent space = rasterizer->measure(' ');
    glyphSpacing = static_cast<uint32_t>(std::ceil(static_cast<float>(std::max(0, space.height)) * 0.3f));

    uint32_t x = glyphSpacing, y = 0;
    for (int c = 32; c < 127; ++c) {
        const TextExtent extent = rasterizer->measure(static_cast<unsigned char>(c));
        const auto w = static_cast<uint32_t>(std::max(0, extent.width));
        const auto h = static_cast<uint32_t>(std::max(0, extent.height));
        if (x + w + glyphSpacing > textureWidth) {
            x = glyphSpacing;
            y = y + h + 1;
        }
        // Rows below the atlas are clipped; their rectangles then reach beyond 1.
        if (y < textureHeight) rasterizer->draw(static_cast<unsigned char>(c), static_cast<int>(x), static_cast<int>(y),
                                                bitmap.data(), width, height);
        glyphs[c - 32] = {static_cast<float>(x - glyphSpacing) / static_cast<float>(textureWidth),
                          static_cast<float>(y) / static_cast<float>(textureHeight),
                          static_cast<float>(x + w + glyphSpacing) / static_cast<float>(textureWidth),
                          static_cast<float>(y + h) / static_cast<float>(textureHeight)};
        x = x + w + 2 * glyphSpacing;
    }

    // Coverage (the blue of the white-on-black picture) becomes 4-bit alpha over white.
    const LockedRect locked = glyphTexture->lockRect(0);
    if (locked.bits) {
        for (uint32_t r = 0; r < textureHeight; ++r) {
            uint8_t* row = locked.bits + size_t(r) * static_cast<size_t>(locked.pitch);
            for (uint32_t k = 0; k < textureWidth; ++k) {
                const uint32_t a = (bitmap[size_t(textureWidth) * r + k] & 0xFFu) >> 4;
                const uint16_t texel = a > 0 ? static_cast<uint16_t>((a << 12) | 0x0FFFu) : uint16_t(0);
                std::memcpy(row + size_t(k) * 2, &texel, 2);
            }
        }
        glyphTexture->unlockRect(0);
    }
    return S_OK;
}

HResult BitmapFont::createDrawResources()
{
    if (!device) return E_FAIL;
    vertexBuffer = device->createVertexBuffer(vertexBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT);
    if (!vertexBuffer) return E_FAIL;
    // The same list twice: capturing the first copies the caller's values of exactly the states
    // the second sets.
    device->beginStateBlock();
    recordDrawStates();
    savedStateBlock = device->endStateBlock();
    device->beginStateBlock();
    recordDrawStates();
    drawStateBlock = device->endStateBlock();
    return S_OK;
}

void BitmapFont::recordDrawStates()
{
    GraphicsDevice& d = *device;
    d.setTexture(0, glyphTexture.get());
    d.setRenderState(D3DRS_ZENABLE, (styleFlags & DepthTest) ? 1u : 0u);
    d.setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    d.setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d.setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d.setRenderState(D3DRS_ALPHATESTENABLE, 1);
    d.setRenderState(D3DRS_ALPHAREF, 8);
    d.setRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d.setRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d.setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d.setRenderState(D3DRS_STENCILENABLE, 0);
    d.setRenderState(D3DRS_CLIPPING, 1);
    d.setRenderState(D3DRS_CLIPPLANEENABLE, 0);
    d.setRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    d.setRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 0);
    d.setRenderState(D3DRS_FOGENABLE, 0);
    d.setRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d.setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d.setTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d.setTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d.setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d.setTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d.setTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d.setTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d.setTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d.setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d.setTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d.setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    d.setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    d.setSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
}

HResult BitmapFont::releaseDrawResources()
{
    vertexBuffer.reset();
    savedStateBlock.reset();
    drawStateBlock.reset();
    return S_OK;
}

HResult BitmapFont::releaseGlyphTexture()
{
    glyphTexture.reset();
    device = nullptr;
    return S_OK;
}

HResult BitmapFont::drawText(float x, float y, float z, float xScale, float yScale, uint32_t colour, const char* text,
                             uint32_t drawFlags)
{
    const Line line{x, y, text};
    return drawLines(&line, 1, z, xScale, yScale, colour, drawFlags);
}

HResult BitmapFont::drawLines(const Line* lines, size_t lineCount, float z, float xScale, float yScale,
                              uint32_t colour, uint32_t drawFlags)
{
    // Nothing to draw with (no device, or glyphs or draw resources that could not be made).
    if (!device || !glyphTexture || !vertexBuffer || !savedStateBlock || !drawStateBlock) return E_FAIL;
    const float cellHeight = (glyphs[0].bottom - glyphs[0].top) * static_cast<float>(textureHeight);
    if (!(cellHeight > 0.0f)) return E_FAIL;

    const float screenH = static_cast<float>(appSettings.screenHeight);
    // Pixels per texel across and down.
    const float sx = xScale * screenH / cellHeight;
    const float sy = yScale * screenH / cellHeight;

    savedStateBlock->capture();
    drawStateBlock->apply();
    device->setFVF(fontVertexFormat);
    device->setPixelShader(nullptr);
    device->setStreamSource(0, vertexBuffer.get(), 0, sizeof(FontVertex));
    if (drawFlags & LinearFilter) {
        device->setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }

    Batch batch{reinterpret_cast<FontVertex*>(vertexBuffer->lock(0, 0, D3DLOCK_DISCARD)), 0};
    for (size_t i = 0; i < lineCount; ++i) appendLine(batch, lines[i], z, sx, sy, yScale, colour);
    vertexBuffer->unlock();
    if (batch.triangles > 0) device->drawPrimitive(D3DPT_TRIANGLELIST, 0, batch.triangles);

    savedStateBlock->apply();
    return S_OK;
}

void BitmapFont::appendLine(Batch& batch, const Line& line, float z, float sx, float sy, float yScale, uint32_t colour)
{
    const float screenW = static_cast<float>(appSettings.screenWidth);
    const float screenH = static_cast<float>(appSettings.screenHeight);
    float px = (line.x + 1.0f) * screenW / 2.0f;
    float py = (line.y + 1.0f) * screenH / 2.0f;
    px = px - static_cast<float>(glyphSpacing) * sx;
    const float lineStart = px;

    const float tw = static_cast<float>(textureWidth), th = static_cast<float>(textureHeight);
    for (const char* p = line.text ? line.text : ""; *p && batch.vertices; ++p) {
        if (*p == '\n') {
            px = lineStart;
            py = py + yScale * screenH;
        }
        // Control codes, newline included, DEL and every byte from 128 up have no glyph.
        const int c = static_cast<signed char>(*p);
        if (c < 32 || c > 126) continue;

        const GlyphRect& g = glyphs[c - 32];
        const float w = (g.right - g.left) * tw * sx;
        const float h = (g.bottom - g.top) * th * sy;
        if (c != ' ') {
            // Pixel centres lie on whole coordinates: edges half a pixel before them.
            const float x0 = px - 0.5f, y0 = py - 0.5f, x1 = px + w - 0.5f, y1 = py + h - 0.5f;
            FontVertex* v = batch.vertices + 3 * batch.triangles;
            v[0] = {x0, y1, z, 1.0f, colour, g.left, g.bottom};
            v[1] = {x0, y0, z, 1.0f, colour, g.left, g.top};
            v[2] = {x1, y1, z, 1.0f, colour, g.right, g.bottom};
            v[3] = {x1, y0, z, 1.0f, colour, g.right, g.top};
            v[4] = {x1, y1, z, 1.0f, colour, g.right, g.bottom};
            v[5] = {x0, y0, z, 1.0f, colour, g.left, g.top};
            batch.triangles += 2;
            // No room for another glyph's six vertices within the batch.
            if (batch.triangles >= maxBatchTriangles) {
                vertexBuffer->unlock();
                device->drawPrimitive(D3DPT_TRIANGLELIST, 0, batch.triangles);
                batch.vertices = reinterpret_cast<FontVertex*>(vertexBuffer->lock(0, 0, D3DLOCK_DISCARD));
                batch.triangles = 0;
            }
        }
        px = px + w - 2.0f * static_cast<float>(glyphSpacing) * sx;
    }
}
