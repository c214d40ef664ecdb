#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The game's sound mixed off the device (the loopback mixer), rendered after every frame for
// exactly the milliseconds the program's clock advanced: sample n is the sound at n / 44.1 ms of
// the program's clock. --audio-out writes it to a WAV file, --video encodes it.
class SoundMix {
public:
    static constexpr int rate = 44100;
    // Fills frames of interleaved stereo.
    using Renderer = std::function<void(int16_t* out, size_t frames)>;

    // A consumer of every rendered block.
    class Tap {
    public:
        virtual ~Tap() = default;
        // Asked before anything is rendered: whether the mix may grow to frames in all, so a
        // clock that leaps hours ahead cannot fill the disk. False with why ends the run.
        virtual bool mayReach(uint64_t /*frames*/, std::string& /*why*/) { return true; }
        // first: the index of the block's first frame in the mix.
        virtual bool take(const int16_t* samples, size_t frames, uint64_t first, std::string& why) = 0;
    };

    explicit SoundMix(Renderer renderer) : renderer_(std::move(renderer)) {}
    void addTap(Tap& tap) { taps_.push_back(&tap); }
    // Renders up to the clock reading tick (ms; differences taken modulo 2^32). Nothing is
    // rendered while no tap listens.
    bool advanceTo(uint32_t tick, std::string& why);
    uint64_t framesRendered() const { return rendered_; }

private:
    Renderer renderer_;
    std::vector<Tap*> taps_;
    uint64_t rendered_ = 0;
    uint32_t lastTick_ = 0;
    uint64_t elapsedMs_ = 0;
};
