#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "state/clock.h"
#include "state/input.h"
#include "session/session_file.h"
#include "base/checked_file.h"

// --record: the tick values and key states the run reads go into a session file as they are read;
// each frame's line is written and handed to the system when the frame is done, so a run that
// dies leaves a file that replays up to its last whole frame. (An existing session is written
// beside and replaced only at a normal end, so there it is the hidden file that holds them.)
class SessionRecorder {
public:
    // Creates the file (at start-up, before any work). False with error() set.
    bool create(const std::string& path);
    // Writes the header once the seed is known; data files and ticks are kept from here on.
    void begin(uint32_t seed);
    std::unique_ptr<TickSource> wrapClock(std::unique_ptr<TickSource> clock);
    std::unique_ptr<KeyboardSource> wrapKeyboard(std::unique_ptr<KeyboardSource> keyboard);
    // A file the run opened for reading (names relative to the data folder).
    void noteFileRead(const std::string& name);

    // Ends the start-up's tick list and each frame's line. False once a write failed.
    bool startUpDone();
    bool frameDone(int64_t index);
    // The end line (escape, close, frames, error), then the close. An existing file is replaced
    // only by commit(); abandon() leaves it as it was, and a new one with what was written.
    bool finish(const char* end);
    bool commit() { return file_.commit(); }
    void abandon(const char* end);
    const std::string& error() const { return file_.error(); }

    // Called by the wrappers.
    void tickRead(uint32_t value);
    void keysRead(const uint8_t* state);

private:
    void write(const std::string& text);
    OutputFile file_;
    bool begun_ = false;
    std::set<std::string> filesSeen_;
    std::vector<TickRun> runs_;
    bool keysWereRead_ = false;
    uint8_t keys_[256] = {};
};

// --replay: the clock and the keyboard of a recorded session, frame by frame. A run that asks
// for more or fewer tick values than the frame recorded has gone out of step with the recording.
class SessionReplayer {
public:
    bool load(const std::string& path, std::string& error);
    // The same from a session's text (name stands for the file in messages).
    bool loadText(const std::string& text, const std::string& name, std::string& error);
    const Session& session() const { return session_; }
    const std::string& path() const { return path_; }
    int64_t frameCount() const { return static_cast<int64_t>(session_.frames.size()); }

    // paced: each clock reading waits for as much real time as the recording's clock had passed.
    std::unique_ptr<TickSource> makeClock(bool paced = false);
    // live supplies only the Escape test: the recorded keys drive the run.
    std::unique_ptr<KeyboardSource> makeKeyboard(std::unique_ptr<KeyboardSource> live);

    void startUpDone();
    void frameDone();
    // Empty while the replay follows the recording.
    const std::string& error() const { return error_; }

    // Called by the clock and the keyboard.
    uint32_t nextTick();
    uint32_t peekTick() const;
    const SessionFrame* currentFrame() const;
    bool onLastFrame() const { return group_ + 1 == frameCount(); }

private:
    void enterGroup(int64_t group);
    void outOfStep(const std::string& what);
    Session session_;
    std::string path_;
    std::string error_;
    int64_t group_ = -1;  // -1 the start-up, then the frame index
    size_t run_ = 0, runEnd_ = 0;
    uint32_t usedInRun_ = 0;
    bool anyTick_ = false;
    uint32_t lastTick_ = 0;
    uint32_t overshoot_ = 0;
};
