// Fuzzes sound file decoding: "Backgroundmusic.wav" and "Explosion.wav" are read whole and decoded
// to 16-bit samples with one or two channels; a stereo explosion is then mixed down to mono.

#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.h"
#include "platform/audio/wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PcmSound sound;
    std::string why;
    if (!decodeWav(data, size, sound, why)) {
        if (why.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    // An accepted sound is one the mixer can take as it is.
    if ((sound.channels != 1 && sound.channels != 2) || sound.rate < 1000 || sound.rate > 384000 ||
        sound.samples.empty() || sound.samples.size() % size_t(sound.channels) != 0)
        std::abort();
    const PcmSound mono = downmixToMono(sound);
    if (mono.channels != 1 || mono.samples.size() != sound.frames()) std::abort();
    return 0;
}
