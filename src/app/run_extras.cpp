#include "app/run_extras.h"

#include <cstdio>

#include "app/application.h"
#include "state/graphics.h"
#include "base/checked_file.h"
#include "base/data_folder.h"


bool RunExtras::load(const RunOptions& options, std::string& error, int& status)
{
    recordFile_ = options.recordFile;
    replayFile_ = options.replayFile;
    videoFile_ = options.videoFile;
    videoSettings_.fps = options.videoFps;
    videoSettings_.quality = options.videoQuality;
    // Outputs that are inputs are refused with the other outputs' (runApplication).
    status = 1;
    if (!replayFile_.empty()) {
        if (!replayer_.load(replayFile_, error)) return false;
        replaying_ = true;
    }
    return true;
}

bool RunExtras::prepare(std::string& error)
{
    if (replaying_) {
        std::string how;
        const std::string differing = firstDifferingDataFile(replayer_.session(), how);
        if (!differing.empty()) {
            error = "session " + replayFile_ + " cannot be replayed here: the data file " +
                    printableName(shownPath(differing)) + " " + how;
            return false;
        }
        // Files the recorded run did not read (the sounds of a silent recording) cannot have
        // shaped it: the replay may read them.
    }
    if (!recordFile_.empty()) {
        if (!recorder_.create(recordFile_)) {
            error = recorder_.error();
            return false;
        }
        recording_ = true;
        setReadFileObserver([this](const std::string& name) { recorder_.noteFileRead(name); });
    }
    if (!videoFile_.empty() && !video_.create(videoFile_, videoSettings_, error)) return false;
    return true;
}

int64_t RunExtras::frameTotal(int64_t frameLimit) const
{
    if (!replaying_) return frameLimit;
    return frameLimit >= 0 && frameLimit < replayer_.frameCount() ? frameLimit : replayer_.frameCount();
}

void RunExtras::attachSound(AudioOut& audio)
{
    if (!video_.isOpen()) return;
    AudioOut* source = &audio;
    audio.setTap([this, source](const int16_t* samples, size_t frames, std::string& why) {
        return video_.sound(samples, frames, source->framesWritten(), why);
    });
}

std::unique_ptr<TickSource> RunExtras::clock(std::unique_ptr<TickSource> clock, bool windowed)
{
    // Watched in a window, a replay keeps the pace it was flown at; into a video or off screen it
    // runs as fast as it can.
    if (replaying_) return replayer_.makeClock(windowed && !video_.isOpen());
    if (recording_) return recorder_.wrapClock(std::move(clock));
    return clock;
}

uint32_t RunExtras::seed(uint32_t fallback)
{
    const uint32_t seed = replaying_ ? replayer_.session().seed : fallback;
    if (recording_) recorder_.begin(seed);
    return seed;
}

std::unique_ptr<KeyboardSource> RunExtras::keyboard(std::unique_ptr<KeyboardSource> keyboard)
{
    if (replaying_) return replayer_.makeKeyboard(std::move(keyboard));
    if (recording_) return recorder_.wrapKeyboard(std::move(keyboard));
    return keyboard;
}

bool RunExtras::startUpDone(std::string& error)
{
    if (recording_ && !recorder_.startUpDone()) {
        error = recorder_.error();
        return false;
    }
    if (replaying_) {
        replayer_.startUpDone();
        if (!replayer_.error().empty()) {
            error = replayer_.error();
            return false;
        }
    }
    return true;
}

bool RunExtras::beforePresent(bool windowed, std::string& error)
{
    const bool shot = windowed && screenshotKey_.pressed();
    if (!video_.isOpen() && !shot) return true;
    if (!graphicsDevice) return true;
    RgbaImage image;
    if (!graphicsDevice->readBackBuffer(image)) {
        error = "cannot read the back buffer for the video " + videoFile_;
        return !video_.isOpen();
    }
    if (shot) {
        std::string saved, why;
        if (ScreenshotKey::save(dataFolder(), image, saved, why))
            std::fprintf(stderr, "zentrix: screenshot saved as %s\n", saved.c_str());
        else
            std::fprintf(stderr, "zentrix: warning: %s\n", why.c_str());
    }
    return video_.frame(image, frameClock.frameStartTick, error);
}

bool RunExtras::afterFrame(int64_t frameLimit, std::string& error)
{
    if (recording_ && !recorder_.frameDone(frameIndex)) {
        error = recorder_.error();
        return false;
    }
    if (replaying_) {
        replayer_.frameDone();
        if (!replayer_.error().empty()) {
            error = replayer_.error();
            return false;
        }
    }
    endTick_ = outputTickCount();
    if (total_ < 0) total_ = frameTotal(frameLimit);
    progress_.update(frameIndex + 1, total_);
    return true;
}

bool RunExtras::finish(const char* reason, bool ok, std::string& error)
{
    progress_.clear();
    setReadFileObserver(nullptr);
    if (!ok) {
        recorder_.abandon(reason);
        video_.discard();
        return true;
    }
    bool fine = true;
    if (recording_ && !recorder_.finish(reason)) {
        error = recorder_.error();
        fine = false;
    }
    // Sound and pictures end together, at the clock's last reading.
    if (fine && video_.isOpen() && !video_.finish(endTick_, error)) fine = false;
    if (!fine) abandon();
    return fine;
}

bool RunExtras::commit(std::string& error)
{
    if (recording_ && !recorder_.commit()) {
        error = recorder_.error();
        abandon();
        return false;
    }
    return video_.commit(error);
}

void RunExtras::abandon()
{
    recorder_.abandon("");
    video_.discard();
}
