#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "support/fixtures.h"

// The bundled data set, all of it written by the tool, must run without a single warning.
TEST(DemoData, GeneratedSetRunsCleanly)
{
    TempDir dir;
    const ProcessResult made = runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + dir.path());
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    for (const char* name : {"Graphic/Billardkugel1.bmp", "Graphic/Billardkugel3.bmp", "trajectory_data.txt", "Terrain.txt",
                             "TerrainTextures.txt", "Landscape/Height.bmp", "Landscape/Ground.bmp", "Landscape/Water.bmp",
                             "Landscape/Detail.bmp", "Resolutions.txt", "RenderingAndMore.txt", "SpielEinstellungen.txt",
                             "Backgroundmusic.wav", "Explosion.wav"})
        EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;

    const ProcessResult run = runCommand(std::string(ZENTRIX_BINARY) + " --headless --frames 5 --fixed-step 20 --data " +
                                         dir.path() + " --trace " + dir.file("t.csv"));
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(run.output.find("warning"), std::string::npos) << run.output;
    // On Mesa only software vertex processing exists: the default setting falls back to it.
    EXPECT_EQ(readFile(dir.file("protokoll.txt")), "software VertexProcessing ungewollt\n");
    // The start stands on the terrace of the one land tile, above the lake, over no water: the
    // last four columns are ground_height, land_tile, water_tile, water_frame.
    const std::string trace = readFile(dir.file("t.csv"));
    std::vector<std::string> cells;
    std::stringstream last(trace.substr(trace.rfind('\n', trace.size() - 2) + 1));
    for (std::string cell; std::getline(last, cell, ',');) cells.push_back(cell);
    ASSERT_GE(cells.size(), 4u);
    const double ground = std::stod(cells[cells.size() - 4]);
    EXPECT_GT(ground, 15.0);
    EXPECT_LT(ground, 35.0);
    EXPECT_EQ(cells[cells.size() - 3], "0");
    EXPECT_EQ(cells[cells.size() - 2], "-1");
}
