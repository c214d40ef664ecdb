#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "textures/texture_file.h"

inline constexpr const char* terrainTextureListFileName = "TerrainTextures.txt";

// The terrain's textures as TerrainTextures.txt lists them: a label and a count, then that many
// file names, for the base textures, the detail textures and the height maps, in that order.
// Any fault in the list is a fatal error and leaves all three lists empty.
class TerrainTextureSet {
public:
    explicit TerrainTextureSet(const std::string& listFileName = terrainTextureListFileName);
    ~TerrainTextureSet();
    TerrainTextureSet(const TerrainTextureSet&) = delete;
    TerrainTextureSet& operator=(const TerrainTextureSet&) = delete;

    std::vector<TextureFile> baseTextures;
    std::vector<TextureFile> heightMaps;
    std::vector<TextureFile> detailTextures;
    // What the textures take of the terrain's memory budget, counted from their headers.
    uint64_t textureBytes = 0;
};

// The image names the list file holds, read quietly and as far as it can be read (for checks made
// before the run; its faults are reported when the set itself reads it).
std::vector<std::string> listedTextureNames(const std::string& listFileName = terrainTextureListFileName);

// The set of the terrain that exists now, or null.
extern TerrainTextureSet* terrainTextures;
