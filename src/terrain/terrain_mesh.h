#pragma once

// What land and water tiles share: the 40-byte vertex, the grid's index walk and normal rule,
// the ground-test triangle, the view test and the per-frame ground state.

#include <cstdint>
#include <memory>
#include <vector>

#include "device/graphics_device.h"
#include "math/vec3.h"

struct TerrainVertex {
    float x, y, z;
    float nx, ny, nz;
    float u0, v0;
    float u1, v1;
};
static_assert(sizeof(TerrainVertex) == 40, "terrain vertices are 40 bytes");

inline constexpr uint32_t terrainFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2;  // 0x212

// One triangle of a land tile with what the vertical ground test needs.
struct TerrainTriangle {
    int index = 0;
    Vec3 a{0, 0, 0}, b{0, 0, 0}, c{0, 0, 0};
    Vec3 edgeAB{0, 0, 0}, edgeBC{0, 0, 0}, edgeCA{0, 0, 0};  // point out of the triangle, not normalised
    Vec3 normal{0, 0, 0};

    void set(const Vec3& va, const Vec3& vb, const Vec3& vc, float sx, float sy, float sz, int triangleIndex);
    // Casts a ray straight down from p onto the triangle's plane: t is the distance along it
    // (p.y - t is the plane's height at p.x, p.z). True when the point lies inside or on an edge, within
    // 1e-4 of the triangle's longest side.
    bool hitVertical(const Vec3& p, float& t) const;
};

// The grid size and the spacing derived from it, alike for land and water tiles.
struct TileGrid {
    float width = 0, halfWidth = 0, cellWidth = 0, columnStep = 0;  // columnStep = 1 / (columns - 1)
    float depth = 0, halfDepth = 0, cellDepth = 0, rowStep = 0;
    int columns = 0, rows = 0;

    // columns and rows are at least 2 (the file reader refuses fewer).
    void setGrid(int columnCount, int rowCount, float gridWidth, float gridDepth);
};

// Six indices per quad, quads row by row; both triangles clockwise seen from above.
std::vector<uint16_t> gridIndices(int columns, int rows);

// A write-only managed index buffer holding indices, or null when the device makes none.
std::unique_ptr<IndexBuffer> createIndexBuffer(const std::vector<uint16_t>& indices);

// Interior vertex normals from the eight neighbours; the border keeps (0, 1, 0).
void gridNormals(const std::vector<Vec3>& positions, int columns, int rows, TerrainVertex* vertices);

// The coarse view test of one point (y ignored): in front of the camera, within about 53.7
// degrees of the look direction, and closer than the view distance.
bool pointInView(float x, float z);

// The per-frame ground state, one set for the whole program.
struct TerrainFrameState {
    int landTileIndex = -1;   // -1: no land tile under the camera this frame
    int waterTileIndex = -1;  // -1: no water instance under the camera this frame
    float landHeight = 0.0f;
    float previousLandHeight = 0.0f;
    float waterLevel = 0.0f;

    // The higher of land and water when both were found (equal takes the water), the one found
    // otherwise, 0 when neither.
    float groundHeight() const;
};

extern TerrainFrameState terrainFrame;

// Texture of a list entry, null when the entry is missing or did not load.
Texture* baseTextureAt(int index);
Texture* detailTextureAt(int index);

// The mip filter the keys chose, on samplers 0 and 1.
void setTerrainMipFilter();
