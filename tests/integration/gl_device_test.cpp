// The OpenGL device's states, drawn off screen and read back pixel by pixel: the system and
// device, clears, transforms, culling, depth, lights, stages, filters, formats and state blocks.

#include "gl_device_fixture.h"

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

