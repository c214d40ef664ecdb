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

    // False with why set (naming the file) when it cannot be created.
    bool open(const std::string& path, Renderer renderer, std::string& why);
    bool isOpen() const { return writer_.isOpen(); }
    // Renders up to the clock reading tick (ms; differences taken modulo 2^32).
    bool advanceTo(uint32_t tick, std::string& why);
    bool close(std::string& why);
    uint64_t framesWritten() const { return writer_.framesWritten(); }

private:
    WavWriter writer_;
    Renderer renderer_;
    uint32_t lastTick_ = 0;
    uint64_t elapsedMs_ = 0;
};
