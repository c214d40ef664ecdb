#include <gtest/gtest.h>

#include <cmath>

#include "app/application.h"
#include "state/camera.h"
#include "base/fatal_error.h"
#include "app/input.h"
#include "sound/sound_system.h"
#include "support/fake_sound_engine.h"
#include "support/fixtures.h"
#include "world/game_world.h"
#include "world/trajectory.h"

namespace {

class World : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetKeyValues();
        frameClock = FrameClock{};
        resetTransforms();
        clearFatalError();
        explosionChannel = 0;
        writeFile("TerrainTextures.txt", "Base 0\nDetail 0\nHeightMaps 0\n");
        writeFile("Terrain.txt", "LandTiles 0\nWaterTiles 0\n");
    }
    void TearDown() override
    {
        destroyWorld();
        shutDownSound();
        frameClock = FrameClock{};
    }
    // A trajectory whose point i lies at world (i, i, i) plus the file's offsets.
    void writeRampTrajectory()
    {
        std::string text;
        for (int i = 0; i < 32; ++i) {
            text += std::to_string(-10000 - 50 * 500 + 500 * i) + " " + std::to_string(-10000 + 30 * 500 + 500 * i) +
                    " " + std::to_string(55 * (4 + i)) + "\n";
        }
        writeFile("trajectory_data.txt", text);
        ASSERT_TRUE(loadTrajectory());
    }
    void step(float dt)
    {
        theWorld->frame();
        frameClock.dt = dt;
    }
    TempDir dir;
};

// Records what the explosion code asks of a channel's sound objects.
struct FakeSegment : SoundSegment {
    FakeSegment() : SoundSegment(nullptr, nullptr, nullptr) {}
    int plays = 0;
    AudioPath* lastPath = nullptr;
    int32_t play(uint32_t flags, AudioPath* path) override
    {
        EXPECT_EQ(flags, DMUS_SEGF_SECONDARY);
        ++plays;
        lastPath = path;
        return 0;
    }
};
struct FakeBuffer : SoundBuffer3D {
    Vec3 position{0, 0, 0}, velocity{0, 0, 0};
    int32_t getAllParameters(Sound3DParams&) override { return 0; }
    int32_t setAllParameters(const Sound3DParams&) override { return 0; }
    int32_t setPosition(const Vec3& p) override { position = p; return 0; }
    int32_t setVelocity(const Vec3& v) override { velocity = v; return 0; }
};

}  // namespace

TEST_F(World, TrajectoryFileConversions)
{
    writeFile("trajectory_data.txt", "10000 -10000 220\n");
    ASSERT_TRUE(loadTrajectory());
    EXPECT_EQ(trajX[0], -30.0f);
    EXPECT_EQ(trajY[0], 0.0f);
    EXPECT_EQ(trajZ[0], 90.0f);
    // Everything not in the file reads as 0, which converts to (-10, -4, 70).
    EXPECT_EQ(trajX[1], -10.0f);
    EXPECT_EQ(trajY[31], -4.0f);
    EXPECT_EQ(trajZ[31], 70.0f);

    writeFile("trajectory_data.txt", "");
    ASSERT_TRUE(loadTrajectory());
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(trajectoryPoint(i).x, -10.0f);
        EXPECT_EQ(trajectoryPoint(i).y, -4.0f);
        EXPECT_EQ(trajectoryPoint(i).z, 70.0f);
    }
    std::string zeros;
    for (int i = 0; i < 32; ++i) zeros += "0 0 0\n";
    writeFile("trajectory_data.txt", zeros);
    ASSERT_TRUE(loadTrajectory());
    EXPECT_EQ(trajX[17], -10.0f);
    EXPECT_EQ(trajZ[17], 70.0f);

    // Values are converted in double and stored as float.
    writeFile("trajectory_data.txt", "1 2 3");
    ASSERT_TRUE(loadTrajectory());
    EXPECT_EQ(trajZ[0], static_cast<float>((1.0 + 10000.0) / 500.0 + 50.0));
    EXPECT_EQ(trajX[0], static_cast<float>((2.0 + 10000.0) / 500.0 - 30.0));
    EXPECT_EQ(trajY[0], static_cast<float>(3.0 / 55.0 - 4.0));
}

TEST_F(World, TokenThatIsNotANumberEndsTheReading)
{
    writeFile("trajectory_data.txt", "500 1000 110\n500 oops 110\n500 1000 110\n");
    ASSERT_TRUE(loadTrajectory());
    EXPECT_EQ(trajX[0], -8.0f);
    EXPECT_EQ(trajZ[1], 71.0f);   // read before the bad token
    EXPECT_EQ(trajX[1], -10.0f);  // the bad token and everything after stay 0
    EXPECT_EQ(trajY[1], -4.0f);
    EXPECT_EQ(trajZ[2], 70.0f);
}

TEST_F(World, MissingTrajectoryFileIsFatalAndNamed)
{
    EXPECT_FALSE(loadTrajectory());
    EXPECT_EQ(fatalErrorMessage(), "cannot open trajectory_data.txt: No such file or directory");
}

TEST_F(World, ShortTrajectoryWarnsHowMuchWasReadAndNonFiniteOneIsRefused)
{
    writeFile("trajectory_data.txt", "500 1000 110\n500 oops 110\n");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loadTrajectory());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zentrix: warning: trajectory_data.txt: only 4 of 96 numbers (1 of 32 points) read, stopped at 'oops'; "
              "the rest keep 0\n");
    writeFile("trajectory_data.txt", "");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loadTrajectory());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("only 0 of 96 numbers (0 of 32 points) read, stopped at the end of the file"),
              std::string::npos);
    std::string full;
    for (int i = 0; i < 33; ++i) full += "1 2 3\n";  // extra rows are ignored silently
    writeFile("trajectory_data.txt", full);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loadTrajectory());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const char* const refused[][2] = {
        {"1 2 nan", "trajectory_data.txt: number 3 (point 0) must be a finite number, not nan"},
        {"1 2 3 4 inf 6", "trajectory_data.txt: number 5 (point 1) must be a finite number, not inf"},
        {"1 2 3 -1e39", "trajectory_data.txt: number 4 (point 1) must be a finite number, not -inf"},
    };
    for (const auto& c : refused) {
        clearFatalError();
        writeFile("trajectory_data.txt", c[0]);
        EXPECT_FALSE(loadTrajectory()) << c[0];
        EXPECT_EQ(fatalErrorMessage(), c[1]);
    }
}

TEST_F(World, ConstructionPlacesBallsAndLights)
{
    writeRampTrajectory();
    createWorld();
    ASSERT_FALSE(fatalErrorPending()) << fatalErrorMessage();
    EXPECT_EQ(theWorld->followerPos.x, trajX[0]);
    EXPECT_EQ(theWorld->followerPos.z, trajZ[0]);
    EXPECT_EQ(theWorld->projectilePos.x, -30.0f);
    EXPECT_EQ(theWorld->projectilePos.y, -17.0f);
    EXPECT_EQ(theWorld->projectilePos.z, 50.0f);
    EXPECT_NEAR(theWorld->light0.direction.x, -0.766f, 1e-3f);
    EXPECT_NEAR(theWorld->light0.direction.z, 0.643f, 1e-3f);
    EXPECT_EQ(theWorld->light0.direction.y, 0.0f);
    EXPECT_NEAR(theWorld->light1.direction.y, -1.0f, 1e-6f);
    EXPECT_NEAR(theWorld->light1.direction.x, 0.0f, 1e-7f);
    EXPECT_NEAR(lightVector.x, 0.766f, 1e-3f);
    EXPECT_NEAR(lightVector.z, -0.643f, 1e-3f);
    destroyWorld();
    EXPECT_EQ(theWorld, nullptr);
    destroyWorld();  // nothing to destroy: no effect
}

TEST_F(World, FirstFrameWithZeroStepStandsStill)
{
    writeRampTrajectory();
    createWorld();
    theWorld->frame();
    EXPECT_EQ(theWorld->followerPos.x, trajX[0]);
    EXPECT_EQ(theWorld->segmentTimer, 0.0f);
    EXPECT_EQ(theWorld->projectilePos.y, -17.0f);
}

TEST_F(World, SegmentLengthsWithConstantStep)
{
    writeRampTrajectory();
    createWorld();
    frameClock.dt = 0.03f;
    // First segment: seven moving frames, then the frame that starts segment 1.
    int frames = 0;
    while (theWorld->segmentIndex == 0) {
        theWorld->followerStep();
        ++frames;
    }
    EXPECT_EQ(frames, 8);
    EXPECT_EQ(theWorld->followerPos.x, trajX[1]);  // placed exactly on the point
    frames = 0;
    while (theWorld->segmentIndex == 1) {
        theWorld->followerStep();
        ++frames;
    }
    EXPECT_EQ(frames, 7);  // six moving frames and the start of the next
    EXPECT_EQ(theWorld->followerPos.z, trajZ[2]);
}

TEST_F(World, WrapJumpsFromPointThirtyOneToOneAndTakesOverSettings)
{
    writeRampTrajectory();
    createWorld();
    frameClock.dt = 0.25f;  // every other frame starts a segment
    timeFactor = 0.5f;
    speedSetting = 40.0f;
    angleSetting = 45.0f;
    float lastDuration = theWorld->segmentDuration;
    int guard = 0;
    while (theWorld->segmentIndex != 29 && guard++ < 1000) theWorld->followerStep();
    EXPECT_EQ(theWorld->segmentDuration, lastDuration);  // not taken over mid-lap
    EXPECT_EQ(theWorld->launchSpeed, 29.0f);
    while (theWorld->segmentIndex == 29) theWorld->followerStep();
    // Segment 30 -> 31 starts and the follower wraps in the same frame.
    EXPECT_EQ(theWorld->segmentIndex, 0);
    EXPECT_EQ(theWorld->followerPos.x, trajX[30]);
    EXPECT_EQ(theWorld->nextPoint.x, trajX[31]);
    EXPECT_EQ(theWorld->segmentDuration, 0.5f);
    EXPECT_EQ(theWorld->launchSpeed, 40.0f);
    EXPECT_EQ(theWorld->launchAngle, (3.1415927f / 180.0f) * 45.0f);
    // Its velocity came from the old duration.
    EXPECT_FLOAT_EQ(theWorld->segmentVelocity.x, (trajX[31] - trajX[30]) * (1.0f / 0.2f));
    while (theWorld->segmentIndex == 0) theWorld->followerStep();
    EXPECT_EQ(theWorld->segmentIndex, 1);
    EXPECT_EQ(theWorld->followerPos.x, trajX[1]);  // point 31 jumps to point 1
}

TEST_F(World, ProjectileApexImpactAndRelaunch)
{
    writeRampTrajectory();
    createWorld();
    const Vec3 v0 = theWorld->projectileVel;
    EXPECT_NEAR(v0.x, 9.320f, 1e-3f);
    EXPECT_NEAR(v0.y, 25.115f, 1e-3f);
    EXPECT_NEAR(v0.z, 11.108f, 1e-3f);
    frameClock.dt = 0.001f;
    float apex = -100.0f;
    int frames = 0;
    while (theWorld->projectilePos.y > -20.0f) {
        theWorld->projectileStep();
        apex = std::max(apex, theWorld->projectilePos.y);
        ++frames;
    }
    EXPECT_NEAR(apex, 18.04f, 0.01f);
    EXPECT_NEAR(frames * 0.001f, 5.70f, 0.01f);
    // The impact frame leaves the ball below the threshold; the next relaunches it.
    const float below = theWorld->projectilePos.y;
    EXPECT_LE(below, -20.0f);
    theWorld->projectileStep();
    EXPECT_EQ(theWorld->projectilePos.y, -17.0f);
    EXPECT_EQ(theWorld->projectilePos.x, -30.0f);
    EXPECT_EQ(theWorld->projectileVel.y, v0.y);
}

TEST_F(World, LaunchStraightUpReturnsToTheLaunchColumn)
{
    angleSetting = 90.0f;
    writeRampTrajectory();
    createWorld();
    EXPECT_LT(std::fabs(theWorld->projectileVel.x), 1e-5f);
    EXPECT_LT(std::fabs(theWorld->projectileVel.z), 1e-5f);
    frameClock.dt = 0.02f;
    while (theWorld->projectilePos.y > -20.0f) theWorld->projectileStep();
    EXPECT_NEAR(theWorld->projectilePos.x, -30.0f, 1e-3f);
    EXPECT_NEAR(theWorld->projectilePos.z, 50.0f, 1e-3f);
}

TEST_F(World, ExplosionChannelsOnlyAdvanceWithASound)
{
    writeRampTrajectory();
    createWorld();
    theWorld->projectilePos = Vec3(10.0f, -25.0f, 30.0f);
    theWorld->projectileVel = Vec3(1.0f, -20.0f, 2.0f);
    theWorld->projectileStep();
    // No explosion sound loaded: placed, but the channel stays.
    EXPECT_EQ(explosionChannel, 0);
    EXPECT_FLOAT_EQ(soundSystem.bufferParams[0].position.y, -2.5f);
    EXPECT_FLOAT_EQ(soundSystem.bufferParams[0].velocity.y, -20.0f);

    auto segment = std::make_unique<FakeSegment>();
    FakeSegment* seg = segment.get();
    soundSystem.explosionSegment = std::move(segment);
    auto buffer = std::make_unique<FakeBuffer>();
    FakeBuffer* buf = buffer.get();
    soundSystem.soundBuffers[3] = std::move(buffer);
    soundSystem.soundPaths[3] = std::make_unique<FakeAudioPath>();
    explosionChannel = 3;
    // Turned camera: the sound position is given in the camera's axes.
    turnCamera(90.0f);
    theWorld->projectilePos = Vec3(10.0f, -25.0f, 0.0f);
    theWorld->projectileStep();
    EXPECT_EQ(seg->plays, 1);
    EXPECT_EQ(seg->lastPath, soundSystem.soundPaths[3].get());
    EXPECT_EQ(explosionChannel, 4);
    EXPECT_NEAR(buf->position.y, -2.5f, 1e-5f);
    EXPECT_NEAR(std::fabs(buf->position.z), 1.0f, 1e-2f);  // x of the world is z of the view
    EXPECT_NEAR(buf->position.x, 0.0f, 1e-2f);

    explosionChannel = 9;
    theWorld->projectilePos = Vec3(0.0f, -30.0f, 0.0f);
    theWorld->projectileStep();
    EXPECT_EQ(explosionChannel, 0);  // wraps after the tenth channel

    soundSwitch = 0;
    theWorld->projectilePos = Vec3(0.0f, -30.0f, 0.0f);
    theWorld->projectileStep();
    EXPECT_EQ(seg->plays, 2);
    EXPECT_EQ(explosionChannel, 0);
    EXPECT_EQ(theWorld->projectilePos.y, -17.0f);  // relaunched all the same
}
