#include "terrain/land_tile.h"

#include <algorithm>
#include <cstring>

#include "state/graphics.h"
#include "state/input.h"
#include "terrain/terrain_texture_set.h"

uint32_t heightMapTexelOffset(const Texture& map, int u, int v)
{
    // The sample grid is laid out for 1,024 texels; other sizes are scaled to it, and the
    // sample one past the last texel reads the last one.
    const int64_t width = map.width(0), height = map.height(0);
    const int64_t x = std::min<int64_t>(int64_t(u) * width / 1024, width - 1);
    const int64_t y = std::min<int64_t>(int64_t(v) * height / 1024, height - 1);
    return static_cast<uint32_t>(y * width + x);
}

void LandTile::build(const Vec3& position, int columnCount, int rowCount, float detailRepeatU, float detailRepeatV,
                     float tileWidth, float tileDepth, float heightScale, int baseIndex, int detailIndex, int heightMapIndex)
{
    centre = position;
    baseTexture = baseIndex;
    detailTexture = detailIndex;
    heightMap = heightMapIndex;
    setGrid(columnCount, rowCount, tileWidth, tileDepth);

    minX = centre.x - halfWidth;
    maxX = centre.x + halfWidth;
    minZ = centre.z - halfDepth;
    maxZ = centre.z + halfDepth;
    corners[0] = Vec3(minX, 0.0f, maxZ);
    corners[1] = Vec3(minX, 0.0f, minZ);
    corners[2] = Vec3(maxX, 0.0f, maxZ);
    corners[3] = Vec3(maxX, 0.0f, minZ);

    vertexCount = columns * rows;
    quadCount = (columns - 1) * (rows - 1);
    triangleCount = 2 * quadCount;
    indexCount = 3 * triangleCount;

    triangles.assign(size_t(triangleCount), TerrainTriangle{});
    std::vector<Vec3> positions(static_cast<size_t>(vertexCount));
    const std::vector<uint16_t> indices = gridIndices(columns, rows);
    indexBuffer = createIndexBuffer(indices);
    std::vector<uint16_t> reversed(indices.size());
    for (size_t t = 0, n = indices.size() / 3; t < n; ++t)  // each triangle keeps its own vertex order
        std::copy_n(&indices[3 * (n - 1 - t)], 3, &reversed[3 * t]);
    reversedIndexBuffer = createIndexBuffer(reversed);

    // The vertices are prepared here and copied into the buffer with one lock.
    std::vector<TerrainVertex> vertices(static_cast<size_t>(vertexCount));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const Vec3 p = Vec3(float(c) * cellWidth - halfWidth, 0.0f, halfDepth - float(r) * cellDepth) + centre;
            TerrainVertex& v = vertices[size_t(r) * size_t(columns) + size_t(c)];
            v = {p.x, p.y, p.z, 0.0f, 1.0f, 0.0f, float(c) * columnStep, float(r) * rowStep,
                 float(c) * detailRepeatU * columnStep, float(r) * detailRepeatV * rowStep};
            positions[size_t(r) * size_t(columns) + size_t(c)] = p;
        }

    // Heights: the brightness (blue + green + red) of the sampled texel; the border stays at the
    // base height so neighbouring tiles meet.
    Texture* map = (terrainTextures && heightMap >= 0 && size_t(heightMap) < terrainTextures->heightMaps.size())
                       ? terrainTextures->heightMaps[size_t(heightMap)].texture.get()
                       : nullptr;
    if (map && map->bytesPerTexel() == 4) {
        const LockedRect texels = map->lockRect(0);
        const int stepX = 1024 / (columns - 2);
        const int stepZ = 1024 / (rows - 2);
        if (texels.bits) {
            for (int r = 1; r <= rows - 2; ++r)
                for (int c = 1; c <= columns - 2; ++c) {
                    const uint8_t* t = texels.bits + size_t(heightMapTexelOffset(*map, c * stepX, r * stepZ)) * 4;
                    const int brightness = t[0] + t[1] + t[2];
                    const size_t i = size_t(r) * size_t(columns) + size_t(c);
                    positions[i].y = positions[i].y + float(brightness) * heightScale;
                    vertices[i].y = positions[i].y;
                }
        }
        map->unlockRect(0);
    }
    gridNormals(positions, columns, rows, vertices.data());
    segments = gridSegments(positions, columns, rows);

    if (graphicsDevice) {
        vertexBuffer = graphicsDevice->createVertexBuffer(uint32_t(vertexCount) * 40, D3DUSAGE_WRITEONLY, terrainFvf,
                                                          D3DPOOL_MANAGED);
        if (vertexBuffer) {
            if (uint8_t* data = vertexBuffer->lock(0, 0, 0)) std::memcpy(data, vertices.data(), vertices.size() * 40);
            vertexBuffer->unlock();
        }
    }

    for (int i = 0; i < triangleCount; ++i)
        triangles[size_t(i)].set(positions[indices[size_t(3 * i)]], positions[indices[size_t(3 * i + 1)]],
                                 positions[indices[size_t(3 * i + 2)]], 1.0f, 1.0f, 1.0f, i);
}

bool LandTile::contains(const Vec3& p)
{
    const bool inside = minX <= p.x && p.x <= maxX && minZ <= p.z && p.z <= maxZ;
    cameraOver = inside ? 1 : 0;
    return inside;
}

float LandTile::groundHeight(const Vec3& p)
{
    const Vec3 q = p - centre;
    // Kept inside the grid: a point on the maximum-x or minimum-z edge measures the edge cell.
    float column = (q.x + halfWidth) / cellWidth;
    float row = (halfDepth - q.z) / cellDepth;
    column = column >= 0.0f ? std::min(column, float(columns - 2)) : 0.0f;  // NaN too lands on 0
    row = row >= 0.0f ? std::min(row, float(rows - 2)) : 0.0f;
    cellColumn = static_cast<int>(column);
    cellRow = static_cast<int>(row);
    quad = (columns - 1) * cellRow + cellColumn;
    firstTriangle = 2 * quad;
    secondTriangle = 2 * quad + 1;
    float t = 0.0f;
    if (size_t(secondTriangle) < triangles.size()) {
        if (triangles[size_t(firstTriangle)].hitVertical(p, t)) return p.y - t;
        if (triangles[size_t(secondTriangle)].hitVertical(p, t)) return p.y - t;
    }
    return terrainFrame.landHeight;
}

void LandTile::cull()
{
    if (cameraOver == 1) {
        visible = 1;
        return;
    }
    visible = (pointInView(centre.x, centre.z) || pointInView(minX, maxZ) || pointInView(maxX, maxZ) ||
               pointInView(minX, minZ) || pointInView(maxX, minZ))
                  ? 1
                  : 0;
}

void LandTile::draw()
{
    const bool show = visible != 0;
    cameraOver = 0;
    GraphicsDevice* d = graphicsDevice.get();
    if (!show || !d) return;
    beginDraw(*d);
    d->setIndices(indexBuffer.get());
    d->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, uint32_t(vertexCount), 0, uint32_t(triangleCount));
    endDraw(*d);
}

void LandTile::selectSegments(const ViewVolume& view, double& deepest)
{
    runs.clear();
    if (visible != 0) visibleRuns(segments, view, visibleSegments, runs, deepest);
}

void LandTile::drawSegments(bool reversed)
{
    const bool show = visible != 0;
    cameraOver = 0;
    GraphicsDevice* d = graphicsDevice.get();
    if (!show || !d || runs.empty()) return;
    if (reversed) {
        // Triangle t of the grid is triangle n - 1 - t of the reversed buffer, so the runs turn
        // round and their order with them.
        const uint32_t indices = uint32_t(indexCount);
        std::reverse(runs.begin(), runs.end());
        for (IndexRange& run : runs) run.startIndex = indices - run.startIndex - 3 * run.primitiveCount;
    }
    beginDraw(*d);
    const uint32_t depthTest = d->renderState(D3DRS_ZFUNC);
    if (reversed) d->setRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    d->setIndices(reversed ? reversedIndexBuffer.get() : indexBuffer.get());
    d->drawIndexedRanges(D3DPT_TRIANGLELIST, 0, 0, uint32_t(vertexCount), runs.data(), runs.size());
    if (reversed) d->setRenderState(D3DRS_ZFUNC, depthTest);
    endDraw(*d);
}

void LandTile::beginDraw(GraphicsDevice& d)
{
    Material material;
    std::memset(&material, 0, sizeof material);
    material.diffuse = {5.0f, 5.0f, 5.0f, 0.0f};
    d.setMaterial(material);
    setTerrainMipFilter();
    d.setTexture(0, baseTextureAt(baseTexture));
    if (detailTextureSwitch == 1) {
        d.setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        d.setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d.setTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        d.setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSIGNED);
        d.setTexture(1, detailTextureAt(detailTexture));
    }
    // The grid is clockwise seen from above.
    d.setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d.setStreamSource(0, vertexBuffer.get(), 0, 40);
    d.setFVF(terrainFvf);
}

void LandTile::endDraw(GraphicsDevice& d)
{
    d.setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d.setTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d.setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    d.setSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    d.setSamplerState(1, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    d.setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d.setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d.setTexture(0, nullptr);
    d.setTexture(1, nullptr);
}
