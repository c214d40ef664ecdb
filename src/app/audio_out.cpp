#include "app/audio_out.h"

#include <algorithm>
#include <vector>

#include "app/run_output.h"
#include "base/stop_signals.h"
#include "platform/audio/wav_file.h"

bool SoundMix::advanceTo(uint32_t tick, std::string& why)
{
    if (taps_.empty()) return true;
    elapsedMs_ += static_cast<uint32_t>(tick - lastTick_);
    lastTick_ = tick;
    const uint64_t due = elapsedMs_ * rate / 1000;
    for (Tap* tap : taps_)
        if (!tap->mayReach(due, why)) return false;
    uint64_t missing = due - std::min(due, rendered_);
    std::vector<int16_t> block;
    while (missing > 0) {
        // A clock that leaps far ahead can ask for hours of sound: a stop request is heard between
        // the blocks.
        if (stopSignal()) {
            why = stopMessage();
            return false;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(missing, 16384));
        block.assign(2 * n, 0);
        if (renderer_) renderer_(block.data(), n);
        for (Tap* tap : taps_)
            if (!tap->take(block.data(), n, rendered_, why)) return false;
        rendered_ += n;
        missing -= n;
    }
    return true;
}

namespace {

// --audio-out: the mix as a 16-bit stereo 44,100 Hz WAV file.
class SoundFileOutput final : public RunOutput, public SoundMix::Tap {
public:
    explicit SoundFileOutput(std::string path) : path_(std::move(path)) {}
    void listFiles(std::vector<RunFile>& writes, std::vector<RunFile>&) const override
    {
        writes.push_back({path_, "--audio-out " + path_});
    }
    bool open(std::string& error) override { return writer_.open(path_, 2, SoundMix::rate, error); }
    bool wantsMix(bool) const override { return true; }
    void attachMix(SoundMix& mix) override { mix.addTap(*this); }
    bool mayReach(uint64_t frames, std::string& why) override
    {
        if (frames <= writer_.maxFrames()) return true;
        why = "sound file " + path_ + " reached the 4 GiB limit of the WAV format";
        return false;
    }
    bool take(const int16_t* samples, size_t frames, uint64_t, std::string& why) override
    {
        return writer_.write(samples, frames, why);
    }
    bool finish(const char*, std::string& error) override { return writer_.finish(error); }
    bool commit(std::string& error) override { return writer_.commit(error); }
    void abandon() override { writer_.abandon(); }

private:
    std::string path_;
    WavWriter writer_;
};

}  // namespace

std::unique_ptr<RunOutput> makeSoundFileOutput(const RunOptions& options)
{
    if (options.audioOutFile.empty()) return nullptr;
    return std::make_unique<SoundFileOutput>(options.audioOutFile);
}
