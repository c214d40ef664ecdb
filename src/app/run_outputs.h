#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/audio_out.h"
#include "app/run_output.h"

// Every output of one run in one list, called in the order they are registered
// (run_outputs.cpp): the run calls the list, never an output by name.
class RunOutputs {
public:
    // The outputs the command line asks for.
    explicit RunOutputs(const RunOptions& options);
    // These outputs (for tests).
    explicit RunOutputs(std::vector<std::unique_ptr<RunOutput>> outputs) : outputs_(std::move(outputs)) {}
    // An output the run did not end (an early failure, an exception) is abandoned.
    ~RunOutputs();
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;

    bool readInputs(std::string& error);
    void listFiles(std::vector<RunFile>& writes, std::vector<RunFile>& reads) const;
    bool open(std::string& error);

    // Whether the game's sound goes to a mix instead of the sound device, and the mix then.
    bool wantsMix(bool headless) const;
    void attachMix(SoundMix::Renderer renderer);

    std::unique_ptr<TickSource> clock(std::unique_ptr<TickSource> clock, bool windowed);
    uint32_t seed(uint32_t seed);
    std::unique_ptr<KeyboardSource> keyboard(std::unique_ptr<KeyboardSource> keyboard);
    // The frames the run will have: frames (-1 unlimited) or fewer.
    int64_t frameTotal(int64_t frames) const;

    // Before start-up: the mix's lead-in (the silence before the first frame).
    bool beginFrames(int64_t frameLimit, std::string& error);
    bool startUpDone(std::string& error);
    // The hooks of every frame; a failure is kept (failure()) and closes the window.
    void beforePresent(bool lastFrame, bool windowed);
    void afterFrame();
    // Keeps the first failure and ends the run after this frame.
    void fail(const std::string& why);
    const std::string& failure() const { return failure_; }

    // Every output finished, then committed; after any failure (the kept one included) all are
    // abandoned. False with error.
    bool end(const char* reason, std::string& error);

private:
    std::vector<std::unique_ptr<RunOutput>> outputs_;
    std::optional<SoundMix> mix_;
    std::string failure_;
    int64_t total_ = -1;
    bool ended_ = false;
};
