#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

#include "app/application.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "state/settings.h"
#include "support/fixtures.h"
#include "support/recording_device.h"
#include "world/game_world.h"

namespace {

const uint32_t pure = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
const uint32_t hw = D3DCREATE_HARDWARE_VERTEXPROCESSING;
const uint32_t mixed = D3DCREATE_MIXED_VERTEXPROCESSING;
const uint32_t sw = D3DCREATE_SOFTWARE_VERTEXPROCESSING;

class DeviceCreation : public ::testing::Test {
protected:
    void SetUp() override
    {
        appSettings = AppSettings{};
        clearFatalError();
        setGraphicsSystemFactory([this] {
            auto s = std::make_unique<RecordingGraphicsSystem>();
            s->refused = refused;
            s->unsupportedFormats = unsupported;
            system = s.get();
            return s;
        });
    }
    void TearDown() override
    {
        releaseGraphics();
        setGraphicsSystemFactory(nullptr);
        clearFatalError();
    }
    std::string create(int vertexProcessing)
    {
        appSettings.vertexProcessing = vertexProcessing;
        releaseGraphics();
        clearFatalError();
        createGraphicsDevice();
        return readFile("protokoll.txt");
    }
    std::set<uint32_t> refused;
    std::set<uint32_t> unsupported;
    RecordingGraphicsSystem* system = nullptr;
    TempDir dir;
};

}  // namespace

TEST_F(DeviceCreation, EachRowTriesItsModesInOrderAndLogsOneLine)
{
    EXPECT_EQ(create(0), "hardware VertexProcessing with PureDevice gewollt\n");
    EXPECT_EQ(system->attempts, (std::vector<uint32_t>{pure}));
    EXPECT_EQ(create(1), "hardware VertexProcessing gewollt\n");
    EXPECT_EQ(create(2), "mixed VertexProcessing gewollt\n");
    EXPECT_EQ(create(3), "software VertexProcessing gewollt\n");
    EXPECT_EQ(system->attempts, (std::vector<uint32_t>{sw}));
}

TEST_F(DeviceCreation, FallbacksOnASoftwareOnlyRenderer)
{
    refused = {pure, hw, mixed};
    EXPECT_EQ(create(0), "software VertexProcessing ungewollt\n");
    EXPECT_EQ(system->attempts, (std::vector<uint32_t>{pure, hw, mixed, sw}));
    EXPECT_EQ(create(1), "software VertexProcessing ungewollt\n");
    EXPECT_EQ(system->attempts, (std::vector<uint32_t>{hw, mixed, sw}));
    EXPECT_EQ(create(2), "software VertexProcessing ungewollt\n");
    EXPECT_EQ(create(3), "software VertexProcessing gewollt\n");
    ASSERT_NE(graphicsDevice, nullptr);

    refused = {pure, hw};
    EXPECT_EQ(create(0), "mixed VertexProcessing ungewollt\n");
    refused = {pure};
    EXPECT_EQ(create(0), "hardware VertexProcessing ungewollt\n");
}

TEST_F(DeviceCreation, NoDeviceAtAllStillLogsTheLastAttemptAndFails)
{
    refused = {pure, hw, mixed, sw};
    EXPECT_EQ(create(2), "software VertexProcessing ungewollt\n");
    EXPECT_EQ(graphicsDevice, nullptr);
    EXPECT_TRUE(fatalErrorPending());
    EXPECT_NE(fatalErrorMessage().find("graphics device"), std::string::npos);
}

TEST_F(DeviceCreation, BaseStatesAndAspectRatio)
{
    appSettings.screenWidth = 1024;
    appSettings.screenHeight = 768;
    create(3);
    auto* rec = static_cast<RecordingDevice*>(graphicsDevice.get());
    EXPECT_EQ(rec->calls, (std::vector<std::string>{
                              "SetSamplerState 0 6 2", "SetSamplerState 0 5 2", "SetSamplerState 1 6 2",
                              "SetSamplerState 1 5 2", "SetTextureStageState 0 11 0", "SetTextureStageState 1 11 0",
                              "SetRenderState 22 2", "SetRenderState 26 1", "SetRenderState 29 1",
                              "SetRenderState 137 1", "SetRenderState 7 1"}));
    EXPECT_EQ(aspectRatio, 1.3333334f);
    appSettings.screenWidth = 800;
    appSettings.screenHeight = 600;
    create(3);
    EXPECT_EQ(aspectRatio, 1.3333334f);
}

TEST_F(DeviceCreation, PresentationParametersAndFormatChoice)
{
    int window = 0;
    mainWindow = &window;
    appSettings.fullScreen = 0;
    appSettings.colorDepth = 16;
    create(3);
    EXPECT_EQ(system->lastParameters.windowed, 1);
    EXPECT_EQ(system->lastParameters.deviceWindow, nullptr);  // the focus window serves
    EXPECT_EQ(system->lastParameters.backBufferWidth, 0u);
    EXPECT_EQ(system->lastParameters.backBufferFormat, D3DFMT_X8R8G8B8);  // the desktop's
    EXPECT_EQ(system->lastParameters.swapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(system->lastParameters.autoDepthStencilFormat, D3DFMT_D16);

    appSettings.fullScreen = 1;
    unsupported = {D3DFMT_R5G6B5};
    create(3);
    EXPECT_EQ(backBufferFormat, D3DFMT_X1R5G5B5);
    EXPECT_EQ(system->lastParameters.backBufferWidth, 800u);
    EXPECT_EQ(system->lastParameters.swapEffect, D3DSWAPEFFECT_FLIP);
    EXPECT_EQ(system->lastParameters.deviceWindow, &window);
    EXPECT_EQ(system->lastParameters.presentationInterval, D3DPRESENT_INTERVAL_ONE);
    appSettings.colorDepth = 32;
    unsupported = {D3DFMT_X8R8G8B8};
    create(3);
    EXPECT_EQ(backBufferFormat, D3DFMT_UNKNOWN);
    mainWindow = nullptr;
}

TEST_F(DeviceCreation, UnwritableLogIsFatal)
{
    writeFile("protokoll.txt/blocker", "");  // a folder where the log should be
    appSettings.vertexProcessing = 3;
    EXPECT_FALSE(createGraphicsDevice());
    EXPECT_EQ(fatalErrorMessage(), "cannot create the log protokoll.txt: Is a directory");
}

TEST_F(DeviceCreation, LogThatCannotBeWrittenIsFatal)
{
    // With a file-size limit of 0 the log can be created but its line not written.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    appSettings.vertexProcessing = 3;
    const bool created = createGraphicsDevice();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(created);
    EXPECT_EQ(fatalErrorMessage(), "cannot write the log protokoll.txt: File too large");
}

TEST_F(DeviceCreation, RenderFrameBracketsTheWorld)
{
    create(3);
    auto* rec = static_cast<RecordingDevice*>(graphicsDevice.get());
    rec->calls.clear();
    renderFrame();
    EXPECT_EQ(rec->calls, (std::vector<std::string>{"Clear 3 FF64CCFF 1 0", "BeginScene", "EndScene", "Present"}));
}
