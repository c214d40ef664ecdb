#include "terrain/terrain.h"

#include <cstdlib>

#include "state/camera.h"
#include "state/lighting.h"
#include "base/fatal_error.h"
#include "state/graphics.h"
#include "base/data_folder.h"

namespace {

// The land builds read their height maps' texels, so those must have loaded.
bool heightMapsLoaded(const TerrainDescription& description, const TerrainTextureSet& set)
{
    for (size_t i = 0; i < description.land.size(); ++i) {
        const TextureFile& map = set.heightMaps[size_t(description.land[i].heightMap)];
        const std::string where = shownPath(terrainFileName) + ": land tile " + std::to_string(i) + ": height map " +
                                  std::to_string(description.land[i].heightMap) + " (" + shownPath(map.fileName) + ")";
        if (!map.texture) {
            reportFatal(where + " could not be loaded, and the tile needs its heights");
            return false;
        }
        if (map.texture->bytesPerTexel() != 4) {
            reportFatal(where + " is not a 32-bit texture");
            return false;
        }
    }
    return true;
}

}  // namespace

Terrain::Terrain()
{
    terrainFrame = TerrainFrameState{};
    if (const char* whole = std::getenv("ZENTRIX_WHOLE_TILES")) drawSegments = whole[0] == '\0' || whole[0] == '0';
    setActivity("loading the terrain textures");
    textures = std::make_unique<TerrainTextureSet>();
    terrainTextures = textures.get();
    if (fatalErrorPending()) return;
    worldMatrix = identity();

    TokenReader in;
    if (!in.openRequired(terrainFileName)) return;
    const TextureListSizes lists{textures->baseTextures.size(), textures->detailTextures.size(),
                                 textures->heightMaps.size(), textures->textureBytes};
    TerrainDescription description;
    std::string error;
    if (!readTerrainDescription(in, lists, description, error)) {
        reportFatal(error);
        return;
    }
    in.close();
    if (!heightMapsLoaded(description, *textures)) return;

    setActivity("building the terrain");
    landTileCount = static_cast<int>(description.land.size());
    waterTileCount = static_cast<int>(description.water.size());
    landTiles = std::make_unique<LandTile[]>(size_t(landTileCount));
    waterTiles = std::make_unique<WaterTile[]>(size_t(waterTileCount));
    for (int i = 0; i < landTileCount; ++i) {
        const LandTileRecord& r = description.land[size_t(i)];
        landTiles[size_t(i)].build(r.position, r.columns, r.rows, r.detailRepeatU, r.detailRepeatV, r.width, r.depth,
                                   r.heightScale / 3.0f, r.baseTexture, r.detailTexture, r.heightMap);
    }
    for (int i = 0; i < waterTileCount; ++i) {
        const WaterTileRecord& r = description.water[size_t(i)];
        waterTiles[size_t(i)].build(static_cast<int>(r.positions.size()), r.frameCount, r.framePeriod, r.positions.data(),
                                    r.columns, r.rows, r.detailRepeatU, r.detailRepeatV, r.width, r.depth, r.sway,
                                    r.waveHeight, r.sway, r.baseTexture, r.detailTexture);
    }
}

Terrain::~Terrain()
{
    textures.reset();
    terrainTextures = nullptr;
    waterTiles.reset();
    landTiles.reset();
}

void Terrain::place()
{
    const Vec3 p = cameraPos;
    terrainFrame.landTileIndex = -1;
    terrainFrame.waterTileIndex = -1;
    for (int i = 0; i < waterTileCount; ++i)
        if (waterTiles[size_t(i)].findInstance(p)) {
            terrainFrame.waterTileIndex = i;
            terrainFrame.waterLevel = waterTiles[size_t(i)].instanceLevel();
            break;
        }
    for (int i = 0; i < landTileCount; ++i)
        if (landTiles[size_t(i)].contains(p)) {
            terrainFrame.landTileIndex = i;
            terrainFrame.previousLandHeight = terrainFrame.landHeight;
            terrainFrame.landHeight = landTiles[size_t(i)].groundHeight(p);
            break;
        }
    const float h = terrainFrame.groundHeight();
    worldMatrix(3, 0) = -p.x;
    worldMatrix(3, 1) = -p.y - h;
    worldMatrix(3, 2) = -p.z;
    if (graphicsDevice) graphicsDevice->setTransform(D3DTS_WORLD, worldMatrix);
}

void Terrain::render()
{
    renderLand();
    renderWater();
}

void Terrain::renderLand()
{
    place();
    for (int i = 0; i < landTileCount; ++i) landTiles[size_t(i)].cull();
    drawLand();
}

void Terrain::renderWater()
{
    for (int i = 0; i < waterTileCount; ++i) {
        waterTiles[size_t(i)].cull();
        waterTiles[size_t(i)].draw(lightVector, drawSegments);
    }
}

void Terrain::drawLand()
{
    if (!drawSegments || !graphicsDevice) {
        for (int i = 0; i < landTileCount; ++i) landTiles[size_t(i)].draw();
        return;
    }
    const GraphicsDevice& d = *graphicsDevice;
    const ViewVolume view(d.transform(D3DTS_WORLD), d.transform(D3DTS_VIEW), d.transform(D3DTS_PROJECTION));
    double deepest = 0.0;
    for (int i = 0; i < landTileCount; ++i) landTiles[size_t(i)].selectSegments(view, deepest);
    // The grid's rows start at +z: looking that way, the reverse order runs near to far. It
    // turns every tie round, so the tiles go last to first as well. Only where the order
    // decides nothing but depth ties: depth tested less-or-equal and written, nothing blended.
    const bool orderOnlyBreaksTies = d.renderState(D3DRS_ZENABLE) == D3DZB_TRUE && d.renderState(D3DRS_ZWRITEENABLE) != 0 &&
                                     d.renderState(D3DRS_ZFUNC) == D3DCMP_LESSEQUAL &&
                                     d.renderState(D3DRS_ALPHABLENDENABLE) == 0;
    const bool reversed = orderOnlyBreaksTies && lookDir.z > 0.0f && deepest < reverseOrderDepthLimit;
    for (int k = 0; k < landTileCount; ++k) landTiles[size_t(reversed ? landTileCount - 1 - k : k)].drawSegments(reversed);
}
