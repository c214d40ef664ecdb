#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "output_files.h"
#include "platform/image/height_picture.h"

// A landscape laid out as one land tile whose interior vertices cover the square of side `size`
// centred on the origin exactly, with its border ring of vertices (which always stays at the
// base height) one cell outside that square: wherever the walker stands on the square, the ground
// follows the heights and no border trench is under it. One tile is the only such layout: the
// ground is measured on the first tile in file order whose rectangle holds the walker, so any
// tile whose border ring crossed the square would put a trench under the walker there.
struct LandscapeSpec {
    float size = 1000.0f;    // side of the square, world units
    float height = 100.0f;   // the highest ground above the lowest (white above black)
    int gridVertices = 256;  // vertices along each side of the tile, even, 6 ... 256
    // Ground above the lowest at a point of the square, 0 ... height.
    std::function<float(float x, float z)> ground;
    bool water = false;
    float waterLevel = 0.0f;  // above the lowest ground, as the heights
    // Where the lake lies; without one, the smallest rectangle around every vertex below the
    // water level, a cell wider on each side.
    bool fixedLake = false;
    float lakeMinX = 0, lakeMaxX = 0, lakeMinZ = 0, lakeMaxZ = 0;
    int seed = 1;  // the texture noise
};

struct Landscape {
    LandscapeSpec spec;
    int columns = 0;           // vertices along x and along z
    float cell = 0.0f;         // vertex spacing
    float tileSide = 0.0f;     // the tile with its border ring
    std::vector<int> levels;   // brightness 0 ... 765 per vertex, row 0 at max z
    bool lake = false;
    float lakeMinX = 0, lakeMaxX = 0, lakeMinZ = 0, lakeMaxZ = 0;

    // The height the drawn ground has at (x, z), interpolated between the vertices.
    float surface(float x, float z) const;
    float vertexHeight(int row, int column) const;
};

Landscape layOutLandscape(const LandscapeSpec& spec);

// The landscape of a height picture (at least one texel), covering size x size units with white
// height units above black, and a lake below waterLevel where water is asked for. The spec reads
// the picture, which must outlive it.
LandscapeSpec pictureLandscape(const HeightPicture& picture, float size, float height, bool water, float waterLevel);

// Landscape/Height.bmp, Landscape/Ground.bmp, Landscape/Detail.bmp, Landscape/Water.bmp,
// Terrain.txt and TerrainTextures.txt under outDir.
bool writeLandscape(OutputSet& set, const Landscape& landscape, const std::filesystem::path& outDir, std::string& error);

// A top-down picture of the square: ground shaded by its colours and slopes, water blue.
bool writePreview(OutputSet& set, const Landscape& landscape, const std::filesystem::path& path,
                  const std::string& name, int side, std::string& error);
