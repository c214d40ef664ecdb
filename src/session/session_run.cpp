#include "session/session_run.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

namespace {

constexpr uint32_t maxRunCount = 100000000;

class RecordingClock : public TickSource {
public:
    RecordingClock(std::unique_ptr<TickSource> inner, SessionRecorder& recorder)
        : inner_(std::move(inner)), recorder_(recorder)
    {
    }
    uint32_t now() override
    {
        // A reading the outputs took before the run's first is the run's first, so that the
        // replay, which answers them the same way, writes the same sound.
        const uint32_t t = ahead_ ? *ahead_ : inner_->now();
        ahead_.reset();
        last_ = t;
        recorder_.tickRead(t);
        return t;
    }
    // The outputs see the clock as the run last read it: a reading of their own would not be in
    // the session, and its replay could not answer it.
    uint32_t peek() override
    {
        if (last_) return *last_;
        if (!ahead_) ahead_ = inner_->now();
        return *ahead_;
    }
    void frameWorkDone() override { inner_->frameWorkDone(); }
    void pacingPollMissed() override { inner_->pacingPollMissed(); }
    void sleep(uint32_t ms) override { inner_->sleep(ms); }

private:
    std::unique_ptr<TickSource> inner_;
    SessionRecorder& recorder_;
    std::optional<uint32_t> last_, ahead_;
};

class RecordingKeyboard : public KeyboardSource {
public:
    RecordingKeyboard(std::unique_ptr<KeyboardSource> inner, SessionRecorder& recorder)
        : inner_(std::move(inner)), recorder_(recorder)
    {
    }
    bool read(uint8_t state[256]) override
    {
        const bool ok = inner_->read(state);
        recorder_.keysRead(ok ? state : nullptr);
        return ok;
    }
    bool escapeDown() override
    {
        return inner_->escapeDown();
    }

private:
    std::unique_ptr<KeyboardSource> inner_;
    SessionRecorder& recorder_;
};

// Unpaced, it never waits: the replay runs as fast as it can draw. Paced, each reading waits
// until as much real time has passed since the first as the recording's clock shows, so the
// replay plays at the pace it was flown; a pause in the recording longer than maxPauseMs is cut
// short, so that a suspended machine does not hold the window still for hours.
class ReplayClock : public TickSource {
public:
    static constexpr uint32_t maxPauseMs = 5000;
    ReplayClock(SessionReplayer& replayer, bool paced) : replayer_(replayer), paced_(paced) {}
    uint32_t now() override
    {
        const uint32_t t = replayer_.nextTick();
        if (paced_) waitFor(t);
        return t;
    }
    uint32_t peek() override { return replayer_.peekTick(); }

private:
    using Clock = std::chrono::steady_clock;
    void waitFor(uint32_t tick)
    {
        const Clock::time_point real = Clock::now();
        if (!started_) {
            started_ = true;
            start_ = real;
            last_ = tick;
        }
        // Ticks are taken modulo 2^32, as the run takes its frame times; a step back waits for nothing.
        const uint32_t step = tick - last_;
        if (step < 0x80000000u) elapsed_ += std::chrono::milliseconds(std::min(step, maxPauseMs));
        last_ = tick;
        const Clock::time_point due = start_ + elapsed_;
        if (due > real) std::this_thread::sleep_until(due);
    }
    SessionReplayer& replayer_;
    bool paced_;
    bool started_ = false;
    Clock::time_point start_;
    Clock::duration elapsed_{};
    uint32_t last_ = 0;
};

class ReplayKeyboard : public KeyboardSource {
public:
    ReplayKeyboard(SessionReplayer& replayer, std::unique_ptr<KeyboardSource> live)
        : replayer_(replayer), live_(std::move(live))
    {
    }
    bool read(uint8_t state[256]) override
    {
        const SessionFrame* frame = replayer_.currentFrame();
        if (!frame || !frame->keysRead) return false;
        std::memset(state, 0, 256);
        for (uint8_t code : frame->keysDown) state[code] = 0x80;
        return true;
    }
    // The recording's last frame ends the replay as the recording's end did (Escape, a closed
    // window or its frame limit all let that frame run); a live Escape ends it early.
    bool escapeDown() override
    {
        if (replayer_.onLastFrame() || !replayer_.currentFrame()) return true;
        return live_ && live_->escapeDown();
    }

private:
    SessionReplayer& replayer_;
    std::unique_ptr<KeyboardSource> live_;
};

}  // namespace

// ---- Recording ----

bool SessionRecorder::create(const std::string& path) { return file_.open(path, "session file"); }

void SessionRecorder::begin(uint32_t seed)
{
    begun_ = true;
    write(sessionHeader(seed));
}

std::unique_ptr<TickSource> SessionRecorder::wrapClock(std::unique_ptr<TickSource> clock)
{
    return std::make_unique<RecordingClock>(std::move(clock), *this);
}

std::unique_ptr<KeyboardSource> SessionRecorder::wrapKeyboard(std::unique_ptr<KeyboardSource> keyboard)
{
    return std::make_unique<RecordingKeyboard>(std::move(keyboard), *this);
}

void SessionRecorder::noteFileRead(const std::string& name)
{
    if (!begun_ || !filesSeen_.insert(name).second) return;
    write(sessionDataLine(digestDataFile(name)));
}

void SessionRecorder::tickRead(uint32_t value)
{
    if (!begun_) return;
    if (!runs_.empty() && runs_.back().value == value && runs_.back().count < maxRunCount)
        ++runs_.back().count;
    else
        runs_.push_back(TickRun{value, 1});
}

void SessionRecorder::keysRead(const uint8_t* state)
{
    keysWereRead_ = state != nullptr;
    if (state) std::memcpy(keys_, state, sizeof keys_);
}

void SessionRecorder::write(const std::string& text)
{
    if (file_.isOpen()) file_.write(text);
}

bool SessionRecorder::startUpDone()
{
    std::string line = "start";
    appendTickRuns(line, runs_, 0, runs_.size());
    runs_.clear();
    keysWereRead_ = false;
    write(line + "\n");
    file_.flush();
    return !file_.failed();
}

bool SessionRecorder::frameDone(int64_t index)
{
    write(sessionFrameLine(index, keysWereRead_ ? keys_ : nullptr, runs_));
    runs_.clear();
    keysWereRead_ = false;
    file_.flush();
    return !file_.failed();
}

bool SessionRecorder::finish(const char* end)
{
    if (!file_.isOpen()) return true;
    if (end && *end) write(std::string("end ") + end + "\n");
    return file_.finish();
}

void SessionRecorder::abandon(const char* end)
{
    if (file_.isOpen() && end && *end) write(std::string("end ") + end + "\n");
    file_.abandon();
}

// ---- Replay ----

bool SessionReplayer::load(const std::string& path, std::string& error)
{
    path_ = path;
    if (!loadSession(path, session_, error)) return false;
    enterGroup(-1);
    return true;
}

bool SessionReplayer::loadText(const std::string& text, const std::string& name, std::string& error)
{
    path_ = name;
    if (!parseSession(text, name, session_, error)) return false;
    enterGroup(-1);
    return true;
}

std::unique_ptr<TickSource> SessionReplayer::makeClock(bool paced) { return std::make_unique<ReplayClock>(*this, paced); }

std::unique_ptr<KeyboardSource> SessionReplayer::makeKeyboard(std::unique_ptr<KeyboardSource> live)
{
    return std::make_unique<ReplayKeyboard>(*this, std::move(live));
}

void SessionReplayer::enterGroup(int64_t group)
{
    group_ = group;
    usedInRun_ = 0;
    if (group < 0) {
        run_ = 0;
        runEnd_ = session_.startRuns;
    } else if (group < frameCount()) {
        const SessionFrame& f = session_.frames[size_t(group)];
        run_ = f.firstRun;
        runEnd_ = f.firstRun + f.runCount;
    } else {
        run_ = runEnd_ = 0;
    }
}

const SessionFrame* SessionReplayer::currentFrame() const
{
    return group_ >= 0 && group_ < frameCount() ? &session_.frames[size_t(group_)] : nullptr;
}

void SessionReplayer::outOfStep(const std::string& what)
{
    if (!error_.empty()) return;
    const std::string where = group_ < 0 ? "during start-up" : "in frame " + std::to_string(group_);
    error_ = "the replay of " + path_ + " went out of step with the recording " + where + ": " + what +
             " (the data folder or the program differs from the recording's)";
}

uint32_t SessionReplayer::nextTick()
{
    if (run_ < runEnd_) {
        lastTick_ = session_.tickRuns[run_].value;
        anyTick_ = true;
        if (++usedInRun_ == session_.tickRuns[run_].count) {
            ++run_;
            usedInRun_ = 0;
        }
        return lastTick_;
    }
    // Past the recorded frames (shut-down) the clock stands still. Inside one the run asked for
    // more than was recorded: the clock runs on, so that no pacing loop waits for ever.
    if (group_ >= frameCount()) return lastTick_;
    outOfStep("it read the clock more often than the recording did");
    return lastTick_ + ++overshoot_;
}

uint32_t SessionReplayer::peekTick() const
{
    if (anyTick_) return lastTick_ + overshoot_;
    return run_ < runEnd_ ? session_.tickRuns[run_].value : 0u;
}

void SessionReplayer::startUpDone()
{
    if (run_ < runEnd_) outOfStep("it read the clock less often than the recording did");
    enterGroup(0);
}

void SessionReplayer::frameDone()
{
    if (run_ < runEnd_) outOfStep("it read the clock less often than the recording did");
    enterGroup(group_ + 1);
}
