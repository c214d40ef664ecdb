#include "app/audio_out.h"

#include "base/stop_signals.h"

#include <algorithm>
#include <vector>

bool AudioOut::open(const std::string& path, Renderer renderer, std::string& why)
{
    renderer_ = std::move(renderer);
    lastTick_ = 0;
    elapsedMs_ = 0;
    rendered_ = 0;
    return writer_.open(path, 2, rate, why);
}

bool AudioOut::advanceTo(uint32_t tick, std::string& why)
{
    if (!writer_.isOpen() && !tap_) return true;
    elapsedMs_ += static_cast<uint32_t>(tick - lastTick_);
    lastTick_ = tick;
    const uint64_t due = elapsedMs_ * rate / 1000;
    // Checked before anything is rendered, so a clock that leaps hours ahead cannot fill the disk.
    if (writer_.isOpen() && due > writer_.maxFrames()) {
        why = "sound file " + writer_.path() + " reached the 4 GiB limit of the WAV format";
        return false;
    }
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
        if (writer_.isOpen() && !writer_.write(block.data(), n, why)) return false;
        if (tap_ && !tap_(block.data(), n, why)) return false;
        rendered_ += n;
        missing -= n;
    }
    return true;
}
