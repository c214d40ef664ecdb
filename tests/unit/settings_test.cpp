#include <gtest/gtest.h>

#include "base/fatal_error.h"
#include "state/settings.h"
#include "base/checked_file.h"
#include "support/fixtures.h"

#include <filesystem>

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

TEST_F(SettingsFiles, LabelsUpToTheTokenLimitAreReadWholeAndLongerOnesRefused)
{
    writeFile("SpielEinstellungen.txt", std::string(maxTextTokenLength, 'x') + " 500\n");
    ASSERT_TRUE(loadGameSettings());
    EXPECT_EQ(appSettings.viewDistance, 500.0f);
    EXPECT_EQ(appSettings.viewDistanceSq, 250000.0f);

    writeFile("SpielEinstellungen.txt", std::string(5000, 'x') + " 500\n");
    EXPECT_FALSE(loadGameSettings());
    EXPECT_EQ(fatalErrorMessage(), "SpielEinstellungen.txt: a word of 5000 characters, more than the 256 allowed: '" +
                                       std::string(40, 'x') + "...'");
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

// A rate is checked only where the mode reads it. Mode 1 takes any positive rate whose frame the
// millisecond count can measure; the others never read it.
TEST_F(SettingsFiles, FrameRatesAreCheckedOnlyWherePacingWaitsForThem)
{
    const std::string refused = "RenderingAndMore.txt: with pacing mode 1 the target frame rate must be a finite number "
                                "above 4.65661e-07 frames per second (a frame of at most 24.8 days), not ";
    struct Case {
        const char* pacing;
        const char* fps;
        float frameMs;        // the derived frame time where accepted
        const char* refusal;  // empty: accepted
    } cases[] = {
        {"1", "0.5", 2000.0f, ""},
        {"1", "0.001", 1000000.0f, ""},
        {"1", "1e6", 0.001f, ""},  // shorter than a tick: every frame lasts one
        {"1", "4.7e-7", 1000.0f / 4.7e-7f, ""},
        {"1", "4.6e-7", 0.0f, "4.6e-07"},  // a frame the 32-bit count never passes
        {"1", "1e-30", 0.0f, "1e-30"},
        {"1", "0", 0.0f, "0"},
        {"1", "-infinity", 0.0f, "-inf"},
        {"1", "nan", 0.0f, "nan"},
        {"1", "1e40", 0.0f, "inf"},  // overflows
        {"2", "nan", 0.0f, ""},
        {"2", "0", 0.0f, ""},
        {"0", "inf", 0.0f, ""},
        {"2", "-1e40", 0.0f, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pacing) + " " + c.fps);
        appSettings = AppSettings{};
        clearFatalError();
        writeFile("RenderingAndMore.txt", std::string("l1 l2 l3 l4 l5 0 pacing ") + c.pacing + " fps " + c.fps + " unused 0\n");
        EXPECT_EQ(loadRenderingSettings(), !*c.refusal);
        EXPECT_EQ(fatalErrorMessage(), *c.refusal ? refused + c.refusal : std::string());
        if (!*c.refusal && *c.pacing == '1') {
            EXPECT_FLOAT_EQ(appSettings.targetFrameMs, c.frameMs);
        }
    }
}

TEST_F(SettingsFiles, ViewDistancesThatLeaveNothingToDrawAreRefused)
{
    for (const char* distance : {"nan", "inf", "-inf", "0", "-5", "1e20"}) {
        SCOPED_TRACE(distance);
        appSettings = AppSettings{};
        clearFatalError();
        writeFile("SpielEinstellungen.txt", std::string("Sichtweite ") + distance + "\n");
        EXPECT_FALSE(loadGameSettings());
        EXPECT_EQ(fatalErrorMessage().rfind("SpielEinstellungen.txt: the view distance must be a finite number above 0", 0), 0u)
            << fatalErrorMessage();
    }
    clearFatalError();
    writeFile("SpielEinstellungen.txt", "Sichtweite 1e19\n");
    EXPECT_TRUE(loadGameSettings());
}

TEST_F(SettingsFiles, UnreadableOrUnusualValuesKeepTheirStartValueAndWarnOnce)
{
    struct Case {
        const char* file;
        const char* text;
        bool (*load)();
        const char* warning;
    } cases[] = {
        {"Resolutions.txt", "a b c d e f x label 0", loadResolutionSettings,
         "Resolutions.txt: the display mode is not a whole number but 'x'; using 800 x 600 at 16 bit"},
        {"Resolutions.txt", "a b c d e f 7 label 0", loadResolutionSettings,
         "Resolutions.txt: display mode 7 is not 1, 2, 3 or 4; using 800 x 600 at 16 bit"},
        {"Resolutions.txt", "a b c d e f 2 label 2", loadResolutionSettings,
         "Resolutions.txt: full-screen flag 2 is neither 0 nor 1; using full screen"},
        {"Resolutions.txt", "a b c d e f 2 label", loadResolutionSettings,
         "Resolutions.txt: the full-screen flag is not a whole number but the end of the file; using full screen"},
        {"RenderingAndMore.txt", "l1 l2 l3 l4 l5 hw pacing", loadRenderingSettings,
         "RenderingAndMore.txt: the vertex processing is not a whole number but 'hw'; keeping 0"},
        {"RenderingAndMore.txt", "l1 l2 l3 l4 l5 0 pacing 0 fps 50 unused 0", loadRenderingSettings,
         "RenderingAndMore.txt: frame pacing 0 is neither 1 nor 2, so time stands still"},
        {"RenderingAndMore.txt", "l1 l2 l3 l4 l5 0 pacing 1 fps fast unused 0", loadRenderingSettings,
         "RenderingAndMore.txt: the target frame rate is not a number but 'fast'; keeping 0"},
        {"SpielEinstellungen.txt", "Sichtweite weit", loadGameSettings,
         "SpielEinstellungen.txt: the view distance is not a number but 'weit'; keeping 1000"},
        // Numbers read from the front of their token, as formatted input reads them, are said.
        {"Resolutions.txt", "a b c d e f 2.5 label 0", loadResolutionSettings,
         "Resolutions.txt: the display mode '2.5' is read as 2: a whole number ends at its first character that "
         "cannot continue it"},
        {"RenderingAndMore.txt", "l1 l2 l3 l4 l5 1x pacing 2 fps 50 unused 0", loadRenderingSettings,
         "RenderingAndMore.txt: the vertex processing '1x' is read as 1: a whole number ends at its first character "
         "that cannot continue it"},
        {"SpielEinstellungen.txt", "Sichtweite 500m", loadGameSettings,
         "SpielEinstellungen.txt: the view distance '500m' is read as 500: a number ends at its first character that "
         "cannot continue it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        appSettings = AppSettings{};
        writeFile(c.file, c.text);
        testing::internal::CaptureStderr();
        c.load();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.substr(0, err.find('\n') + 1), std::string("zentrix: warning: ") + c.warning + "\n");
    }
    // The bundled files are read without a word.
    for (const char* name : {"Resolutions.txt", "RenderingAndMore.txt", "SpielEinstellungen.txt"})
        std::filesystem::copy_file(std::string(ZENTRIX_SOURCE_DIR) + "/data/" + name, name,
                                   std::filesystem::copy_options::overwrite_existing);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loadResolutionSettings() && loadRenderingSettings() && loadGameSettings());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(SettingsFiles, ADirectoryOrADeviceInPlaceOfAFileIsNamedAsSuch)
{
    std::filesystem::create_directory("Resolutions.txt");
    EXPECT_FALSE(loadResolutionSettings());
    EXPECT_EQ(fatalErrorMessage(), "Resolutions.txt is a directory");
    clearFatalError();
    std::filesystem::create_symlink("/dev/zero", "SpielEinstellungen.txt");
    EXPECT_FALSE(loadGameSettings());
    EXPECT_EQ(fatalErrorMessage(), "SpielEinstellungen.txt is not a regular file");
}
