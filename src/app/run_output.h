#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_files.h"
#include "device/graphics_device.h"
#include "state/clock.h"
#include "state/input.h"

class SoundMix;

// The frame about to be presented, as the outputs see it.
class PresentedFrame {
public:
    PresentedFrame(bool last, bool windowed) : last_(last), windowed_(windowed) {}
    // The run's last frame: the one a screenshot keeps.
    bool last() const { return last_; }
    bool windowed() const { return windowed_; }
    // The frame's pixels, read back once for every output that asks. True with image null while
    // there is no device (nothing to keep); false when the device cannot read them back.
    bool pixels(const RgbaImage*& image);

private:
    bool last_, windowed_;
    bool read_ = false, readOk_ = false;
    RgbaImage image_;
};

// A frame that has run.
struct FrameDone {
    int64_t index = 0;   // the frame's index
    int64_t total = -1;  // the frames the run will have, where known (-1 not)
    uint32_t tick = 0;   // the clock's reading after it (outputTickCount)
};

// Something a run writes or that takes part in it beside the game: the trace, the screenshot,
// the sound file, a recorded or replayed session, the video, the progress line, the F12 key.
// The run holds every output in one list (app/run_outputs) and calls each at the same points;
// an output overrides the calls it needs. A call that returns false with error ends the run
// with status 1 after the frame; nothing of a failed run replaces an existing file.
class RunOutput {
public:
    virtual ~RunOutput() = default;

    // What the run reads through the output, before the data folder is chosen (a session to
    // replay).
    virtual bool readInputs(std::string& /*error*/) { return true; }
    // The files it writes and reads, so that no output replaces an input or another output.
    virtual void listFiles(std::vector<RunFile>& /*writes*/, std::vector<RunFile>& /*reads*/) const {}
    // Its files are created before any work, so that a bad path fails at once.
    virtual bool open(std::string& /*error*/) { return true; }

    // The game's sound rendered off the device after every frame: wanted by an output, a run
    // mixes through the loopback device instead of the sound device.
    virtual bool wantsMix(bool /*headless*/) const { return false; }
    virtual void attachMix(SoundMix&) {}
    // An output that consumes every frame rather than being watched (a video): the run need not
    // keep a recorded pace for it.
    virtual bool wantsFullSpeed() const { return false; }

    // The clock, seed and keyboard the run reads, each passed along the list. paced: a replay
    // keeps its recorded pace (a window that no output wants at full speed).
    virtual std::unique_ptr<TickSource> clock(std::unique_ptr<TickSource> clock, bool /*paced*/) { return clock; }
    virtual uint32_t seed(uint32_t seed) { return seed; }
    virtual std::unique_ptr<KeyboardSource> keyboard(std::unique_ptr<KeyboardSource> keyboard) { return keyboard; }
    // The frames the run will have (-1 unlimited).
    virtual int64_t frameTotal(int64_t frames) const { return frames; }

    virtual bool startUpDone(std::string& /*error*/) { return true; }
    virtual bool beforePresent(PresentedFrame&, std::string& /*error*/) { return true; }
    virtual bool afterFrame(const FrameDone&, std::string& /*error*/) { return true; }

    // The end of a run that went well: reason is escape, close or frames. finish() completes the
    // output without replacing an existing file; commit() then puts it in place once every
    // output has finished.
    virtual bool finish(const char* /*reason*/, std::string& /*error*/) { return true; }
    virtual bool commit(std::string& /*error*/) { return true; }
    // The run failed (before, during or after finish): an existing file stays as it was.
    virtual void abandon() {}

protected:
    // A call's failure: error set to why.
    static bool fails(const std::string& why, std::string& error)
    {
        error = why;
        return false;
    }
};

using RunOutputFactory = std::unique_ptr<RunOutput>(const RunOptions& options);
