#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

// The whole program on the bundled data drawn twice, once with the general shader program for
// every draw and once with the specialised ones: the screenshots must be the same file.
TEST(ProgramVariantsRun, BundledSceneIsTheSameWithGeneralAndSpecialisedPrograms)
{
    TempDir dir;
    const ProcessResult made = runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + dir.path());
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    // With the detail texture, then without it (F toggles it in the first frame); turning a
    // little so the view is not the start view.
    dir.writeText("detail.keys", "0-5 LEFT\n");
    dir.writeText("nodetail.keys", "0 F\n0-5 LEFT\n");
    for (const char* keys : {"detail.keys", "nodetail.keys"}) {
        SCOPED_TRACE(keys);
        std::string shots[2];
        for (int general = 0; general < 2; ++general) {
            const std::string shot = dir.file(std::string("shot") + std::to_string(general) + ".png");
            const ProcessResult run =
                runCommand("ZENTRIX_GENERAL_SHADER=" + std::to_string(general) + " " + ZENTRIX_BINARY +
                           " --headless --frames 12 --fixed-step 20 --seed 3 --data " + dir.path() + " --keys " +
                           dir.file(keys) + " --screenshot " + shot);
            ASSERT_EQ(run.exitStatus, 0) << run.output;
            shots[general] = readFile(shot);
        }
        EXPECT_GT(shots[0].size(), 1000u);
        EXPECT_TRUE(shots[0] == shots[1]) << "the screenshots differ";
    }
}
