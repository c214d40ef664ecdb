#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/graphics_device.h"
#include "platform/video/video_encoder.h"

// --video: the frames as presented and the sound of the same mixer as --audio-out, on the
// program's clock. The video starts at the first frame's tick; sound sample n of the capture is
// the clock's n / 44.1 ms, so the samples before that tick are left out.
class VideoOut {
public:
    bool create(const std::string& path, const VideoEncoderSettings& settings, std::string& why);
    bool isOpen() const { return created_; }
    // A frame read back before its present, started at tick.
    bool frame(const RgbaImage& image, uint32_t tick, std::string& why);
    // The capture's samples from its sample firstSample on (interleaved stereo at 44,100 Hz).
    bool sound(const int16_t* samples, size_t frames, uint64_t firstSample, std::string& why);
    // The run's clock stopped at endTick: the video is completed, but an existing file is
    // replaced only by commit().
    bool finish(uint32_t endTick, std::string& why);
    bool commit(std::string& why);
    // Takes away what a run that did not complete the video wrote; an existing file stays as it was.
    void discard();
    uint64_t framesWritten() const { return encoder_ ? encoder_->picturesWritten() : 0; }

private:
    int64_t elapsed(uint32_t tick);
    bool named(bool ok, std::string& why) const;
    std::unique_ptr<VideoEncoder> encoder_;
    std::string path_;
    // An existing file is replaced only by a complete video: the encoder writes to a hidden
    // file beside it, renamed over it at the end.
    std::string temporary_;
    unsigned existingMode_ = 0;
    int unfinishedSlot_ = -1;
    bool created_ = false;
    bool started_ = false;
    bool finished_ = false;
    uint32_t firstTick_ = 0;
    uint32_t lastTick_ = 0;
    int64_t elapsedMs_ = 0;
    uint64_t firstSample_ = 0;
};
