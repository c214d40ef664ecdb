#include "app/video_out.h"

#include <filesystem>

#include "app/audio_out.h"

bool VideoOut::create(const std::string& path, const VideoEncoderSettings& settings, std::string& why)
{
    encoder_ = std::make_unique<VideoEncoder>();
    path_ = path;
    created_ = encoder_->create(path, settings, why);
    if (!created_) encoder_.reset();
    return created_;
}

int64_t VideoOut::elapsed(uint32_t tick)
{
    // Differences modulo 2^32, so a run across the tick counter's wrap keeps its length.
    elapsedMs_ += static_cast<uint32_t>(tick - lastTick_);
    lastTick_ = tick;
    return elapsedMs_;
}

bool VideoOut::frame(const RgbaImage& image, uint32_t tick, std::string& why)
{
    if (!created_ || finished_) return true;
    if (!started_) {
        started_ = true;
        firstTick_ = lastTick_ = tick;
        firstSample_ = uint64_t(tick) * AudioOut::rate / 1000;
    }
    return encoder_->addPicture(image.pixels.data(), image.width, image.height, elapsed(tick), why);
}

bool VideoOut::sound(const int16_t* samples, size_t frames, uint64_t firstSample, std::string& why)
{
    if (!created_ || finished_ || !started_) return true;
    const uint64_t end = firstSample + frames;
    if (end <= firstSample_) return true;
    const uint64_t skip = firstSample_ > firstSample ? firstSample_ - firstSample : 0;
    return encoder_->addSound(samples + skip * 2, static_cast<size_t>(frames - skip), why);
}

bool VideoOut::finish(uint32_t endTick, std::string& why)
{
    if (!created_ || finished_) return true;
    finished_ = true;
    const int64_t end = started_ ? elapsed(endTick) : 0;
    return encoder_->finish(end, why);
}

void VideoOut::discard()
{
    if (!created_) return;
    encoder_.reset();
    created_ = false;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}
