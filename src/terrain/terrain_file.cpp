#include "terrain/terrain_file.h"

#include <cmath>
#include <cstdio>

namespace {

std::string number(float v)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

// Reads "label value" pairs of one record and words the first fault as "FILE: WHERE: ...".
class FieldReader {
public:
    FieldReader(TokenReader& in, std::string& error, const std::string& fileName)
        : in_(in), error_(error), fileName_(fileName)
    {
    }

    void setPlace(std::string where) { where_ = std::move(where); }

    bool fail(const std::string& what)
    {
        error_ = fileName_ + ": " + (where_.empty() ? "" : where_ + ": ") + what;
        return false;
    }

    bool word(const char* what)
    {
        std::string w;
        if (in_.readWord(w)) return true;
        return fail(std::string("the file ends before ") + what);
    }

    bool integer(const char* field, int32_t& value)
    {
        if (!word((std::string("the label of ") + field).c_str())) return false;
        if (in_.readInt(value)) return true;
        return notANumber(field, "a whole number");
    }

    bool real(const std::string& field, float& value)
    {
        if (!word(("the label of " + field).c_str())) return false;
        if (!in_.readFloat(value)) return notANumber(field.c_str(), "a number");
        if (!std::isfinite(value)) return fail(field + " is " + number(value) + ", must be a finite number");
        return true;
    }

    bool atLeast(const char* field, int32_t value, int32_t minimum)
    {
        if (value >= minimum) return true;
        return fail(std::string(field) + " is " + std::to_string(value) + ", must be at least " + std::to_string(minimum));
    }

    bool positive(const char* field, float value)
    {
        if (value > 0.0f) return true;
        return fail(std::string(field) + " is " + number(value) + ", must be a finite number above 0");
    }

    bool index(const char* field, int32_t value, size_t listSize, const char* listName)
    {
        if (value >= 0 && static_cast<size_t>(value) < listSize) return true;
        const std::string allowed = listSize == 0 ? std::string("TerrainTextures.txt lists no ") + listName
                                                  : "must be 0 to " + std::to_string(listSize - 1) + " (TerrainTextures.txt lists " +
                                                        std::to_string(listSize) + " " + listName + ")";
        return fail(std::string(field) + " is " + std::to_string(value) + ", " + allowed);
    }

    bool gridSize(int32_t columns, int32_t rows)
    {
        const int64_t vertices = int64_t(columns) * int64_t(rows);
        if (vertices <= maxTileVertices) return true;
        return fail("columns x rows is " + std::to_string(columns) + " x " + std::to_string(rows) + " = " +
                    std::to_string(vertices) + " vertices, at most " + std::to_string(maxTileVertices) + " are allowed");
    }

private:
    bool notANumber(const char* field, const char* kind)
    {
        std::string w;
        if (!in_.readWord(w)) return fail(std::string("the file ends before ") + field);
        return fail(std::string(field) + " must be " + kind + ", not '" + w + "'");
    }

    TokenReader& in_;
    std::string& error_;
    const std::string& fileName_;
    std::string where_;
};

bool readLand(FieldReader& f, const TextureListSizes& lists, LandTileRecord& r)
{
    return f.word("the header word") && f.real("position x", r.position.x) && f.real("position y", r.position.y) &&
           f.real("position z", r.position.z) && f.integer("columns", r.columns) && f.atLeast("columns", r.columns, 3) &&
           f.integer("rows", r.rows) && f.atLeast("rows", r.rows, 3) && f.gridSize(r.columns, r.rows) &&
           f.real("detail repeat u", r.detailRepeatU) && f.real("detail repeat v", r.detailRepeatV) &&
           f.real("width", r.width) && f.positive("width", r.width) && f.real("depth", r.depth) &&
           f.positive("depth", r.depth) && f.real("height scale", r.heightScale) &&
           f.integer("base texture index", r.baseTexture) &&
           f.index("base texture index", r.baseTexture, lists.base, "base textures") &&
           f.integer("detail texture index", r.detailTexture) &&
           f.index("detail texture index", r.detailTexture, lists.detail, "detail textures") &&
           f.integer("height-map index", r.heightMap) &&
           f.index("height-map index", r.heightMap, lists.heightMaps, "height maps");
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
    const int64_t bytes = int64_t(r.frameCount) * int64_t(r.columns) * int64_t(r.rows) * 40;
    if (bytes > maxWaterFrameBytes)
        return f.fail("frame count x columns x rows x 40 bytes is " + std::to_string(bytes) + " bytes of wave frames (" +
                      std::to_string(r.frameCount) + " x " + std::to_string(r.columns) + " x " + std::to_string(r.rows) +
                      "), at most " + std::to_string(maxWaterFrameBytes) + " are allowed");
    return true;
}

}  // namespace

bool readTerrainDescription(TokenReader& in, const TextureListSizes& lists, TerrainDescription& out, std::string& error,
                            const std::string& fileName)
{
    out = TerrainDescription{};
    FieldReader f(in, error, fileName);
    int32_t landCount = 0, waterCount = 0;
    if (!f.integer("the number of land tiles", landCount) || !f.atLeast("the number of land tiles", landCount, 0) ||
        !f.integer("the number of water tiles", waterCount) || !f.atLeast("the number of water tiles", waterCount, 0))
        return false;
    for (int32_t i = 0; i < landCount; ++i) {
        f.setPlace("land tile " + std::to_string(i));
        LandTileRecord record;
        if (!readLand(f, lists, record)) return false;
        out.land.push_back(record);
    }
    for (int32_t i = 0; i < waterCount; ++i) {
        f.setPlace("water tile " + std::to_string(i));
        WaterTileRecord record;
        if (!readWater(f, lists, record)) return false;
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
