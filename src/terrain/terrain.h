#pragma once

#include <memory>

#include "math/matrix4.h"
#include "terrain/terrain_texture_set.h"

// The landscape. So far it owns its textures and world matrix; tiles and drawing come later.
class Terrain {
public:
    // Stops after loading the textures when that reported a fatal error.
    Terrain();
    ~Terrain();
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Nothing to draw until the tiles exist.
    void render();

    Matrix4 worldMatrix{};
    std::unique_ptr<TerrainTextureSet> textures;
};
