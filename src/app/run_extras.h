#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/audio_out.h"
#include "state/clock.h"
#include "app/command_line.h"
#include "state/input.h"
#include "app/progress_line.h"
#include "app/screenshot_key.h"
#include "session/session_run.h"
#include "app/video_out.h"

// What --record, --replay and --video, the progress line and F12 add to a run, behind a few
// calls from runApplication.
class RunExtras {
public:
    // Before the data folder is entered (paths are absolute): reads the session to replay.
    // False with error; status then tells the exit status.
    bool load(const RunOptions& options, std::string& error, int& status);
    // In the data folder, before any work: the recorded data files must be the ones here; the
    // session and video files are created.
    bool prepare(std::string& error);

    // The frames the run will have, where known (-1 not).
    int64_t frameTotal(int64_t frameLimit) const;
    // The loopback mixer is wanted for the video's sound, and by a headless recording or replay:
    // there the game's sounds are loaded as in a window (mixed into nothing when no output
    // wants them), because whether they load shows in the run (the explosion's sound channel),
    // and a session must replay the same with or without sound output.
    bool wantsLoopback(bool headless) const { return video_.isOpen() || (headless && (recording_ || replaying_)); }
    void attachSound(AudioOut& audio);

    // The clock the run reads: a replay's (paced in a window without a video), a recording's
    // wrapper, or clock itself.
    std::unique_ptr<TickSource> clock(std::unique_ptr<TickSource> clock, bool windowed);
    // The seed the run uses: the session's, or fallback (which a recording keeps).
    uint32_t seed(uint32_t fallback);
    std::unique_ptr<KeyboardSource> keyboard(std::unique_ptr<KeyboardSource> keyboard);

    // The hooks: after start-up, before a frame's present, after a frame. False with error when
    // the run must end (status 1).
    bool startUpDone(std::string& error);
    bool beforePresent(bool windowed, std::string& error);
    bool afterFrame(int64_t frameLimit, std::string& error);
    // The end of the run: reason is escape, close, frames or error. With ok the session and the
    // video are completed (false with error when one cannot be), and commit() then puts them in
    // place of existing files; without, or when one fails, both are left as a failed run leaves
    // them.
    bool finish(const char* reason, bool ok, std::string& error);
    bool commit(std::string& error);
    // A later output failed after finish(): nothing of this run replaces anything.
    void abandon();

private:
    std::string recordFile_, replayFile_, videoFile_;
    VideoEncoderSettings videoSettings_;
    bool replaying_ = false;
    bool recording_ = false;
    SessionRecorder recorder_;
    SessionReplayer replayer_;
    VideoOut video_;
    ProgressLine progress_;
    ScreenshotKey screenshotKey_;
    int64_t total_ = -1;
    uint32_t endTick_ = 0;
};
