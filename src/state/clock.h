#pragma once

#include <cstdint>

// The millisecond tick the program measures frames by: the system tick, or a virtual clock for
// reproducible runs.
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual uint32_t now() = 0;
    // The clock as the outputs see it (sound capture, video, progress). Not part of the run: a
    // recording does not keep it and a replay does not use up a recorded value for it.
    virtual uint32_t peek() { return now(); }
    // A frame's work is done (after the camera turn, before pacing).
    virtual void frameWorkDone() {}
    // A pacing poll did not end the wait.
    virtual void pacingPollMissed() {}
    // Gives the processor away for about ms milliseconds while a frame waits for its end.
    virtual void sleep(uint32_t /*ms*/) {}
};

// Starts at 0; advances by its step when a frame's work is done and by 1 ms per missed poll.
// Sleeping does not move it, so a paced frame measures the same with or without the sleep.
class VirtualClock : public TickSource {
public:
    explicit VirtualClock(uint32_t stepMs) : step_(stepMs) {}
    uint32_t now() override { return time_; }
    void frameWorkDone() override { time_ += step_; }
    void pacingPollMissed() override { time_ += 1; }
    void set(uint32_t t) { time_ = t; }

private:
    uint32_t step_;
    uint32_t time_ = 0;
};

// The source tickCount() reads; not owned.
void setTickSource(TickSource* source);
TickSource* tickSource();
uint32_t tickCount();
// peek() of the source: for outputs only.
uint32_t outputTickCount();

// Frame timing: dt, in seconds, is measured at the end of a frame and used by the next one.
struct FrameClock {
    uint32_t frameStartTick = 0;
    int32_t frameMs = 0;
    float dt = 0.0f;
};

extern FrameClock frameClock;
