#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// A one-line progress report on stderr for long runs: frames done (of the total where it is
// known), frames per second and the time left; rewritten a few times a second and cleared at the
// end. Only when stderr is a terminal: a log file or a pipe gets nothing.
class ProgressLine {
public:
    ProgressLine();
    // total -1: not known.
    void update(int64_t framesDone, int64_t total);
    void clear();
    // The text for a state of the run (for tests).
    // seconds: the time the frames since the first took.
    static std::string text(int64_t framesDone, int64_t total, double seconds, int64_t firstFrames = 0);

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_ = false;
    bool shown_ = false;
    bool started_ = false;
    int64_t startFrames_ = 0;  // the rate counts from the first frame, not from start-up
    Clock::time_point start_;
    Clock::time_point lastShown_;
};
