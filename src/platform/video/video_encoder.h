#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A video file written through the FFmpeg libraries: .mp4 and .mkv as H.264 with AAC, .webm as
// VP9 with Opus. Pictures come as RGBA with the time they are shown from, in milliseconds from
// the start of the video; sound as 16-bit interleaved stereo whose sample 0 is time 0.
struct VideoEncoderSettings {
    int fps = 0;             // 0: each picture lasts until the next (time base 1 ms); else constant
    int quality = -1;        // the codec's CRF; -1: 20 for H.264, 32 for VP9
    int audioRate = 44100;   // 0: no sound stream
};

class VideoEncoder {
public:
    // At a constant rate, the most output frames one picture fills; a longer gap before the next
    // picture (or the end) is held by the last of them, so a clock that leaps ahead costs no
    // more than this.
    static constexpr int maxRepeatedFrames = 60;

    VideoEncoder();
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // The container a file name asks for, or null when its ending is not .mp4, .mkv or .webm.
    static const char* containerFor(const std::string& path);
    // The highest quality value (CRF) the codec of that container takes.
    static int maxQuality(const std::string& path);

    // Creates the file at once, so a bad path fails before any work; the streams are set up with
    // the first picture, whose size they take. False with why naming the file.
    bool create(const std::string& path, const VideoEncoderSettings& settings, std::string& why);
    // A picture shown from timeMs on; one at the same millisecond as the one before replaces it.
    bool addPicture(const uint8_t* rgba, int width, int height, int64_t timeMs, std::string& why);
    bool addSound(const int16_t* samples, size_t frames, std::string& why);
    // Shows the last picture until endMs, drains the encoders and completes the file.
    bool finish(int64_t endMs, std::string& why);
    const std::string& path() const;
    uint64_t picturesWritten() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};
