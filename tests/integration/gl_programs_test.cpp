// The programs the OpenGL device specialises per state combination, against its general one.

#include "gl_device_fixture.h"

namespace {

// The terrain's vertex: position, normal, two coordinate sets.
struct TerrainVertex {
    float x, y, z, nx, ny, nz, u0, v0, u1, v1;
};
constexpr uint32_t terrainFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2;
static_assert(sizeof(TerrainVertex) == 40 && terrainFvf == 0x212);

struct ColoredVertex {
    float x, y, z;
    uint32_t diffuse;
};
struct BallVertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
struct TextVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};

// Deterministic noise, so both programs see the same input.
uint32_t noise(uint32_t& seed)
{
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

// The scene states of the program, each drawn with the general program and with the specialised
// ones; the pictures must match byte for byte.
class ProgramVariants : public GlDeviceTest {
protected:
    void SetUp() override
    {
        GlDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        gl = dynamic_cast<GlDevice*>(device.get());
        ASSERT_NE(nullptr, gl);
        // The device's base states: clockwise culling, lighting, depth test, specular.
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        device->setRenderState(D3DRS_LIGHTING, 1);
        device->setRenderState(D3DRS_SPECULARENABLE, 1);
        for (uint32_t s = 0; s < 2; ++s) {
            device->setSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            device->setSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        }
        // A perspective camera looking down on the origin, as the terrain is seen.
        device->setTransform(D3DTS_VIEW, lookAtLH({0, 6, -8}, {0, 0, 0}, {0, 1, 0}));
        device->setTransform(D3DTS_PROJECTION, perspectiveFovLH(0.9f, 64.0f / 48.0f, 0.5f, 100.0f));
        // The two scene lights: slanting and straight down, dim diffuse and specular.
        Light light{};
        light.type = D3DLIGHT_DIRECTIONAL;
        light.diffuse = {0.1f, 0.1f, 0.1f, 0.0f};
        light.specular = {0.1f, 0.1f, 0.1f, 0.0f};
        light.direction = {-0.766f, 0.0f, 0.643f};
        device->setLight(0, light);
        device->lightEnable(0, true);
        light.direction = {0.0f, -1.0f, 0.0f};
        device->setLight(1, light);
        device->lightEnable(1, true);
    }

    // A texture of noisy texels with a full mip chain; transparent texels where keyed.
    Texture* noiseTexture(uint32_t seed, uint32_t format, bool keyed)
    {
        const uint32_t side = 16;
        textures.push_back(device->createTexture(side, side, 0, 0, format, D3DPOOL_MANAGED));
        Texture* t = textures.back().get();
        for (uint32_t level = 0; level < t->levelCount(); ++level) {
            const LockedRect r = t->lockRect(level);
            const uint32_t texels = t->width(level) * t->height(level);
            for (uint32_t i = 0; i < texels; ++i) {
                const uint32_t n = noise(seed);
                if (format == D3DFMT_A4R4G4B4) {
                    const uint16_t texel = uint16_t((keyed && (n & 3) == 0 ? 0 : 0xF000) | (n & 0x0FFF));
                    std::memcpy(r.bits + i * 2, &texel, 2);
                } else {
                    const uint32_t texel = (keyed && (n & 3) == 0 ? 0 : 0xFF000000u) | (n & 0xFFFFFF);
                    std::memcpy(r.bits + i * 4, &texel, 4);
                }
            }
            t->unlockRect(level);
        }
        return t;
    }

    // A wavy grid of 8 x 8 quads around the origin, clockwise from above as the land tiles are.
    void drawTerrainGrid(float height, uint32_t seed)
    {
        std::vector<TerrainVertex> vertices;
        for (int j = 0; j <= 8; ++j)
            for (int i = 0; i <= 8; ++i) {
                const float nx = float(int(noise(seed) % 200) - 100) / 400.0f;
                const float nz = float(int(noise(seed) % 200) - 100) / 400.0f;
                const Vec3 n = unit(Vec3{nx, 1.0f, nz});
                vertices.push_back({float(i) - 4.0f, height + float(noise(seed) % 100) / 200.0f, float(j) - 4.0f, n.x, n.y,
                                    n.z, float(i) * 0.5f, float(j) * 0.5f, float(i) * 2.0f, float(j) * 2.0f});
            }
        std::vector<uint16_t> indices;
        for (uint16_t j = 0; j < 8; ++j)
            for (uint16_t i = 0; i < 8; ++i) {
                const uint16_t a = uint16_t(j * 9 + i), b = uint16_t(a + 1), c = uint16_t(a + 9), d = uint16_t(c + 1);
                for (uint16_t v : {a, c, b, b, c, d}) indices.push_back(v);
            }
        VertexBuffer* vb = vertexBuffer(terrainFvf, vertices);
        indexBuffers.push_back(device->createIndexBuffer(uint32_t(indices.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                                         D3DPOOL_MANAGED));
        std::memcpy(indexBuffers.back()->lock(0, 0, 0), indices.data(), indices.size() * 2);
        indexBuffers.back()->unlock();
        device->setStreamSource(0, vb, 0, sizeof(TerrainVertex));
        device->setFVF(terrainFvf);
        device->setIndices(indexBuffers.back().get());
        device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 81, 0, 128);
    }

    // lit: the points take the scene's lights and material, so their colours are no longer
    // whole steps of 1/255.
    void stars(bool lit = false)
    {
        uint32_t seed = 7;
        std::vector<ColoredVertex> points;
        for (int i = 0; i < 600; ++i) {
            const uint32_t grey = 200 + noise(seed) % 55;
            points.push_back({float(noise(seed) % 600) / 100.0f - 3.0f, float(noise(seed) % 500) / 100.0f - 2.5f, 5.0f,
                              0xFF000000u | grey << 16 | grey << 8 | grey});
        }
        device->setRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->setRenderState(D3DRS_LIGHTING, lit ? 1 : 0);
        device->setRenderState(D3DRS_AMBIENT, lit ? 0xFF5A3C1Eu : 0u);
        const Material before = device->material();
        Material dim{};
        dim.ambient = {0.77f, 0.61f, 0.93f, 1.0f};
        if (lit) device->setMaterial(dim);
        const Matrix4 view = device->transform(D3DTS_VIEW);
        device->setTransform(D3DTS_VIEW, identity());
        draw(D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_POINTLIST, uint32_t(points.size()), points);
        if (lit) {
            const RgbaImage shot = frame();
            EXPECT_TRUE(std::any_of(shot.pixels.begin(), shot.pixels.end(), [](uint8_t v) { return v % 255 != 0; }))
                << "the lit points came out black or white";
        }
        device->setMaterial(before);
        device->setRenderState(D3DRS_AMBIENT, 0u);
        device->setTransform(D3DTS_VIEW, view);
        device->setRenderState(D3DRS_LIGHTING, 1);
        device->setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    }

    void land(bool detail)
    {
        Material material{};
        material.diffuse = {5.0f, 5.0f, 5.0f, 0.0f};
        device->setMaterial(material);
        for (uint32_t s = 0; s < 2; ++s) device->setSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device->setTexture(0, noiseTexture(11, D3DFMT_X8R8G8B8, false));
        if (detail) {
            device->setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
            device->setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->setTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
            device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSIGNED);
            device->setTexture(1, noiseTexture(12, D3DFMT_X8R8G8B8, false));
        }
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        drawTerrainGrid(0.0f, 3);
        restoreTerrainStates();
    }

    void water(bool detail)
    {
        Material material{};
        material.diffuse = {0.2f * 0.6f, 2.5f * 0.6f, 2.5f * 0.6f, 0.7f};
        device->setMaterial(material);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        for (uint32_t s = 0; s < 2; ++s) device->setSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
        device->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->setTexture(0, noiseTexture(21, D3DFMT_A8R8G8B8, true));
        if (detail) {
            device->setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
            device->setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->setTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
            device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSIGNED);
            device->setTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            device->setTexture(1, noiseTexture(22, D3DFMT_A8R8G8B8, true));
        }
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        drawTerrainGrid(0.3f, 5);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        device->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->setTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        restoreTerrainStates();
    }

    void restoreTerrainStates()
    {
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        device->setTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        device->setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        for (uint32_t s = 0; s < 2; ++s) device->setSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->setTexture(0, nullptr);
        device->setTexture(1, nullptr);
    }

    void ball(bool textured)
    {
        device->setRenderState(D3DRS_LIGHTING, 0);
        device->setRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->setTexture(0, textured ? noiseTexture(31, D3DFMT_A8R8G8B8, true) : nullptr);
        const uint32_t c = 0xFFFFFFFF;
        draw(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPT_TRIANGLESTRIP, 2,
             std::vector<BallVertex>{{-1.5f, 2.5f, 0, c, 0, 0}, {-1.5f, -0.5f, 0, c, 0, 1}, {1.5f, 2.5f, 0, c, 1, 0},
                                     {1.5f, -0.5f, 0, c, 1, 1}});
        device->setTexture(0, nullptr);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        device->setRenderState(D3DRS_LIGHTING, 1);
        device->setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    }

    void text()
    {
        device->setRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->setRenderState(D3DRS_ALPHATESTENABLE, 1);
        device->setRenderState(D3DRS_ALPHAREF, 8);
        device->setRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->setTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->setTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->setTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->setTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        device->setTexture(0, noiseTexture(41, D3DFMT_A4R4G4B4, true));
        const uint32_t c = 0xFFFFFF00;
        draw(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPT_TRIANGLELIST, 2,
             std::vector<TextVertex>{{2, 2, 0, 1, c, 0, 0}, {30, 2, 0, 1, c, 1, 0}, {2, 20, 0, 1, c, 0, 1},
                                     {30, 2, 0, 1, c, 1, 0}, {30, 20, 0, 1, c, 1, 1}, {2, 20, 0, 1, c, 0, 1}});
        device->setRenderState(D3DRS_ALPHATESTENABLE, 0);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        device->setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        // As the font's state block puts back what it found.
        device->setTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->setTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        device->setTexture(0, nullptr);
    }

    void expectSameWithBothPrograms(const char* what, const std::function<void()>& scene)
    {
        SCOPED_TRACE(what);
        RgbaImage pictures[2];
        for (int specialised = 0; specialised < 2; ++specialised) {
            gl->setSpecialisedPrograms(specialised != 0);
            const size_t programsBefore = gl->specialisedProgramCount();
            device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF64CCFF, 1.0f, 0);
            scene();
            pictures[specialised] = frame();
            if (specialised) {
                EXPECT_TRUE(gl->lastDrawSpecialised());
            } else {
                EXPECT_FALSE(gl->lastDrawSpecialised());
                EXPECT_EQ(programsBefore, gl->specialisedProgramCount());
            }
        }
        ASSERT_EQ(pictures[0].pixels.size(), pictures[1].pixels.size());
        size_t differing = 0, first = 0;
        for (size_t i = 0; i < pictures[0].pixels.size(); i += 4)
            if (std::memcmp(&pictures[0].pixels[i], &pictures[1].pixels[i], 3) != 0 && differing++ == 0) first = i / 4;
        EXPECT_EQ(differing, 0u) << "first at (" << first % screenWidth << ", " << first / screenWidth << "): general "
                                 << at(pictures[0], int(first % screenWidth), int(first / screenWidth)).r << ", specialised "
                                 << at(pictures[1], int(first % screenWidth), int(first / screenWidth)).r;
        // Something was drawn over the sky.
        size_t sky = 0;
        for (size_t i = 0; i < pictures[1].pixels.size(); i += 4)
            sky += pictures[1].pixels[i] == 0x64 && pictures[1].pixels[i + 1] == 0xCC && pictures[1].pixels[i + 2] == 0xFF;
        EXPECT_LT(sky, pictures[1].pixels.size() / 4);
    }

    GlDevice* gl = nullptr;
    std::vector<std::unique_ptr<IndexBuffer>> indexBuffers;
};

}  // namespace

TEST_F(ProgramVariants, EachSceneStateDrawsTheSamePixelsAsTheGeneralProgram)
{
    expectSameWithBothPrograms("stars", [&] { stars(); });  // points draw with flat inputs
    expectSameWithBothPrograms("lit points", [&] { stars(true); });
    expectSameWithBothPrograms("land with detail", [&] { land(true); });
    expectSameWithBothPrograms("land without detail", [&] { land(false); });
    expectSameWithBothPrograms("water with detail", [&] { land(true), water(true); });
    expectSameWithBothPrograms("water without detail", [&] { land(false), water(false); });
    expectSameWithBothPrograms("textured ball", [&] { stars(), ball(true); });
    expectSameWithBothPrograms("ball without picture", [&] { ball(false); });
    expectSameWithBothPrograms("text", [&] { stars(), text(); });
    expectSameWithBothPrograms("land with a highlight", [&] {
        Light light = device->light(0);
        light.specular = {0.8f, 0.8f, 0.8f, 0.0f};
        light.direction = {0.0f, -0.6f, 0.8f};
        device->setLight(0, light);
        Material shiny{};
        shiny.diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
        shiny.specular = {1.0f, 0.9f, 0.8f, 1.0f};
        shiny.power = 4.0f;
        device->setMaterial(shiny);
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        drawTerrainGrid(0.0f, 3);
        restoreTerrainStates();
    });
    expectSameWithBothPrograms("whole frame", [&] { stars(), land(true), water(true), ball(true), text(); });
}

TEST_F(ProgramVariants, ProgramsAreBuiltInTheFirstFrameAndReusedAfterIt)
{
    size_t afterFirst = 0;
    for (int frame = 0; frame < 3; ++frame) {
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF64CCFF, 1.0f, 0);
        stars(), land(true), water(true), ball(true), text();
        if (frame == 0) afterFirst = gl->specialisedProgramCount();
    }
    EXPECT_EQ(afterFirst, 5u);  // stars, land, water, ball, text
    EXPECT_EQ(gl->specialisedProgramCount(), afterFirst);
}

TEST_F(ProgramVariants, SteadyFramesAllocateNothingAndSkipUnchangedState)
{
    // Resources made once, as the program does; each frame sets states and draws.
    Texture* land = noiseTexture(11, D3DFMT_X8R8G8B8, false);
    Texture* glyphs = noiseTexture(41, D3DFMT_A4R4G4B4, true);
    uint32_t seed = 9;
    std::vector<ColoredVertex> points;
    for (int i = 0; i < 100; ++i)
        points.push_back({float(noise(seed) % 600) / 100.0f - 3.0f, float(noise(seed) % 500) / 100.0f - 2.5f, 5.0f,
                          0xFFC8C8C8});
    VertexBuffer* stars = vertexBuffer(D3DFVF_XYZ | D3DFVF_DIFFUSE, points);
    VertexBuffer* quad = vertexBuffer(screenFvf, rectVertices(4, 4, 40, 30, 0xFFFFFFFF));
    auto frameOfDraws = [&] {
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF64CCFF, 1.0f, 0);
        device->setRenderState(D3DRS_LIGHTING, 0);
        device->setStreamSource(0, stars, 0, sizeof(ColoredVertex));
        device->setFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        device->drawPrimitive(D3DPT_POINTLIST, 0, 100);
        device->setTexture(0, land);
        device->setStreamSource(0, quad, 0, sizeof(ScreenVertex));
        device->setFVF(screenFvf);
        device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->setRenderState(D3DRS_ALPHATESTENABLE, 1);
        device->setTexture(0, glyphs);
        device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device->setRenderState(D3DRS_ALPHATESTENABLE, 0);
        device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        device->setTexture(0, nullptr);
        device->setRenderState(D3DRS_LIGHTING, 1);
    };
    const long start = allocationsSoFar();
    frameOfDraws();  // the first frame builds programs and vertex arrays
    EXPECT_GT(allocationsSoFar(), start);
    const RgbaImage first = frame();
    const long before = allocationsSoFar();
    for (int i = 0; i < 3; ++i) frameOfDraws();
    EXPECT_EQ(allocationsSoFar() - before, 0);
    EXPECT_EQ(first.pixels, frame().pixels);
    EXPECT_EQ(gl->specialisedProgramCount(), 3u);
}

namespace {

// Counts the calls the device makes to the OpenGL functions that change state or upload uniform
// data, by putting counting wrappers into libepoxy's dispatch pointers for as long as it lives.
class GlStateCalls {
public:
    GlStateCalls()
    {
        wrap(epoxy_glUseProgram, realUseProgram, "glUseProgram",
             [](GLuint a) { ++count("glUseProgram"), realUseProgram(a); });
        wrap(epoxy_glBufferSubData, realBufferSubData, "glBufferSubData",
             [](GLenum a, GLintptr b, GLsizeiptr c, const void* d) {
                 ++count("glBufferSubData");
                 realBufferSubData(a, b, c, d);
             });
        wrap(epoxy_glBindTexture, realBindTexture, "glBindTexture",
             [](GLenum a, GLuint b) { ++count("glBindTexture"), realBindTexture(a, b); });
        wrap(epoxy_glActiveTexture, realActiveTexture, "glActiveTexture",
             [](GLenum a) { ++count("glActiveTexture"), realActiveTexture(a); });
        wrap(epoxy_glEnable, realEnable, "glEnable", [](GLenum a) { ++count("glEnable"), realEnable(a); });
        wrap(epoxy_glDisable, realDisable, "glDisable", [](GLenum a) { ++count("glDisable"), realDisable(a); });
        wrap(epoxy_glBlendFunc, realBlendFunc, "glBlendFunc",
             [](GLenum a, GLenum b) { ++count("glBlendFunc"), realBlendFunc(a, b); });
        wrap(epoxy_glDepthMask, realDepthMask, "glDepthMask",
             [](GLboolean a) { ++count("glDepthMask"), realDepthMask(a); });
        wrap(epoxy_glDepthFunc, realDepthFunc, "glDepthFunc",
             [](GLenum a) { ++count("glDepthFunc"), realDepthFunc(a); });
        wrap(epoxy_glFrontFace, realFrontFace, "glFrontFace",
             [](GLenum a) { ++count("glFrontFace"), realFrontFace(a); });
        wrap(epoxy_glBindVertexArray, realBindVertexArray, "glBindVertexArray",
             [](GLuint a) { ++count("glBindVertexArray"), realBindVertexArray(a); });
        wrap(epoxy_glSamplerParameteri, realSamplerParameteri, "glSamplerParameteri",
             [](GLuint a, GLenum b, GLint c) { ++count("glSamplerParameteri"), realSamplerParameteri(a, b, c); });
    }
    ~GlStateCalls()
    {
        for (const auto& undo : undo_) undo();
    }

    // Every call counted since the last take, by name, and the count set back to none.
    std::map<std::string, int> take() { return std::exchange(counts(), {}); }

private:
    static std::map<std::string, int>& counts()
    {
        static std::map<std::string, int> made;
        return made;
    }
    static int& count(const char* name) { return counts()[name]; }

    // The real function comes from the context, not from the dispatch pointer, which may still be
    // libepoxy's resolver and would put the real function back in place of the wrapper.
    template <typename F, typename W>
    void wrap(F& dispatch, F& real, const char* name, W wrapper)
    {
        real = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
        const F before = dispatch;
        dispatch = wrapper;
        undo_.push_back([&dispatch, before] { dispatch = before; });
    }

    std::vector<std::function<void()>> undo_;
    static inline PFNGLUSEPROGRAMPROC realUseProgram;
    static inline PFNGLBUFFERSUBDATAPROC realBufferSubData;
    static inline PFNGLBINDTEXTUREPROC realBindTexture;
    static inline PFNGLACTIVETEXTUREPROC realActiveTexture;
    static inline PFNGLENABLEPROC realEnable;
    static inline PFNGLDISABLEPROC realDisable;
    static inline PFNGLBLENDFUNCPROC realBlendFunc;
    static inline PFNGLDEPTHMASKPROC realDepthMask;
    static inline PFNGLDEPTHFUNCPROC realDepthFunc;
    static inline PFNGLFRONTFACEPROC realFrontFace;
    static inline PFNGLBINDVERTEXARRAYPROC realBindVertexArray;
    static inline PFNGLSAMPLERPARAMETERIPROC realSamplerParameteri;
};

}  // namespace

TEST_F(ProgramVariants, OnlyStatesThatDifferReachOpenGl)
{
    Texture* land = noiseTexture(11, D3DFMT_X8R8G8B8, false);
    std::vector<ColoredVertex> points;
    uint32_t seed = 3;
    for (int i = 0; i < 50; ++i)
        points.push_back({float(noise(seed) % 600) / 100.0f - 3.0f, 0.0f, float(noise(seed) % 500) / 100.0f - 2.5f,
                          0xFFC8C8C8});
    VertexBuffer* stars = vertexBuffer(D3DFVF_XYZ | D3DFVF_DIFFUSE, points);
    VertexBuffer* quad = vertexBuffer(screenFvf, rectVertices(4, 4, 40, 30, 0xFFFFFFFF));
    auto drawStars = [&] {
        device->setStreamSource(0, stars, 0, sizeof(ColoredVertex));
        device->setFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        device->drawPrimitive(D3DPT_POINTLIST, 0, 50);
    };
    auto drawQuad = [&] {
        device->setStreamSource(0, quad, 0, sizeof(ScreenVertex));
        device->setFVF(screenFvf);
        device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    };
    device->setRenderState(D3DRS_LIGHTING, 0);
    device->setTexture(0, land);
    drawQuad(), drawStars(), drawQuad();  // programs, arrays and the texture are made here

    GlStateCalls calls;
    // The same draw again, then with every state set once more to the value it holds.
    drawQuad();
    device->setRenderState(D3DRS_LIGHTING, 0);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->setTexture(0, land);
    device->setTransform(D3DTS_VIEW, device->transform(D3DTS_VIEW));
    drawQuad();
    EXPECT_EQ(calls.take(), (std::map<std::string, int>{}));

    // Blending on: one switch, nothing uploaded, the same program.
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    drawQuad();
    EXPECT_EQ(calls.take(), (std::map<std::string, int>{{"glEnable", 1}}));
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);

    // Another world matrix: the per-draw block alone is uploaded.
    drawStars();
    calls.take();
    Matrix4 moved = identity();
    moved.m[3][1] = 0.5f;
    device->setTransform(D3DTS_WORLD, moved);
    drawStars();
    EXPECT_EQ(calls.take(), (std::map<std::string, int>{{"glBufferSubData", 1}}));
}

// ---- What the terrain relies on ----

