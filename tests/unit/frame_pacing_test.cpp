#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "app/application.h"
#include "state/clock.h"
#include "state/settings.h"

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

// A system clock in microseconds: every read costs readCostUs of busy time, a sleep passes the
// asked time plus an overrun, as a scheduler would.
class SleepingTicks : public TickSource {
public:
    SleepingTicks(uint32_t startMs, uint32_t readCostUs, uint32_t overrunUs)
        : us_(uint64_t(startMs) * 1000), readCost_(readCostUs), overrun_(overrunUs)
    {
    }
    uint32_t now() override
    {
        us_ += readCost_;
        busyUs += readCost_;
        return static_cast<uint32_t>(us_ / 1000);
    }
    void sleep(uint32_t ms) override
    {
        sleeps.push_back(ms);
        us_ += uint64_t(ms) * 1000 + overrun_;
    }
    std::vector<uint32_t> sleeps;
    uint64_t busyUs = 0;

private:
    uint64_t us_;
    uint32_t readCost_, overrun_;
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

TEST_F(Pacing, ModeOneSleepsMostOfTheFrameAndStillEndsAtTheFirstTickPastTheTarget)
{
    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 20.0f;
    // Overruns up to just under the polled stretch leave the end tick where the busy wait has it.
    for (uint32_t overrunUs : {0u, 150u, 1900u}) {
        SCOPED_TRACE(overrunUs);
        SleepingTicks ticks(5000, 20, overrunUs);
        setTickSource(&ticks);
        frameClock.frameStartTick = tickCount();
        paceFrame();
        EXPECT_EQ(frameClock.frameMs, 21);
        EXPECT_EQ(frameClock.dt, stepSeconds(21));
        ASSERT_FALSE(ticks.sleeps.empty());
        EXPECT_EQ(ticks.sleeps.front(), 19u);  // from tick 0 to 2 ms before tick 21
        // Under a quarter of a core at 50 frames a second: at most the polled 2 ms spin.
        EXPECT_LE(ticks.busyUs, 2100u);
    }
}

TEST_F(Pacing, ModeOneSleepsOnlyWhatIsLeftAndNotAtAllNearTheEnd)
{
    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 20.5f;  // ends at the first tick above 20.5, 21
    SleepingTicks late(0, 10, 0);
    late.now();
    setTickSource(&late);
    frameClock.frameStartTick = 0;
    // The frame's work took 19.5 ms: no time left to sleep.
    for (int i = 0; i < 1950; ++i) late.now();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 21);
    EXPECT_TRUE(late.sleeps.empty());

    EXPECT_EQ(pacingSleepMs(0, 20.0f), 19u);
    EXPECT_EQ(pacingSleepMs(12, 20.0f), 7u);
    EXPECT_EQ(pacingSleepMs(18, 20.0f), 1u);
    EXPECT_EQ(pacingSleepMs(19, 20.0f), 0u);
    EXPECT_EQ(pacingSleepMs(30, 20.0f), 0u);
    EXPECT_EQ(pacingSleepMs(0, -5.0f), 0u);
    EXPECT_EQ(pacingSleepMs(0, 1.0e9f), 1000u);  // long targets wake now and then
    EXPECT_EQ(pacingSleepMs(0, std::numeric_limits<float>::quiet_NaN()), 0u);
}

// Half a frame a second lasts 2001 ms, slept through in slices; the longest frame the settings
// accept (just under 2^31 ms) still ends, where a longer one would never be measured past.
TEST_F(Pacing, ModeOneWaitsOutLongFramesAndTheLongestAcceptedStillEnds)
{
    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 1000.0f / 0.5f;
    SleepingTicks ticks(5000, 20, 150);
    setTickSource(&ticks);
    frameClock.frameStartTick = tickCount();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 2001);
    EXPECT_EQ(frameClock.dt, stepSeconds(2001));
    EXPECT_EQ(ticks.sleeps.front(), 1000u);
    EXPECT_LE(ticks.busyUs, 2100u);

    appSettings.targetFrameMs = std::nextafter(2147483648.0f, 0.0f);
    SleepingTicks longest(0, 20, 0);
    setTickSource(&longest);
    frameClock.frameStartTick = tickCount();
    paceFrame();
    EXPECT_GT(frameClock.frameMs, 2147483520);  // compared as floats, which are 128 apart up there
}

TEST_F(Pacing, ModeOneOversleepEndsAtTheFirstPollAfterIt)
{
    appSettings.pacingMode = 1;
    appSettings.targetFrameMs = 20.0f;
    SleepingTicks ticks(0, 20, 4000);  // the scheduler gives the thread back 4 ms late
    setTickSource(&ticks);
    frameClock.frameStartTick = tickCount();
    paceFrame();
    EXPECT_EQ(frameClock.frameMs, 23);  // measured as it happened, never shortened
    EXPECT_EQ(ticks.sleeps.size(), 1u);
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
