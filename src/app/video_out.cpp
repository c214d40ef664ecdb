#include "app/video_out.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "app/audio_out.h"
#include "app/run_output.h"
#include "state/clock.h"
#include "base/checked_file.h"
#include "base/stop_signals.h"

bool VideoOut::create(const std::string& path, const VideoEncoderSettings& settings, std::string& why)
{
    encoder_ = std::make_unique<VideoEncoder>();
    path_ = path;
    temporary_.clear();
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        // A video is written with seeks back to its header: a regular file or nothing.
        if (!S_ISREG(existing.st_mode)) {
            why = "cannot create video " + path + ": it exists and is not a regular file";
            encoder_.reset();
            return false;
        }
        // Ends in the same extension, which picks the container.
        const size_t dot = path.rfind('.');
        const std::string extension = dot == std::string::npos ? "" : path.substr(dot);
        std::string name;
        const int fd = createHiddenSibling(path, extension, name);
        if (fd < 0) {
            why = "cannot create video " + path + ": " + std::strerror(errno);
            encoder_.reset();
            return false;
        }
        ::close(fd);
        temporary_ = name;
        // Never the set-user-ID or set-group-ID bit: the new content is not what was made privileged.
        existingMode_ = existing.st_mode & 0777;
    }
    // Either is worth nothing unfinished, and goes should the program be stopped abruptly.
    unfinishedSlot_ = registerUnfinishedFile(temporary_.empty() ? path : temporary_);
    created_ = encoder_->create(temporary_.empty() ? path : temporary_, settings, why);
    if (!created_) {
        encoder_.reset();
        unregisterUnfinishedFile(unfinishedSlot_);
        unfinishedSlot_ = -1;
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        // The encoder names the file it was given; the user knows the one asked for.
        if (!temporary_.empty()) why = "cannot create video " + path + ": the hidden file beside it cannot be written";
    }
    return created_;
}

bool VideoOut::named(bool ok, std::string& why) const
{
    // The encoder names the file it writes; the user asked for path_.
    const size_t at = temporary_.empty() ? std::string::npos : why.find(temporary_);
    if (!ok && at != std::string::npos) why.replace(at, temporary_.size(), path_);
    return ok;
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
        firstSample_ = uint64_t(tick) * SoundMix::rate / 1000;
    }
    return named(encoder_->addPicture(image.pixels.data(), image.width, image.height, elapsed(tick), why), why);
}

bool VideoOut::sound(const int16_t* samples, size_t frames, uint64_t firstSample, std::string& why)
{
    if (!created_ || finished_ || !started_) return true;
    const uint64_t end = firstSample + frames;
    if (end <= firstSample_) return true;
    const uint64_t skip = firstSample_ > firstSample ? firstSample_ - firstSample : 0;
    return named(encoder_->addSound(samples + skip * 2, static_cast<size_t>(frames - skip), why), why);
}

bool VideoOut::finish(uint32_t endTick, std::string& why)
{
    if (!created_ || finished_) return true;
    finished_ = true;
    const int64_t end = started_ ? elapsed(endTick) : 0;
    return named(encoder_->finish(end, why), why);
}

bool VideoOut::commit(std::string& why)
{
    if (!created_ || !finished_) return true;
    if (!temporary_.empty() &&
        (::chmod(temporary_.c_str(), existingMode_) != 0 || std::rename(temporary_.c_str(), path_.c_str()) != 0)) {
        why = "cannot write video " + path_ + ": it cannot replace the file there: " + std::strerror(errno);
        return false;
    }
    temporary_.clear();
    unregisterUnfinishedFile(unfinishedSlot_);
    unfinishedSlot_ = -1;
    created_ = false;
    return true;
}

void VideoOut::discard()
{
    if (!created_) return;
    encoder_.reset();
    created_ = false;
    unregisterUnfinishedFile(unfinishedSlot_);
    unfinishedSlot_ = -1;
    std::error_code ec;
    std::filesystem::remove(temporary_.empty() ? path_ : temporary_, ec);
    temporary_.clear();
}

namespace {

// --video: the frames as presented and the mix's sound.
class VideoOutput final : public RunOutput, public SoundMix::Tap {
public:
    explicit VideoOutput(const RunOptions& options) : path_(options.videoFile)
    {
        settings_.fps = options.videoFps;
        settings_.quality = options.videoQuality;
    }
    void listFiles(std::vector<RunFile>& writes, std::vector<RunFile>&) const override
    {
        writes.push_back({path_, "--video " + path_});
    }
    bool open(std::string& error) override { return video_.create(path_, settings_, error); }
    bool wantsMix(bool) const override { return true; }
    void attachMix(SoundMix& mix) override { mix.addTap(*this); }
    bool wantsFullSpeed() const override { return true; }
    bool take(const int16_t* samples, size_t frames, uint64_t first, std::string& why) override
    {
        return video_.sound(samples, frames, first, why);
    }
    bool beforePresent(PresentedFrame& frame, std::string& error) override
    {
        const RgbaImage* image = nullptr;
        if (!frame.pixels(image)) {
            error = "cannot read the back buffer for the video " + path_;
            return false;
        }
        return !image || video_.frame(*image, frameClock.frameStartTick, error);
    }
    bool afterFrame(const FrameDone& frame, std::string&) override
    {
        endTick_ = frame.tick;
        return true;
    }
    // Sound and pictures end together, at the clock's last reading.
    bool finish(const char*, std::string& error) override { return video_.finish(endTick_, error); }
    bool commit(std::string& error) override { return video_.commit(error); }
    void abandon() override { video_.discard(); }

private:
    std::string path_;
    VideoEncoderSettings settings_;
    VideoOut video_;
    uint32_t endTick_ = 0;
};

}  // namespace

std::unique_ptr<RunOutput> makeVideoOutput(const RunOptions& options)
{
    if (options.videoFile.empty()) return nullptr;
    return std::make_unique<VideoOutput>(options);
}
