#include "demo_landscape.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#define STB_PERLIN_IMPLEMENTATION
#include <stb_perlin.h>

#include "demo_picture.h"

namespace {

// Layout: 3 x 3 tiles, the start (0, -20) and the projectile's arc in the middle column's
// middle tile, which holds the lake.
constexpr int tileColumns = 3, tileRows = 3;
constexpr float tileSize = 240.0f;
// The grid is offset by a quarter and a half cell, so the start does not lie on a grid line: the
// ground test's edge checks are exact only in exact arithmetic, and a first frame that misses
// both triangles would keep the ground height 0.
constexpr float tileCentreX[tileColumns] = {-239.0625f, 0.9375f, 240.9375f};
constexpr float tileCentreZ[tileRows] = {-168.125f, 71.875f, 311.875f};
// 65 x 65 keeps the frame rate of the software renderer usable. The build lays its samples out
// for 1,024 texels, 1,024 div 63 = 16 apart, and scales them to the map: on a map of 128 texels
// they fall 2 apart, each on a texel, so the map holds every height the grid reads and no more.
// A larger map would only be read and stored to be skipped.
constexpr int gridVertices = 65;
constexpr float heightScale = 0.3f;  // file value: a brightness of 765 lifts by 76.5
constexpr float unitsPerLevel = heightScale / 3.0f;
constexpr int heightMapSize = 128;
constexpr int baseTextureSize = 512;
constexpr float fadeUnits = 22.0f;  // heights fade to the base height this close to a tile's edge

// The lake: one water tile, 3 x 3 instances of 50 x 50 at level 4.
constexpr float waterLevel = 4.0f;
constexpr float lakeCentreZ = 100.0f;

float smoothstep(float edge0, float edge1, float x)
{
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

float mix(float a, float b, float t) { return a + (b - a) * t; }

float fbm(float x, float z, int octaves, int seed)
{
    float sum = 0.0f, amplitude = 1.0f, frequency = 1.0f, norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * stb_perlin_noise3_seed(x * frequency, 0.37f * float(i), z * frequency, 0, 0, 0, seed + i);
        norm += amplitude;
        amplitude *= 0.5f;
        frequency *= 2.0f;
    }
    return sum / norm;  // about -0.6 .. 0.6
}

// Tiling noise for the detail and water textures: period 'period' lattice cells.
float tilingNoise(float x, float y, int period, int seed)
{
    return stb_perlin_noise3_seed(x, y, 0.5f, period, period, 0, seed);
}

float tileFade(float x, float z, float minX, float maxX, float minZ, float maxZ)
{
    const float edge = std::min(std::min(x - minX, maxX - x), std::min(z - minZ, maxZ - z));
    return smoothstep(0.0f, fadeUnits, edge);
}

struct Tile {
    float minX, maxX, minZ, maxZ;
};

Tile tileAt(int column, int row)
{
    const float h = tileSize * 0.5f;
    return {tileCentreX[column] - h, tileCentreX[column] + h, tileCentreZ[row] - h, tileCentreZ[row] + h};
}

// Height as the tile will show it: the landscape faded to 0 at the tile's border and quantised
// to the height map's levels.
float tileHeight(const Tile& t, float x, float z)
{
    const float level = std::round(demoLandscapeHeight(x, z) * tileFade(x, z, t.minX, t.maxX, t.minZ, t.maxZ) / unitsPerLevel);
    return std::clamp(level, 0.0f, 765.0f) * unitsPerLevel;
}

bool writeText(const std::filesystem::path& path, const std::string& text, std::string& error)
{
    errno = 0;
    std::ofstream out(path);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path.string() + ": " + (errno ? std::strerror(errno) : "write error");
        return false;
    }
    return true;
}

RgbPicture heightMap(const Tile& t)
{
    RgbPicture picture(heightMapSize, heightMapSize);
    for (int v = 0; v < heightMapSize; ++v)
        for (int u = 0; u < heightMapSize; ++u) {
            // Texel (u, v) lies where the build's vertex sampling puts it: u runs from min x,
            // v from max z.
            const float x = t.minX + float(u) / float(heightMapSize) * tileSize;
            const float z = t.maxZ - float(v) / float(heightMapSize) * tileSize;
            const int level = int(std::lround(tileHeight(t, x, z) / unitsPerLevel));
            // Brightness is blue + green + red: spread the level over the three channels.
            const int third = level / 3, rest = level % 3;
            uint8_t* p = picture.pixel(u, v);
            p[0] = uint8_t(third + (rest >= 1 ? 1 : 0));
            p[1] = uint8_t(third + (rest >= 2 ? 1 : 0));
            p[2] = uint8_t(third);
        }
    return picture;
}

uint8_t toByte(float v) { return uint8_t(std::lround(std::clamp(v, 1.0f, 255.0f))); }

RgbPicture baseTexture(const Tile& t)
{
    RgbPicture picture(baseTextureSize, baseTextureSize);
    const float texel = tileSize / float(baseTextureSize);
    for (int py = 0; py < baseTextureSize; ++py)
        for (int px = 0; px < baseTextureSize; ++px) {
            const float x = t.minX + (float(px) + 0.5f) * texel;
            const float z = t.maxZ - (float(py) + 0.5f) * texel;
            const float h = tileHeight(t, x, z);
            const float dx = (tileHeight(t, x + 1.0f, z) - tileHeight(t, x - 1.0f, z)) * 0.5f;
            const float dz = (tileHeight(t, x, z + 1.0f) - tileHeight(t, x, z - 1.0f)) * 0.5f;
            const float slope = std::sqrt(dx * dx + dz * dz);
            const float variation = fbm(x / 9.0f, z / 9.0f, 3, 11);
            // Sand along the water, grass on the slopes and flats, rock where it is steep or high.
            const float sand = 1.0f - smoothstep(waterLevel + 1.0f, waterLevel + 3.5f, h + 2.0f * variation);
            const float rock = std::max(smoothstep(0.75f, 1.15f, slope + 0.2f * variation), smoothstep(52.0f, 62.0f, h));
            float r = mix(105.0f, 150.0f, 0.5f + variation), g = mix(175.0f, 200.0f, 0.5f - variation),
                  b = mix(60.0f, 85.0f, 0.5f + variation);
            r = mix(r, 175.0f + 40.0f * variation, rock);
            g = mix(g, 165.0f + 40.0f * variation, rock);
            b = mix(b, 150.0f + 40.0f * variation, rock);
            r = mix(r, 235.0f, sand);
            g = mix(g, 215.0f, sand);
            b = mix(b, 160.0f, sand);
            uint8_t* p = picture.pixel(px, py);
            p[0] = toByte(r);
            p[1] = toByte(g);
            p[2] = toByte(b);
        }
    return picture;
}

RgbPicture detailTexture()
{
    constexpr int size = 256;
    RgbPicture picture(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float fx = float(x) / size, fy = float(y) / size;
            const float n = 0.5f * tilingNoise(fx * 16.0f, fy * 16.0f, 16, 3) + 0.3f * tilingNoise(fx * 32.0f, fy * 32.0f, 32, 4) +
                            0.2f * tilingNoise(fx * 64.0f, fy * 64.0f, 64, 5);
            // Grey around 128: adding it signed leaves the mean brightness alone.
            const uint8_t v = toByte(128.0f + 70.0f * n);
            uint8_t* p = picture.pixel(x, y);
            p[0] = p[1] = p[2] = v;
        }
    return picture;
}

RgbPicture waterTexture()
{
    constexpr int size = 256;
    RgbPicture picture(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float fx = float(x) / size, fy = float(y) / size;
            const float n = 0.6f * tilingNoise(fx * 8.0f, fy * 8.0f, 8, 7) + 0.4f * tilingNoise(fx * 16.0f, fy * 16.0f, 16, 8);
            uint8_t* p = picture.pixel(x, y);
            p[0] = toByte(35.0f + 15.0f * n);
            p[1] = toByte(115.0f + 30.0f * n);
            p[2] = toByte(150.0f + 30.0f * n);
        }
    return picture;
}

std::string terrainText()
{
    std::string text = "LandTiles " + std::to_string(tileColumns * tileRows) + "\nWaterTiles 1\n";
    char line[512];
    int index = 0;
    for (int row = 0; row < tileRows; ++row)
        for (int column = 0; column < tileColumns; ++column, ++index) {
            std::snprintf(line, sizeof line,
                          "Land%d PositionX %.9g PositionY 0 PositionZ %.9g Columns %d Rows %d DetailRepeatU 48 DetailRepeatV 48 "
                          "Width %g Depth %g HeightScale %g BaseTexture %d DetailTexture 0 HeightMap %d\n",
                          index, double(tileCentreX[column]), double(tileCentreZ[row]), gridVertices, gridVertices,
                          double(tileSize), double(tileSize), double(heightScale), index, index);
            text += line;
        }
    text += "Lake Instances 9\n";
    for (float z : {lakeCentreZ - 50.0f, lakeCentreZ, lakeCentreZ + 50.0f})
        for (float x : {-50.0f, 0.0f, 50.0f}) {
            std::snprintf(line, sizeof line, "  X %g Y %g Z %g\n", double(x), double(waterLevel), double(z));
            text += line;
        }
    // No sway: neighbouring instances share edges, and their edge vertices would sway apart.
    std::snprintf(line, sizeof line,
                  "Columns 17 Rows 17 DetailRepeatU 6 DetailRepeatV 6 Width 50 Depth 50 Reserved 0 WaveHeight 0.35 Sway 0 "
                  "BaseTexture %d DetailTexture 0 FrameCount 32 FramePeriod 60\n",
                  tileColumns * tileRows);
    text += line;
    return text;
}

std::string textureListText()
{
    const int tiles = tileColumns * tileRows;
    std::string text = "BaseTextures " + std::to_string(tiles + 1) + "\n";
    for (int i = 0; i < tiles; ++i) text += "Landscape/Base" + std::to_string(i) + ".bmp\n";
    text += "Landscape/Water.bmp\nDetailTextures 1\nLandscape/Detail.bmp\nHeightMaps " + std::to_string(tiles) + "\n";
    for (int i = 0; i < tiles; ++i) text += "Landscape/Height" + std::to_string(i) + ".bmp\n";
    return text;
}

}  // namespace

float demoLandscapeHeight(float x, float z)
{
    // Rolling hills everywhere ...
    const float n = fbm(x / 110.0f, z / 110.0f, 5, 1);
    const float hills = 14.0f + 50.0f * std::pow(std::clamp(n + 0.55f, 0.0f, 1.2f), 1.4f);
    // ... except in a valley running along +z from a terrace at the start down to the lake.
    const float terrace = 24.0f * (1.0f - smoothstep(-5.0f, 45.0f, z)) + 1.2f * fbm(x / 15.0f, z / 15.0f, 2, 5);
    const float ex = x / 60.0f, ez = (z - lakeCentreZ) / 65.0f;
    const float e = ex * ex + ez * ez;
    float basin = e < 1.0f ? 0.8f + 1.8f * e + 0.6f * fbm(x / 12.0f, z / 12.0f, 2, 9)
                           : waterLevel - 1.4f + 14.0f * (e - 1.0f);
    // Towards the start the shore climbs only to the terrace; beyond the lake it becomes hills.
    if (z < lakeCentreZ)
        basin = std::min(basin, std::max(terrace, waterLevel + 2.0f));
    else
        basin = std::min(basin, hills);
    const float floor = std::min(basin, 70.0f);
    const float openness = std::max(smoothstep(45.0f, 95.0f, std::fabs(x)), smoothstep(-45.0f, -95.0f, z));
    return std::max(0.0f, mix(floor, std::max(hills, 0.6f * floor), openness));
}

bool writeDemoLandscape(const std::filesystem::path& outDir, std::string& error)
{
    const std::filesystem::path folder = outDir / "Landscape";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    int index = 0;
    for (int row = 0; row < tileRows; ++row)
        for (int column = 0; column < tileColumns; ++column, ++index) {
            const Tile t = tileAt(column, row);
            if (!writeBmp24(folder / ("Height" + std::to_string(index) + ".bmp"), heightMap(t), error) ||
                !writeBmp24(folder / ("Base" + std::to_string(index) + ".bmp"), baseTexture(t), error))
                return false;
        }
    return writeBmp24(folder / "Detail.bmp", detailTexture(), error) &&
           writeBmp24(folder / "Water.bmp", waterTexture(), error) &&
           writeText(outDir / "Terrain.txt", terrainText(), error) &&
           writeText(outDir / "TerrainTextures.txt", textureListText(), error);
}
