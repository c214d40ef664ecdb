#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/token_reader.h"
#include "math/vec3.h"

inline constexpr const char* terrainFileName = "Terrain.txt";

// 16-bit indices address at most this many vertices per tile.
inline constexpr int64_t maxTileVertices = 65536;
// The wave frames of one water tile may take at most this much memory; a record asking for more
// is refused instead of exhausting memory at start-up.
inline constexpr int64_t maxWaterFrameBytes = int64_t(256) * 1024 * 1024;

// One land record of Terrain.txt, as read.
struct LandTileRecord {
    Vec3 position{0.0f, 0.0f, 0.0f};
    int32_t columns = 0, rows = 0;
    float detailRepeatU = 0.0f, detailRepeatV = 0.0f;
    float width = 0.0f, depth = 0.0f;
    float heightScale = 0.0f;  // as in the file; the build takes a third of it
    int32_t baseTexture = 0, detailTexture = 0, heightMap = 0;
};

// One water record of Terrain.txt, as read.
struct WaterTileRecord {
    std::vector<Vec3> positions;
    int32_t columns = 0, rows = 0;
    float detailRepeatU = 0.0f, detailRepeatV = 0.0f;
    float width = 0.0f, depth = 0.0f;
    float reserved = 0.0f;
    float waveHeight = 0.0f, sway = 0.0f;
    int32_t baseTexture = 0, detailTexture = 0;
    int32_t frameCount = 0, framePeriod = 0;
};

struct TerrainDescription {
    std::vector<LandTileRecord> land;
    std::vector<WaterTileRecord> water;
};

// How many entries each list of TerrainTextures.txt holds, for the index checks.
struct TextureListSizes {
    size_t base = 0, detail = 0, heightMaps = 0;
};

// Reads the header, the land records and the water records from in, checking every value
// before anything is built. Text after the last water record is ignored. False with error set
// to one line that names fileName, the tile, the field, the value and what is allowed.
bool readTerrainDescription(TokenReader& in, const TextureListSizes& lists, TerrainDescription& out,
                            std::string& error, const std::string& fileName = terrainFileName);

// The same, from text in memory.
bool parseTerrainDescription(const std::string& text, const TextureListSizes& lists, TerrainDescription& out,
                             std::string& error, const std::string& fileName = terrainFileName);
