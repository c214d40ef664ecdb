#include <gtest/gtest.h>

#include "app/fatal_error.h"
#include "app/settings.h"
#include "support/fixtures.h"

namespace {

class SettingsFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        appSettings = AppSettings{};
        clearFatalError();
    }
    void TearDown() override { clearFatalError(); }
    TempDir dir;
};

}  // namespace

TEST_F(SettingsFiles, ResolutionModesAndScreenFlag)
{
    struct Case {
        const char* mode;
        const char* flag;
        int w, h, depth, full;
    } cases[] = {
        {"4", "0", 1024, 768, 32, 0}, {"1", "1", 800, 600, 16, 1}, {"2", "0", 800, 600, 32, 0},
        {"3", "2", 1024, 768, 16, 1}, {"0", "0", 800, 600, 16, 0}, {"5", "0", 800, 600, 16, 0},
        {"-1", "0", 800, 600, 16, 0}, {"x", "0", 800, 600, 16, 1},  // "x" shifts: the label eats it
    };
    for (const Case& c : cases) {
        writeFile("Resolutions.txt", std::string("a b c d e f ") + c.mode + " label " + c.flag + "\n");
        ASSERT_TRUE(loadResolutionSettings());
        EXPECT_EQ(appSettings.screenWidth, c.w) << c.mode;
        EXPECT_EQ(appSettings.screenHeight, c.h) << c.mode;
        EXPECT_EQ(appSettings.colorDepth, c.depth) << c.mode;
        EXPECT_EQ(appSettings.fullScreen, c.full) << c.mode << " " << c.flag;
    }
}

TEST_F(SettingsFiles, RenderingValuesAndDerivedFrameTime)
{
    writeFile("RenderingAndMore.txt", "l1 l2 l3 l4 l5 0 pacing 1 fps 50 unused 0\nextra lines 1 2 3\n");
    ASSERT_TRUE(loadRenderingSettings());
    EXPECT_EQ(appSettings.vertexProcessing, 0);
    EXPECT_EQ(appSettings.pacingMode, 1);
    EXPECT_EQ(appSettings.targetFrameMs, 20.0f);

    writeFile("RenderingAndMore.txt", "l1 l2 l3 l4 l5 2 pacing 2 fps 60 unused 0\n");
    ASSERT_TRUE(loadRenderingSettings());
    EXPECT_EQ(appSettings.targetFrameMs, 1000.0f / 60.0f);
    EXPECT_FLOAT_EQ(appSettings.targetFrameMs, 16.666667f);
    writeFile("RenderingAndMore.txt", "l1 l2 l3 l4 l5 3 pacing 2 fps 25 unused 0");
    ASSERT_TRUE(loadRenderingSettings());
    EXPECT_EQ(appSettings.targetFrameMs, 40.0f);
    EXPECT_EQ(appSettings.vertexProcessing, 3);
}

TEST_F(SettingsFiles, TwoWordLabelShiftsLaterValuesAndKeepsStartValues)
{
    // The fifth label is two words: its second word is read where the number should be.
    writeFile("RenderingAndMore.txt", "l1 l2 l3 l4 vertex processing 2 pacing 1 fps 50 unused 0\n");
    ASSERT_TRUE(loadRenderingSettings());
    EXPECT_EQ(appSettings.vertexProcessing, 0);  // start value: "processing" was not a number
    EXPECT_EQ(appSettings.pacingMode, 2);       // every later value comes one token late
    EXPECT_EQ(appSettings.targetFps, 1.0f);
}

TEST_F(SettingsFiles, LongLabelsAreReadWhole)
{
    const std::string longLabel(5000, 'x');
    writeFile("SpielEinstellungen.txt", longLabel + " 500\n");
    ASSERT_TRUE(loadGameSettings());
    EXPECT_EQ(appSettings.viewDistance, 500.0f);
    EXPECT_EQ(appSettings.viewDistanceSq, 250000.0f);
}

TEST_F(SettingsFiles, MissingViewDistanceKeepsDefaults)
{
    writeFile("SpielEinstellungen.txt", "ViewDistance\n");
    ASSERT_TRUE(loadGameSettings());
    EXPECT_EQ(appSettings.viewDistance, 1000.0f);
    EXPECT_EQ(appSettings.viewDistanceSq, 1000000.0f);
    writeFile("SpielEinstellungen.txt", "ViewDistance far\n");
    ASSERT_TRUE(loadGameSettings());
    EXPECT_EQ(appSettings.viewDistance, 1000.0f);
}

TEST_F(SettingsFiles, MissingFilesNameTheFile)
{
    EXPECT_FALSE(loadResolutionSettings());
    EXPECT_EQ(fatalErrorMessage(), "cannot open Resolutions.txt: No such file or directory");
    clearFatalError();
    EXPECT_FALSE(loadRenderingSettings());
    EXPECT_NE(fatalErrorMessage().find("RenderingAndMore.txt"), std::string::npos);
    clearFatalError();
    EXPECT_FALSE(loadGameSettings());
    EXPECT_NE(fatalErrorMessage().find("SpielEinstellungen.txt"), std::string::npos);
}

TEST_F(SettingsFiles, RefusesValuesTheProgramCannotRunWith)
{
    writeFile("RenderingAndMore.txt", "l1 l2 l3 l4 l5 7 pacing 2 fps 50 unused 0\n");
    EXPECT_FALSE(loadRenderingSettings());
    EXPECT_NE(fatalErrorMessage().find("RenderingAndMore.txt"), std::string::npos);
    EXPECT_NE(fatalErrorMessage().find("7"), std::string::npos);
    clearFatalError();
    for (const char* fps : {"0", "-5", "none"}) {
        writeFile("RenderingAndMore.txt", std::string("l1 l2 l3 l4 l5 0 pacing 1 fps ") + fps + " unused 0\n");
        appSettings = AppSettings{};
        EXPECT_FALSE(loadRenderingSettings()) << fps;
        EXPECT_NE(fatalErrorMessage().find("pacing mode 1"), std::string::npos);
        clearFatalError();
    }
    // Without frame waiting a zero rate does no harm.
    writeFile("RenderingAndMore.txt", "l1 l2 l3 l4 l5 0 pacing 2 fps 0 unused 0\n");
    EXPECT_TRUE(loadRenderingSettings());
}
