#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <stb_image_write.h>

#include "state/camera.h"
#include "state/clock.h"
#include "base/fatal_error.h"
#include "app/input.h"
#include "support/test_scopes.h"
#include "terrain/terrain.h"
#include "world/game_world.h"

namespace {

// Terrain objects built from files in a scratch folder: flat land from a black height map, one
// base, detail and height-map entry each.
class TerrainObject : public testing::Test {
protected:
    TerrainObject() : cwd(dir.path())
    {
        clearFatalError();
        resetKeyValues();
        cameraPos = Vec3(0.0f, 20.0f, -20.0f);
        lookDir = Vec3(0.0f, 0.0f, 1.0f);
        lightVector = Vec3(0.766f, 0.0f, -0.643f);
        setTickSource(&clock);
        const std::vector<uint8_t> black(4 * 4 * 3, 0), grey(4 * 4 * 3, 0x80);
        stbi_write_bmp((dir / "black.bmp").c_str(), 4, 4, 3, black.data());
        stbi_write_bmp((dir / "grey.bmp").c_str(), 4, 4, 3, grey.data());
        dir.writeText("TerrainTextures.txt", "Base 1 grey.bmp Detail 1 grey.bmp Height 1 black.bmp");
    }
    ~TerrainObject() override
    {
        setTickSource(nullptr);
        cameraPos = Vec3(0.0f, 20.0f, -20.0f);
        lookDir = Vec3(0.0f, 0.0f, 1.0f);
        clearFatalError();
    }

    static std::string land(float x, float y, float z, float size, int grid = 3)
    {
        return "L X " + std::to_string(x) + " Y " + std::to_string(y) + " Z " + std::to_string(z) + " C " +
               std::to_string(grid) + " R " + std::to_string(grid) + " U 1 V 1 W " + std::to_string(size) + " D " +
               std::to_string(size) + " S 1 B 0 D 0 H 0\n";
    }
    static std::string water(const std::vector<Vec3>& at, float size, int frames = 2)
    {
        std::string s = "W N " + std::to_string(at.size());
        for (const Vec3& p : at)
            s += " X " + std::to_string(p.x) + " Y " + std::to_string(p.y) + " Z " + std::to_string(p.z);
        return s + " C 2 R 2 U 1 V 1 W " + std::to_string(size) + " D " + std::to_string(size) +
               " Res 0 Wave 0 Sway 0 B 0 D 0 F " + std::to_string(frames) + " P 10\n";
    }
    std::unique_ptr<Terrain> make(int lands, int waters, const std::string& records)
    {
        dir.writeText("Terrain.txt", "Land " + std::to_string(lands) + " Water " + std::to_string(waters) + "\n" + records);
        auto terrain = std::make_unique<Terrain>();
        EXPECT_FALSE(fatalErrorPending()) << fatalErrorMessage();
        terrain->drawSegments = segments;
        device->calls.clear();
        return terrain;
    }
    float groundAt(Terrain& terrain, float x, float z)
    {
        cameraPos = Vec3(x, 20.0f, z);
        terrain.place();
        return terrainFrame.groundHeight();
    }

    TempDir dir;
    DeviceScope device;
    WorkingDirectory cwd;
    VirtualClock clock{0};
    bool segments = false;  // whole tiles: the draws these tests name
};

}  // namespace

TEST_F(TerrainObject, MissingFileAndUnloadedHeightMapAreFatal)
{
    Terrain missing;
    EXPECT_EQ(fatalErrorMessage(), "cannot open Terrain.txt: No such file or directory");
    EXPECT_EQ(missing.landTileCount, 0);

    clearFatalError();
    dir.writeText("TerrainTextures.txt", "Base 1 grey.bmp Detail 1 grey.bmp Height 1 nothing.bmp");
    dir.writeText("Terrain.txt", "Land 1 Water 0\n" + land(0, 0, 0, 10));
    Terrain unloaded;
    EXPECT_EQ(fatalErrorMessage(), "Terrain.txt: land tile 0: height map 0 (nothing.bmp) could not be loaded, and the tile "
                                   "needs its heights");
    EXPECT_EQ(unloaded.landTileCount, 0);
    EXPECT_TRUE(device->callsStartingWith("CreateVertexBuffer").empty());

    // A bad record builds nothing, not even the tiles before it.
    clearFatalError();
    dir.writeText("TerrainTextures.txt", "Base 1 grey.bmp Detail 1 grey.bmp Height 1 black.bmp");
    dir.writeText("Terrain.txt", "Land 2 Water 0\n" + land(0, 0, 0, 10) + land(0, 0, 0, 10, 2));
    Terrain refused;
    EXPECT_EQ(fatalErrorMessage(), "Terrain.txt: land tile 1: columns is 2, must be at least 3");
    EXPECT_TRUE(device->callsStartingWith("CreateVertexBuffer").empty());
}

TEST_F(TerrainObject, GroundHeightTakesTheHigherSurfaceAndTheFirstTileFound)
{
    struct Case {
        const char* what;
        float land, water;
        float want;
    };
    for (const Case c : {Case{"land above water", 12, 10, 12}, Case{"water above land", 8, 10, 10},
                         Case{"equal", 10, 10, 10}}) {
        auto t = make(1, 1, land(0, c.land, 0, 100) + water({{0, c.water, 0}}, 100));
        EXPECT_EQ(groundAt(*t, 5, 5), c.want) << c.what;
        EXPECT_EQ(terrainFrame.landTileIndex, 0);
        EXPECT_EQ(terrainFrame.waterTileIndex, 0);
        EXPECT_EQ(terrainFrame.waterLevel, c.water);
    }

    // Nothing under the camera: h = 0 and the terrain moves by the camera alone.
    auto t = make(2, 2,
                  land(0, 5, 0, 100) + land(0, 7, 0, 100) + water({{500, 3, 0}, {500, 4, 0}}, 100) +
                      water({{500, 1, 0}}, 100));
    EXPECT_EQ(groundAt(*t, 300, 0), 0.0f);
    EXPECT_EQ(terrainFrame.landTileIndex, -1);
    EXPECT_EQ(terrainFrame.waterTileIndex, -1);
    EXPECT_EQ(t->worldMatrix(3, 0), -300.0f);
    EXPECT_EQ(t->worldMatrix(3, 1), -20.0f);
    EXPECT_EQ(t->worldMatrix(3, 2), -0.0f);
    EXPECT_EQ(device->find("SetTransform 256"), 0);

    // Overlaps: the first land tile, the first water tile and its first instance in file order.
    EXPECT_EQ(groundAt(*t, 0, 0), 5.0f);
    EXPECT_EQ(terrainFrame.landTileIndex, 0);
    EXPECT_EQ(groundAt(*t, 500, 0), 3.0f);
    EXPECT_EQ(terrainFrame.waterTileIndex, 0);
    EXPECT_EQ(t->worldMatrix(3, 1), -23.0f);

    // On the edges (max x, min z) the camera is over the tile and measures the edge cell.
    EXPECT_EQ(groundAt(*t, 50, -50), 5.0f);
    EXPECT_EQ(terrainFrame.landTileIndex, 0);
    EXPECT_EQ(t->landTiles[0].cellColumn, 1);
    EXPECT_EQ(t->landTiles[0].cellRow, 1);
    EXPECT_EQ(groundAt(*t, -50, 50), 5.0f);
    EXPECT_EQ(t->landTiles[0].quad, 0);
    EXPECT_EQ(groundAt(*t, 50.001f, 0), 0.0f);
}

TEST_F(TerrainObject, AWalkAlongAGridLineFollowsTheSurfaceOnEveryFrame)
{
    // A round hill on a tile centred at x = 0 with an odd column count: x = 0 is a grid line, where
    // rounding put the point a hair outside both triangles of its cell.
    std::vector<uint8_t> hill(64 * 64 * 3);
    for (int v = 0; v < 64; ++v)
        for (int u = 0; u < 64; ++u) {
            const double r = std::hypot(u - 31.5, v - 31.5) / 32.0;
            std::fill_n(&hill[size_t(v * 64 + u) * 3], 3, uint8_t(r < 1.0 ? 250.0 * (1.0 - r * r) : 0.0));
        }
    stbi_write_bmp((dir / "hill.bmp").c_str(), 64, 64, 3, hill.data());
    dir.writeText("TerrainTextures.txt", "Base 1 grey.bmp Detail 1 grey.bmp Height 1 hill.bmp");
    auto t = make(1, 0, "L X 0 Y 3 Z 40 C 33 R 33 U 1 V 1 W 200 D 200 S 0.6 B 0 D 0 H 0\n");
    const LandTile& tile = t->landTiles[0];

    for (int frame = 0; frame < 150; ++frame) {
        const float z = -59.0f + 198.0f * float(frame) / 149.0f;
        const float h = groundAt(*t, 0.0f, z);
        // The plane of the cell triangle whose (double) barycentric coordinates hold the point.
        double want = NAN;
        for (int i : {tile.firstTriangle, tile.secondTriangle}) {
            const TerrainTriangle& tri = tile.triangles[size_t(i)];
            const double x1 = tri.b.x - tri.a.x, z1 = tri.b.z - tri.a.z, x2 = tri.c.x - tri.a.x, z2 = tri.c.z - tri.a.z;
            const double det = x1 * z2 - x2 * z1, px = 0.0 - tri.a.x, pz = double(z) - tri.a.z;
            const double s = (px * z2 - x2 * pz) / det, u = (x1 * pz - px * z1) / det;
            if (s >= -1e-9 && u >= -1e-9 && s + u <= 1 + 1e-9) {
                want = tri.a.y + s * (tri.b.y - tri.a.y) + u * (tri.c.y - tri.a.y);
                break;
            }
        }
        ASSERT_FALSE(std::isnan(want)) << "frame " << frame;
        EXPECT_NEAR(h, want, 1e-3) << "frame " << frame << " z " << z;
    }
    // The walk crossed the hill, so a stale height would have shown.
    EXPECT_GT(groundAt(*t, 0.0f, 40.0f), 80.0f);
}

TEST_F(TerrainObject, ViewTestDrawsWhatStandsUnderTheCameraAndSkipsAWideTileWhosePointsAllFail)
{
    // Centre 2,020 away (beyond the view distance of 1,000), near corners 71 degrees aside, far
    // corners beyond the distance: not drawn, though it spans the view.
    auto wide = make(1, 0, land(0, 0, 2000, 3000));
    wide->render();
    EXPECT_EQ(wide->landTiles[0].visible, 0);
    EXPECT_TRUE(device->callsStartingWith("DrawIndexedPrimitive").empty());

    // Under the camera it is drawn whichever way the camera looks.
    cameraPos = Vec3(0.0f, 20.0f, 1000.0f);
    lookDir = Vec3(0.0f, 0.0f, -1.0f);
    wide->render();
    EXPECT_EQ(wide->landTiles[0].visible, 1);
    EXPECT_EQ(device->callsStartingWith("DrawIndexedPrimitive").size(), 1u);
    EXPECT_EQ(wide->landTiles[0].cameraOver, 0);  // consumed by the draw

    // A small tile ahead is seen; one behind is not; a corner within 53.7 degrees is enough.
    cameraPos = Vec3(0.0f, 20.0f, 0.0f);
    lookDir = Vec3(0.0f, 0.0f, 1.0f);
    auto tiles = make(3, 0, land(0, 0, 100, 10) + land(0, 0, -100, 10) + land(140, 0, 100, 10));
    tiles->render();
    EXPECT_EQ(tiles->landTiles[0].visible, 1);
    EXPECT_EQ(tiles->landTiles[1].visible, 0);
    EXPECT_EQ(tiles->landTiles[2].visible, 1);  // centre at 54.5 degrees, near-left corner at 51.9
}

TEST_F(TerrainObject, SegmentsOutOfViewAreSkippedAndLandRunsNearToFarLookingUpTheGrid)
{
    // Rows of 32 quads over 400 units, cut into two segments each; the demo camera at
    // (0, 20, -20) looking along +z sees about the half ahead of it.
    segments = true;
    const float aspectBefore = aspectRatio;
    aspectRatio = 800.0f / 600.0f;
    resetTransforms();
    setupCamera();
    auto t = make(1, 0, land(0, 0, 0, 400, 33));
    auto drawnTriangles = [&] {
        uint32_t sum = 0;
        for (const std::string& call : device->callsStartingWith("DrawIndexedPrimitive 4 0 0 1089 "))
            sum += uint32_t(std::stoul(call.substr(call.rfind(' ') + 1)));
        return sum;
    };
    t->render();
    const uint32_t ahead = drawnTriangles();
    EXPECT_GT(ahead, 2048u / 4);
    EXPECT_LT(ahead, 2048u * 3 / 4);
    // The reverse of the grid order, so under the strict depth test, and the test put back.
    EXPECT_EQ(device->callsStartingWith("SetRenderState 23 "),
              (std::vector<std::string>{"SetRenderState 23 2", "SetRenderState 23 4"}));

    // Turned round, the grid's own order is near to far: no depth test change.
    turnCamera(180.0f);
    device->calls.clear();
    t->render();
    EXPECT_GT(drawnTriangles(), 2048u / 4);
    EXPECT_TRUE(device->callsStartingWith("SetRenderState 23 ").empty());

    // With blending on, order decides more than ties: grid order again.
    resetTransforms();
    setupCamera();
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->calls.clear();
    t->render();
    EXPECT_EQ(device->callsStartingWith("SetRenderState 23 ").size(), 0u);
    EXPECT_EQ(drawnTriangles(), ahead);
    device->setRenderState(D3DRS_ALPHABLENDENABLE, 0);

    // A lake of the same size, waving: the same skipping, in grid order, since water blends.
    auto lake = make(0, 1, "W N 1 X 0 Y -1 Z 0 C 33 R 33 U 1 V 1 W 400 D 400 Res 0 Wave 0.5 Sway 0.5 B 0 D 0 F 4 P 10\n");
    lake->render();
    EXPECT_GT(drawnTriangles(), 2048u / 4);
    EXPECT_LT(drawnTriangles(), 2048u * 3 / 4);
    EXPECT_TRUE(device->callsStartingWith("SetRenderState 23 ").empty());
    resetTransforms();
    setupCamera();
    aspectRatio = aspectBefore;
}

TEST_F(TerrainObject, AStageWhosePictureDidNotLoadContributesNothing)
{
    // Entry 1 of each list names a picture that is not there (a warning, not a refusal).
    dir.writeText("TerrainTextures.txt", "Base 2 grey.bmp none.bmp Detail 2 grey.bmp none.bmp Height 1 black.bmp");
    struct Case {
        int base, detail, detailSwitch;
        uint32_t landStages, waterStages;  // bit s: stage s contributes
    };
    for (const Case c : {Case{0, 0, 1, 3, 3}, Case{0, 1, 1, 1, 1}, Case{0, 0, 0, 1, 1}, Case{1, 0, 1, 2, 2},
                         Case{1, 1, 0, 0, 0}}) {
        const std::string textures = " B " + std::to_string(c.base) + " D " + std::to_string(c.detail);
        auto t = make(1, 1, "L X 0 Y 0 Z 0 C 3 R 3 U 1 V 1 W 100 D 100 S 1" + textures + " H 0\n" + "W N 1 X 0 Y -1 Z 0 "
                      "C 2 R 2 U 1 V 1 W 100 D 100 Res 0 Wave 0 Sway 0" + textures + " F 1 P 10\n");
        detailTextureSwitch = c.detailSwitch;
        device->drawStages.clear();
        t->render();
        EXPECT_EQ(device->drawStages, (std::vector<uint32_t>{c.landStages, c.waterStages}))
            << "base " << c.base << " detail " << c.detail << " switch " << c.detailSwitch;
    }
    detailTextureSwitch = 1;
}

TEST_F(TerrainObject, LandAndWaterDrawTheirExactStateSequencesAndRestore)
{
    auto t = make(1, 1, land(0, 0, 0, 100) + water({{0, -1, 0}}, 100));
    const std::vector<std::string> landStart = {"SetTransform 256", "SetMaterial", "SetSamplerState 0 7 2",
                                                "SetSamplerState 1 7 2", "SetTexture 0 ptr"};
    const std::vector<std::string> detail = {"SetTextureStageState 1 11 1", "SetTextureStageState 1 2 2",
                                             "SetTextureStageState 1 3 1", "SetTextureStageState 1 1 8"};
    const std::vector<std::string> landDraw = {"SetRenderState 22 3", "SetStreamSource 0 ptr 0 40", "SetFVF 530",
                                               "SetIndices ptr", "DrawIndexedPrimitive 4 0 0 9 0 8"};
    const std::vector<std::string> landRestore = {
        "SetRenderState 22 2",        "SetTextureStageState 0 11 0", "SetTextureStageState 1 11 0",
        "SetSamplerState 0 7 0",      "SetSamplerState 1 7 0",       "SetTextureStageState 0 1 4",
        "SetTextureStageState 1 1 1", "SetTexture 0 null",           "SetTexture 1 null"};
    const std::vector<std::string> waterStart = {"SetTransform 256",      "SetMaterial",           "SetRenderState 27 1",
                                                 "SetRenderState 19 5",   "SetRenderState 20 6",   "SetSamplerState 0 7 2",
                                                 "SetSamplerState 1 7 2", "SetTextureStageState 0 1 7",
                                                 "SetTextureStageState 0 4 4", "SetTexture 0 ptr"};
    const std::vector<std::string> waterRestore = {
        "SetRenderState 22 2",        "SetRenderState 27 0",         "SetTextureStageState 0 11 0",
        "SetTextureStageState 1 11 0", "SetSamplerState 0 7 0",      "SetSamplerState 1 7 0",
        "SetTextureStageState 0 1 4", "SetTextureStageState 1 1 1",  "SetTextureStageState 0 4 2",
        "SetTextureStageState 1 4 1", "SetTexture 0 null",           "SetTexture 1 null"};
    const std::vector<std::string> waterDraw = {"SetRenderState 22 3", "SetStreamSource 0 ptr 0 40", "SetFVF 530",
                                                "SetIndices ptr", "DrawIndexedPrimitive 4 0 0 4 0 2"};
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::vector<std::string> waterDetail = {"SetTextureStageState 1 11 1", "SetTextureStageState 1 2 2",
                                                  "SetTextureStageState 1 3 1", "SetTextureStageState 1 1 8",
                                                  "SetTextureStageState 1 4 4", "SetTexture 1 ptr"};

    t->render();
    EXPECT_EQ(device->calls, join({landStart, detail, {"SetTexture 1 ptr"}, landDraw, landRestore, waterStart, waterDetail,
                                   waterDraw, waterRestore}));
    EXPECT_EQ(device->material().diffuse.a, 0.7f);
    const float w = dot(lightVector, lookDir);
    EXPECT_EQ(device->material().diffuse.r, 0.2f * w);
    EXPECT_EQ(device->material().diffuse.g, 2.5f * w);
    // The water instance stands at its level less the camera height and the ground height.
    EXPECT_EQ(device->transform(D3DTS_WORLD)(3, 1), -1.0f - 20.0f - 0.0f);

    // Detail off and point mip filtering; a mip mode other than 1 or 2 leaves the samplers alone.
    detailTextureSwitch = 0;
    mipFilterMode = 1;
    device->calls.clear();
    t->render();
    std::vector<std::string> pointStart = landStart;
    pointStart[2] = "SetSamplerState 0 7 1";
    pointStart[3] = "SetSamplerState 1 7 1";
    std::vector<std::string> pointWater = waterStart;
    pointWater[5] = "SetSamplerState 0 7 1";
    pointWater[6] = "SetSamplerState 1 7 1";
    EXPECT_EQ(device->calls, join({pointStart, landDraw, landRestore, pointWater, waterDraw, waterRestore}));
    mipFilterMode = 0;
    device->calls.clear();
    t->render();
    EXPECT_TRUE(device->callsStartingWith("SetSamplerState 0 7 1").empty());
    EXPECT_EQ(device->callsStartingWith("SetSamplerState 0 7 0").size(), 2u);
    EXPECT_EQ(device->samplerState(0, D3DSAMP_MIPFILTER), D3DTEXF_NONE);
}
