#pragma once

#include <memory>
#include <vector>

#include "math/matrix4.h"
#include "terrain/land_tile.h"
#include "terrain/terrain_file.h"
#include "terrain/terrain_texture_set.h"
#include "terrain/water_tile.h"

// The landscape: land tiles and water tiles as Terrain.txt lays them out, with the textures of
// TerrainTextures.txt. The world creates it first and draws it once per frame.
class Terrain {
public:
    // Loads the textures, reads and checks Terrain.txt, then builds every tile. Any fault is
    // reported as a fatal error and leaves the terrain without tiles.
    Terrain();
    ~Terrain();
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Finds the ground under the camera, places the terrain and draws the tiles in view.
    void render();
    // render in its two halves: placing and the land, then the water, which animates and so
    // cannot be part of a layer the device keeps from frame to frame.
    void renderLand();
    void renderWater();
    // The first half of render: ground height under the camera and the terrain's translation.
    void place();

    // Off, every visible land tile and water instance is drawn whole in grid order
    // (ZENTRIX_WHOLE_TILES=1 in the environment), for comparing with the segments the view
    // reaches: the pictures are the same.
    bool drawSegments = true;

    int landTileCount = 0;
    int waterTileCount = 0;
    Matrix4 worldMatrix{};
    std::unique_ptr<LandTile[]> landTiles;
    std::unique_ptr<WaterTile[]> waterTiles;
    std::unique_ptr<TerrainTextureSet> textures;

private:
    void drawLand();
};
