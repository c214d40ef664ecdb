#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/checked_file.h"

// Interleaved 16-bit samples of one sound.
struct PcmSound {
    int channels = 0;  // 1 or 2
    int rate = 0;      // frames per second
    std::vector<int16_t> samples;
    size_t frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// Sounds longer than this are refused rather than held in memory.
inline constexpr size_t maxWavFileBytes = 256u * 1024u * 1024u;

// Decodes a WAV file image (any encoding the platform's loader knows) into 16-bit samples with one
// or two channels; more channels are mixed down to two. False with why set (one phrase, no file
// name) for data that is not a usable sound.
bool decodeWav(const uint8_t* data, size_t size, PcmSound& out, std::string& why);
// The same, taking over the file's bytes instead of copying them.
bool decodeWav(std::vector<uint8_t>&& file, PcmSound& out, std::string& why);
// Reads and decodes a file; why says "cannot be opened: ..." and the like.
bool loadWavFile(const std::string& path, PcmSound& out, std::string& why);
// Averages the two channels of a stereo sound into one.
PcmSound downmixToMono(const PcmSound& sound);

// Writes a 16-bit PCM WAV file. The header's sizes are brought up to date after every write, so
// the file is a complete WAV file whenever the program stops.
class WavWriter {
public:
    // False with why set (naming the file) when it cannot be created or written.
    bool open(const std::string& path, int channels, int rate, std::string& why);
    // Appends whole frames; false with why set when the disk refuses them or the format's 4 GiB
    // limit is reached.
    bool write(const int16_t* samples, size_t frames, std::string& why);
    // finish() then commit().
    bool close(std::string& why);
    // The header brought up to date and the file closed; an existing file is replaced only by
    // commit().
    bool finish(std::string& why);
    bool commit(std::string& why);
    // A run that did not complete: an existing file stays as it was, a new one stays a complete
    // WAV file of what was written.
    void abandon() { file_.abandon(); }
    bool isOpen() const { return file_.isOpen(); }
    uint64_t framesWritten() const { return dataBytes_ / frameBytes(); }
    // The most frames the 32-bit sizes of the header can describe.
    uint64_t maxFrames() const { return (0xFFFFFFFFull - 36u) / frameBytes(); }
    const std::string& path() const { return file_.path(); }

private:
    uint32_t frameBytes() const { return static_cast<uint32_t>(channels_) * 2u; }
    bool updateHeader();
    OutputFile file_;
    int channels_ = 2;
    uint32_t dataBytes_ = 0;
};

// The whole sound in one go.
bool writeWavFile(const std::string& path, const PcmSound& sound, std::string& why);
