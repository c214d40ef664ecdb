#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sound/sound_engine.h"

// The sound engine on OpenAL Soft. Device: the default sound output. Loopback: no sound card;
// the mix is pulled by render() as 16-bit stereo at 44,100 Hz, for writing to a file.
class OpenAlEngine : public SoundEngine {
public:
    enum class Output { Device, Loopback };
    static constexpr int loopbackRate = 44100;

    explicit OpenAlEngine(Output output);
    ~OpenAlEngine() override;

    int32_t initializeThread() override;
    void uninitializeThread() override;
    int32_t createLoader(std::unique_ptr<SoundLoader>& out) override;
    int32_t createPerformance(std::unique_ptr<SoundPerformance>& out) override;

    // Loopback only: mixes the next frames (interleaved left, right) into out; silence while no
    // output is open.
    void render(int16_t* out, size_t frames);

    struct State;

private:
    std::shared_ptr<State> state_;
};
