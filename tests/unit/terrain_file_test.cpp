#include <gtest/gtest.h>

#include "terrain/terrain_file.h"

namespace {

const TextureListSizes lists{2, 1, 3};  // base, detail, height maps

const char* const landRecord =
    "Tile X 1.5 Y -2 Z 3 Cols 4 Rows 5 DetU 8 DetV 9 Width 100 Depth 50 Scale 0.3 Base 1 Detail 0 Height 2\n";
const char* const waterRecord =
    "Lake Count 2 X 1 Y 4 Z 5 X -1 Y 6 Z -5 Cols 3 Rows 2 DetU 2 DetV 3 Width 40 Depth 30 Reserved 123456 "
    "Wave 0.5 Sway 0.25 Base 0 Detail 0 Frames 8 Period 60\n";

// A file with one land and one water record in which one field of the land record is replaced.
std::string landWith(const std::string& from, const std::string& to)
{
    std::string land = landRecord;
    land.replace(land.find(from), from.size(), to);
    return std::string("Land 1 Water 0\n") + land;
}

std::string waterWith(const std::string& from, const std::string& to)
{
    std::string water = waterRecord;
    water.replace(water.find(from), from.size(), to);
    return std::string("Land 0 Water 1\n") + water;
}

}  // namespace

TEST(TerrainFile, ReadsLandThenWaterRecordsAndIgnoresWhatFollows)
{
    TerrainDescription d;
    std::string error;
    const std::string text = std::string("Anzahl_Land 1 W 1\n") + landRecord + waterRecord + "trailing words 12 ignored";
    ASSERT_TRUE(parseTerrainDescription(text, lists, d, error)) << error;
    ASSERT_EQ(d.land.size(), 1u);
    const LandTileRecord& l = d.land[0];
    EXPECT_EQ(l.position.x, 1.5f);
    EXPECT_EQ(l.position.y, -2.0f);
    EXPECT_EQ(l.position.z, 3.0f);
    EXPECT_EQ(l.columns, 4);
    EXPECT_EQ(l.rows, 5);
    EXPECT_EQ(l.detailRepeatU, 8.0f);
    EXPECT_EQ(l.detailRepeatV, 9.0f);
    EXPECT_EQ(l.width, 100.0f);
    EXPECT_EQ(l.depth, 50.0f);
    EXPECT_EQ(l.heightScale, 0.3f);
    EXPECT_EQ(l.baseTexture, 1);
    EXPECT_EQ(l.detailTexture, 0);
    EXPECT_EQ(l.heightMap, 2);

    ASSERT_EQ(d.water.size(), 1u);
    const WaterTileRecord& w = d.water[0];
    ASSERT_EQ(w.positions.size(), 2u);
    EXPECT_EQ(w.positions[1].x, -1.0f);
    EXPECT_EQ(w.positions[1].y, 6.0f);
    EXPECT_EQ(w.positions[1].z, -5.0f);
    EXPECT_EQ(w.columns, 3);
    EXPECT_EQ(w.rows, 2);
    EXPECT_EQ(w.reserved, 123456.0f);
    EXPECT_EQ(w.waveHeight, 0.5f);
    EXPECT_EQ(w.sway, 0.25f);
    EXPECT_EQ(w.frameCount, 8);
    EXPECT_EQ(w.framePeriod, 60);

    // Both counts 0, and a water record without instances.
    ASSERT_TRUE(parseTerrainDescription("L 0 W 0", lists, d, error)) << error;
    EXPECT_TRUE(d.land.empty() && d.water.empty());
    ASSERT_TRUE(parseTerrainDescription(waterWith("Count 2 X 1 Y 4 Z 5 X -1 Y 6 Z -5", "Count 0"), lists, d, error))
        << error;
    EXPECT_TRUE(d.water[0].positions.empty());
}

TEST(TerrainFile, EveryRefusalNamesTheFileTileFieldValueAndLimit)
{
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"Land -1 Water 0", "Terrain.txt: the number of land tiles is -1, must be at least 0"},
        {"Land 0 Water x", "Terrain.txt: the number of water tiles must be a whole number, not 'x'"},
        {"Land 2 Water 0\n" + std::string(landRecord), "Terrain.txt: land tile 1 of 2: the file ends before the header word"},
        {"Land 1 Water 0\nTile X 1 Y 2 Z 3 Cols 4", "Terrain.txt: land tile 0 of 1: the file ends before the label of rows"},
        {landWith("Cols 4", "Cols four"), "Terrain.txt: land tile 0: columns must be a whole number, not 'four'"},
        {landWith("Width 100", "Width wide"), "land tile 0: width must be a number, not 'wide'"},
        {landWith("Cols 4", "Cols 2"), "land tile 0: columns is 2, must be at least 3"},
        {landWith("Rows 5", "Rows 2"), "land tile 0: rows is 2, must be at least 3"},
        {landWith("Cols 4 Rows 5", "Cols 257 Rows 256"),
         "land tile 0: columns x rows is 257 x 256 = 65792 vertices, at most 65536 are allowed"},
        {landWith("Width 100", "Width 0"), "land tile 0: width is 0, must be a finite number above 0"},
        {landWith("Depth 50", "Depth -5"), "land tile 0: depth is -5, must be a finite number above 0"},
        {landWith("Width 100", "Width nan"), "land tile 0: width is nan, must be a finite number"},
        {landWith("X 1.5", "X inf"), "land tile 0: position x is inf, must be a finite number"},
        {landWith("Scale 0.3", "Scale 1e99"), "land tile 0: height scale is inf, must be a finite number"},
        {landWith("Base 1", "Base 2"),
         "land tile 0: base texture index is 2, must be 0 to 1 (TerrainTextures.txt lists 2 base textures)"},
        {landWith("Detail 0", "Detail -1"), "land tile 0: detail texture index is -1, must be 0 to 0"},
        {landWith("Height 2", "Height 3"), "land tile 0: height-map index is 3, must be 0 to 2"},
        {waterWith("Count 2", "Count -1"), "Terrain.txt: water tile 0: instance count is -1, must be at least 0"},
        {waterWith("Y 6", "Y nan"), "water tile 0: instance 1 position y is nan, must be a finite number"},
        {waterWith("Cols 3", "Cols 1"), "water tile 0: columns is 1, must be at least 2"},
        {waterWith("Rows 2", "Rows 1"), "water tile 0: rows is 1, must be at least 2"},
        {waterWith("Frames 8", "Frames 0"), "water tile 0: frame count is 0, must be at least 1"},
        {waterWith("Period 60", "Period -1"), "water tile 0: frame period is -1, must be at least 0"},
        {waterWith("Wave 0.5", "Wave -inf"), "water tile 0: wave height is -inf, must be a finite number"},
        {waterWith("Base 0", "Base 5"), "water tile 0: base texture index is 5"},
        {waterWith("Frames 8", "Frames 400"), ""},  // 400 x (2 x 3 x 2 x 40 + 1024) bytes is fine
        {waterWith("Cols 3 Rows 2 DetU 2 DetV 3 Width 40 Depth 30 Reserved 123456 Wave 0.5 Sway 0.25 Base 0 Detail 0 Frames 8",
                   "Cols 256 Rows 256 DetU 2 DetV 3 Width 40 Depth 30 Reserved 0 Wave 0.5 Sway 0.25 Base 0 Detail 0 Frames 52"),
         "water tile 0: 52 wave frames of 256 x 256 vertices would take 272683008 bytes (two copies of 40 bytes a vertex "
         "and 1024 bytes a frame), at most 268435456 are allowed"},
        // Tiny frames are not free: each is a buffer object of its own.
        {waterWith("Frames 8", "Frames 200000"), "water tile 0: 200000 wave frames of 3 x 2 vertices would take 300800000"},
        {waterWith("Period 60", "Period"), "water tile 0 of 1: the file ends before frame period"},
        // A value is its whole token; what the token shows is escaped.
        {landWith("Cols 4", "Cols 65.7"), "land tile 0: columns must be a whole number, not '65.7'"},
        {landWith("Width 100", "Width 1.5x"), "land tile 0: width must be a number, not '1.5x'"},
        {landWith("Cols 4", "Cols 4\x01\xC3"), "columns must be a whole number, not '4\\x01\\xC3'"},
        // Finite values whose consequences are not.
        {landWith("Cols 4", "Cols 1027"), "land tile 0: columns is 1027, must be at most 1026"},
        {landWith("Width 100", "Width 1e-45"), "land tile 0: width is 1.4013e-45: over 4 columns its cells would be 0"},
        {landWith("Width 100", "Width 1e38"), "land tile 0: width is 1e+38: cells of 3.33333e+37 x 12.5 units"},
        {landWith("Scale 0.3", "Scale 1e38"), "land tile 0: height scale is 1e+38: heights would reach inf"},
        {landWith("X 1.5 Y -2 Z 3 Cols 4 Rows 5 DetU 8 DetV 9 Width 100", "X 3e38 Y -2 Z 3 Cols 4 Rows 5 DetU 8 DetV 9 Width 1e38"),
         "land tile 0: position x is 3e+38: the tile would reach from 2.5e+38 to inf"},
        {waterWith("Wave 0.5", "Wave 3e38"), "water tile 0: wave height is 3e+38: the range of wave amplitudes"},
        {waterWith("Y 6 Z -5 Cols 3 Rows 2 DetU 2 DetV 3 Width 40 Depth 30 Reserved 123456 Wave 0.5",
                   "Y 3.4e38 Z -5 Cols 3 Rows 2 DetU 2 DetV 3 Width 40 Depth 30 Reserved 123456 Wave 1e38"),
         "water tile 0: instance 1 position y is 3.4e+38: waves would reach inf"},
        {waterWith("Sway 0.25", "Sway 1e20"), "water tile 0: sway is 1e+20"},
    };
    for (const Case& c : cases) {
        TerrainDescription d;
        std::string error;
        const bool ok = parseTerrainDescription(c.text, lists, d, error);
        if (c.expected.empty()) {
            EXPECT_TRUE(ok) << c.text << ": " << error;
            continue;
        }
        EXPECT_FALSE(ok) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << "got: " << error << "\nwant: " << c.expected;
        EXPECT_EQ(error.rfind("Terrain.txt: ", 0), 0u) << error;
    }
    // An empty list cannot be referred to at all.
    TerrainDescription d;
    std::string error;
    EXPECT_FALSE(parseTerrainDescription(std::string("L 1 W 0 ") + landRecord, TextureListSizes{2, 0, 3}, d, error));
    EXPECT_NE(error.find("detail texture index is 0, TerrainTextures.txt lists no detail textures"), std::string::npos)
        << error;
}

TEST(TerrainFile, TheMemoryBudgetCountsTheTexturesFirstThenEveryTileInTurn)
{
    std::string text = "Land 200 Water 0\n";
    for (int i = 0; i < 200; ++i) text += landWith("Cols 4 Rows 5", "Cols 255 Rows 255").substr(15);
    const uint64_t tile = landTileBytes(255, 255);
    const uint64_t fitting = (terrainMemoryBudget - terrainFixedBytes) / tile;  // tiles 0 .. fitting - 1 fit
    TerrainDescription d;
    std::string error;
    EXPECT_FALSE(parseTerrainDescription(text, lists, d, error));
    EXPECT_EQ(error, "Terrain.txt: land tile " + std::to_string(fitting) + ": the terrain and its textures would take " +
                         std::to_string(terrainFixedBytes + (fitting + 1) * tile) + " bytes with this tile, more than the budget of " +
                         "1610612736 bytes (1.5 GiB)");

    TextureListSizes nearlyFull = lists;
    nearlyFull.textureBytes = terrainMemoryBudget - terrainFixedBytes - tile + 1;
    EXPECT_FALSE(parseTerrainDescription(landWith("Cols 4 Rows 5", "Cols 255 Rows 255"), nearlyFull, d, error));
    EXPECT_NE(error.find("land tile 0: the terrain and its textures would take"), std::string::npos) << error;

    // Water instances count: each is a draw a frame, small grid or large.
    const auto water = [](int instances, const char* grid) {
        std::string t = "Land 0 Water 1 Lake N " + std::to_string(instances) + "\n";
        for (int i = 0; i < instances; ++i) t += "x " + std::to_string(i % 100) + " y 0 z 0\n";
        return t + grid + " U 1 V 1 W 10 D 10 R 0 H 0.3 S 0 B 0 D 0 F 1 P 60\n";
    };
    EXPECT_TRUE(parseTerrainDescription(water(128, "C 256 R 256"), lists, d, error)) << error;
    EXPECT_FALSE(parseTerrainDescription(water(1000, "C 256 R 256"), lists, d, error));
    EXPECT_EQ(error, "Terrain.txt: water tile 0: the terrain would draw up to 130050000 triangles a frame with this "
                     "tile (1000 instances of 130050), more than the 16777216 allowed");
    EXPECT_TRUE(parseTerrainDescription(water(10000, "C 2 R 2"), lists, d, error)) << error;
    EXPECT_FALSE(parseTerrainDescription(water(200000, "C 2 R 2"), lists, d, error));
    EXPECT_EQ(error.rfind("Terrain.txt: water tile 0: the terrain and its textures would take", 0), 0u) << error;
}
