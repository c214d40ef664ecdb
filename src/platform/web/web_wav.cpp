// Wave files in the browser build, which has no SDL to decode them: PCM of 8 or 16 bits with one
// or two channels, what the landscape tool writes and what a page should carry. The declarations
// are the program's (platform/audio/wav_file.h); the writer is not built here.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/checked_file.h"
#include "platform/audio/wav_file.h"

namespace {

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

}  // namespace

bool decodeWav(const uint8_t* data, size_t size, PcmSound& out, std::string& why)
{
    if (size > maxWavFileBytes) {
        why = "is larger than 256 MiB";
        return false;
    }
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        why = "is not a usable WAV file (no RIFF WAVE header)";
        return false;
    }
    const uint8_t* format = nullptr;
    const uint8_t* samples = nullptr;
    size_t sampleBytes = 0;
    // Chunks as far as the file holds them; a size past the end counts only what is there.
    for (size_t pos = 12; pos + 8 <= size;) {
        const size_t length = std::min<size_t>(le32(data + pos + 4), size - (pos + 8));
        if (std::memcmp(data + pos, "fmt ", 4) == 0 && length >= 16) format = data + pos + 8;
        if (std::memcmp(data + pos, "data", 4) == 0 && !samples) {
            samples = data + pos + 8;
            sampleBytes = length;
        }
        pos += 8 + length + (length & 1);
    }
    if (!format || !samples) {
        why = "is not a usable WAV file (no format or no data chunk)";
        return false;
    }
    const uint32_t encoding = le16(format), channels = le16(format + 2), rate = le32(format + 4),
                   bits = le16(format + 14);
    if (encoding != 1 || (bits != 8 && bits != 16) || channels < 1 || channels > 2) {
        why = "is not 8- or 16-bit PCM with one or two channels, all the browser build plays";
        return false;
    }
    if (rate < 1000 || rate > 384000) {
        why = "has a sample rate of " + std::to_string(rate) + " Hz; 1000 to 384000 Hz are played";
        return false;
    }
    const size_t count = sampleBytes / (bits / 8) / channels * channels;
    if (count == 0) {
        why = "holds no sound";
        return false;
    }
    out.channels = int(channels);
    out.rate = int(rate);
    out.samples.resize(count);
    for (size_t i = 0; i < count; ++i)
        out.samples[i] = bits == 16 ? static_cast<int16_t>(le16(samples + 2 * i))
                                    : static_cast<int16_t>((int(samples[i]) - 128) * 256);
    return true;
}

bool decodeWav(std::vector<uint8_t>&& file, PcmSound& out, std::string& why)
{
    const std::vector<uint8_t> bytes = std::move(file);
    return decodeWav(bytes.data(), bytes.size(), out, why);
}

bool loadWavFile(const std::string& path, PcmSound& out, std::string& why)
{
    std::FILE* f = openRegularFile(path);
    if (!f) {
        why = "cannot be opened: " + openFailureReason(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() <= maxWavFileBytes)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        why = "cannot be read";
        return false;
    }
    return decodeWav(bytes.data(), bytes.size(), out, why);
}

PcmSound downmixToMono(const PcmSound& sound)
{
    if (sound.channels != 2) return sound;
    PcmSound mono;
    mono.channels = 1;
    mono.rate = sound.rate;
    mono.samples.resize(sound.frames());
    for (size_t i = 0; i < mono.samples.size(); ++i)
        mono.samples[i] = static_cast<int16_t>((sound.samples[2 * i] + sound.samples[2 * i + 1]) / 2);
    return mono;
}
