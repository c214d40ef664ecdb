// The OpenGL device drawn off screen and read back pixel by pixel. Needs a GL 3.3 driver (Mesa
// llvmpipe is enough); without one every test fails with the reason.

#include <gtest/gtest.h>

#include <algorithm>

#include <SDL.h>
#include <epoxy/gl.h>
#include <stb_image.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <utility>

#include "app/graphics.h"
#include "state/settings.h"
#include "math/matrix4.h"
#include "platform/gl/fixed_function.h"
#include "platform/gl/gl_device.h"
#include "platform/gl/gl_system.h"
#include "platform/glyphs/freetype_rasterizer.h"
#include "platform/image/png_writer.h"
#include "support/allocation_count.h"

namespace {

constexpr int screenWidth = 64, screenHeight = 48;

struct Display {
    SDL_Window* window = nullptr;
    std::string error;
};

// One off-screen window for the whole run; each test makes its own system and device on it.
const Display& display()
{
    static const Display d = [] {
        Display made;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            made.error = std::string("SDL_Init(SDL_INIT_VIDEO) failed: ") + SDL_GetError();
            return made;
        }
        setGlWindowAttributes();
        made.window = SDL_CreateWindow("gl device test", 0, 0, screenWidth, screenHeight, SDL_WINDOW_OPENGL);
        if (!made.window) made.error = std::string("SDL_CreateWindow failed: ") + SDL_GetError();
        return made;
    }();
    return d;
}

PresentParameters windowedParameters()
{
    PresentParameters p{};
    p.windowed = 1;
    p.swapEffect = D3DSWAPEFFECT_DISCARD;
    p.enableAutoDepthStencil = 1;
    p.autoDepthStencilFormat = D3DFMT_D16;
    return p;
}

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u0, v0, u1, v1;
};
constexpr uint32_t screenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;

struct LitVertex {
    float x, y, z, nx, ny, nz;
    uint32_t diffuse;
};
constexpr uint32_t litFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;

struct Rgb {
    int r, g, b;
};

::testing::AssertionResult near(const Rgb& got, const Rgb& want, int tolerance = 0)
{
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want (" << want.r
                                         << ", " << want.g << ", " << want.b << ") +-" << tolerance;
}

const Rgb black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};

class GlDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, display().window) << "no OpenGL window: " << display().error;
        system = createGlGraphicsSystem(display().window, true);
        PresentParameters p = windowedParameters();
        device = system->createDevice(D3DDEVTYPE_HAL, display().window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p);
        ASSERT_NE(nullptr, device) << system->lastError();
        device->setRenderState(D3DRS_LIGHTING, 0);
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }
    void TearDown() override
    {
        buffers.clear();
        textures.clear();
        device.reset();
    }

    template <class V>
    VertexBuffer* vertexBuffer(uint32_t fvf, const std::vector<V>& vertices)
    {
        const auto bytes = uint32_t(vertices.size() * sizeof(V));
        buffers.push_back(device->createVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED));
        std::memcpy(buffers.back()->lock(0, 0, 0), vertices.data(), bytes);
        buffers.back()->unlock();
        return buffers.back().get();
    }
    template <class V>
    void draw(uint32_t fvf, uint32_t type, uint32_t count, const std::vector<V>& vertices)
    {
        device->setStreamSource(0, vertexBuffer(fvf, vertices), 0, sizeof(V));
        device->setFVF(fvf);
        device->drawPrimitive(type, 0, count);
    }
    static std::vector<ScreenVertex> rectVertices(float x0, float y0, float x1, float y1, uint32_t argb, float z = 0.5f,
                                                  float uv = 1.0f)
    {
        // The second coordinate set stays on (0.75, 0.5) throughout.
        return {{x0, y0, z, 1, argb, 0, 0, 0.75f, 0.5f}, {x1, y0, z, 1, argb, uv, 0, 0.75f, 0.5f},
                {x0, y1, z, 1, argb, 0, uv, 0.75f, 0.5f}, {x1, y1, z, 1, argb, uv, uv, 0.75f, 0.5f}};
    }
    void rect(float x0, float y0, float x1, float y1, uint32_t argb, float z = 0.5f, float uv = 1.0f)
    {
        draw(screenFvf, D3DPT_TRIANGLESTRIP, 2, rectVertices(x0, y0, x1, y1, argb, z, uv));
    }
    // levels[i] holds level i's texels, rows top to bottom.
    template <class T>
    Texture* texture(uint32_t width, uint32_t height, uint32_t format, const std::vector<std::vector<T>>& levels)
    {
        textures.push_back(device->createTexture(width, height, uint32_t(levels.size()), 0, format, D3DPOOL_MANAGED));
        for (uint32_t i = 0; i < levels.size(); ++i) {
            std::memcpy(textures.back()->lockRect(i).bits, levels[i].data(), levels[i].size() * sizeof(T));
            textures.back()->unlockRect(i);
        }
        return textures.back().get();
    }
    RgbaImage frame()
    {
        RgbaImage image;
        EXPECT_TRUE(device->readBackBuffer(image));
        return image;
    }
    static Rgb at(const RgbaImage& image, int x, int y)
    {
        const uint8_t* p = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
        return {p[0], p[1], p[2]};
    }

    std::unique_ptr<GraphicsSystem> system;
    std::unique_ptr<GraphicsDevice> device;
    std::vector<std::unique_ptr<VertexBuffer>> buffers;
    std::vector<std::unique_ptr<Texture>> textures;
};

}  // namespace

// ---- Creation ----

TEST(GlSystemTest, SoftwareRendererRefusesHardwareModesAndExplainsWhy)
{
    ASSERT_NE(nullptr, display().window) << "no OpenGL window: " << display().error;
    auto system = createGlGraphicsSystem(display().window, true);
    PresentParameters p = windowedParameters();
    auto hardware = system->createDevice(D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, p);
    ASSERT_NE(nullptr, SDL_GL_GetCurrentContext()) << system->lastError();
    const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (!isSoftwareRenderer(renderer)) {
        EXPECT_NE(nullptr, hardware) << system->lastError();
        GTEST_SKIP() << "hardware renderer " << renderer << " accepts every mode";
    }
    EXPECT_EQ(nullptr, hardware);
    EXPECT_NE(std::string::npos, system->lastError().find(renderer)) << system->lastError();
    EXPECT_EQ(nullptr, system->createDevice(D3DDEVTYPE_HAL, nullptr, D3DCREATE_MIXED_VERTEXPROCESSING, p));

    // The context made for the refused attempts serves the software one.
    auto software = system->createDevice(D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p);
    ASSERT_NE(nullptr, software) << system->lastError();
    EXPECT_EQ(uint32_t(screenWidth), p.backBufferWidth);
    EXPECT_EQ(uint32_t(screenHeight), p.backBufferHeight);
}

TEST(GlSystemTest, AdapterModeAndFormatPairs)
{
    ASSERT_NE(nullptr, display().window) << "no OpenGL window: " << display().error;
    auto system = createGlGraphicsSystem(display().window, true);
    DisplayMode mode{};
    ASSERT_TRUE(system->adapterDisplayMode(mode)) << system->lastError();
    EXPECT_GT(mode.width, 0u);
    EXPECT_TRUE(mode.format == D3DFMT_X8R8G8B8 || mode.format == D3DFMT_R5G6B5 || mode.format == D3DFMT_X1R5G5B5);
    EXPECT_TRUE(system->checkDeviceType(D3DDEVTYPE_HAL, mode.format, mode.format, false));
    EXPECT_TRUE(system->checkDeviceType(D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_UNKNOWN, true));
    EXPECT_FALSE(system->checkDeviceType(D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, false));
}

TEST(GlSystemTest, WindowWithoutOpenGlReportsTheSdlError)
{
    ASSERT_NE(nullptr, display().window) << "no OpenGL window: " << display().error;
    SDL_Window* plain = SDL_CreateWindow("plain", 0, 0, 16, 16, 0);
    ASSERT_NE(nullptr, plain) << SDL_GetError();
    auto system = createGlGraphicsSystem(plain, true);
    PresentParameters p = windowedParameters();
    EXPECT_EQ(nullptr, system->createDevice(D3DDEVTYPE_HAL, plain, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p));
    const std::string error = system->lastError();
    EXPECT_NE(std::string::npos, error.find("SDL_GL_CreateContext failed: ")) << error;
    EXPECT_GT(error.size(), error.find("failed: ") + 8) << "SDL's reason is missing: " << error;
    system.reset();
    SDL_DestroyWindow(plain);
}

// ---- Frame and rasterisation rules ----

TEST_F(GlDeviceTest, ClearIsExactAndReadBackStartsAtTheTopRow)
{
    device->clear(D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
    rect(-0.5f, -0.5f, 64.0f, 1.5f, 0xFFFF0000);  // rows 0 and 1
    const RgbaImage image = frame();
    ASSERT_EQ(screenWidth, image.width);
    ASSERT_EQ(screenHeight, image.height);
    EXPECT_TRUE(near(at(image, 5, 0), red));
    EXPECT_TRUE(near(at(image, 5, 1), red));
    EXPECT_TRUE(near(at(image, 5, 2), {0x33, 0x66, 0x99}));
    EXPECT_TRUE(near(at(image, 63, 47), {0x33, 0x66, 0x99}));
}

TEST_F(GlDeviceTest, ScreenVerticesHitPixelsWhoseCentresLieInside)
{
    // Centres are on integer coordinates: x in [4.3, 9.3) covers columns 5..9, y rows 3..7.
    rect(4.3f, 2.6f, 9.3f, 7.6f, 0xFFFFFFFF);
    draw(screenFvf, D3DPT_POINTLIST, 2,
         std::vector<ScreenVertex>{{20, 30, 0.5f, 1, 0xFF00FF00, 0, 0, 0, 0}, {40, 10, 0.5f, 1, 0xFF00FF00, 0, 0, 0, 0}});
    const RgbaImage image = frame();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 14; ++x) {
            const bool inside = x >= 5 && x <= 9 && y >= 3 && y <= 7;
            EXPECT_TRUE(near(at(image, x, y), inside ? white : black)) << "pixel " << x << ", " << y;
        }
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const Rgb want = dx == 0 && dy == 0 ? green : black;
            EXPECT_TRUE(near(at(image, 20 + dx, 30 + dy), want)) << dx << ", " << dy;
            EXPECT_TRUE(near(at(image, 40 + dx, 10 + dy), want)) << dx << ", " << dy;
        }
}

TEST_F(GlDeviceTest, CullModesJudgeWindingOnScreen)
{
    // With y pointing down, the left triangle turns clockwise and the right one counter-clockwise.
    const std::vector<ScreenVertex> triangles = {
        {10, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0}, {30, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0},
        {10, 30, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0}, {40, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0},
        {40, 30, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0}, {60, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0}};
    struct Case {
        uint32_t mode;
        bool clockwiseShown, counterClockwiseShown;
    };
    for (const Case c : {Case{D3DCULL_CW, false, true}, Case{D3DCULL_CCW, true, false}, Case{D3DCULL_NONE, true, true}}) {
        device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->setRenderState(D3DRS_CULLMODE, c.mode);
        draw(screenFvf, D3DPT_TRIANGLELIST, 2, triangles);
        const RgbaImage image = frame();
        EXPECT_TRUE(near(at(image, 15, 15), c.clockwiseShown ? white : black)) << "cull mode " << c.mode;
        EXPECT_TRUE(near(at(image, 45, 15), c.counterClockwiseShown ? white : black)) << "cull mode " << c.mode;
    }
}

TEST_F(GlDeviceTest, TransformsAreRowVectorsTimesWorldViewProjection)
{
    Matrix4 world = identity();
    world(3, 0) = 1.0f;
    world(3, 1) = 0.5f;
    const Matrix4 view = lookAtLH({0.0f, 0.0f, -5.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f});
    const Matrix4 projection = perspectiveFovLH(piF / 4.0f, float(screenWidth) / float(screenHeight), 1.0f, 100.0f);
    device->setTransform(D3DTS_WORLD, world);
    device->setTransform(D3DTS_VIEW, view);
    device->setTransform(D3DTS_PROJECTION, projection);
    const std::vector<LitVertex> triangle = {{-0.5f, -0.5f, 0, 0, 0, 0, 0xFFFFFFFF},
                                             {0.0f, 0.5f, 0, 0, 0, 0, 0xFFFFFFFF},
                                             {0.5f, -0.5f, 0, 0, 0, 0, 0xFFFFFFFF}};
    draw(litFvf, D3DPT_TRIANGLELIST, 1, triangle);

    // Where the model origin lands: (0, 0, 0, 1) x World x View x Projection.
    const Matrix4 all = world * view * projection;
    const float w = all(3, 3);
    const int px = int((all(3, 0) / w + 1.0f) * 0.5f * screenWidth);
    const int py = int((1.0f - all(3, 1) / w) * 0.5f * screenHeight);
    ASSERT_GT(px, screenWidth / 2 + 4);  // clearly off centre, so a mirrored result cannot pass
    ASSERT_LT(py, screenHeight / 2 - 4);
    const RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, px, py), white)) << px << ", " << py;
    EXPECT_TRUE(near(at(image, screenWidth - 1 - px, py), black));
    EXPECT_TRUE(near(at(image, px, screenHeight - 1 - py), black));

    // Depth runs over [0, w]: a triangle between the eye and the near plane is clipped away
    // (at view depth 0.8 it would survive GL's [-w, w] unconverted).
    device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->setTransform(D3DTS_WORLD, identity());
    draw(litFvf, D3DPT_TRIANGLELIST, 1,
         std::vector<LitVertex>{{-3, -3, -4.2f, 0, 0, 0, 0xFFFFFFFF}, {0, 3, -4.2f, 0, 0, 0, 0xFFFFFFFF},
                                {3, -3, -4.2f, 0, 0, 0, 0xFFFFFFFF}});
    EXPECT_TRUE(near(at(frame(), screenWidth / 2, screenHeight / 2), black));
}

TEST_F(GlDeviceTest, DepthTestAndDepthWrites)
{
    struct Case {
        uint32_t zEnable, zWrite;
        Rgb shown;
    };
    for (const Case c : {Case{D3DZB_TRUE, 1, red}, Case{D3DZB_FALSE, 1, green}, Case{D3DZB_TRUE, 0, green}}) {
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->setRenderState(D3DRS_ZENABLE, c.zEnable);
        device->setRenderState(D3DRS_ZWRITEENABLE, c.zWrite);
        rect(0, 0, 20, 20, 0xFFFF0000, 0.2f);
        rect(0, 0, 20, 20, 0xFF00FF00, 0.8f);
        EXPECT_TRUE(near(at(frame(), 10, 10), c.shown)) << "z enable " << c.zEnable << ", z write " << c.zWrite;
    }
}

// ---- Lighting ----

TEST_F(GlDeviceTest, DirectionalLightsShadeByNormalAndMaterial)
{
    // Identity view and projection: the triangle covers the screen at depth 0.5, facing the eye.
    Material material{};
    material.diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
    material.ambient = {0.4f, 0.4f, 0.4f, 1.0f};
    device->setMaterial(material);
    device->setRenderState(D3DRS_LIGHTING, 1);
    device->setRenderState(D3DRS_AMBIENT, 0x00404040);  // adds 64/255 * 0.4 = 0.1004
    const float s60 = 0.8660254f;
    struct Case {
        const char* what;
        Vec3 direction;
        float lightLevel;
        int lights;
        float scale;
        uint32_t vertexColor;
        uint32_t colorVertex;
        Rgb want;
    };
    const Case cases[] = {
        {"head-on", {0, 0, 1}, 1.0f, 1, 1.0f, 0xFFFFFFFF, 0, {153, 153, 153}},
        {"at 60 degrees", {s60, 0, 0.5f}, 1.0f, 1, 1.0f, 0xFFFFFFFF, 0, {89, 89, 89}},
        {"from behind", {0, 0, -1}, 1.0f, 1, 1.0f, 0xFFFFFFFF, 0, {26, 26, 26}},
        {"two half lights", {0, 0, 1}, 0.5f, 2, 1.0f, 0xFFFFFFFF, 0, {153, 153, 153}},
        {"normal scaled by world", {0, 0, 1}, 1.0f, 1, 0.5f, 0xFFFFFFFF, 0, {89, 89, 89}},
        {"vertex colour", {0, 0, 1}, 1.0f, 1, 1.0f, 0xFFFF0000, 1, {255, 26, 26}},
    };
    for (const Case& c : cases) {
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        Light light{};
        light.type = D3DLIGHT_DIRECTIONAL;
        light.diffuse = {c.lightLevel, c.lightLevel, c.lightLevel, 1.0f};
        light.direction = c.direction;
        for (uint32_t i = 0; i < 2; ++i) {
            device->setLight(i, light);
            device->lightEnable(i, i < uint32_t(c.lights));
        }
        Matrix4 world = identity();
        world(0, 0) = world(1, 1) = world(2, 2) = c.scale;
        device->setTransform(D3DTS_WORLD, world);
        device->setRenderState(D3DRS_COLORVERTEX, c.colorVertex);
        const float r = 3.0f / c.scale, z = 0.5f / c.scale;
        draw(litFvf, D3DPT_TRIANGLELIST, 1,
             std::vector<LitVertex>{{-r, -r, z, 0, 0, -1, c.vertexColor}, {-r, r, z, 0, 0, -1, c.vertexColor},
                                    {r, -r, z, 0, 0, -1, c.vertexColor}});
        EXPECT_TRUE(near(at(frame(), 10, 40), c.want, 1)) << c.what;
    }

    // Unlit, a format without colour draws white.
    device->setRenderState(D3DRS_LIGHTING, 0);
    device->setTransform(D3DTS_WORLD, identity());
    struct Position {
        float x, y, z;
    };
    draw(D3DFVF_XYZ, D3DPT_TRIANGLELIST, 1, std::vector<Position>{{-3, -3, 0.4f}, {-3, 3, 0.4f}, {3, -3, 0.4f}});
    EXPECT_TRUE(near(at(frame(), 10, 40), white));
}

// ---- Texture stages and samplers ----

TEST_F(GlDeviceTest, StageOperationsCombineTextureAndDiffuse)
{
    Texture* brown = texture<uint32_t>(2, 2, D3DFMT_A8R8G8B8, {{0xFF804020, 0xFF804020, 0xFF804020, 0xFF804020}});
    struct Case {
        uint32_t op, arg1, arg2;
        bool bound;
        Rgb want;
    };
    const Case cases[] = {
        {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, true, {64, 32, 16}},
        {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT, true, {255, 192, 160}},
        {D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_DIFFUSE, true, {129, 65, 33}},
        {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, true, {128, 64, 32}},
        {D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, true, {128, 128, 128}},
        {D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_DIFFUSE, true, {128, 128, 128}},
        // A stage that reads a texture it lacks passes the colour on, whatever its operation.
        {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, false, {128, 128, 128}},
        {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, false, {128, 128, 128}},
        {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT, false, {128, 128, 128}},
        {D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_DIFFUSE, false, {128, 128, 128}},
    };
    for (const Case& c : cases) {
        device->setTexture(0, c.bound ? brown : nullptr);
        device->setTextureStageState(0, D3DTSS_COLOROP, c.op);
        device->setTextureStageState(0, D3DTSS_COLORARG1, c.arg1);
        device->setTextureStageState(0, D3DTSS_COLORARG2, c.arg2);
        rect(0, 0, 8, 8, 0xFF808080);
        EXPECT_TRUE(near(at(frame(), 4, 4), c.want, 1)) << "op " << c.op << (c.bound ? "" : " without texture");
    }
}

TEST_F(GlDeviceTest, SecondStageModulatesAndCoordinateSetsAreChosenPerStage)
{
    // Set 0 samples the red left texel, set 1 the blue right one.
    device->setTexture(0, texture<uint32_t>(2, 1, D3DFMT_A8R8G8B8, {{0xFFFF0000, 0xFF0000FF}}));
    device->setTexture(1, texture<uint32_t>(1, 1, D3DFMT_X8R8G8B8, {{0x00808080}}));
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->setTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    rect(0, 0, 8, 8, 0xFFFFFFFF, 0.5f, 0.25f);
    EXPECT_TRUE(near(at(frame(), 4, 4), {128, 0, 0}, 1));
    device->setTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    rect(0, 0, 8, 8, 0xFFFFFFFF, 0.5f, 0.25f);
    EXPECT_TRUE(near(at(frame(), 4, 4), {0, 0, 128}, 1));
}

TEST_F(GlDeviceTest, MipFilterChoosesLevels)
{
    Texture* chain = texture<uint32_t>(4, 4, D3DFMT_X8R8G8B8,
                                       {std::vector<uint32_t>(16, 0xFF0000), std::vector<uint32_t>(4, 0x00FF00), {0x0000FF}});
    ASSERT_EQ(3u, chain->levelCount());
    device->setTexture(0, chain);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    struct Case {
        float texelsPerPixel;
        uint32_t mip;
        Rgb want;
    };
    for (const Case c : {Case{4, D3DTEXF_NONE, red}, Case{4, D3DTEXF_POINT, blue}, Case{2, D3DTEXF_POINT, green},
                         Case{4, D3DTEXF_LINEAR, blue}, Case{1, D3DTEXF_LINEAR, red}}) {
        device->setSamplerState(0, D3DSAMP_MIPFILTER, c.mip);
        // 8 pixels wide; texture coordinates repeat so each pixel spans texelsPerPixel texels.
        rect(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFFFFFFF, 0.5f, 8.0f * c.texelsPerPixel / 4.0f);
        EXPECT_TRUE(near(at(frame(), 3, 3), c.want, 1)) << c.texelsPerPixel << " texels a pixel, mip filter " << c.mip;
    }
}

TEST_F(GlDeviceTest, AlphaFromTexturesBlendsAndTests)
{
    // One texel per pixel in columns 10..13: colour-keyed, opaque, just over half, just under.
    device->setTexture(0, texture<uint32_t>(4, 1, D3DFMT_A8R8G8B8, {{0x00FF0000, 0xFFFF0000, 0x80FF0000, 0x7FFF0000}}));
    device->clear(D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    rect(9.5f, 0, 13.5f, 4, 0xFFFFFFFF, 0.2f);
    RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 10, 2), blue));
    EXPECT_TRUE(near(at(image, 11, 2), red));
    EXPECT_TRUE(near(at(image, 12, 2), {128, 0, 127}, 1));

    // The alpha test discards whole fragments: no colour and no depth.
    device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->setRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->setRenderState(D3DRS_ALPHAREF, 0x80);
    device->setRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    rect(9.5f, 0, 13.5f, 4, 0xFFFFFFFF, 0.2f);
    device->setTexture(0, nullptr);
    device->setRenderState(D3DRS_ALPHATESTENABLE, 0);
    rect(0, 0, 20, 4, 0xFF00FF00, 0.8f);
    image = frame();
    EXPECT_TRUE(near(at(image, 10, 2), green));
    EXPECT_TRUE(near(at(image, 11, 2), red));
    EXPECT_TRUE(near(at(image, 12, 2), red));
    EXPECT_TRUE(near(at(image, 13, 2), green));
}

TEST_F(GlDeviceTest, PackedFormatsKeepChannelOrderAndAlpha)
{
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    // A4R4G4B4: red at alpha 8/15, then opaque green. X8R8G8B8: the alpha byte is ignored.
    device->setTexture(0, texture<uint16_t>(2, 1, D3DFMT_A4R4G4B4, {{0x8F00, 0xF0F0}}));
    rect(-0.5f, 0, 1.5f, 4, 0xFFFFFFFF);
    device->setTexture(0, texture<uint32_t>(1, 1, D3DFMT_X8R8G8B8, {{0x000000FF}}));
    rect(1.5f, 0, 2.5f, 4, 0xFFFFFFFF);
    const RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 0, 2), {136, 0, 0}, 1));
    EXPECT_TRUE(near(at(image, 1, 2), green));
    EXPECT_TRUE(near(at(image, 2, 2), blue));
}

// ---- What screen-space text relies on ----

TEST_F(GlDeviceTest, FourBitAlphaPassesTheTestFromOneStepAndBlendsOverTheTarget)
{
    // Texel 0 has no coverage, texel 1 the least there is (1/15 = 17/255), texel 2 full coverage.
    device->setTexture(0, texture<uint16_t>(3, 1, D3DFMT_A4R4G4B4, {{0x0000, 0x1FFF, 0xFFFF}}));
    device->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->setTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->setTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->setRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->setRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    for (const uint32_t reference : {8u, 18u}) {
        device->clear(D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
        device->setRenderState(D3DRS_ALPHAREF, reference);
        rect(-0.5f, 0, 2.5f, 4, 0xFF646464);  // one texel per pixel, grey text colour
        const RgbaImage image = frame();
        EXPECT_TRUE(near(at(image, 0, 2), blue)) << "reference " << reference;
        // Grey 100 x 17/255 plus blue 255 x 238/255; a reference of 18 turns the same texel away.
        const Rgb faint = reference == 8 ? Rgb{7, 7, 245} : blue;
        EXPECT_TRUE(near(at(image, 1, 2), faint, 1)) << "reference " << reference;
        EXPECT_TRUE(near(at(image, 2, 2), {100, 100, 100}));
    }
}

TEST_F(GlDeviceTest, PointAndLinearMinAndMagFilters)
{
    device->setSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->setTexture(0, texture<uint16_t>(2, 1, D3DFMT_A4R4G4B4, {{0xF000, 0xFFFF}}));
    // Magnified: two texels over eight pixels, so pixel centres 2..5 lie at texel coordinates
    // 0.625, 0.875, 1.125 and 1.375 (the texels' shared edge is at 1).
    for (const uint32_t filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
        device->setSamplerState(0, D3DSAMP_MAGFILTER, filter);
        device->setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        rect(-0.5f, 0, 7.5f, 4, 0xFFFFFFFF);
        const RgbaImage image = frame();
        const int want[2][4] = {{0, 0, 255, 255}, {32, 96, 159, 223}};
        for (int i = 0; i < 4; ++i) {
            const int v = want[filter == D3DTEXF_LINEAR][i];
            EXPECT_TRUE(near(at(image, 2 + i, 2), {v, v, v}, 2)) << "mag filter " << filter << ", pixel " << 2 + i;
        }
    }
    // Minified: four texels over two pixels, shifted so each pixel centre lies a quarter texel
    // past a texel centre.
    device->setTexture(0, texture<uint16_t>(4, 1, D3DFMT_A4R4G4B4, {{0xF000, 0xFFFF, 0xF000, 0xFFFF}}));
    for (const uint32_t filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
        device->setSamplerState(0, D3DSAMP_MINFILTER, filter);
        device->setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        const float u0 = 0.0625f, u1 = 1.0625f;
        draw(screenFvf, D3DPT_TRIANGLESTRIP, 2,
             std::vector<ScreenVertex>{{-0.5f, 0, 0.5f, 1, 0xFFFFFFFF, u0, 0, 0, 0}, {1.5f, 0, 0.5f, 1, 0xFFFFFFFF, u1, 0, 0, 0},
                                       {-0.5f, 4, 0.5f, 1, 0xFFFFFFFF, u0, 1, 0, 0}, {1.5f, 4, 0.5f, 1, 0xFFFFFFFF, u1, 1, 0, 0}});
        const Rgb want = filter == D3DTEXF_POINT ? white : Rgb{191, 191, 191};
        EXPECT_TRUE(near(at(frame(), 0, 2), want, 2)) << "min filter " << filter;
    }
}

TEST_F(GlDeviceTest, StateBlockCapturesAndAppliesOnlyItsOwnStates)
{
    device->setTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->beginStateBlock();
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->setTexture(0, nullptr);
    std::unique_ptr<StateBlock> saved = device->endStateBlock();
    ASSERT_EQ(3u, saved->entries().size());

    device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    saved->capture();  // blending off, linear, no texture

    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);  // not in the block: stays
    device->clear(D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    rect(0, 0, 4, 4, 0x80FF0000);
    EXPECT_TRUE(near(at(frame(), 2, 2), {128, 0, 0}, 1)) << "blending with a ZERO destination";

    saved->apply();
    EXPECT_EQ(0u, device->renderState(D3DRS_ALPHABLENDENABLE));
    EXPECT_EQ(D3DTEXF_LINEAR, device->samplerState(0, D3DSAMP_MAGFILTER));
    EXPECT_EQ(uint32_t(D3DBLEND_ZERO), device->renderState(D3DRS_DESTBLEND));
    rect(8, 0, 12, 4, 0x80FF0000);
    EXPECT_TRUE(near(at(frame(), 10, 2), red)) << "blending switched off again by the block";
}

TEST_F(GlDeviceTest, DiscardingLocksRefillOneDynamicBufferWithinAFrame)
{
    // The text path: one write-only dynamic buffer, relocked with discard before every batch;
    // each draw must see the contents written just before it and no later ones.
    auto buffer = device->createVertexBuffer(9600, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT);
    ASSERT_NE(nullptr, buffer);
    device->setPixelShader(nullptr);
    device->setFVF(screenFvf);
    device->setStreamSource(0, buffer.get(), 0, sizeof(ScreenVertex));
    const uint32_t colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int i = 0; i < 3; ++i) {
        auto* v = reinterpret_cast<ScreenVertex*>(buffer->lock(0, 0, D3DLOCK_DISCARD));
        ASSERT_NE(nullptr, v);
        // Edges half a pixel before whole coordinates cover whole pixels: 10i .. 10i + 5.
        const float x0 = 10.0f * float(i) - 0.5f, x1 = x0 + 6.0f;
        const ScreenVertex quad[6] = {{x0, 9.5f, 0.5f, 1, colours[i], 0, 0, 0, 0}, {x0, -0.5f, 0.5f, 1, colours[i], 0, 0, 0, 0},
                                      {x1, 9.5f, 0.5f, 1, colours[i], 0, 0, 0, 0}, {x1, -0.5f, 0.5f, 1, colours[i], 0, 0, 0, 0},
                                      {x1, 9.5f, 0.5f, 1, colours[i], 0, 0, 0, 0}, {x0, -0.5f, 0.5f, 1, colours[i], 0, 0, 0, 0}};
        std::memcpy(v, quad, sizeof quad);
        buffer->unlock();
        device->drawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
    }
    const RgbaImage image = frame();
    const Rgb want[3] = {red, green, blue};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(near(at(image, 10 * i, 0), want[i])) << i;
        EXPECT_TRUE(near(at(image, 10 * i + 5, 9), want[i])) << i;
        EXPECT_TRUE(near(at(image, 10 * i + 6, 5), black)) << i;
        EXPECT_TRUE(near(at(image, 10 * i + 2, 10), black)) << i;
    }
}

TEST_F(GlDeviceTest, TextIsGreyOverTheTargetAndLeavesTheCallersStatesAsTheyWere)
{
    const AppSettings savedSettings = appSettings;
    appSettings.screenWidth = screenWidth;
    appSettings.screenHeight = screenHeight;
    setGlyphRasterizerFactory(createFreeTypeRasterizer);
    BitmapFont font("Arial", 20, BitmapFont::Bold);
    ASSERT_EQ(S_OK, font.createGlyphTexture(device.get()));
    ASSERT_EQ(S_OK, font.createDrawResources());

    // The caller blends half-transparent red over blue with depth test and clockwise culling.
    device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    device->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->setTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    auto caller = [&](float x0) {
        // Counter-clockwise on screen, so it survives clockwise culling.
        draw(screenFvf, D3DPT_TRIANGLELIST, 1,
             std::vector<ScreenVertex>{{x0, 40, 0.5f, 1, 0x80FF0000, 0, 0, 0, 0}, {x0 + 8, 40, 0.5f, 1, 0x80FF0000, 0, 0, 0, 0},
                                       {x0, 32, 0.5f, 1, 0x80FF0000, 0, 0, 0, 0}});
    };
    caller(0);
    std::vector<uint32_t> before;
    for (uint32_t state = 0; state < renderStateCount; ++state) before.push_back(device->renderState(state));
    for (uint32_t stage = 0; stage < 2; ++stage)
        for (uint32_t type = 0; type < textureStageStateCount; ++type) before.push_back(device->textureStageState(stage, type));
    for (uint32_t type = 0; type < samplerStateCount; ++type) before.push_back(device->samplerState(0, type));

    // A line 24 pixels high at the top left, point sampled: the stems of "HH" in the text colour.
    ASSERT_EQ(S_OK, font.drawText(-1.0f, -1.0f, 0.5f, 0.5f, 0.5f, 0xFF646464, "HH", 0));
    std::vector<uint32_t> after;
    for (uint32_t state = 0; state < renderStateCount; ++state) after.push_back(device->renderState(state));
    for (uint32_t stage = 0; stage < 2; ++stage)
        for (uint32_t type = 0; type < textureStageStateCount; ++type) after.push_back(device->textureStageState(stage, type));
    for (uint32_t type = 0; type < samplerStateCount; ++type) after.push_back(device->samplerState(0, type));
    EXPECT_EQ(before, after);
    EXPECT_EQ(nullptr, device->texture(0));
    caller(20);

    const RgbaImage image = frame();
    // The caller's second triangle looks exactly like its first.
    EXPECT_TRUE(near(at(image, 22, 38), at(image, 2, 38)));
    EXPECT_TRUE(near(at(image, 2, 38), {128, 0, 127}, 1));
    int grey = 0, touched = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < screenWidth; ++x) {
            const Rgb p = at(image, x, y);
            grey += near(p, {100, 100, 100}, 1) ? 1 : 0;
            touched += near(p, blue) ? 0 : 1;
        }
    EXPECT_GT(grey, 20);          // the stems at full coverage
    EXPECT_GE(touched, grey);     // plus their anti-aliased edges
    for (int x = 0; x < screenWidth; ++x) EXPECT_TRUE(near(at(image, x, 26), blue)) << x;  // nothing below the line
    font.releaseGlyphTexture();
    setGlyphRasterizerFactory(nullptr);
    appSettings = savedSettings;
}

// ---- State blocks, buffers, indices ----

TEST_F(GlDeviceTest, StateBlockReappliesCapturedStates)
{
    device->beginStateBlock();
    device->setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    std::unique_ptr<StateBlock> block = device->endStateBlock();
    EXPECT_EQ(D3DCULL_NONE, device->renderState(D3DRS_CULLMODE));  // recorded, not set

    device->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    block->capture();
    device->setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    block->apply();
    EXPECT_EQ(D3DCULL_CW, device->renderState(D3DRS_CULLMODE));
    // Clockwise on screen, so culled now.
    draw(screenFvf, D3DPT_TRIANGLELIST, 1,
         std::vector<ScreenVertex>{{10, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0},
                                   {30, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0},
                                   {10, 30, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0, 0}});
    EXPECT_TRUE(near(at(frame(), 15, 15), black));
}

TEST_F(GlDeviceTest, TexturesReachTheDriverAtTheirFirstDrawAndFollowLaterWrites)
{
    Texture* t = texture<uint32_t>(1, 1, D3DFMT_X8R8G8B8, {{0x00FF0000}});
    // Written twice before any draw: the draw shows the last write.
    *reinterpret_cast<uint32_t*>(t->lockRect(0).bits) = 0x0000FF00;
    t->unlockRect(0);
    device->setTexture(0, t);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    rect(0, 0, 8, 8, 0xFFFFFFFF);
    EXPECT_TRUE(near(at(frame(), 4, 4), green));
    // Written after drawing: the next draw sees it.
    *reinterpret_cast<uint32_t*>(t->lockRect(0).bits) = 0x000000FF;
    t->unlockRect(0);
    rect(0, 0, 8, 8, 0xFFFFFFFF);
    EXPECT_TRUE(near(at(frame(), 4, 4), blue));
    // A texture made and dropped between draws leaves the stage bindings right.
    textures.push_back(device->createTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED));
    textures.pop_back();
    rect(10, 0, 18, 8, 0xFFFFFFFF);
    EXPECT_TRUE(near(at(frame(), 14, 4), blue));
}

TEST_F(GlDeviceTest, BufferUpdatesStreamOffsetsAndIndexedDraws)
{
    std::vector<ScreenVertex> vertices = rectVertices(0, 0, 10, 10, 0xFFFF0000);
    for (const ScreenVertex& v : rectVertices(20, 0, 30, 10, 0xFF00FF00)) vertices.push_back(v);
    VertexBuffer* buffer = vertexBuffer(screenFvf, vertices);
    const uint32_t stride = sizeof(ScreenVertex);
    device->setFVF(screenFvf);
    device->setStreamSource(0, buffer, 4 * stride, stride);
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 5, 5), black));
    EXPECT_TRUE(near(at(image, 25, 5), green));

    // A partial lock uploads its range; a discarding lock a whole new store.
    auto* locked = reinterpret_cast<ScreenVertex*>(buffer->lock(4 * stride, 4 * stride, 0));
    for (int i = 0; i < 4; ++i) locked[i].diffuse = 0xFF0000FF;
    buffer->unlock();
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), blue));
    locked = reinterpret_cast<ScreenVertex*>(buffer->lock(0, 0, D3DLOCK_DISCARD));
    for (int i = 4; i < 8; ++i) locked[i].diffuse = 0xFFFFFFFF;
    buffer->unlock();
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), white));

    // Indices 6..11 name the quad's corners 0..3; base vertex 4 moves them to the second quad.
    device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    auto indices = device->createIndexBuffer(24, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    const uint16_t list[12] = {3, 3, 3, 3, 3, 3, 0, 1, 2, 1, 3, 2};
    std::memcpy(indices->lock(0, 0, 0), list, sizeof list);
    indices->unlock();
    device->setIndices(indices.get());
    device->setStreamSource(0, buffer, 0, stride);
    device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 6, 2);
    image = frame();
    EXPECT_TRUE(near(at(image, 5, 5), black));
    EXPECT_TRUE(near(at(image, 25, 5), white));

    // Indices that name vertices past the buffer's end skip the draw; rewritten to valid ones,
    // the same run is drawn.
    auto later = device->createIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    const uint16_t beyond[6] = {8, 9, 10, 9, 11, 10};
    std::memcpy(later->lock(0, 0, 0), beyond, sizeof beyond);
    later->unlock();
    device->setIndices(later.get());
    device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), black));
    std::memcpy(later->lock(0, 0, 0), list + 6, 12);
    later->unlock();
    device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), white));
    device->setIndices(nullptr);
}

TEST_F(GlDeviceTest, IndexRangesDrawAsSingleDrawsWouldAndSkipRunsPastTheEnd)
{
    // Three quads side by side; the runs draw the first and the last, and one run past the
    // buffer's end is left out while the others are still drawn.
    std::vector<ScreenVertex> vertices;
    for (int q = 0; q < 3; ++q)
        for (const ScreenVertex& v : rectVertices(float(20 * q), 0, float(20 * q + 10), 10, 0xFF00FF00)) vertices.push_back(v);
    device->setStreamSource(0, vertexBuffer(screenFvf, vertices), 0, sizeof(ScreenVertex));
    device->setFVF(screenFvf);
    std::vector<uint16_t> list;
    for (uint16_t q = 0; q < 3; ++q)
        for (uint16_t corner : {0, 1, 2, 1, 3, 2}) list.push_back(uint16_t(4 * q + corner));
    auto indices = device->createIndexBuffer(uint32_t(list.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    std::memcpy(indices->lock(0, 0, 0), list.data(), list.size() * 2);
    indices->unlock();
    device->setIndices(indices.get());
    const IndexRange runs[3] = {{0, 2}, {12, 2}, {14, 4}};
    device->drawIndexedRanges(D3DPT_TRIANGLELIST, 0, 0, 12, runs, 3);
    const RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 5, 5), green));
    EXPECT_TRUE(near(at(image, 25, 5), black));
    EXPECT_TRUE(near(at(image, 45, 5), green));
    device->setIndices(nullptr);
}

TEST_F(GlDeviceTest, DepthClearTakesEffectBeforeTheFirstDepthTestedDraw)
{
    // The last frame left a near depth behind; this frame clears it, draws without the depth
    // test first, and only then with it: the far quad must pass against the cleared depth.
    rect(0, 0, 20, 20, 0xFFFF0000, 0.1f);
    device->present();
    device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->setRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    rect(30, 0, 40, 10, 0xFF0000FF);
    device->setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    rect(0, 0, 20, 20, 0xFF00FF00, 0.9f);
    const RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 10, 10), green));
    EXPECT_TRUE(near(at(image, 35, 5), blue));
}

TEST_F(GlDeviceTest, KeptLayerPutsBackColourAndDepthOnlyWhileItsDrawsAndContentsStayTheSame)
{
    // The layer: a near red quad. After it, a larger far green quad that only the layer's depth
    // hides where they overlap.
    const std::vector<ScreenVertex> redQuad = rectVertices(0, 0, 20, 20, 0xFFFF0000, 0.2f);
    VertexBuffer* layerQuad = vertexBuffer(screenFvf, redQuad);
    VertexBuffer* farQuad = vertexBuffer(screenFvf, rectVertices(0, 0, 40, 40, 0xFF00FF00, 0.8f));
    auto drawQuad = [&](VertexBuffer* b) {
        device->setStreamSource(0, b, 0, sizeof(ScreenVertex));
        device->setFVF(screenFvf);
        device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    };
    auto write = [&](uint32_t argb) {
        const std::vector<ScreenVertex> v = rectVertices(0, 0, 20, 20, argb, 0.2f);
        std::memcpy(layerQuad->lock(0, 0, 0), v.data(), v.size() * sizeof(ScreenVertex));
        layerQuad->unlock();
    };
    // A write inside the layer before its draw, as the text is written: only there are the same
    // bytes known to be the same contents.
    uint32_t writeFirst = 0;
    auto runFrame = [&](const std::function<void()>& inLayer = {}) {
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->openLayer();
        if (writeFirst) write(writeFirst);
        drawQuad(layerQuad);
        if (inLayer) inLayer();
        device->closeLayer();
        drawQuad(farQuad);
        const RgbaImage image = frame();
        device->present();
        return image;
    };
    const RgbaImage first = runFrame();
    EXPECT_FALSE(device->lastLayerRestored());
    runFrame();  // repeats the first: kept
    EXPECT_FALSE(device->lastLayerRestored());
    // A frame without a layer leaves other depth behind, which the kept depth must replace.
    device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    drawQuad(farQuad);
    device->present();
    const RgbaImage restored = runFrame();
    EXPECT_TRUE(device->lastLayerRestored());
    EXPECT_TRUE(first.pixels == restored.pixels);
    EXPECT_TRUE(near(at(restored, 10, 10), red));
    EXPECT_TRUE(near(at(restored, 30, 30), green));

    writeFirst = 0xFFFF0000;  // the same bytes again: still the same contents
    runFrame();
    EXPECT_TRUE(device->lastLayerRestored());
    writeFirst = 0;
    write(0xFF0000FF);
    EXPECT_TRUE(near(at(runFrame(), 10, 10), blue));
    EXPECT_FALSE(device->lastLayerRestored());
    runFrame();
    runFrame([&] { drawQuad(farQuad); });
    EXPECT_FALSE(device->lastLayerRestored()) << "a draw more in the layer";

    // Written while a held draw reads it: the draw shows what it read.
    runFrame([&] { write(0xFFFF0000); });
    EXPECT_TRUE(near(at(runFrame([&] { write(0xFF0000FF); }), 10, 10), red));
    // Destroyed while a held draw reads it: drawn first, while it exists.
    const std::vector<ScreenVertex> side = rectVertices(50, 0, 60, 10, 0xFF00FF00);
    std::unique_ptr<VertexBuffer> doomed = device->createVertexBuffer(uint32_t(side.size() * sizeof(ScreenVertex)), 0, screenFvf, 0);
    std::memcpy(doomed->lock(0, 0, 0), side.data(), side.size() * sizeof(ScreenVertex));
    doomed->unlock();
    EXPECT_TRUE(near(at(runFrame([&] { drawQuad(doomed.get()); doomed.reset(); }), 55, 5), green));
    device->setLayersKept(false);
    for (int i = 0; i < 3; ++i) runFrame();
    EXPECT_FALSE(device->lastLayerRestored());
}

TEST_F(GlDeviceTest, ScreenshotRoundTripsThroughPng)
{
    device->clear(D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0);
    rect(0, 0, 16, 8, 0xFFFF8000);
    const RgbaImage shot = frame();
    const std::string path = (std::filesystem::temp_directory_path() / "zentrix_gl_device_test.png").string();
    std::string error;
    ASSERT_TRUE(writePng(path, shot, error)) << error;

    int w = 0, h = 0, channels = 0;
    stbi_uc* loaded = stbi_load(path.c_str(), &w, &h, &channels, 4);
    ASSERT_NE(nullptr, loaded) << stbi_failure_reason();
    EXPECT_EQ(shot.width, w);
    EXPECT_EQ(shot.height, h);
    EXPECT_EQ(0, std::memcmp(loaded, shot.pixels.data(), shot.pixels.size()));
    stbi_image_free(loaded);
    std::filesystem::remove(path);

    EXPECT_FALSE(writePng("/nonexistent-dir/shot.png", shot, error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent-dir/shot.png")) << error;
}

// ---- Specialised programs against the general one ----

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

TEST_F(GlDeviceTest, WorldGeometryCoversThePixelsWhoseWholeNumberCentresLieInside)
{
    // Edges on half pixels, x and y from 2.5 to 6.5 in screen pixels (y down): pixel centres on
    // whole numbers put pixels 3..6 inside; GL's half-pixel centres alone would give 2..5.
    struct Position {
        float x, y, z;
    };
    auto ndcX = [](float px) { return px / screenWidth * 2.0f - 1.0f; };
    auto ndcY = [](float py) { return 1.0f - py / screenHeight * 2.0f; };
    const float x0 = ndcX(2.5f), x1 = ndcX(6.5f), y0 = ndcY(2.5f), y1 = ndcY(6.5f);
    draw(D3DFVF_XYZ, D3DPT_TRIANGLESTRIP, 2,
         std::vector<Position>{{x0, y0, 0.5f}, {x1, y0, 0.5f}, {x0, y1, 0.5f}, {x1, y1, 0.5f}});
    const RgbaImage image = frame();
    for (int i = 0; i < 10; ++i) {
        const bool inside = i >= 3 && i <= 6;
        EXPECT_TRUE(near(at(image, i, 4), inside ? white : black)) << "column " << i;
        EXPECT_TRUE(near(at(image, 4, i), inside ? white : black)) << "row " << i;
    }
}

TEST_F(GlDeviceTest, TerrainStagesClampLitColourAddSignedAndModulateAlpha)
{
    struct LitTexVertex {
        float x, y, z, nx, ny, nz, u, v;
    };
    constexpr uint32_t fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    const std::vector<LitTexVertex> cover = {{-3, -3, 0.5f, 0, 0, -1, 0, 0}, {-3, 3, 0.5f, 0, 0, -1, 0, 0},
                                             {3, -3, 0.5f, 0, 0, -1, 0, 0}};
    Light light{};
    light.type = D3DLIGHT_DIRECTIONAL;
    light.diffuse = {0.1f, 0.1f, 0.1f, 0.0f};
    light.direction = {0, 0, 1};
    device->setLight(0, light);
    device->lightEnable(0, true);
    device->setRenderState(D3DRS_LIGHTING, 1);
    auto litDraw = [&](float diffuse, float alpha, Texture* texture) {
        Material material{};
        material.diffuse = {diffuse, diffuse, diffuse, alpha};
        device->setMaterial(material);
        device->setTexture(0, texture);
        draw(fvf, D3DPT_TRIANGLELIST, 1, cover);
        return at(frame(), 10, 40);
    };
    Texture* white1 = texture<uint32_t>(1, 1, D3DFMT_A8R8G8B8, {{0xFFFFFFFF}});
    Texture* grey1 = texture<uint32_t>(1, 1, D3DFMT_A8R8G8B8, {{0xFF808080}});
    // 5.0 x light 0.1 = 0.5; 50 x 0.1 = 5 is clamped to 1 before the texture multiplies it.
    EXPECT_TRUE(near(litDraw(5.0f, 1.0f, white1), {128, 128, 128}, 1));
    EXPECT_TRUE(near(litDraw(50.0f, 1.0f, grey1), {128, 128, 128}, 1));

    // ADDSIGNED = arg1 + arg2 - 0.5, clamped at both ends; ADD clamped at 1.
    device->setRenderState(D3DRS_LIGHTING, 0);
    device->setTexture(0, nullptr);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->setTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    struct Case {
        uint32_t op, texel, diffuse;
        Rgb want;
    };
    for (const Case c : {Case{D3DTOP_ADDSIGNED, 0xFFE0E0E0, 0xFFE0E0E0, white}, Case{D3DTOP_ADDSIGNED, 0xFF202020, 0xFF202020, black},
                         Case{D3DTOP_ADDSIGNED, 0xFFC08040, 0xFF808080, {192, 128, 64}},
                         Case{D3DTOP_ADD, 0xFFC08040, 0xFF808080, {255, 255, 192}}}) {
        device->setTexture(1, texture<uint32_t>(1, 1, D3DFMT_A8R8G8B8, {{c.texel}}));
        device->setTextureStageState(1, D3DTSS_COLOROP, c.op);
        rect(0, 0, 8, 8, c.diffuse);
        EXPECT_TRUE(near(at(frame(), 4, 4), c.want, 1)) << "op " << c.op << " texel " << std::hex << c.texel;
    }
    device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->setTexture(1, nullptr);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);

    // The stage alpha: the texture's 1 times the material's 0.7, blended over blue.
    device->setRenderState(D3DRS_LIGHTING, 1);
    device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    device->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    EXPECT_TRUE(near(litDraw(5.0f, 0.7f, texture<uint32_t>(1, 1, D3DFMT_A8R8G8B8, {{0xFFFF0000}})), {179, 0, 77}, 1));
}

TEST_F(GlDeviceTest, MipFilterIsPerSamplerAndStaticBuffersDrawWhatWasUploaded)
{
    Texture* chain = texture<uint32_t>(4, 4, D3DFMT_X8R8G8B8,
                                       {std::vector<uint32_t>(16, 0xFF0000), std::vector<uint32_t>(4, 0x00FF00), {0x0000FF}});
    device->setTexture(0, chain);
    device->setTexture(1, chain);
    device->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    device->setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->setSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    device->setSamplerState(1, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    // Each pixel spans 4 texels: sampler 0 without mips reads level 0, sampler 1 level 2.
    const std::vector<ScreenVertex> quad = rectVertices(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFFFFFFF, 0.5f, 8.0f);
    VertexBuffer* buffer = vertexBuffer(screenFvf, quad);
    device->setStreamSource(0, buffer, 0, sizeof(ScreenVertex));
    device->setFVF(screenFvf);
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_TRUE(near(at(frame(), 3, 3), red, 1));
    device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_TRUE(near(at(frame(), 3, 3), blue, 1));
    device->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

    // A write-only buffer is uploaded when it is unlocked, not at each draw: writing its copy
    // without unlocking changes nothing on screen.
    auto* copy = reinterpret_cast<ScreenVertex*>(buffer->lock(0, 0, 0));
    for (int i = 0; i < 4; ++i) copy[i].x += 20.0f;
    device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    const RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 3, 3), red, 1));
    EXPECT_TRUE(near(at(image, 23, 3), black));
}
