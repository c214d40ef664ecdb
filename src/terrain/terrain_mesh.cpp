#include "terrain/terrain_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "state/camera.h"
#include "state/graphics.h"
#include "state/input.h"
#include "state/settings.h"
#include "terrain/terrain_texture_set.h"

TerrainFrameState terrainFrame;

void TerrainTriangle::set(const Vec3& va, const Vec3& vb, const Vec3& vc, float sx, float sy, float sz, int triangleIndex)
{
    index = triangleIndex;
    a = Vec3(sx * va.x, sy * va.y, sz * va.z);
    b = Vec3(sx * vb.x, sy * vb.y, sz * vb.z);
    c = Vec3(sx * vc.x, sy * vc.y, sz * vc.z);
    const Vec3 e1 = b - a;
    const Vec3 e2 = c - a;
    normal = unit(cross(e1, e2));
    edgeAB = cross(e1, normal);
    edgeBC = cross(c - b, normal);
    edgeCA = cross(a - c, normal);
}

bool TerrainTriangle::hitVertical(const Vec3& p, float& t) const
{
    const float along = dot(normal, downVector);
    if (along == 0.0f) return false;  // a vertical triangle
    t = -dot(normal, p - a) / along;
    const Vec3 hit = p + downVector * t;
    // A point a hair outside an edge (rounding in the plane hit) still counts as on it, so the two
    // triangles of a cell leave no gap along their shared edges: up to 1e-4 of the longest side.
    // The edge normals are as long as their edges, so each dot product is the distance times
    // that length.
    const float ab = std::sqrt(lengthSq(edgeAB)), bc = std::sqrt(lengthSq(edgeBC)), ca = std::sqrt(lengthSq(edgeCA));
    const float tolerance = 1e-4f * std::max(ab, std::max(bc, ca));
    if (dot(hit - a, edgeAB) > tolerance * ab) return false;
    if (dot(hit - b, edgeBC) > tolerance * bc) return false;
    if (dot(hit - c, edgeCA) > tolerance * ca) return false;
    return true;
}

std::vector<uint16_t> gridIndices(int columns, int rows)
{
    const int quads = (columns - 1) * (rows - 1);
    std::vector<uint16_t> indices(size_t(quads) * 6);
    int o = 1, t = 1;
    for (int q = 0; q < quads; ++q) {
        uint16_t* i = &indices[size_t(q) * 6];
        i[0] = uint16_t(o * columns + t - 1);
        i[1] = uint16_t((o - 1) * columns + t - 1);
        i[2] = uint16_t((o - 1) * columns + t);
        i[3] = uint16_t(o * columns + t - 1);
        i[4] = uint16_t((o - 1) * columns + t);
        i[5] = uint16_t(o * columns + t);
        if (++t == columns) {
            t = 1;
            ++o;
        }
    }
    return indices;
}

std::unique_ptr<IndexBuffer> createIndexBuffer(const std::vector<uint16_t>& indices)
{
    if (!graphicsDevice) return nullptr;
    const auto bytes = static_cast<uint32_t>(indices.size() * 2);
    std::unique_ptr<IndexBuffer> buffer =
        graphicsDevice->createIndexBuffer(bytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    if (!buffer) return nullptr;
    if (uint8_t* data = buffer->lock(0, 0, 0)) {
        std::memcpy(data, indices.data(), bytes);
        buffer->unlock();
    }
    return buffer;
}

void gridNormals(const std::vector<Vec3>& positions, int columns, int rows, TerrainVertex* vertices)
{
    auto at = [&](int r, int c) -> const Vec3& { return positions[size_t(r) * size_t(columns) + size_t(c)]; };
    for (int r = 1; r <= rows - 2; ++r)
        for (int c = 1; c <= columns - 2; ++c) {
            const Vec3& p = at(r, c);
            const Vec3 nw = at(r - 1, c - 1) - p, n = at(r - 1, c) - p, ne = at(r - 1, c + 1) - p;
            const Vec3 w = at(r, c - 1) - p, e = at(r, c + 1) - p;
            const Vec3 sw = at(r + 1, c - 1) - p, s = at(r + 1, c) - p, se = at(r + 1, c + 1) - p;
            // Each product points down on an upward surface; the negative average turns it up.
            Vec3 sum = unit(cross(nw, w));
            sum = sum + unit(cross(w, sw));
            sum = sum + unit(cross(sw, s));
            sum = sum + unit(cross(s, se));
            sum = sum + unit(cross(se, e));
            sum = sum + unit(cross(e, ne));
            sum = sum + unit(cross(ne, n));
            sum = sum + unit(cross(n, nw));
            const Vec3 normal = sum * -0.125f;
            TerrainVertex& v = vertices[size_t(r) * size_t(columns) + size_t(c)];
            v.nx = normal.x;
            v.ny = normal.y;
            v.nz = normal.z;
        }
}

bool pointInView(float x, float z)
{
    const Vec3 d(x - cameraPos.x, 0.0f, z - cameraPos.z);
    const float a = dot(d, lookDir);
    const float distanceSq = dot(d, d);
    return a > 0.0f && 0.35f * distanceSq < a * a && distanceSq < appSettings.viewDistanceSq;
}

float TerrainFrameState::groundHeight() const
{
    const bool land = landTileIndex >= 0;
    const bool water = waterTileIndex >= 0;
    if (land && water) return landHeight > waterLevel ? landHeight : waterLevel;
    if (land) return landHeight;
    if (water) return waterLevel;
    return 0.0f;
}

namespace {

Texture* textureAt(const std::vector<TextureFile>* list, int index)
{
    if (!list || index < 0 || static_cast<size_t>(index) >= list->size()) return nullptr;
    return (*list)[size_t(index)].texture.get();
}

}  // namespace

Texture* baseTextureAt(int index) { return textureAt(terrainTextures ? &terrainTextures->baseTextures : nullptr, index); }
Texture* detailTextureAt(int index)
{
    return textureAt(terrainTextures ? &terrainTextures->detailTextures : nullptr, index);
}

void setTerrainMipFilter()
{
    uint32_t filter;
    if (mipFilterMode == 1)
        filter = D3DTEXF_POINT;
    else if (mipFilterMode == 2)
        filter = D3DTEXF_LINEAR;
    else
        return;
    graphicsDevice->setSamplerState(0, D3DSAMP_MIPFILTER, filter);
    graphicsDevice->setSamplerState(1, D3DSAMP_MIPFILTER, filter);
}

void TileGrid::setGrid(int columnCount, int rowCount, float gridWidth, float gridDepth)
{
    columns = columnCount;
    rows = rowCount;
    width = gridWidth;
    halfWidth = 0.5f * width;
    cellWidth = width / float(columns - 1);
    columnStep = 1.0f / float(columns - 1);
    depth = gridDepth;
    halfDepth = 0.5f * depth;
    cellDepth = depth / float(rows - 1);
    rowStep = 1.0f / float(rows - 1);
}
