#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "app/application.h"
#include "state/camera.h"
#include "app/graphics.h"
#include "app/input.h"
#include "support/recording_device.h"

namespace {

// Keys the test holds down; read() can be made to fail like an unfocused window.
class TestKeyboard : public KeyboardSource {
public:
    std::set<uint8_t> held;
    bool focused = true;
    bool read(uint8_t state[256]) override
    {
        if (!focused) return false;
        std::memset(state, 0, 256);
        for (uint8_t k : held) state[k] = 0x80;
        return true;
    }
    bool escapeDown() override { return held.count(DIK_ESCAPE) != 0; }
};

class TestMouse : public MouseSource {
public:
    bool read(int32_t&, int32_t&, int32_t&, uint8_t*) override { return true; }
};

class KeyTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetKeyValues();
        frameClock = FrameClock{};
        auto kb = std::make_unique<TestKeyboard>();
        keys = kb.get();
        ASSERT_EQ(createInput(std::move(kb), std::make_unique<TestMouse>()), 0);
        cameraPos = Vec3(0.0f, 20.0f, -20.0f);
        lookDir = Vec3(0.0f, 0.0f, 1.0f);
        resetTransforms();
        turnLeftRequest = turnRightRequest = 0;
    }
    void TearDown() override { releaseInput(); }

    // One frame of key handling with the given keys held.
    void frame(std::set<uint8_t> held)
    {
        keys->held = std::move(held);
        readKeysAndApply();
        applyTurnRequests();
    }
    void press(uint8_t key, int times)
    {
        for (int i = 0; i < times; ++i) {
            frame({key});
            frame({});
        }
    }
    TestKeyboard* keys = nullptr;
};

}  // namespace

TEST_F(KeyTable, TimeFactorLimitsInSinglePrecision)
{
    frame({DIK_B});
    frame({DIK_B});
    frame({DIK_B});
    EXPECT_EQ(timeFactor, 0.2f + 0.1f);  // held: fires once
    resetKeyValues();
    press(DIK_V, 1);
    EXPECT_EQ(timeFactor, 0.2f - 0.1f);
    press(DIK_V, 1);
    EXPECT_EQ(timeFactor, 0.2f - 0.1f);  // below 0.2: no further step
    press(DIK_B, 10);
    EXPECT_EQ(timeFactor, 1.1000001f);
    press(DIK_B, 1);
    EXPECT_EQ(timeFactor, 1.1000001f);
}

TEST_F(KeyTable, SpeedAndAngleStopAtTheirEnds)
{
    press(DIK_N, 15);
    EXPECT_EQ(speedSetting, 14.0f);
    press(DIK_N, 3);
    EXPECT_EQ(speedSetting, 14.0f);
    press(DIK_M, 60);
    EXPECT_EQ(speedSetting, 60.0f);
    press(DIK_E, 6);
    EXPECT_EQ(angleSetting, 90.0f);
    press(DIK_E, 2);
    EXPECT_EQ(angleSetting, 90.0f);
    press(DIK_W, 20);
    EXPECT_EQ(angleSetting, 10.0f);
}

TEST_F(KeyTable, MipFilterLatchesAndDetailToggle)
{
    frame({DIK_1});
    EXPECT_EQ(mipFilterMode, 1);
    frame({DIK_1, DIK_2});
    EXPECT_EQ(mipFilterMode, 2);
    frame({DIK_1});  // 2 released, 1 still held: no new press of 1
    EXPECT_EQ(mipFilterMode, 2);
    frame({DIK_1, DIK_2});
    EXPECT_EQ(mipFilterMode, 2);
    frame({});
    frame({DIK_1});
    EXPECT_EQ(mipFilterMode, 1);
    press(DIK_F, 1);
    EXPECT_EQ(detailTextureSwitch, 0);
    press(DIK_F, 1);
    EXPECT_EQ(detailTextureSwitch, 1);
    detailTextureSwitch = 5;
    press(DIK_F, 1);
    EXPECT_EQ(detailTextureSwitch, 5);
}

TEST_F(KeyTable, EyeHeightLimits)
{
    for (int i = 0; i < 150; ++i) frame({DIK_NUMPAD1});
    EXPECT_FLOAT_EQ(cameraPos.y, 30.000038f);
    EXPECT_GT(cameraPos.y, 30.0f);
    cameraPos.y = 20.0f;
    frame({DIK_NUMPAD3});
    frame({DIK_NUMPAD3});
    EXPECT_FLOAT_EQ(cameraPos.y, 19.9f);
    // Both held: the first of the pair wins.
    frame({DIK_NUMPAD1, DIK_NUMPAD3});
    EXPECT_FLOAT_EQ(cameraPos.y, 20.0f);
}

TEST_F(KeyTable, ElsePairsAndMovement)
{
    frameClock.dt = 0.5f;
    frame({DIK_UP, DIK_DOWN});
    EXPECT_FLOAT_EQ(cameraPos.z, 0.0f);  // forward only: 40 * 0.5 = 20
    EXPECT_EQ(cameraPos.y, 20.0f);
    frame({DIK_LEFT, DIK_RIGHT});
    EXPECT_LT(lookDir.x, 0.0f);  // left wins
    frameClock.dt = 0.0f;
    frame({DIK_UP});
    EXPECT_FLOAT_EQ(cameraPos.z, 0.0f);
}

TEST_F(KeyTable, FailedReadKeepsTheLastState)
{
    frameClock.dt = 0.1f;
    frame({DIK_UP});
    keys->focused = false;
    frame({});
    frame({});
    EXPECT_FLOAT_EQ(cameraPos.z, -20.0f + 3 * 4.0f);
    keys->focused = true;
    frame({});
    EXPECT_FLOAT_EQ(cameraPos.z, -8.0f);
}

TEST_F(KeyTable, SoundSwitchFlipsOnlyFromZeroOrOne)
{
    press(DIK_A, 1);
    EXPECT_EQ(soundSwitch, 0);
    press(DIK_A, 1);
    EXPECT_EQ(soundSwitch, 1);
    soundSwitch = 3;
    press(DIK_A, 1);
    EXPECT_EQ(soundSwitch, 3);
}

TEST(Camera, StartValuesAndProjection)
{
    auto device = std::make_unique<RecordingDevice>();
    RecordingDevice* rec = device.get();
    graphicsDevice = std::move(device);
    aspectRatio = 800.0f / 600.0f;
    setupCamera();
    resetTransforms();
    EXPECT_EQ(cameraPos.x, 0.0f);
    EXPECT_EQ(cameraPos.y, 20.0f);
    EXPECT_EQ(cameraPos.z, -20.0f);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(viewMatrix(r, c), r == c ? 1.0f : 0.0f);
    EXPECT_EQ(rec->calls, (std::vector<std::string>{"SetTransform 2", "SetTransform 3"}));
    EXPECT_NEAR(projectionMatrix(1, 1), 2.4142137f, 1e-6f);
    EXPECT_EQ(rec->transform(D3DTS_PROJECTION)(2, 3), 1.0f);
    graphicsDevice.reset();
}

TEST(Camera, FiftySmallTurnsAndOneLargeTurn)
{
    resetTransforms();
    lookDir = Vec3(0.0f, 0.0f, 1.0f);
    cameraPos = Vec3(1.0f, 20.0f, 2.0f);
    frameClock.dt = 0.02f;
    for (int i = 0; i < 50; ++i) {
        turnRightRequest = 1;
        applyTurnRequests();
    }
    EXPECT_NEAR(lookDir.x, 0.643f, 2e-3f);
    EXPECT_NEAR(lookDir.z, 0.766f, 2e-3f);
    EXPECT_EQ(lookDir.y, 0.0f);
    EXPECT_EQ(turnRightRequest, 0);
    EXPECT_EQ(cameraPos.x, 1.0f);  // turning never moves

    resetTransforms();
    frameClock.dt = 0.5f;
    turnRightRequest = 1;
    applyTurnRequests();  // 20 degrees through the series branch
    EXPECT_NEAR(lookDir.x, std::sin(0.34906585), 1e-6);
    EXPECT_NEAR(viewMatrix(0, 2), lookDir.x, 1e-7f);
    frameClock = FrameClock{};
}
