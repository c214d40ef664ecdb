#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "app/input.h"
#include "support/fixtures.h"
#include "support/recording_device.h"
#include "world/game_world.h"

namespace {

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        programState = -1;
        clearQuit();
        clearFatalError();
        frameIndex = 0;
        setGraphicsSystemFactory([this] {
            ++systemsMade;
            return std::make_unique<RecordingGraphicsSystem>();
        });
        appHooks.messageBox = [this](const char* text) { messages.push_back(text); };
    }
    void TearDown() override
    {
        shutDown();
        appHooks = AppHooks{};
        setGraphicsSystemFactory(nullptr);
        programState = -1;
        clearQuit();
        clearFatalError();
    }
    int systemsMade = 0;
    std::vector<std::string> messages;
    TempDir dir;
};

class NoKeys : public KeyboardSource {
public:
    bool read(uint8_t*) override { return false; }
    bool escapeDown() override { return false; }
};

}  // namespace

TEST_F(Lifecycle, MissingKeyboardShowsOneMessageAndStopsAllFrameWork)
{
    appHooks.createInput = [] { return createInput(nullptr, nullptr); };
    EXPECT_FALSE(startUp());
    EXPECT_EQ(messages, (std::vector<std::string>{"keine Tastatur gefunden"}));
    EXPECT_EQ(programState, -1000);
    EXPECT_TRUE(quitPosted());
    EXPECT_FALSE(fatalErrorPending());  // an orderly end with status 0, not an error
    EXPECT_EQ(systemsMade, 0);          // no settings read, no device created
    runFrame();
    EXPECT_EQ(frameIndex, 0);
}

TEST_F(Lifecycle, MissingMouseIsToldToo)
{
    appHooks.createInput = [] { return createInput(std::make_unique<NoKeys>(), nullptr); };
    EXPECT_FALSE(startUp());
    EXPECT_EQ(messages, (std::vector<std::string>{"keine Maus gefunden"}));
}

TEST_F(Lifecycle, StartUpStopsAtTheFirstMissingFileAndShutDownToleratesIt)
{
    appHooks.createInput = [] { return 0; };
    writeFixtureData(dir.path());
    std::remove("trajectory_data.txt");
    EXPECT_FALSE(startUp());
    EXPECT_EQ(fatalErrorMessage(), "cannot open trajectory_data.txt: No such file or directory");
    EXPECT_EQ(systemsMade, 0);  // the device comes after the trajectory
    EXPECT_EQ(theWorld, nullptr);
    shutDown();
    shutDown();  // twice is harmless: everything released is cleared
}

TEST_F(Lifecycle, FullStartUpFramesAndShutDown)
{
    appHooks.createInput = [] { return 0; };
    writeFixtureData(dir.path());
    ASSERT_TRUE(startUp()) << fatalErrorMessage();
    ASSERT_NE(theWorld, nullptr);
    auto* rec = static_cast<RecordingDevice*>(graphicsDevice.get());
    rec->calls.clear();
    loopTick();
    EXPECT_EQ(frameIndex, 1);
    EXPECT_EQ(rec->calls.front(), "Clear 3 FF64CCFF 1 0");
    EXPECT_EQ(rec->calls.back(), "Present");
    // Star field, then ball 1, then ball 2: three draws inside the scene.
    EXPECT_EQ(rec->callsStartingWith("DrawPrimitive").size(), 3u);
    shutDown();
    EXPECT_EQ(theWorld, nullptr);
    EXPECT_EQ(graphicsDevice, nullptr);
}
