#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "state/camera.h"
#include "state/clock.h"
#include "base/fatal_error.h"
#include "app/input.h"
#include "objects/random.h"
#include "support/test_scopes.h"
#include "terrain/land_tile.h"
#include "terrain/terrain.h"
#include "terrain/water_tile.h"
#include "world/game_world.h"

namespace {

const TerrainVertex& vertexAt(const VertexBuffer& buffer, int index)
{
    return reinterpret_cast<const TerrainVertex*>(buffer.data())[index];
}

// A scratch folder, a recording device and an empty texture set to which tests add height maps.
class TerrainTiles : public testing::Test {
protected:
    TerrainTiles() : cwd(dir.path())
    {
        clearFatalError();
        resetKeyValues();
        cameraPos = Vec3(0.0f, 20.0f, -20.0f);
        lookDir = Vec3(0.0f, 0.0f, 1.0f);
        terrainFrame = TerrainFrameState{};
        dir.writeText("TerrainTextures.txt", "Base 0 Detail 0 Height 0");
        set = std::make_unique<TerrainTextureSet>();
        terrainTextures = set.get();
        setTickSource(&clock);
    }
    ~TerrainTiles() override
    {
        setTickSource(nullptr);
        terrainTextures = nullptr;
        cameraPos = Vec3(0.0f, 20.0f, -20.0f);
        lookDir = Vec3(0.0f, 0.0f, 1.0f);
        clearFatalError();
    }

    // A 32-bit map whose texel (u, v) is texel(u, v); returns its index in the height-map list.
    int addHeightMap(int width, int height, const std::function<uint32_t(int, int)>& texel)
    {
        TextureFile entry;
        entry.fileName = "map" + std::to_string(set->heightMaps.size());
        entry.texture = device->createTexture(uint32_t(width), uint32_t(height), 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
        const LockedRect rect = entry.texture->lockRect(0);
        for (int v = 0; v < height; ++v)
            for (int u = 0; u < width; ++u) {
                const uint32_t t = texel(u, v);
                std::memcpy(rect.bits + size_t(v) * size_t(rect.pitch) + size_t(u) * 4, &t, 4);
            }
        set->heightMaps.push_back(std::move(entry));
        return int(set->heightMaps.size()) - 1;
    }

    TempDir dir;
    DeviceScope device;
    WorkingDirectory cwd;
    std::unique_ptr<TerrainTextureSet> set;
    VirtualClock clock{0};
};

}  // namespace

// ---- Land tiles ----

TEST_F(TerrainTiles, FlatLandGridIndexWalkWindingAndTextureSets)
{
    const int black = addHeightMap(8, 8, [](int, int) { return 0xFF000000u; });
    device->calls.clear();
    LandTile tile;
    tile.build(Vec3(10.0f, 3.0f, -20.0f), 3, 4, 6.0f, 2.0f, 40.0f, 30.0f, 0.1f, 0, 0, black);
    EXPECT_EQ(device->callsStartingWith("Create"), (std::vector<std::string>{"CreateIndexBuffer 72 8 101 1",
                                                                           "CreateIndexBuffer 72 8 101 1",
                                                                           "CreateVertexBuffer 480 8 530 1"}));
    EXPECT_EQ(tile.vertexCount, 12);
    EXPECT_EQ(tile.quadCount, 6);
    EXPECT_EQ(tile.triangleCount, 12);
    EXPECT_EQ(tile.indexCount, 36);
    EXPECT_EQ(tile.minX, -10.0f);
    EXPECT_EQ(tile.maxZ, -5.0f);

    // Quad 0 covers rows 0..1 and columns 0..1: near-left, far-left, far-right, then
    // near-left, far-right, near-right; quad 2 starts the second row of quads.
    const auto* index = reinterpret_cast<const uint16_t*>(tile.indexBuffer->data());
    EXPECT_EQ(std::vector<uint16_t>(index, index + 6), (std::vector<uint16_t>{3, 0, 1, 3, 1, 4}));
    EXPECT_EQ(std::vector<uint16_t>(index + 12, index + 18), (std::vector<uint16_t>{6, 3, 4, 6, 4, 7}));
    EXPECT_EQ(std::vector<uint16_t>(index + 30, index + 36), (std::vector<uint16_t>{10, 7, 8, 10, 8, 11}));
    // The reversed buffer: the same triangles last to first, each keeping its winding.
    const auto* reversed = reinterpret_cast<const uint16_t*>(tile.reversedIndexBuffer->data());
    EXPECT_EQ(std::vector<uint16_t>(reversed, reversed + 6), (std::vector<uint16_t>{10, 8, 11, 10, 7, 8}));
    EXPECT_EQ(std::vector<uint16_t>(reversed + 33, reversed + 36), (std::vector<uint16_t>{3, 0, 1}));

    for (int i = 0; i < tile.vertexCount; ++i) {
        const TerrainVertex& v = vertexAt(*tile.vertexBuffer, i);
        EXPECT_EQ(v.y, 3.0f) << i;
        EXPECT_EQ(v.nx, 0.0f);
        EXPECT_EQ(v.ny, 1.0f);
        EXPECT_EQ(v.nz, 0.0f);
    }
    const TerrainVertex& first = vertexAt(*tile.vertexBuffer, 0);
    const TerrainVertex& last = vertexAt(*tile.vertexBuffer, 11);
    EXPECT_EQ(first.x, -10.0f);
    EXPECT_EQ(first.z, -5.0f);
    EXPECT_EQ(first.u0, 0.0f);
    EXPECT_EQ(first.v0, 0.0f);
    EXPECT_EQ(last.x, 30.0f);
    EXPECT_EQ(last.z, -35.0f);
    EXPECT_EQ(last.u0, 1.0f);
    EXPECT_EQ(last.v0, 1.0f);
    EXPECT_EQ(last.u1, 6.0f);
    EXPECT_EQ(last.v1, 2.0f);

    // Clockwise from above: every face normal points up and the records follow the index data.
    ASSERT_EQ(tile.triangles.size(), 12u);
    for (const TerrainTriangle& t : tile.triangles) EXPECT_EQ(t.normal.y, 1.0f) << t.index;
    EXPECT_EQ(tile.triangles[1].a.x, -10.0f);  // vertex 3: row 1, column 0
    EXPECT_EQ(tile.triangles[1].c.x, 10.0f);   // vertex 4: row 1, column 1
}

TEST(GridSegmentsTest, RowsAreCutIntoRunsThatCoverEveryTriangleOnceAndBoxTheirVertices)
{
    // 40 columns: 39 quads a row, cut 16 + 16 + 7; 3 rows of quads.
    const int columns = 40, rows = 4;
    std::vector<Vec3> positions;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) positions.emplace_back(float(c), float((c * 7 + r * 3) % 5), float(-r));
    const GridSegments all = gridSegments(positions, columns, rows);
    const std::vector<GridSegment>& segments = all.segments;
    ASSERT_EQ(segments.size(), 9u);
    ASSERT_EQ(all.perRow, 3);
    uint32_t next = 0;
    for (const GridSegment& s : segments) {
        EXPECT_EQ(s.firstTriangle, next);
        next += s.triangleCount;
    }
    EXPECT_EQ(next, uint32_t(2 * (columns - 1) * (rows - 1)));
    EXPECT_EQ(segments[2].triangleCount, 14u);
    // The third segment of the second row: columns 32..39, rows 1..2.
    const GridSegment& s = segments[5];
    EXPECT_EQ(std::vector<float>({s.low.x, s.low.y, s.low.z, s.high.x, s.high.y, s.high.z}),
              std::vector<float>({32.0f, 0.0f, -2.0f, 39.0f, 4.0f, -1.0f}));
    // The three rows make one band: a group per segment column, boxing its three segments.
    ASSERT_EQ(all.groups.size(), 3u);
    const GridSegments::Group& g = all.groups[2];
    EXPECT_EQ(std::vector<float>({g.low.x, g.low.z, g.high.x, g.high.z}), std::vector<float>({32.0f, -3.0f, 39.0f, 0.0f}));
}

TEST(GridSegmentsTest, ViewVolumeSkipsOnlyBoxesWhollyOutsideAndMeasuresTheirDepth)
{
    // The demo's camera: looking along +z from the origin, near 1, far 1,000, 4:3.
    const Matrix4 view = lookAtLH(Vec3(0, 0, 0), Vec3(0, 0, 1), Vec3(0, 1, 0));
    const Matrix4 projection = perspectiveFovLH(0.78539816f, 4.0f / 3.0f, 1.0f, 1000.0f);
    Matrix4 world = identity();
    const ViewVolume volume(world, view, projection);
    EXPECT_FALSE(volume.outside(Vec3(-1, -1, 10), Vec3(1, 1, 12)));    // ahead
    EXPECT_TRUE(volume.inside(Vec3(-1, -1, 10), Vec3(1, 1, 12)));
    EXPECT_FALSE(volume.inside(Vec3(-50, -1, -5), Vec3(50, 1, 5)));
    EXPECT_FALSE(volume.outside(Vec3(-50, -1, -5), Vec3(50, 1, 5)));   // around the eye
    EXPECT_TRUE(volume.outside(Vec3(-1, -1, -12), Vec3(1, 1, -10)));   // behind
    EXPECT_TRUE(volume.outside(Vec3(30, -1, 10), Vec3(40, 1, 12)));    // far to the right
    EXPECT_TRUE(volume.outside(Vec3(-1, -1, 1100), Vec3(1, 1, 1200))); // beyond the far plane
    EXPECT_TRUE(volume.outside(Vec3(-1, 0.5f, 0.2f), Vec3(1, 0.6f, 0.5f)));  // before the near plane
    // Just beyond the picture's right edge (x = 0.552 w at z = 1): kept by the margin.
    EXPECT_FALSE(volume.outside(Vec3(5.6f, -1, 10), Vec3(6, 1, 10)));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(volume.outside(Vec3(-1, -1, nan), Vec3(1, 1, nan)));

    // Depth z / w of the farthest corner: 1000 (z - 1) / (999 z) at z = 500.
    EXPECT_NEAR(volume.deepest(Vec3(-1, -1, 10), Vec3(1, 1, 500)), 1000.0 * 499.0 / (999.0 * 500.0), 1e-6);
    EXPECT_EQ(volume.deepest(Vec3(-1, -1, -12), Vec3(1, 1, -10)), 0.0);
    // The world matrix moves the box: 400 units further it lies beyond the reverse-order limit.
    world(3, 2) = 400.0f;
    EXPECT_GT(ViewVolume(world, view, projection).deepest(Vec3(-1, -1, 10), Vec3(1, 1, 600)), reverseOrderDepthLimit);
}

TEST_F(TerrainTiles, HeightsComeFromTheSampledTexelsAndTheBorderStaysAtTheBase)
{
    // All white: 765 x (file scale 0.3 / 3) = 76.5 above the base, except the border ring.
    const int white = addHeightMap(1024, 1024, [](int, int) { return 0xFFFFFFFFu; });
    LandTile tile;
    tile.build(Vec3(0.0f, -2.0f, 0.0f), 5, 5, 1.0f, 1.0f, 40.0f, 40.0f, 0.3f / 3.0f, 0, 0, white);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            const bool border = r == 0 || c == 0 || r == 4 || c == 4;
            EXPECT_FLOAT_EQ(vertexAt(*tile.vertexBuffer, r * 5 + c).y, border ? -2.0f : -2.0f + 76.5f) << r << " " << c;
        }
    // The centre of a plateau is flat; a vertex next to the border leans outwards.
    EXPECT_FLOAT_EQ(vertexAt(*tile.vertexBuffer, 12).ny, 1.0f);
    EXPECT_LT(vertexAt(*tile.vertexBuffer, 6).nx, 0.0f);

    // 5 x 5 samples columns and rows 341, 682, 1023; the brightness is blue + green + red.
    auto level = [](int u, int v) -> uint32_t {
        const int iu = u / 341 - 1, iv = v / 341 - 1;
        if (u % 341 != 0 || v % 341 != 0 || iu < 0 || iv < 0 || iu > 2 || iv > 2) return 0xFF000000u;
        return 0xFF000000u | uint32_t(10 * iv + iu + 1) << 16 | 1u << 8 | 2u;  // red level, green 1, blue 2
    };
    const int marked = addHeightMap(1024, 1024, level);
    LandTile sampled;
    sampled.build(Vec3(0.0f, 0.0f, 0.0f), 5, 5, 1.0f, 1.0f, 40.0f, 40.0f, 1.0f, 0, 0, marked);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c)
            EXPECT_EQ(vertexAt(*sampled.vertexBuffer, r * 5 + c).y, float(10 * (r - 1) + (c - 1) + 1 + 3)) << r << " " << c;

    // 4 x 4 steps by 512: the second interior column would read u = 1,024 and reads 1,023.
    const int edge = addHeightMap(1024, 1024, [](int u, int v) { return u == 1023 && v == 512 ? 0xFF030303u : 0xFF000000u; });
    LandTile clamped;
    clamped.build(Vec3(0.0f, 0.0f, 0.0f), 4, 4, 1.0f, 1.0f, 30.0f, 30.0f, 1.0f, 0, 0, edge);
    EXPECT_EQ(vertexAt(*clamped.vertexBuffer, 1 * 4 + 2).y, 9.0f);
    EXPECT_EQ(vertexAt(*clamped.vertexBuffer, 1 * 4 + 1).y, 0.0f);

    // A smaller image is read in proportion: u = 512 of the 1,024 space is texel 128 of 256.
    const int small = addHeightMap(256, 256, [](int u, int v) { return u == 128 && v == 128 ? 0xFF010101u : 0xFF000000u; });
    LandTile scaled;
    scaled.build(Vec3(0.0f, 0.0f, 0.0f), 4, 4, 1.0f, 1.0f, 30.0f, 30.0f, 1.0f, 0, 0, small);
    EXPECT_EQ(vertexAt(*scaled.vertexBuffer, 1 * 4 + 1).y, 3.0f);
}

TEST(TerrainTriangleTest, VerticalHitCountsEdgesAndVerticesAsInside)
{
    // Near-left, far-left, far-right of a cell that rises towards +x.
    TerrainTriangle t;
    t.set(Vec3(0, 0, 0), Vec3(0, 0, 10), Vec3(10, 5, 10), 1.0f, 1.0f, 1.0f, 7);
    EXPECT_EQ(t.index, 7);
    EXPECT_GT(t.normal.y, 0.0f);
    float depth = 0.0f;
    struct Case {
        Vec3 p;
        bool inside;
        float height;
    };
    const Case cases[] = {
        {{2, 30, 8}, true, 1.0f},    // inside
        {{10, 30, 10}, true, 5.0f},  // a vertex
        {{0, 30, 5}, true, 0.0f},    // on the edge AB
        {{5, -30, 5}, true, 2.5f},   // on the diagonal, from below the plane
        {{6, 30, 2}, false, 0.0f},   // in the cell's other triangle
        {{-1, 30, 5}, false, 0.0f},  // beyond the edge AB
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.hitVertical(c.p, depth), c.inside) << c.p.x << " " << c.p.z;
        if (c.inside) {
            EXPECT_FLOAT_EQ(c.p.y - depth, c.height) << c.p.x << " " << c.p.z;
        }
    }
    TerrainTriangle wall;
    wall.set(Vec3(0, 0, 0), Vec3(0, 10, 0), Vec3(10, 0, 0), 1.0f, 1.0f, 1.0f, 0);
    EXPECT_FALSE(wall.hitVertical(Vec3(1, 1, 0), depth));
}

// ---- Water tiles ----

TEST_F(TerrainTiles, WaterFramesFlatWithoutWavesAndFollowTheWaveFormula)
{
    const Vec3 positions[] = {{100.0f, 4.0f, 50.0f}};
    WaterTile calm;
    calm.build(1, 3, 50, positions, 3, 2, 1.0f, 1.0f, 20.0f, 10.0f, 0.0f, 0.0f, 0.0f, 0, 0);
    ASSERT_EQ(calm.frameBuffers.size(), 3u);
    EXPECT_EQ(calm.instances[0].minX, 90.0f);
    EXPECT_EQ(calm.instances[0].maxZ, 55.0f);
    for (const auto& frame : calm.frameBuffers)
        for (int i = 0; i < 6; ++i) {
            const TerrainVertex& v = vertexAt(*frame, i);
            EXPECT_EQ(v.x, float(i % 3) * 10.0f - 10.0f);
            EXPECT_EQ(v.y, 0.0f);
            EXPECT_EQ(v.z, i < 3 ? 5.0f : -5.0f);
            EXPECT_EQ(v.ny, 1.0f);
        }
    EXPECT_EQ(device->callsStartingWith("CreateIndexBuffer"), (std::vector<std::string>{"CreateIndexBuffer 24 8 101 1"}));
    EXPECT_EQ(device->callsStartingWith("CreateVertexBuffer").size(), 3u);

    // Every draw yields 16384: amplitude = -1 + 16384 x 2 / 32767, frequencies 2 x 2 = 4.
    setRandomSourceForTest([] { return 16384; });
    WaterTile waves;
    waves.build(1, 8, 50, positions, 2, 2, 1.0f, 1.0f, 20.0f, 10.0f, 0.5f, 1.0f, 0.5f, 0, 0);
    setRandomSourceForTest(nullptr);
    const auto amplitude = static_cast<float>(16384.0 * 2.0 / 32767.0 - 1.0);
    const TerrainVertex& start = vertexAt(*waves.frameBuffers[0], 0);
    EXPECT_FLOAT_EQ(start.x, -10.0f + 0.5f);  // frame 0: (x0 + sway, amplitude, z0)
    EXPECT_FLOAT_EQ(start.y, amplitude);
    EXPECT_FLOAT_EQ(start.z, 5.0f);
    const TerrainVertex& quarter = vertexAt(*waves.frameBuffers[1], 0);  // angle 4 x pi / 8
    EXPECT_NEAR(quarter.x, -10.0f, 1e-6f);
    EXPECT_NEAR(quarter.y, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(quarter.z, 5.0f + 0.5f);
}

TEST_F(TerrainTiles, WaterStepsOneFrameAtMostPerCallOnlyWhileVisible)
{
    const Vec3 positions[] = {{0.0f, 0.0f, -20.0f}};  // under the camera
    clock.set(1000);
    WaterTile water;
    water.build(1, 3, 50, positions, 2, 2, 1.0f, 1.0f, 10.0f, 10.0f, 0.0f, 0.0f, 0.0f, 0, 0);
    EXPECT_EQ(water.lastFrameChange, 1000u);
    auto frameAfterDrawAt = [&](uint32_t tick) {
        clock.set(tick);
        water.findInstance(cameraPos);
        water.cull();
        water.draw(lightVector);
        return water.currentFrame;
    };
    EXPECT_EQ(frameAfterDrawAt(1050), 0);  // not more than the period yet
    EXPECT_EQ(frameAfterDrawAt(1051), 1);
    EXPECT_EQ(frameAfterDrawAt(1051), 1);
    EXPECT_EQ(frameAfterDrawAt(9000), 2);  // a long pause still steps once
    EXPECT_EQ(frameAfterDrawAt(9100), 0);  // wraps
    EXPECT_EQ(water.lastFrameChange, 9100u);

    // Across the tick counter's wrap the unsigned difference still counts.
    water.lastFrameChange = 0xFFFFFFF0u;
    EXPECT_EQ(frameAfterDrawAt(0x20), 0);
    EXPECT_EQ(frameAfterDrawAt(0x23), 1);

    // Out of sight (behind the camera and not under it) the animation stands still; the first
    // visible draw then steps at once.
    cameraPos = Vec3(0.0f, 20.0f, 100.0f);
    EXPECT_EQ(frameAfterDrawAt(20000), 1);
    EXPECT_EQ(water.instances[0].visible, 0);
    cameraPos = Vec3(0.0f, 20.0f, -100.0f);
    EXPECT_EQ(frameAfterDrawAt(20001), 2);

    // A single frame never moves.
    WaterTile still;
    still.build(1, 1, 0, positions, 2, 2, 1.0f, 1.0f, 10.0f, 10.0f, 1.0f, 1.0f, 1.0f, 0, 0);
    for (uint32_t t = 30000; t < 30100; t += 10) {
        clock.set(t);
        still.cull();
        still.draw(lightVector);
        EXPECT_EQ(still.currentFrame, 0);
    }
}
