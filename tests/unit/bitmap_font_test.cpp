#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/application.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "app/input.h"
#include "state/settings.h"
#include "support/fake_rasterizer.h"
#include "support/fixtures.h"
#include "support/recording_device.h"
#include "support/test_scopes.h"
#include "text/bitmap_font.h"
#include "world/game_world.h"

namespace {

// The states the font switches in and out, as (kind, index, type) of the device's state block.
struct StateKey {
    StateBlock::Kind kind;
    uint32_t index, type;
};
const StateKey fontStates[] = {
    {StateBlock::Kind::Texture, 0, 0},
    {StateBlock::Kind::Render, 0, D3DRS_ZENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_ALPHABLENDENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_SRCBLEND},
    {StateBlock::Kind::Render, 0, D3DRS_DESTBLEND},
    {StateBlock::Kind::Render, 0, D3DRS_ALPHATESTENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_ALPHAREF},
    {StateBlock::Kind::Render, 0, D3DRS_ALPHAFUNC},
    {StateBlock::Kind::Render, 0, D3DRS_FILLMODE},
    {StateBlock::Kind::Render, 0, D3DRS_CULLMODE},
    {StateBlock::Kind::Render, 0, D3DRS_STENCILENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_CLIPPING},
    {StateBlock::Kind::Render, 0, D3DRS_CLIPPLANEENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_VERTEXBLEND},
    {StateBlock::Kind::Render, 0, D3DRS_INDEXEDVERTEXBLENDENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_FOGENABLE},
    {StateBlock::Kind::Render, 0, D3DRS_COLORWRITEENABLE},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_COLOROP},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_COLORARG1},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_COLORARG2},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_ALPHAOP},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_ALPHAARG1},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_ALPHAARG2},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_TEXCOORDINDEX},
    {StateBlock::Kind::TextureStage, 0, D3DTSS_TEXTURETRANSFORMFLAGS},
    {StateBlock::Kind::TextureStage, 1, D3DTSS_COLOROP},
    {StateBlock::Kind::TextureStage, 1, D3DTSS_ALPHAOP},
    {StateBlock::Kind::Sampler, 0, D3DSAMP_MINFILTER},
    {StateBlock::Kind::Sampler, 0, D3DSAMP_MAGFILTER},
    {StateBlock::Kind::Sampler, 0, D3DSAMP_MIPFILTER},
};
const uint32_t fontStateValues[] = {0, 0, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1, 8, D3DCMP_GREATEREQUAL,
                                    D3DFILL_SOLID, D3DCULL_CCW, 0, 1, 0, D3DVBF_DISABLE, 0, 0, 15,
                                    D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE,
                                    D3DTA_DIFFUSE, 0, D3DTTFF_DISABLE, D3DTOP_DISABLE, D3DTOP_DISABLE,
                                    D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE};

// The device's current values of the font's states (the texture as 0 / 1 for none / some).
std::vector<uint64_t> snapshot(const GraphicsDevice& d, const Texture* glyphTexture)
{
    std::vector<uint64_t> values;
    for (const StateKey& k : fontStates) {
        switch (k.kind) {
        case StateBlock::Kind::Render: values.push_back(d.renderState(k.type)); break;
        case StateBlock::Kind::TextureStage: values.push_back(d.textureStageState(k.index, k.type)); break;
        case StateBlock::Kind::Sampler: values.push_back(d.samplerState(k.index, k.type)); break;
        case StateBlock::Kind::Texture: values.push_back(d.texture(k.index) == glyphTexture ? 2 : d.texture(k.index) ? 1 : 0); break;
        }
    }
    return values;
}

std::vector<FontVertex> verticesOf(const RecordingDevice::Draw& draw)
{
    std::vector<FontVertex> v(draw.vertices.size() / sizeof(FontVertex));
    std::memcpy(v.data(), draw.vertices.data(), v.size() * sizeof(FontVertex));
    return v;
}

class FontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = appSettings;
        appSettings.screenWidth = 800;
        appSettings.screenHeight = 600;
    }
    void TearDown() override { appSettings = saved; }
    AppSettings saved;
    FakeRasterizerScope fake;
    RecordingDevice device;
};

}  // namespace

// ---- The atlas ----

TEST_F(FontTest, AtlasSideAndEmHeightFollowThePointHeight)
{
    struct Case {
        uint32_t points, side;
        int em;  // points at 96 dots per inch, rounded
    };
    for (const Case c : {Case{15, 256, 20}, Case{16, 512, 21}, Case{30, 512, 40}, Case{31, 1024, 41}, Case{60, 1024, 80},
                         Case{61, 2048, 81}, Case{20, 512, 27}, Case{10, 256, 13}}) {
        RecordingDevice d;
        BitmapFont font("Arial", c.points, BitmapFont::Bold);
        ASSERT_EQ(S_OK, font.createGlyphTexture(&d)) << c.points;
        const std::string side = std::to_string(c.side);
        EXPECT_EQ(d.calls, (std::vector<std::string>{"CreateTexture " + side + " " + side + " 1 0 26 1"})) << c.points;
        EXPECT_EQ(font.textScale, 1.0f);
        EXPECT_EQ(font.textureWidth, c.side);
        EXPECT_EQ(font.textureHeight, c.side);
        ASSERT_FALSE(fake.requests.empty());
        EXPECT_EQ(fake.requests.back().emHeight, c.em) << c.points;
        EXPECT_EQ(fake.requests.back().faceName, "Arial");
        EXPECT_TRUE(fake.requests.back().bold);
        EXPECT_FALSE(fake.requests.back().italic);
    }
}

TEST_F(FontTest, SmallDeviceShrinksAtlasAndGlyphsTogether)
{
    device.maxWidth = 1024;
    BitmapFont font("Arial", 61, BitmapFont::Italic);
    ASSERT_EQ(S_OK, font.createGlyphTexture(&device));
    EXPECT_EQ(device.calls, (std::vector<std::string>{"CreateTexture 1024 1024 1 0 26 1"}));
    EXPECT_EQ(font.textScale, 0.5f);
    EXPECT_EQ(font.textureWidth, 1024u);
    // 61 points at 48 dots per inch: 40.67 pixels, rounded.
    EXPECT_EQ(fake.requests.back().emHeight, 41);
    EXPECT_FALSE(fake.requests.back().bold);
    EXPECT_TRUE(fake.requests.back().italic);
}

TEST_F(FontTest, FaceNameKeepsAtMostSeventyNineCharacters)
{
    const std::string longName(100, 'x');
    BitmapFont font(longName.c_str(), 20, 0);
    EXPECT_EQ(std::string(font.faceName), std::string(79, 'x'));
    EXPECT_EQ(font.glyphSpacing, 0u);
    EXPECT_EQ(font.device, nullptr);
}

TEST_F(FontTest, GlyphCellsArePackedInCodeOrderWithMarginsAndWrap)
{
    BitmapFont font("Arial", 20, BitmapFont::Bold);
    ASSERT_EQ(S_OK, font.createGlyphTexture(&device));
    // Cell height 12: margins of ceil(12 x 0.3) = 4 texels on each side.
    EXPECT_EQ(font.glyphSpacing, 4u);
    ASSERT_EQ(fake.drawn.size(), 95u);
    const float t = 512.0f;
    // The space (6 wide) at the left edge, then '!' (7 wide) after two margins.
    EXPECT_EQ(fake.drawn[0].c, ' ');
    EXPECT_EQ(fake.drawn[0].x, 4);
    EXPECT_EQ(fake.drawn[0].y, 0);
    EXPECT_FLOAT_EQ(font.glyphs[0].left, 0.0f);
    EXPECT_FLOAT_EQ(font.glyphs[0].top, 0.0f);
    EXPECT_FLOAT_EQ(font.glyphs[0].right, 14.0f / t);
    EXPECT_FLOAT_EQ(font.glyphs[0].bottom, 12.0f / t);
    EXPECT_EQ(fake.drawn[1].x, 18);
    EXPECT_FLOAT_EQ(font.glyphs[1].left, 14.0f / t);
    EXPECT_FLOAT_EQ(font.glyphs[1].right, 29.0f / t);

    // Rows wrap before a glyph would pass the right edge: 'D' opens the second row, 13 texels
    // (cell + 1) lower, 'h' the third; '~' ends it.
    EXPECT_EQ(fake.drawn['C' - 32].y, 0);
    EXPECT_EQ(fake.drawn['D' - 32].x, 4);
    EXPECT_EQ(fake.drawn['D' - 32].y, 13);
    EXPECT_FLOAT_EQ(font.glyphs['D' - 32].left, 0.0f);
    EXPECT_FLOAT_EQ(font.glyphs['D' - 32].top, 13.0f / t);
    EXPECT_EQ(fake.drawn['g' - 32].y, 13);
    EXPECT_EQ(fake.drawn['h' - 32].y, 26);
    EXPECT_EQ(fake.drawn['~' - 32].y, 26);
    // Each cell is its character's width plus both margins, a cell high, drawn in code order
    // where its rectangle says, and no cell passes the right edge.
    for (int c = 32; c < 127; ++c) {
        const GlyphRect& g = font.glyphs[c - 32];
        const FakeRasterizerScope::DrawnGlyph& d = fake.drawn[size_t(c - 32)];
        EXPECT_EQ(d.c, c);
        EXPECT_FLOAT_EQ((g.right - g.left) * t, float(FakeRasterizerScope::widthOf(uint8_t(c)) + 8)) << char(c);
        EXPECT_FLOAT_EQ((g.bottom - g.top) * t, 12.0f) << char(c);
        EXPECT_FLOAT_EQ(g.left * t + 4, float(d.x)) << char(c);
        EXPECT_FLOAT_EQ(g.top * t, float(d.y)) << char(c);
        EXPECT_LE(g.right, 1.0f);
    }
    // Code 127 is never painted and has no cell.
    EXPECT_EQ(font.glyphs[95].left, 0.0f);
    EXPECT_EQ(font.glyphs[95].right, 0.0f);
    EXPECT_EQ(font.glyphs[95].bottom, 0.0f);
}

TEST_F(FontTest, MarginIsTakenInSinglePrecision)
{
    // 10 x 0.3f is exactly 3 in single precision (3.0000000000000004 in double).
    fake.cellHeight = 10;
    BitmapFont font("Arial", 20, BitmapFont::Bold);
    ASSERT_EQ(S_OK, font.createGlyphTexture(&device));
    EXPECT_EQ(font.glyphSpacing, 3u);
}

TEST_F(FontTest, CoverageBecomesFourBitAlphaOverWhite)
{
    // In the cell of '!': blue 0x00, 0x0F, 0x10, 0x7F, 0xFF, and a pixel with red and green but no blue.
    const uint32_t painted[6] = {0x000000, 0x00000F, 0x000010, 0x00007F, 0x0000FF, 0xFFFF00};
    fake.pixel = [&](unsigned char c, int column, int row) -> uint32_t {
        if (c != '!' || row != 5 || column >= 6) return 0;
        return painted[column];
    };
    BitmapFont font("Arial", 20, BitmapFont::Bold);
    ASSERT_EQ(S_OK, font.createGlyphTexture(&device));
    const std::span<const uint8_t> texels = font.glyphTexture->levelData(0);
    ASSERT_EQ(texels.size(), 512u * 512u * 2u);
    auto texel = [&](int x, int y) {
        uint16_t v;
        std::memcpy(&v, &texels[(size_t(y) * 512 + size_t(x)) * 2], 2);
        return v;
    };
    const uint16_t want[6] = {0x0000, 0x0000, 0x1FFF, 0x7FFF, 0xFFFF, 0x0000};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(texel(18 + i, 5), want[i]) << i;
    EXPECT_EQ(texel(18, 4), 0x0000);
    EXPECT_EQ(font.glyphTexture->levelCount(), 1u);
}

// ---- Failures: a font that cannot be made draws nothing ----

TEST_F(FontTest, NoTextureMeansNoGlyphsAndNoText)
{
    device.refuseTextures = true;
    BitmapFont font("Arial", 20, BitmapFont::Bold);
    EXPECT_EQ(E_FAIL, font.createGlyphTexture(&device));
    EXPECT_TRUE(fake.requests.empty());  // nothing rasterised
    EXPECT_EQ(S_OK, font.createDrawResources());
    device.calls.clear();
    EXPECT_EQ(E_FAIL, font.drawText(-1, -1, 0, 0.03f, 0.02f, 0xFFFFFFFF, "text", 0));
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(FontTest, UnresolvableFaceWarnsOnceNamingItAndDrawsNothing)
{
    fake.refuse = true;
    BitmapFont font("Nonexistent Face", 20, BitmapFont::Bold);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(E_FAIL, font.createGlyphTexture(&device));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"Nonexistent Face\""), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(font.glyphTexture, nullptr);
    font.createDrawResources();
    device.calls.clear();
    EXPECT_EQ(E_FAIL, font.drawText(-1, -1, 0, 0.03f, 0.02f, 0xFFFFFFFF, "text", 0));
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(FontTest, WithoutDeviceOrDrawResourcesDrawTextFails)
{
    BitmapFont fresh("Arial", 20, BitmapFont::Bold);
    EXPECT_EQ(E_FAIL, fresh.drawText(0, 0, 0, 0.03f, 0.02f, 0xFFFFFFFF, "A", 0));
    EXPECT_EQ(E_FAIL, fresh.createDrawResources());

    device.refuseVertexBuffers = true;
    BitmapFont font("Arial", 20, BitmapFont::Bold);
    ASSERT_EQ(S_OK, font.createGlyphTexture(&device));
    EXPECT_EQ(E_FAIL, font.createDrawResources());
    EXPECT_EQ(font.savedStateBlock, nullptr);
    EXPECT_EQ(font.drawStateBlock, nullptr);
    device.calls.clear();
    EXPECT_EQ(E_FAIL, font.drawText(0, 0, 0, 0.03f, 0.02f, 0xFFFFFFFF, "A", 0));
    EXPECT_TRUE(device.calls.empty());

    // Released: the device is forgotten, and drawing fails again.
    device.refuseVertexBuffers = false;
    ASSERT_EQ(S_OK, font.createDrawResources());
    EXPECT_EQ(S_OK, font.drawText(0, 0, 0, 0.03f, 0.02f, 0xFFFFFFFF, "A", 0));
    EXPECT_EQ(S_OK, font.releaseGlyphTexture());
    EXPECT_EQ(font.device, nullptr);
    EXPECT_EQ(font.glyphTexture, nullptr);
    EXPECT_EQ(E_FAIL, font.drawText(0, 0, 0, 0.03f, 0.02f, 0xFFFFFFFF, "A", 0));
    EXPECT_EQ(S_OK, font.releaseDrawResources());
    EXPECT_EQ(font.vertexBuffer, nullptr);
}

TEST_F(FontTest, DrawResourcesRecordTheFontStatesTwice)
{
    for (const uint32_t flags : {BitmapFont::Bold, BitmapFont::Bold | BitmapFont::DepthTest}) {
        RecordingDevice d;
        BitmapFont font("Arial", 20, flags);
        ASSERT_EQ(S_OK, font.createGlyphTexture(&d));
        d.calls.clear();
        ASSERT_EQ(S_OK, font.createDrawResources());
        // Recording sets nothing on the device.
        EXPECT_EQ(d.calls, (std::vector<std::string>{"CreateVertexBuffer 9600 520 0 0"}));
        for (StateBlock* block : {font.savedStateBlock.get(), font.drawStateBlock.get()}) {
            ASSERT_NE(block, nullptr);
            const auto& entries = block->entries();
            ASSERT_EQ(entries.size(), std::size(fontStates));
            for (size_t i = 0; i < entries.size(); ++i) {
                EXPECT_EQ(entries[i].kind, fontStates[i].kind) << i;
                EXPECT_EQ(entries[i].index, fontStates[i].index) << i;
                EXPECT_EQ(entries[i].type, fontStates[i].type) << i;
                if (entries[i].kind == StateBlock::Kind::Texture)
                    EXPECT_EQ(entries[i].texture, font.glyphTexture.get());
                else if (entries[i].type == D3DRS_ZENABLE && entries[i].kind == StateBlock::Kind::Render)
                    EXPECT_EQ(entries[i].value, (flags & BitmapFont::DepthTest) ? 1u : 0u);
                else
                    EXPECT_EQ(entries[i].value, fontStateValues[i]) << i;
            }
        }
    }
}

// ---- Drawing ----

class DrawTextTest : public FontTest {
protected:
    void SetUp() override
    {
        FontTest::SetUp();
        ASSERT_EQ(S_OK, font.createGlyphTexture(&device));
        ASSERT_EQ(S_OK, font.createDrawResources());
        device.recordUnlocks = true;
        // The caller's states differ from the font's in every one of them.
        other = device.createTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
        device.setTexture(0, other.get());
        device.setRenderState(D3DRS_ZENABLE, 1);
        device.setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        device.setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        device.setRenderState(D3DRS_ALPHAREF, 0x80);
        device.setTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device.setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device.setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device.setSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device.calls.clear();
        device.draws.clear();
    }
    // Draws at the head-up display's place and scales.
    HResult draw(const char* text, float xScale = 0.03f, float yScale = 0.02f, uint32_t flags = 0)
    {
        return font.drawText(-0.97f, -0.97f, 0.9f, xScale, yScale, 0xFF646464, text, flags);
    }
    std::vector<FontVertex> allVertices() const
    {
        std::vector<FontVertex> all;
        for (const auto& d : device.draws)
            for (const FontVertex& v : verticesOf(d)) all.push_back(v);
        return all;
    }
    BitmapFont font{"Arial", 20, BitmapFont::Bold};
    std::unique_ptr<Texture> other;
};

TEST_F(DrawTextTest, EmptyStringLocksUnlocksDrawsNothingAndRestoresTheCallersStates)
{
    const std::vector<uint64_t> before = snapshot(device, font.glyphTexture.get());
    EXPECT_EQ(S_OK, draw(""));
    EXPECT_EQ(device.callsStartingWith("DrawPrimitive").size(), 0u);
    EXPECT_EQ(device.callsStartingWith("UnlockVertexBuffer"), (std::vector<std::string>{"UnlockVertexBuffer 0 9600 1"}));
    // In between, the font's own states and its vertex input.
    const int fvf = device.find("SetFVF 324");
    ASSERT_GE(fvf, 0);
    EXPECT_EQ(device.calls[size_t(fvf) + 1], "SetPixelShader null");
    EXPECT_EQ(device.calls[size_t(fvf) + 2], "SetStreamSource 0 ptr 0 28");
    EXPECT_GT(device.find("SetRenderState 7 0"), -1);
    EXPECT_LT(device.find("SetRenderState 7 0"), fvf);
    EXPECT_EQ(snapshot(device, font.glyphTexture.get()), before);
    EXPECT_EQ(device.texture(0), other.get());
}

TEST_F(DrawTextTest, OneGlyphIsTwoTrianglesOfItsCellAtThePen)
{
    ASSERT_EQ(S_OK, draw("A"));
    ASSERT_EQ(device.callsStartingWith("DrawPrimitive"), (std::vector<std::string>{"DrawPrimitive 4 0 2"}));
    const std::vector<FontVertex> v = allVertices();
    ASSERT_EQ(v.size(), 6u);
    // L = 12 texels; 0.03 and 0.02 of 600 pixels give 1.5 and 1 pixels per texel.
    const GlyphRect& g = font.glyphs['A' - 32];
    const float w = (g.right - g.left) * 512.0f * 1.5f, h = 12.0f;
    const float px = 12.0f - 4.0f * 1.5f, py = 9.0f;  // less the scaled left margin
    const float want[6][4] = {{px, py + h, g.left, g.bottom},  {px, py, g.left, g.top},
                              {px + w, py + h, g.right, g.bottom}, {px + w, py, g.right, g.top},
                              {px + w, py + h, g.right, g.bottom}, {px, py, g.left, g.top}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(v[i].x, want[i][0] - 0.5f, 1e-3f) << i;
        EXPECT_NEAR(v[i].y, want[i][1] - 0.5f, 1e-3f) << i;
        EXPECT_EQ(v[i].z, 0.9f);
        EXPECT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].colour, 0xFF646464u);
        EXPECT_EQ(v[i].u, want[i][2]) << i;
        EXPECT_EQ(v[i].v, want[i][3]) << i;
    }
    EXPECT_EQ(device.draws[0].fvf, 0x144u);
    EXPECT_EQ(device.draws[0].stride, 28u);
}

TEST_F(DrawTextTest, LinearFilterFlagSwitchesSamplerZeroForTheDrawOnly)
{
    // Between the font's states going in and its draw: point sampling, or linear when asked.
    auto filtersAtDraw = [&](uint32_t flags) {
        device.calls.clear();
        EXPECT_EQ(S_OK, draw("A", 0.03f, 0.02f, flags));
        const int begin = device.find("SetFVF 324"), end = device.find("DrawPrimitive 4 0 2");
        EXPECT_GE(begin, 0);
        EXPECT_GT(end, begin);
        std::vector<std::string> set;
        for (int i = begin; i < end; ++i)
            if (device.calls[size_t(i)].rfind("SetSamplerState", 0) == 0) set.push_back(device.calls[size_t(i)]);
        return set;
    };
    EXPECT_TRUE(filtersAtDraw(0).empty());
    EXPECT_EQ(device.samplerState(0, D3DSAMP_MINFILTER), D3DTEXF_LINEAR);  // the caller's again
    EXPECT_EQ(filtersAtDraw(BitmapFont::LinearFilter),
              (std::vector<std::string>{"SetSamplerState 0 6 2", "SetSamplerState 0 5 2"}));
    EXPECT_EQ(device.samplerState(0, D3DSAMP_MAGFILTER), D3DTEXF_POINT);  // the caller's again
}

TEST_F(DrawTextTest, SpacesAdvanceThePenWithoutVertices)
{
    ASSERT_EQ(S_OK, draw("   "));
    EXPECT_TRUE(device.draws.empty());
    ASSERT_EQ(S_OK, draw("A  B"));
    const std::vector<FontVertex> v = allVertices();
    ASSERT_EQ(v.size(), 12u);
    // Pen advance per glyph = its own scaled width; the space's is 6 texels x 1.5.
    const float advanceA = float(FakeRasterizerScope::widthOf('A')) * 1.5f;
    EXPECT_NEAR(v[6].x - v[0].x, advanceA + 2 * 9.0f, 1e-3f);
}

TEST_F(DrawTextTest, FiftyOneGlyphsDrawAHundredTrianglesThenTwo)
{
    const std::string text(51, 'x');
    ASSERT_EQ(S_OK, draw(text.c_str()));
    EXPECT_EQ(device.callsStartingWith("DrawPrimitive"),
              (std::vector<std::string>{"DrawPrimitive 4 0 100", "DrawPrimitive 4 0 2"}));
    // Each batch was written into a freshly discarded buffer.
    EXPECT_EQ(device.callsStartingWith("UnlockVertexBuffer"),
              (std::vector<std::string>{"UnlockVertexBuffer 0 9600 1", "UnlockVertexBuffer 0 9600 1"}));
    ASSERT_EQ(device.draws.size(), 2u);
    EXPECT_EQ(device.draws[0].vertices.size(), 300u * 28u);
    const std::vector<FontVertex> first = verticesOf(device.draws[0]), second = verticesOf(device.draws[1]);
    const float advance = float(FakeRasterizerScope::widthOf('x')) * 1.5f;
    EXPECT_NEAR(second[0].x - first[0].x, 50 * advance, 1e-2f);

    // 50 glyphs fill one batch exactly and leave nothing for a second draw.
    device.calls.clear();
    ASSERT_EQ(S_OK, draw(std::string(50, 'x').c_str()));
    EXPECT_EQ(device.callsStartingWith("DrawPrimitive"), (std::vector<std::string>{"DrawPrimitive 4 0 100"}));
}

TEST_F(DrawTextTest, NewlineReturnsToTheLineStartOneLineHeightDown)
{
    // Line height is yScale x H whatever the cell height: 0.05 x 600 = 30 pixels.
    ASSERT_EQ(S_OK, draw("AB\nC", 0.03f, 0.05f));
    const std::vector<FontVertex> v = allVertices();
    ASSERT_EQ(v.size(), 18u);
    EXPECT_EQ(v[12].x, v[0].x);
    EXPECT_NEAR(v[13].y - v[1].y, 30.0f, 1e-3f);
    EXPECT_NEAR(v[1].y, 9.0f - 0.5f, 1e-3f);
}

TEST_F(DrawTextTest, BytesWithoutGlyphsAreSkippedWithoutMovingThePen)
{
    std::string unprintable;
    for (int c = 1; c < 256; ++c)
        if ((c < 32 && c != '\n') || c >= 127) unprintable += char(c);
    ASSERT_EQ(S_OK, draw(unprintable.c_str()));
    EXPECT_TRUE(device.draws.empty());

    ASSERT_EQ(S_OK, draw("AB"));
    const std::vector<FontVertex> plain = allVertices();
    device.draws.clear();
    ASSERT_EQ(S_OK, draw(("A" + unprintable + "B").c_str()));
    const std::vector<FontVertex> mixed = allVertices();
    ASSERT_EQ(mixed.size(), plain.size());
    EXPECT_EQ(0, std::memcmp(mixed.data(), plain.data(), plain.size() * sizeof(FontVertex)));
}

// ---- The head-up display ----

namespace {

// Reads one drawText call back from its vertices: glyphs by their cells, blanks by the gaps the
// pen left between them.
struct DecodedLine {
    std::string text;
    float x, y, z, xScale, yScale;
    uint32_t colour;
};

DecodedLine decode(const BitmapFont& font, const std::vector<FontVertex>& v)
{
    DecodedLine line{};
    if (v.empty()) return line;
    const float tw = float(font.textureWidth), L = (font.glyphs[0].bottom - font.glyphs[0].top) * float(font.textureHeight);
    const float W = float(appSettings.screenWidth), H = float(appSettings.screenHeight);
    const float sx = (v[3].x - v[1].x) / ((v[3].u - v[1].u) * tw);
    const float margin = float(font.glyphSpacing) * sx;
    const float spaceAdvance = (font.glyphs[0].right - font.glyphs[0].left) * tw * sx - 2 * margin;
    float expected = v[1].x;
    for (size_t q = 0; q + 5 < v.size(); q += 6) {
        int c = -1;
        for (int i = 0; i < 95; ++i)
            if (font.glyphs[i].left == v[q + 1].u && font.glyphs[i].top == v[q + 1].v) c = i + 32;
        const int blanks = int(std::lround((v[q + 1].x - expected) / spaceAdvance));
        line.text += std::string(size_t(std::max(0, blanks)), ' ') + char(c);
        expected = v[q + 3].x - 2 * margin;
    }
    line.x = (v[1].x + 0.5f + margin) * 2.0f / W - 1.0f;
    line.y = (v[1].y + 0.5f) * 2.0f / H - 1.0f;
    line.z = v[0].z;
    line.colour = v[0].colour;
    line.xScale = sx * L / H;
    line.yScale = (v[0].y - v[1].y) / H;
    return line;
}

class Hud : public FontTest {
protected:
    void SetUp() override
    {
        FontTest::SetUp();
        resetKeyValues();
        clearFatalError();
        writeFile("TerrainTextures.txt", "Base 0\nDetail 0\nHeightMaps 0\n");
        hudFont = std::make_unique<BitmapFont>("Arial", 20, BitmapFont::Bold);
        ASSERT_EQ(S_OK, hudFont->createGlyphTexture(scope.operator->()));
        ASSERT_EQ(S_OK, hudFont->createDrawResources());
        createWorld();
        ASSERT_NE(theWorld, nullptr);
    }
    void TearDown() override
    {
        destroyWorld();
        hudFont.reset();
        resetKeyValues();
        FontTest::TearDown();
    }
    std::vector<DecodedLine> hudLines()
    {
        scope->calls.clear();
        scope->draws.clear();
        theWorld->drawHud();
        // The lines share draws: a quad whose top differs from the one before starts a new line.
        std::vector<std::vector<FontVertex>> quadsByLine;
        for (const auto& d : scope->draws) {
            const std::vector<FontVertex> v = verticesOf(d);
            for (size_t q = 0; q + 5 < v.size(); q += 6) {
                if (quadsByLine.empty() || quadsByLine.back()[1].y != v[q + 1].y) quadsByLine.emplace_back();
                quadsByLine.back().insert(quadsByLine.back().end(), v.begin() + long(q), v.begin() + long(q + 6));
            }
        }
        std::vector<DecodedLine> lines;
        for (const auto& quads : quadsByLine) lines.push_back(decode(*hudFont, quads));
        return lines;
    }
    TempDir dir;
    DeviceScope scope;
};

}  // namespace

TEST_F(Hud, ThreeLinesWithTheirKeysAndTheLiveSettings)
{
    const std::vector<DecodedLine> lines = hudLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "TimeFactor vb       0.2");
    EXPECT_EQ(lines[1].text, "Velocity nm          29.0");
    EXPECT_EQ(lines[2].text, "Anstellwinkel we  60.0");
    const float ys[3] = {-0.97f, -0.92f, -0.87f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(lines[size_t(i)].x, -0.97f, 1e-4f);
        EXPECT_NEAR(lines[size_t(i)].y, ys[i], 1e-4f);
        EXPECT_EQ(lines[size_t(i)].z, 0.9f);
        EXPECT_NEAR(lines[size_t(i)].xScale, 0.03f, 1e-5f);
        EXPECT_NEAR(lines[size_t(i)].yScale, 0.02f, 1e-5f);
        EXPECT_EQ(lines[size_t(i)].colour, 0xFF646464u);
    }
    // One draw with linear filtering for the three lines.
    EXPECT_EQ(scope->callsStartingWith("SetSamplerState 0 6 2").size(), 1u);
    EXPECT_EQ(scope->draws.size(), 1u);
    EXPECT_EQ(std::string(textBuffer), "Anstellwinkel we  60.0");

    // Two presses of B as the key applies them, in single precision; then the top of the range.
    timeFactor += 0.1f;
    timeFactor += 0.1f;
    EXPECT_EQ(hudLines()[0].text, "TimeFactor vb       0.4");
    timeFactor = 1.1000001f;
    speedSetting = 60.0f;
    angleSetting = 10.0f;
    const std::vector<DecodedLine> top = hudLines();
    EXPECT_EQ(top[0].text, "TimeFactor vb       1.1");
    EXPECT_EQ(top[1].text, "Velocity nm          60.0");
    EXPECT_EQ(top[2].text, "Anstellwinkel we  10.0");
}

TEST_F(Hud, DrawnBeforeTheSceneAndBoundedForAnyValue)
{
    scope->calls.clear();
    theWorld->frame();
    const int text = scope->find("SetFVF 324");
    ASSERT_GE(text, 0);
    for (size_t i = 0; i < size_t(text); ++i) EXPECT_NE(scope->calls[i].rfind("DrawPrimitive", 0), 0u) << scope->calls[i];

    // The largest float prints 39 digits before the point: cut nowhere, and the buffer ends in time.
    timeFactor = 3.4e38f;
    std::memset(textBuffer, 'z', textBufferSize);
    const std::vector<DecodedLine> lines = hudLines();
    EXPECT_LT(std::strlen(textBuffer), textBufferSize);
    EXPECT_EQ(lines[0].text.rfind("TimeFactor vb       339999995214", 0), 0u) << lines[0].text;
}

TEST_F(Hud, WithoutAFontNothingIsDrawn)
{
    hudFont.reset();
    EXPECT_TRUE(hudLines().empty());
    EXPECT_TRUE(scope->calls.empty());
}

// ---- Lifecycle ----

TEST_F(FontTest, DeviceSetUpPreparesBothFontsInOrderAndShutDownReleasesThem)
{
    TempDir dir;
    writeFixtureData(dir.path());
    appSettings = AppSettings{};
    ASSERT_TRUE(loadResolutionSettings());
    clearFatalError();
    setGraphicsSystemFactory([] { return std::make_unique<RecordingGraphicsSystem>(); });
    createFonts();
    ASSERT_NE(hudFont, nullptr);
    ASSERT_NE(smallFont, nullptr);
    EXPECT_STREQ(hudFont->faceName, "Arial");
    EXPECT_EQ(hudFont->pointHeight, 20u);
    EXPECT_EQ(smallFont->pointHeight, 10u);
    EXPECT_EQ(hudFont->styleFlags, BitmapFont::Bold);
    EXPECT_EQ(smallFont->styleFlags, BitmapFont::Bold);
    EXPECT_EQ(hudFont->device, nullptr);  // no device resources before the device

    ASSERT_TRUE(createGraphicsDevice()) << fatalErrorMessage();
    auto* rec = static_cast<RecordingDevice*>(graphicsDevice.get());
    const std::vector<std::string> creations = rec->callsStartingWith("Create");
    EXPECT_EQ(creations, (std::vector<std::string>{"CreateTexture 512 512 1 0 26 1", "CreateVertexBuffer 9600 520 0 0",
                                                   "CreateTexture 256 256 1 0 26 1", "CreateVertexBuffer 9600 520 0 0"}));
    EXPECT_EQ(hudFont->device, graphicsDevice.get());
    // After the base states.
    EXPECT_LT(rec->find("SetRenderState 7 1"), rec->find("CreateTexture 512 512 1 0 26 1"));
    ASSERT_EQ(fake.requests.size(), 2u);
    EXPECT_EQ(fake.requests[0].emHeight, 27);
    EXPECT_EQ(fake.requests[1].emHeight, 13);

    releaseGraphics();
    EXPECT_EQ(hudFont, nullptr);
    EXPECT_EQ(smallFont, nullptr);
    EXPECT_EQ(graphicsDevice, nullptr);
    releaseGraphics();  // nothing left: harmless
    setGraphicsSystemFactory(nullptr);
}
