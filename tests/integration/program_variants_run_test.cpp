#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

// The whole program on the bundled data drawn four ways: with the specialised shader programs,
// the land cut to what the view reaches and kept layers (the normal run), with the general
// program for every draw, with every land tile drawn whole, and with every layer drawn. The
// screenshots must be the same file.
TEST(ProgramVariantsRun, BundledSceneIsTheSameWithEveryProgramLandDrawingAndLayerPath)
{
    TempDir dir;
    const ProcessResult made = runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + dir.path());
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    // With the detail texture, then without it (F toggles it in the first frame), both turning
    // a little so the view is not the start view and then standing, so the last frames put a
    // kept layer back; turned past a right angle, where the land is drawn in its own order
    // rather than the reverse; standing while a key changes the text, which the layer holds.
    struct Run {
        const char* keys;
        const char* script;
        int frames;
    };
    const Run runs[] = {{"detail.keys", "0-5 LEFT\n", 12}, {"nodetail.keys", "0 F\n0-5 LEFT\n", 12},
                        {"turned.keys", "0-119 RIGHT\n110-119 UP\n", 120}, {"text.keys", "0-5 LEFT\n14 V\n", 16}};
    const char* const variants[] = {"", "ZENTRIX_GENERAL_SHADER=1 ", "ZENTRIX_WHOLE_TILES=1 ", "ZENTRIX_REDRAW_LAYERS=1 "};
    for (const Run& r : runs) {
        SCOPED_TRACE(r.keys);
        dir.writeText(r.keys, r.script);
        std::string shots[4];
        for (int v = 0; v < 4; ++v) {
            const std::string shot = dir.file(std::string("shot") + std::to_string(v) + ".png");
            const ProcessResult run = runCommand(std::string(variants[v]) + ZENTRIX_BINARY + " --headless --frames " +
                                                 std::to_string(r.frames) + " --fixed-step 20 --seed 3 --data " +
                                                 dir.path() + " --keys " + dir.file(r.keys) + " --screenshot " + shot);
            ASSERT_EQ(run.exitStatus, 0) << run.output;
            shots[v] = readFile(shot);
        }
        EXPECT_GT(shots[0].size(), 1000u);
        EXPECT_TRUE(shots[0] == shots[1]) << "the general program draws other pixels";
        EXPECT_TRUE(shots[0] == shots[2]) << "whole land tiles draw other pixels";
        EXPECT_TRUE(shots[0] == shots[3]) << "kept layers show other pixels";
    }
}
