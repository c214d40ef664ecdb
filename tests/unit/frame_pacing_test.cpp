#include <gtest/gtest.h>

#include "app/application.h"
#include "app/clock.h"
#include "app/settings.h"

namespace {

// A tick counter that moves by a fixed amount at every read.
class SteppingTicks : public TickSource {
public:
    SteppingTicks(uint32_t start, uint32_t step) : t_(start), step_(step) {}
    uint32_t now() override
    {
        const uint32_t v = t_;
        t_ += step_;
        ++reads;
        return v;
    }
    int reads = 0;

private:
    uint32_t t_, step_;
};

class Pacing : public ::testing::Test {
protected:
    void SetUp() override
    {
        appSettings = AppSettings{};
        frameClock = FrameClock{};
    }
    void TearDown() override { setTickSource(nullptr); }
};

}  // namespace

TEST_F(Pacing, ModeOneEndsAtTheFirstPollAboveTheTarget)
{
    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 20.0f;
    SteppingTicks ticks(1000, 1);
    setTickSource(&ticks);
    frameClock.frameStartTick = 1000;
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 21);
    EXPECT_EQ(frameClock.dt, stepSeconds(21));
}

TEST_F(Pacing, VirtualClockMeasuresTwentyOneInModeOneAndTheStepInModeTwo)
{
    VirtualClock clock(10);
    setTickSource(&clock);
    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 20.0f;
    frameClock.frameStartTick = tickCount();
    clock.frameWorkDone();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 21);

    appSettings.pacingMode = 2;
    frameClock.frameStartTick = tickCount();
    clock.frameWorkDone();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 10);
    EXPECT_EQ(frameClock.dt, stepSeconds(10));
}

TEST_F(Pacing, ModeTwoWithinOneTickGivesZero)
{
    appSettings.pacingMode = 2;
    VirtualClock clock(0);
    setTickSource(&clock);
    frameClock.dt = 0.5f;
    frameClock.frameStartTick = tickCount();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 0);
    EXPECT_EQ(frameClock.dt, 0.0f);
}

TEST_F(Pacing, TickCounterWrapStillMeasuresTheTrueLength)
{
    appSettings.pacingMode = 2;
    VirtualClock clock(30);
    clock.set(0xFFFFFFF0u);
    setTickSource(&clock);
    frameClock.frameStartTick = tickCount();
    clock.frameWorkDone();  // now 14 past the wrap
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 30);
    EXPECT_EQ(frameClock.dt, stepSeconds(30));

    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 20.0f;
    clock.set(0xFFFFFFFAu);
    frameClock.frameStartTick = tickCount();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 21);
}

TEST_F(Pacing, OtherModesNeverMeasure)
{
    appSettings.pacingMode = 0;
    SteppingTicks ticks(0, 100);
    setTickSource(&ticks);
    for (int i = 0; i < 3; ++i) {
        frameClock.frameStartTick = tickCount();
        paceFrame();
    }
    EXPECT_EQ(frameClock.dt, 0.0f);
    EXPECT_EQ(frameClock.frameMs, 0);
    EXPECT_EQ(ticks.reads, 3);  // only the frame starts read the clock
}

TEST_F(Pacing, TimeStepIsTheMillisecondsTimesOneThousandthRoundedOnceToFloat)
{
    EXPECT_EQ(stepSeconds(20), 0.0199999996f);
    EXPECT_EQ(stepSeconds(30), 0.0299999993f);
    EXPECT_NE(stepSeconds(20), 0.001f * 20.0f);  // 0.0200000014
    EXPECT_NE(stepSeconds(30), 0.001f * 30.0f);  // 0.0300000012
    EXPECT_EQ(stepSeconds(0), 0.0f);

    appSettings.pacingMode = 2;
    VirtualClock clock(20);
    setTickSource(&clock);
    frameClock.frameStartTick = tickCount();
    clock.frameWorkDone();
    paceFrame();
    EXPECT_EQ(frameClock.dt, 0.0199999996f);
}
