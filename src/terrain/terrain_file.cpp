#include "terrain/terrain_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/checked_file.h"
#include "terrain/grid_segments.h"
#include "terrain/terrain_mesh.h"
#include "base/data_folder.h"
#include "terrain/water_tile.h"

namespace {

std::string number(float v)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

// Vertex and index data live twice, in the program's buffer and in the graphics driver's copy of
// it; every wave frame is a buffer object of its own (about a kilobyte of bookkeeping on both
// sides).
constexpr uint64_t bufferCopies = 2;
constexpr uint64_t waterFrameOverhead = 1024;
// A tile object with its vectors, its buffer objects on both sides and their bookkeeping.
constexpr uint64_t tileObjectBytes = 4096;
// What the driver keeps for one draw (a land tile, a water instance) until the frame is shown,
// and for each triangle it bins; a land draw is also held with a copy of the device state until
// its layer closes. Measured on Mesa's llvmpipe: about 4 to 8 KB a draw, 2 to 3 bytes a triangle.
constexpr uint64_t drawBytes = 8192;
constexpr uint64_t drawnTriangleBytes = 4;

uint64_t gridIndexBytes(int32_t columns, int32_t rows) { return uint64_t(columns - 1) * uint64_t(rows - 1) * 6 * 2; }
uint64_t gridTriangles(int32_t columns, int32_t rows) { return 2 * uint64_t(columns - 1) * uint64_t(rows - 1); }

// The segment boxes of a grid, their groups, and the per-frame visibility marks and runs.
uint64_t segmentBytes(int32_t columns, int32_t rows)
{
    const uint64_t perRow = uint64_t(columns - 1 + segmentQuads - 1) / segmentQuads;
    const uint64_t segments = uint64_t(rows - 1) * perRow;
    const uint64_t groups = (uint64_t(rows - 1) + groupRows - 1) / groupRows * perRow;
    return segments * (sizeof(GridSegment) + 1 + sizeof(IndexRange)) + groups * sizeof(GridSegments::Group);
}

// One draw of triangles a frame.
uint64_t drawnBytes(uint64_t triangles) { return drawBytes + triangles * drawnTriangleBytes; }

// Reads "label value" pairs of one record and words the first fault as "FILE: WHERE: ...".
class FieldReader {
public:
    FieldReader(TokenReader& in, std::string& error, const std::string& fileName)
        : in_(in), error_(error), fileName_(fileName)
    {
    }

    // "land tile 9"; where the records run out, "land tile 9 of 12" tells how many were promised.
    void setPlace(const char* kind, int32_t index, int32_t count)
    {
        where_ = std::string(kind) + " " + std::to_string(index);
        count_ = count;
    }

    bool fail(const std::string& what)
    {
        error_ = shownPath(fileName_) + ": " + (where_.empty() ? "" : where_ + ": ") + what;
        return false;
    }

    bool ends(const std::string& what)
    {
        if (!where_.empty()) where_ += " of " + std::to_string(count_);
        return fail("the file ends before " + what);
    }

    bool word(const std::string& what)
    {
        std::string w;
        if (in_.readWord(w)) return true;
        return ends(what);
    }

    // A value is its whole token: "65.7" is no whole number and "2x" no number, rather than a
    // number whose rest is taken for the next label.
    bool integer(const std::string& field, int32_t& value)
    {
        if (!word("the label of " + field)) return false;
        std::string token;
        if (!in_.peekWord(token)) return ends(field);
        if (!in_.readInt(value) || !in_.tokenDone()) return notA(field, "a whole number", token);
        return true;
    }

    bool real(const std::string& field, float& value)
    {
        if (!word("the label of " + field)) return false;
        std::string token;
        if (!in_.peekWord(token)) return ends(field);
        if (!in_.readFloat(value) || !in_.tokenDone()) return notA(field, "a number", token);
        if (!std::isfinite(value)) return fail(field + " is " + number(value) + ", must be a finite number");
        return true;
    }

    bool atLeast(const std::string& field, int32_t value, int32_t minimum)
    {
        if (value >= minimum) return true;
        return fail(field + " is " + std::to_string(value) + ", must be at least " + std::to_string(minimum));
    }

    bool atMost(const std::string& field, int32_t value, int32_t maximum, const std::string& why)
    {
        if (value <= maximum) return true;
        return fail(field + " is " + std::to_string(value) + ", must be at most " + std::to_string(maximum) + " " + why);
    }

    bool positive(const std::string& field, float value)
    {
        if (value > 0.0f) return true;
        return fail(field + " is " + number(value) + ", must be a finite number above 0");
    }

    bool index(const std::string& field, int32_t value, size_t listSize, const char* listName)
    {
        if (value >= 0 && static_cast<size_t>(value) < listSize) return true;
        const std::string allowed = listSize == 0 ? std::string("TerrainTextures.txt lists no ") + listName
                                                  : "must be 0 to " + std::to_string(listSize - 1) + " (TerrainTextures.txt lists " +
                                                        std::to_string(listSize) + " " + listName + ")";
        return fail(field + " is " + std::to_string(value) + ", " + allowed);
    }

    bool gridSize(int32_t columns, int32_t rows)
    {
        const int64_t vertices = int64_t(columns) * int64_t(rows);
        if (vertices <= maxTileVertices) return true;
        return fail("columns x rows is " + std::to_string(columns) + " x " + std::to_string(rows) + " = " +
                    std::to_string(vertices) + " vertices, at most " + std::to_string(maxTileVertices) + " are allowed");
    }

    // The size of one cell, computed as the build does: it must be finite and not round to 0.
    bool cellSize(const char* field, float extent, int32_t count, const char* counted)
    {
        const float cell = extent / float(count - 1);
        if (std::isfinite(cell) && cell > 0.0f) return true;
        return fail(std::string(field) + " is " + number(extent) + ": over " + std::to_string(count) + " " + counted +
                    " its cells would be " + number(cell) + " units, must be a finite size above 0");
    }

    // Where the tile reaches along one axis: centre - half to centre + half must stay finite.
    bool extent(const std::string& centreField, float centre, const char* sizeField, float half)
    {
        const float low = centre - half, high = centre + half;
        if (std::isfinite(low) && std::isfinite(high)) return true;
        const std::string field = std::fabs(centre) >= half ? centreField : sizeField;
        return fail(field + " is " + number(std::fabs(centre) >= half ? centre : 2.0f * half) +
                    ": the tile would reach from " + number(low) + " to " + number(high) + ", must stay finite");
    }

    bool finiteResult(const std::string& field, float value, const char* what, float result)
    {
        if (std::isfinite(result)) return true;
        return fail(field + " is " + number(value) + ": " + what + " would reach " + number(result) +
                    ", must stay finite");
    }

    // A face normal is the cross product of two cell edges, normalised through its squared
    // length: for cells spanX x spanZ that rise by up to rise, that length must be finite, and
    // above 0 for a flat cell. A fault of the flat part is named by spanField, or without one by
    // the larger (too large) or smaller (too small) of width and depth.
    bool normals(float spanX, float spanZ, float rise, const char* riseField, float riseValue, const char* spanField,
                 float spanValue, float width, float depth)
    {
        const float nx = rise * spanZ, ny = spanX * spanZ, nz = spanX * rise;
        const float flat = ny * ny;
        const float length = nx * nx + flat + nz * nz;
        if (std::isfinite(length) && flat > 0.0f) return true;
        const bool byRise = std::isfinite(flat) && flat > 0.0f;
        const bool byWidth = std::isfinite(flat) ? width <= depth : width >= depth;
        const std::string field = byRise ? riseField : spanField ? spanField : byWidth ? "width" : "depth";
        const float value = byRise ? riseValue : spanField ? spanValue : byWidth ? width : depth;
        return fail(field + " is " + number(value) + ": cells of " + number(spanX) + " x " + number(spanZ) +
                    " units rising by up to " + number(rise) + " have no surface normal in single precision");
    }

    // The triangles every tile and instance so far would draw in one frame, after this tile.
    bool frameTriangles(uint64_t& drawn, uint64_t instances, uint64_t triangles)
    {
        drawn += instances * triangles;
        if (drawn <= maxFrameTriangles) return true;
        return fail("the terrain would draw up to " + std::to_string(drawn) + " triangles a frame with this tile (" +
                    std::to_string(instances) + (instances == 1 ? " instance" : " instances") + " of " +
                    std::to_string(triangles) + "), more than the " + std::to_string(maxFrameTriangles) +
                    " allowed");
    }

    // The running total against the budget, after the tile that adds bytes.
    bool budget(uint64_t& used, uint64_t bytes)
    {
        used += bytes;
        if (used <= terrainMemoryBudget) return true;
        return fail("the terrain and its textures would take " + std::to_string(used) +
                    " bytes with this tile, more than the budget of " + std::to_string(terrainMemoryBudget) +
                    " bytes (1.5 GiB)");
    }

private:
    bool notA(const std::string& field, const char* kind, const std::string& token)
    {
        return fail(field + " must be " + kind + ", not " + quoteToken(token));
    }

    TokenReader& in_;
    std::string& error_;
    const std::string& fileName_;
    std::string where_;
    int32_t count_ = 0;
};

bool readLand(FieldReader& f, const TextureListSizes& lists, LandTileRecord& r)
{
    if (!(f.word("the header word") && f.real("position x", r.position.x) && f.real("position y", r.position.y) &&
          f.real("position z", r.position.z) && f.integer("columns", r.columns) && f.atLeast("columns", r.columns, 3) &&
          f.atMost("columns", r.columns, maxLandColumns, "(the height map is sampled on 1024 texels)") &&
          f.integer("rows", r.rows) && f.atLeast("rows", r.rows, 3) &&
          f.atMost("rows", r.rows, maxLandColumns, "(the height map is sampled on 1024 texels)") &&
          f.gridSize(r.columns, r.rows) && f.real("detail repeat u", r.detailRepeatU) &&
          f.real("detail repeat v", r.detailRepeatV) && f.real("width", r.width) && f.positive("width", r.width) &&
          f.real("depth", r.depth) && f.positive("depth", r.depth) && f.real("height scale", r.heightScale) &&
          f.integer("base texture index", r.baseTexture) &&
          f.index("base texture index", r.baseTexture, lists.base, "base textures") &&
          f.integer("detail texture index", r.detailTexture) &&
          f.index("detail texture index", r.detailTexture, lists.detail, "detail textures") &&
          f.integer("height-map index", r.heightMap) &&
          f.index("height-map index", r.heightMap, lists.heightMaps, "height maps")))
        return false;
    // What the build derives from them, in its own single precision.
    const float rise = 765.0f * std::fabs(r.heightScale / 3.0f);
    return f.cellSize("width", r.width, r.columns, "columns") && f.cellSize("depth", r.depth, r.rows, "rows") &&
           f.extent("position x", r.position.x, "width", 0.5f * r.width) &&
           f.extent("position z", r.position.z, "depth", 0.5f * r.depth) &&
           f.finiteResult("height scale", r.heightScale, "heights", r.position.y + 765.0f * (r.heightScale / 3.0f)) &&
           f.normals(r.width / float(r.columns - 1), r.depth / float(r.rows - 1), rise, "height scale", r.heightScale,
                     nullptr, 0.0f, r.width, r.depth);
}

bool readWater(FieldReader& f, const TextureListSizes& lists, WaterTileRecord& r)
{
    int32_t count = 0;
    if (!f.word("the header word") || !f.integer("instance count", count) || !f.atLeast("instance count", count, 0))
        return false;
    // Grown one position at a time: a count far beyond the file's contents must not allocate for it.
    for (int32_t i = 0; i < count; ++i) {
        Vec3 p{0.0f, 0.0f, 0.0f};
        const std::string name = "instance " + std::to_string(i) + " position ";
        if (!f.real(name + "x", p.x) || !f.real(name + "y", p.y) || !f.real(name + "z", p.z)) return false;
        r.positions.push_back(p);
    }
    if (!(f.integer("columns", r.columns) && f.atLeast("columns", r.columns, 2) && f.integer("rows", r.rows) &&
          f.atLeast("rows", r.rows, 2) && f.gridSize(r.columns, r.rows) &&
          f.real("detail repeat u", r.detailRepeatU) && f.real("detail repeat v", r.detailRepeatV) &&
          f.real("width", r.width) && f.positive("width", r.width) && f.real("depth", r.depth) &&
          f.positive("depth", r.depth) && f.real("reserved value", r.reserved) &&
          f.real("wave height", r.waveHeight) && f.real("sway", r.sway) &&
          f.integer("base texture index", r.baseTexture) &&
          f.index("base texture index", r.baseTexture, lists.base, "base textures") &&
          f.integer("detail texture index", r.detailTexture) &&
          f.index("detail texture index", r.detailTexture, lists.detail, "detail textures") &&
          f.integer("frame count", r.frameCount) && f.atLeast("frame count", r.frameCount, 1) &&
          f.integer("frame period", r.framePeriod) && f.atLeast("frame period", r.framePeriod, 0)))
        return false;
    const uint64_t bytes = waterFrameBytes(r.columns, r.rows, r.frameCount);
    if (bytes > uint64_t(maxWaterFrameBytes))
        return f.fail(std::to_string(r.frameCount) + " wave frames of " + std::to_string(r.columns) + " x " +
                      std::to_string(r.rows) + " vertices would take " + std::to_string(bytes) +
                      " bytes (two copies of 40 bytes a vertex and 1024 bytes a frame), at most " +
                      std::to_string(maxWaterFrameBytes) + " are allowed");
    // Each vertex sways by up to the sway along x and z and bobs between -wave height and +wave
    // height (the random amplitude is drawn from that whole range).
    const float sway = std::fabs(r.sway), wave = std::fabs(r.waveHeight);
    if (!f.cellSize("width", r.width, r.columns, "columns") || !f.cellSize("depth", r.depth, r.rows, "rows") ||
        !f.finiteResult("wave height", r.waveHeight, "the range of wave amplitudes", 2.0f * wave) ||
        !f.finiteResult("sway", r.sway, "swaying vertices", 0.5f * std::max(r.width, r.depth) + 2.0f * sway))
        return false;
    for (size_t i = 0; i < r.positions.size(); ++i) {
        const Vec3& p = r.positions[i];
        const std::string name = "instance " + std::to_string(i) + " position ";
        if (!f.extent(name + "x", p.x, "width", 0.5f * r.width + sway) ||
            !f.extent(name + "z", p.z, "depth", 0.5f * r.depth + sway) ||
            !f.finiteResult(name + "y", p.y, "waves", std::fabs(p.y) + wave))
            return false;
    }
    const float cellX = r.width / float(r.columns - 1), cellZ = r.depth / float(r.rows - 1);
    return f.normals(cellX, cellZ, 0.0f, "wave height", r.waveHeight, nullptr, 0.0f, r.width, r.depth) &&
           f.normals(cellX + 2.0f * sway, cellZ + 2.0f * sway, 2.0f * wave, "wave height", r.waveHeight, "sway", r.sway,
                     r.width, r.depth);
}

}  // namespace

uint64_t landTileBytes(int32_t columns, int32_t rows)
{
    const uint64_t vertices = uint64_t(columns) * uint64_t(rows);
    const uint64_t triangles = gridTriangles(columns, rows);
    // Two index buffers: the grid order and its reverse.
    return bufferCopies * (vertices * sizeof(TerrainVertex) + 2 * gridIndexBytes(columns, rows)) +
           triangles * sizeof(TerrainTriangle) + segmentBytes(columns, rows) + tileObjectBytes + drawnBytes(triangles);
}

uint64_t waterFrameBytes(int32_t columns, int32_t rows, int32_t frames)
{
    const uint64_t vertices = uint64_t(columns) * uint64_t(rows);
    return uint64_t(frames) * (bufferCopies * vertices * sizeof(TerrainVertex) + waterFrameOverhead);
}

uint64_t waterTileBytes(size_t instances, int32_t columns, int32_t rows, int32_t frames)
{
    return waterFrameBytes(columns, rows, frames) + bufferCopies * gridIndexBytes(columns, rows) +
           segmentBytes(columns, rows) + tileObjectBytes +
           uint64_t(instances) * (sizeof(WaterTile::Instance) + drawnBytes(gridTriangles(columns, rows)));
}

bool readTerrainDescription(TokenReader& in, const TextureListSizes& lists, TerrainDescription& out, std::string& error,
                            const std::string& fileName)
{
    out = TerrainDescription{};
    FieldReader f(in, error, fileName);
    int32_t landCount = 0, waterCount = 0;
    if (!f.integer("the number of land tiles", landCount) || !f.atLeast("the number of land tiles", landCount, 0) ||
        !f.integer("the number of water tiles", waterCount) || !f.atLeast("the number of water tiles", waterCount, 0))
        return false;
    // The textures come first in the budget: they are loaded before the tiles are read.
    uint64_t used = lists.textureBytes + (landCount > 0 || waterCount > 0 ? terrainFixedBytes : 0), drawn = 0;
    for (int32_t i = 0; i < landCount; ++i) {
        f.setPlace("land tile", i, landCount);
        LandTileRecord record;
        if (!readLand(f, lists, record) || !f.budget(used, landTileBytes(record.columns, record.rows)) ||
            !f.frameTriangles(drawn, 1, gridTriangles(record.columns, record.rows)))
            return false;
        out.land.push_back(record);
    }
    for (int32_t i = 0; i < waterCount; ++i) {
        f.setPlace("water tile", i, waterCount);
        WaterTileRecord record;
        if (!readWater(f, lists, record) ||
            !f.budget(used, waterTileBytes(record.positions.size(), record.columns, record.rows, record.frameCount)) ||
            !f.frameTriangles(drawn, record.positions.size(), gridTriangles(record.columns, record.rows)))
            return false;
        out.water.push_back(std::move(record));
    }
    return true;
}

bool parseTerrainDescription(const std::string& text, const TextureListSizes& lists, TerrainDescription& out,
                             std::string& error, const std::string& fileName)
{
    TokenReader in;
    in.openText(text);
    return readTerrainDescription(in, lists, out, error, fileName);
}
