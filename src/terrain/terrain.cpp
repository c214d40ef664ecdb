#include "terrain/terrain.h"

#include "app/fatal_error.h"

Terrain::Terrain()
{
    textures = std::make_unique<TerrainTextureSet>();
    terrainTextures = textures.get();
    if (fatalErrorPending()) return;
    worldMatrix = identity();
}

Terrain::~Terrain()
{
    textures.reset();
    terrainTextures = nullptr;
}

void Terrain::render() {}
