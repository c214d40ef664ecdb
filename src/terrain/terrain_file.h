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
// The wave frames of one water tile may take at most this much memory (counted as waterFrameBytes
// does); a record asking for more is refused instead of exhausting memory at start-up.
inline constexpr int64_t maxWaterFrameBytes = int64_t(256) * 1024 * 1024;

// Everything the terrain allocates for its tiles and textures together (vertices, triangle
// records, indices, segment boxes, wave frames, the texels of every mip level, the tile objects
// and what the driver keeps for each draw of a frame) must fit this budget; it holds any
// landscape a person would make on a desktop and stops a small file from asking for more memory
// than the machine has. bench/README.md compares it with what runs really take.
inline constexpr uint64_t terrainMemoryBudget = uint64_t(1536) << 20;  // 1.5 GiB
// Counted once for a terrain of any tile: the kept layer's copies of colour and depth, the
// scratch arrays of a build, and what the driver takes for the terrain's drawing states.
inline constexpr uint64_t terrainFixedBytes = uint64_t(16) << 20;
// Every land tile and every water instance may be drawn in one frame: at most this many
// triangles together, about a second a frame on a software rasteriser (bench/README.md), so
// that a short file of many instances of a large water grid cannot take minutes a frame.
inline constexpr uint64_t maxFrameTriangles = uint64_t(1) << 24;
// The height map is sampled on a 1,024-texel grid: more interior vertices than that along a side
// would sample with a step of 0 texels.
inline constexpr int32_t maxLandColumns = 1024 + 2;

// Bytes the builds allocate and keep for one tile of each kind, with what drawing each land tile
// or water instance once a frame takes (what the budget counts).
uint64_t landTileBytes(int32_t columns, int32_t rows);
uint64_t waterTileBytes(size_t instances, int32_t columns, int32_t rows, int32_t frames);
// The wave frames alone: two copies of every frame's vertices and a buffer object per frame.
uint64_t waterFrameBytes(int32_t columns, int32_t rows, int32_t frames);

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
    uint64_t textureBytes = 0;  // what the textures take of terrainMemoryBudget
};

// Reads the header, the land records and the water records from in, checking every value
// before anything is built, and the memory the tiles will take against what the textures left of
// terrainMemoryBudget. Text after the last water record is ignored. False with error set to one
// line that names fileName, the tile, the field, the value and what is allowed.
bool readTerrainDescription(TokenReader& in, const TextureListSizes& lists, TerrainDescription& out,
                            std::string& error, const std::string& fileName = terrainFileName);

// The same, from text in memory.
bool parseTerrainDescription(const std::string& text, const TextureListSizes& lists, TerrainDescription& out,
                             std::string& error, const std::string& fileName = terrainFileName);
