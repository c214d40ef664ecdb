#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/audio/wav_file.h"

// --audio-out: the mix, rendered after every frame for exactly the milliseconds the program's
// clock advanced, into a 16-bit stereo 44,100 Hz WAV file. Sample n is the sound at n / 44.1 ms
// of the program's clock.
class AudioOut {
public:
    static constexpr int rate = 44100;
    // Fills frames of interleaved stereo.
    using Renderer = std::function<void(int16_t* out, size_t frames)>;

    // Another consumer of every rendered block (the video's sound); false with why ends the run.
    using Tap = std::function<bool(const int16_t* samples, size_t frames, std::string& why)>;

    // False with why set (naming the file) when it cannot be created.
    bool open(const std::string& path, Renderer renderer, std::string& why);
    // Renders for the tap alone when no file is wanted, or for both.
    void setRenderer(Renderer renderer) { renderer_ = std::move(renderer); }
    void setTap(Tap tap) { tap_ = std::move(tap); }
    bool isOpen() const { return writer_.isOpen(); }
    // Renders up to the clock reading tick (ms; differences taken modulo 2^32).
    bool advanceTo(uint32_t tick, std::string& why);
    bool close(std::string& why) { return writer_.close(why); }
    // The file closed; an existing one is replaced only by commit().
    bool finish(std::string& why) { return writer_.finish(why); }
    bool commit(std::string& why) { return writer_.commit(why); }
    void abandon() { writer_.abandon(); }
    uint64_t framesWritten() const { return rendered_; }

private:
    WavWriter writer_;
    Renderer renderer_;
    Tap tap_;
    uint64_t rendered_ = 0;
    uint32_t lastTick_ = 0;
    uint64_t elapsedMs_ = 0;
};
