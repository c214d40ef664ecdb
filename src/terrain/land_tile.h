#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/graphics_device.h"
#include "terrain/grid_segments.h"
#include "terrain/terrain_mesh.h"

// A static height-field grid over a rectangle of the x-z plane, lifted by a height map.
class LandTile : public TileGrid {
public:
    LandTile() = default;
    LandTile(const LandTile&) = delete;
    LandTile& operator=(const LandTile&) = delete;

    // heightScale is already the file's value divided by 3. The height map must be loaded
    // (Terrain checks it before building).
    void build(const Vec3& position, int columns, int rows, float detailRepeatU, float detailRepeatV, float width,
               float depth, float heightScale, int baseTexture, int detailTexture, int heightMap);

    // Whether p lies over the rectangle, edges included; also stored in cameraOver.
    bool contains(const Vec3& p);
    // Height of the ground at p.x, p.z; the land height of the frame state when neither triangle
    // of the cell reports a hit.
    float groundHeight(const Vec3& p);
    void cull();
    // The whole grid in one draw, in grid order.
    void draw();
    // Chooses the segments of a visible tile that reach into view, and raises deepest to the
    // largest depth they can have; drawSegments then draws them in grid order or its reverse
    // (with the strict depth test). Both forget cameraOver, as draw does.
    void selectSegments(const ViewVolume& view, double& deepest);
    void drawSegments(bool reversed);

    int baseTexture = 0, detailTexture = 0, heightMap = 0;
    float minX = 0, maxX = 0, minZ = 0, maxZ = 0;
    int cameraOver = 0;
    int visible = 0;
    int vertexCount = 0, triangleCount = 0, quadCount = 0, indexCount = 0;
    int cellColumn = 0, cellRow = 0, firstTriangle = 0, secondTriangle = 0, quad = 0;  // the last ground query
    Vec3 centre{0, 0, 0};
    Vec3 corners[4] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    std::vector<TerrainTriangle> triangles;
    std::unique_ptr<IndexBuffer> indexBuffer;
    std::unique_ptr<IndexBuffer> reversedIndexBuffer;  // the triangles last to first
    GridSegments segments;
    std::vector<uint8_t> visibleSegments;
    std::vector<IndexRange> runs;  // this frame's segments, joined where they meet, in grid order
    std::unique_ptr<VertexBuffer> vertexBuffer;

private:
    void beginDraw(GraphicsDevice& d);
    void endDraw(GraphicsDevice& d);
};

// The height-map texel a build reads for sample point (u, v) of the 1,024-texel space, scaled to
// the image's size and kept inside it.
uint32_t heightMapTexelOffset(const Texture& map, int u, int v);
