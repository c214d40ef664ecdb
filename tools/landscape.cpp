#include "landscape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "demo_picture.h"
#include "noise.h"
#include "platform/image/image_loader.h"
#include "platform/image/png_writer.h"

namespace {

constexpr int maxLevel = 765;  // blue + green + red of a white texel
constexpr int groundTextureSize = 1024;
constexpr float detailRepeatUnits = 5.0f;        // world units per repeat of the detail texture
constexpr float waterDetailRepeatUnits = 25.0f / 3.0f;
constexpr float waterCellUnits = 3.125f;         // the lake's grid spacing
constexpr int waterFrames = 32;

uint8_t toByte(float v) { return uint8_t(std::lround(std::clamp(v, 1.0f, 255.0f))); }

struct Colour {
    float r, g, b;
};

// Sand along the water, grass on the slopes and flats, rock where it is steep or high.
Colour groundColour(const Landscape& l, float x, float z)
{
    const float h = l.surface(x, z);
    const float d = l.cell * 0.75f;
    const float dx = (l.surface(x + d, z) - l.surface(x - d, z)) / (2.0f * d);
    const float dz = (l.surface(x, z + d) - l.surface(x, z - d)) / (2.0f * d);
    const float slope = std::sqrt(dx * dx + dz * dz);
    const float variation = fbm(x / 9.0f, z / 9.0f, 3, 11 + (l.spec.seed - 1) * 16);
    const float top = l.spec.height;
    const float sand = l.spec.water ? 1.0f - smoothstep(l.spec.waterLevel + 1.0f, l.spec.waterLevel + 3.5f, h + 2.0f * variation)
                                    : 0.0f;
    const float rock = std::max(smoothstep(0.75f, 1.15f, slope + 0.2f * variation), smoothstep(0.68f * top, 0.81f * top, h));
    Colour c{mix(105.0f, 150.0f, 0.5f + variation), mix(175.0f, 200.0f, 0.5f - variation), mix(60.0f, 85.0f, 0.5f + variation)};
    c = {mix(c.r, 175.0f + 40.0f * variation, rock), mix(c.g, 165.0f + 40.0f * variation, rock),
         mix(c.b, 150.0f + 40.0f * variation, rock)};
    return {mix(c.r, 235.0f, sand), mix(c.g, 215.0f, sand), mix(c.b, 160.0f, sand)};
}

// The height map the tile's build reads: vertex (r, c) of the interior samples texel
// (c x step, r x step) of a 1,024-texel grid, scaled to the map's side. The map is the smallest
// power of two on which every sample falls on a texel of its own, so it holds every height the
// grid reads and little more.
RgbPicture heightMap(const Landscape& l)
{
    const int step = 1024 / (l.columns - 2);
    int side = 1;
    while (side * step < 1024) side *= 2;
    const auto texelOf = [&](int vertex) { return std::min(vertex * step * side / 1024, side - 1); };
    const auto vertexOf = [&](int texel) {
        return std::clamp(int(std::lround(double(texel) * 1024.0 / (double(side) * step))), 1, l.columns - 2);
    };
    RgbPicture picture(side, side);
    const auto put = [&](int u, int v, int level) {
        // The ground rises by blue + green + red: the level is spread over the three channels.
        const int third = level / 3, rest = level % 3;
        uint8_t* p = picture.pixel(u, v);
        p[0] = uint8_t(third);
        p[1] = uint8_t(third + (rest >= 2 ? 1 : 0));
        p[2] = uint8_t(third + (rest >= 1 ? 1 : 0));
    };
    // Texels no vertex reads take their nearest vertex's level, so the map looks like the land.
    for (int v = 0; v < side; ++v)
        for (int u = 0; u < side; ++u) put(u, v, l.levels[size_t(vertexOf(v)) * size_t(l.columns) + size_t(vertexOf(u))]);
    for (int r = 1; r <= l.columns - 2; ++r)
        for (int c = 1; c <= l.columns - 2; ++c)
            put(texelOf(c), texelOf(r), l.levels[size_t(r) * size_t(l.columns) + size_t(c)]);
    return picture;
}

RgbPicture groundTexture(const Landscape& l)
{
    RgbPicture picture(groundTextureSize, groundTextureSize);
    const float texel = l.tileSide / float(groundTextureSize);
    const float half = 0.5f * l.tileSide;
    for (int py = 0; py < groundTextureSize; ++py)
        for (int px = 0; px < groundTextureSize; ++px) {
            const Colour c = groundColour(l, -half + (float(px) + 0.5f) * texel, half - (float(py) + 0.5f) * texel);
            uint8_t* p = picture.pixel(px, py);
            p[0] = toByte(c.r);
            p[1] = toByte(c.g);
            p[2] = toByte(c.b);
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

std::string terrainText(const Landscape& l)
{
    char line[640];
    std::string text = std::string("LandTiles 1\nWaterTiles ") + (l.lake ? "1" : "0") + "\n";
    const double repeat = double(l.tileSide / detailRepeatUnits);
    // A brightness of 765 lifts a vertex by 255 x the height scale: white stands `height` high.
    std::snprintf(line, sizeof line,
                  "Land PositionX 0 PositionY 0 PositionZ 0 Columns %d Rows %d DetailRepeatU %.9g DetailRepeatV %.9g "
                  "Width %.9g Depth %.9g HeightScale %.9g BaseTexture 0 DetailTexture 0 HeightMap 0\n",
                  l.columns, l.columns, repeat, repeat, double(l.tileSide), double(l.tileSide),
                  double(l.spec.height / 255.0f));
    text += line;
    if (l.lake) {
        const float width = l.lakeMaxX - l.lakeMinX, depth = l.lakeMaxZ - l.lakeMinZ;
        const int columns = std::clamp(int(width / waterCellUnits) + 1, 2, 129);
        const int rows = std::clamp(int(depth / waterCellUnits) + 1, 2, 129);
        // No sway: the lake's edge stays where the shore covers it.
        std::snprintf(line, sizeof line,
                      "Lake Instances 1\n  X %.9g Y %.9g Z %.9g\nColumns %d Rows %d DetailRepeatU %.9g DetailRepeatV %.9g "
                      "Width %.9g Depth %.9g Reserved 0 WaveHeight 0.35 Sway 0 BaseTexture 1 DetailTexture 0 "
                      "FrameCount %d FramePeriod 60\n",
                      double(0.5f * (l.lakeMinX + l.lakeMaxX)), double(l.spec.waterLevel), double(0.5f * (l.lakeMinZ + l.lakeMaxZ)),
                      columns, rows, double(width / waterDetailRepeatUnits), double(depth / waterDetailRepeatUnits),
                      double(width), double(depth), waterFrames);
        text += line;
    }
    return text;
}

const char* const textureListText =
    "BaseTextures 2\nLandscape/Ground.bmp\nLandscape/Water.bmp\n"
    "DetailTextures 1\nLandscape/Detail.bmp\n"
    "HeightMaps 1\nLandscape/Height.bmp\n";

}  // namespace

float Landscape::vertexHeight(int row, int column) const
{
    return float(levels[size_t(row) * size_t(columns) + size_t(column)]) * (spec.height / float(maxLevel));
}

float Landscape::surface(float x, float z) const
{
    const float half = 0.5f * tileSide;
    const float column = std::clamp((x + half) / cell, 0.0f, float(columns - 1) - 1e-3f);
    const float row = std::clamp((half - z) / cell, 0.0f, float(columns - 1) - 1e-3f);
    const int c = int(column), r = int(row);
    const float fx = column - float(c), fr = row - float(r);
    // The cell's two triangles meet on the diagonal from its near-left to its far-right corner.
    const float farLeft = vertexHeight(r, c), farRight = vertexHeight(r, c + 1);
    const float nearLeft = vertexHeight(r + 1, c), nearRight = vertexHeight(r + 1, c + 1);
    if (fx + fr <= 1.0f) return farLeft + fx * (farRight - farLeft) + fr * (nearLeft - farLeft);
    return nearRight + (1.0f - fx) * (nearLeft - nearRight) + (1.0f - fr) * (farRight - nearRight);
}

Landscape layOutLandscape(const LandscapeSpec& spec)
{
    Landscape l;
    l.spec = spec;
    l.columns = spec.gridVertices;
    // The interior vertices span the square exactly; the border ring lies one cell outside it.
    // An even count puts x = 0, where the walk starts, in the middle of a cell, not on a grid line.
    l.cell = spec.size / float(l.columns - 3);
    l.tileSide = l.cell * float(l.columns - 1);
    l.levels.assign(size_t(l.columns) * size_t(l.columns), 0);
    const float half = 0.5f * spec.size;
    for (int r = 1; r <= l.columns - 2; ++r)
        for (int c = 1; c <= l.columns - 2; ++c) {
            const float x = -half + float(c - 1) * l.cell, z = half - float(r - 1) * l.cell;
            const float h = std::clamp(spec.ground(x, z), 0.0f, spec.height);
            l.levels[size_t(r) * size_t(l.columns) + size_t(c)] = int(std::lround(h / spec.height * float(maxLevel)));
        }
    if (spec.water) {
        if (spec.fixedLake) {
            l.lake = true;
            l.lakeMinX = spec.lakeMinX;
            l.lakeMaxX = spec.lakeMaxX;
            l.lakeMinZ = spec.lakeMinZ;
            l.lakeMaxZ = spec.lakeMaxZ;
        } else {
            int minC = l.columns, maxC = -1, minR = l.columns, maxR = -1;
            for (int r = 1; r <= l.columns - 2; ++r)
                for (int c = 1; c <= l.columns - 2; ++c)
                    if (l.vertexHeight(r, c) < spec.waterLevel) {
                        minC = std::min(minC, c);
                        maxC = std::max(maxC, c);
                        minR = std::min(minR, r);
                        maxR = std::max(maxR, r);
                    }
            if (maxC >= 0) {
                // A cell wider on each side, where the ground rises out of the water, but never
                // past the square: outside it lies no ground to hold the water's edge.
                const float tileHalf = 0.5f * l.tileSide;
                l.lake = true;
                l.lakeMinX = std::max(-tileHalf + float(minC - 1) * l.cell, -half);
                l.lakeMaxX = std::min(-tileHalf + float(maxC + 1) * l.cell, half);
                l.lakeMaxZ = std::min(tileHalf - float(minR - 1) * l.cell, half);
                l.lakeMinZ = std::max(tileHalf - float(maxR + 1) * l.cell, -half);
            }
        }
    }
    return l;
}

bool writeLandscape(OutputSet& set, const Landscape& l, const std::filesystem::path& outDir, std::string& error)
{
    const std::filesystem::path folder = outDir / "Landscape";
    return set.makeFolder(folder, error) && writeBmp24(set, folder / "Height.bmp", heightMap(l), error) &&
           writeBmp24(set, folder / "Ground.bmp", groundTexture(l), error) &&
           writeBmp24(set, folder / "Detail.bmp", detailTexture(), error) &&
           writeBmp24(set, folder / "Water.bmp", waterTexture(), error) &&
           set.writeText(outDir / "TerrainTextures.txt", Existing::Replace, textureListText, error) &&
           set.writeText(outDir / "Terrain.txt", Existing::Replace, terrainText(l), error);
}

bool writePreview(OutputSet& set, const Landscape& l, const std::filesystem::path& path, const std::string& name, int side,
                  std::string& error)
{
    RgbaImage image;
    image.width = image.height = side;
    image.pixels.assign(size_t(side) * size_t(side) * 4, 255);
    const float size = l.spec.size, half = 0.5f * size;
    // Light from the far left, as on a map lit from its top-left corner.
    const float lx = -0.5f, ly = 0.75f, lz = 0.5f;
    const float flat = ly / std::sqrt(lx * lx + ly * ly + lz * lz);
    for (int py = 0; py < side; ++py)
        for (int px = 0; px < side; ++px) {
            const float x = -half + (float(px) + 0.5f) / float(side) * size;
            const float z = half - (float(py) + 0.5f) / float(side) * size;
            Colour c = groundColour(l, x, z);
            const float d = std::max(l.cell, size / float(side));
            const float dx = (l.surface(x + d, z) - l.surface(x - d, z)) / (2.0f * d);
            const float dz = (l.surface(x, z + d) - l.surface(x, z - d)) / (2.0f * d);
            const float lit = (-dx * lx + ly - dz * lz) / std::sqrt((dx * dx + 1.0f + dz * dz) * (lx * lx + ly * ly + lz * lz));
            const float shade = std::clamp(0.35f + 0.65f * lit / flat, 0.2f, 1.3f);
            c = {c.r * shade, c.g * shade, c.b * shade};
            const float h = l.surface(x, z);
            if (l.lake && x >= l.lakeMinX && x <= l.lakeMaxX && z >= l.lakeMinZ && z <= l.lakeMaxZ && h < l.spec.waterLevel) {
                const float deep = std::clamp((l.spec.waterLevel - h) / 4.0f, 0.0f, 1.0f);
                c = {mix(60.0f, 25.0f, deep), mix(140.0f, 85.0f, deep), mix(190.0f, 150.0f, deep)};
            }
            uint8_t* p = &image.pixels[(size_t(py) * size_t(side) + size_t(px)) * 4];
            p[0] = toByte(c.r);
            p[1] = toByte(c.g);
            p[2] = toByte(c.b);
        }
    std::vector<uint8_t> png;
    if (!encodePng(image, png, error)) {
        error = "cannot write " + path.string() + ": " + error;
        return false;
    }
    return set.writeBytes(path, Existing::Replace, png.data(), png.size(), error, name);
}

namespace {

// Texel centres: texel i of n covers [i, i + 1) / n of the side, its height stands at its middle.
float pictureHeight(const HeightPicture& picture, float scale, float size, float x, float z)
{
    const float u = std::clamp((x / size + 0.5f) * float(picture.width) - 0.5f, 0.0f, float(picture.width - 1));
    const float v = std::clamp((0.5f - z / size) * float(picture.height) - 0.5f, 0.0f, float(picture.height - 1));
    const int u0 = int(u), v0 = int(v);
    const int u1 = std::min(u0 + 1, picture.width - 1), v1 = std::min(v0 + 1, picture.height - 1);
    const float fu = u - float(u0), fv = v - float(v0);
    const float top = float(picture.at(u0, v0)) * (1.0f - fu) + float(picture.at(u1, v0)) * fu;
    const float bottom = float(picture.at(u0, v1)) * (1.0f - fu) + float(picture.at(u1, v1)) * fu;
    return (top * (1.0f - fv) + bottom * fv) / 65535.0f * scale;
}

}  // namespace

LandscapeSpec pictureLandscape(const HeightPicture& picture, float size, float height, bool water, float waterLevel)
{
    LandscapeSpec spec;
    spec.size = size;
    spec.height = height;
    // About one vertex per texel, up to the 256 x 256 a tile's 16-bit indices allow; even.
    const int texels = std::max(picture.width, picture.height);
    spec.gridVertices = std::clamp((texels + 4) / 2 * 2, 6, 256);
    spec.ground = [&picture, size, height](float x, float z) { return pictureHeight(picture, height, size, x, z); };
    spec.water = water;
    spec.waterLevel = waterLevel;
    return spec;
}
