#include "app/progress_line.h"

#include <cinttypes>
#include <cstdio>

#include <unistd.h>

#include "app/run_output.h"

namespace {
// A run shorter than this is over before a report would help.
constexpr double quietSeconds = 1.0;
constexpr double intervalSeconds = 0.25;
}  // namespace

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1), start_(Clock::now()), lastShown_(start_) {}

std::string ProgressLine::text(int64_t framesDone, int64_t total, double seconds, int64_t firstFrames)
{
    char line[160];
    const double fps = seconds > 0.0 ? double(framesDone - firstFrames) / seconds : 0.0;
    if (total > 0) {
        const int64_t left = total > framesDone ? total - framesDone : 0;
        const int64_t secondsLeft = fps > 0.0 ? int64_t(double(left) / fps + 0.5) : 0;
        std::snprintf(line, sizeof line, "zentrix: frame %" PRId64 " of %" PRId64 " (%d%%), %.1f frames/s, %" PRId64 ":%02d left",
                      framesDone, total, int(framesDone * 100 / total), fps, secondsLeft / 60, int(secondsLeft % 60));
    } else {
        std::snprintf(line, sizeof line, "zentrix: frame %" PRId64 ", %.1f frames/s", framesDone, fps);
    }
    return line;
}

void ProgressLine::update(int64_t framesDone, int64_t total)
{
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (!started_) {
        started_ = true;
        start_ = lastShown_ = now;
        startFrames_ = framesDone;
        return;
    }
    const double sinceStart = std::chrono::duration<double>(now - start_).count();
    if (sinceStart < quietSeconds || std::chrono::duration<double>(now - lastShown_).count() < intervalSeconds) return;
    lastShown_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r%s\033[K", text(framesDone, total, sinceStart, startFrames_).c_str());
    std::fflush(stderr);
}

void ProgressLine::clear()
{
    if (!shown_) return;
    shown_ = false;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

namespace {

class ProgressOutput final : public RunOutput {
public:
    bool afterFrame(const FrameDone& frame, std::string&) override
    {
        line_.update(frame.index + 1, frame.total);
        return true;
    }
    bool finish(const char*, std::string&) override
    {
        line_.clear();
        return true;
    }
    void abandon() override { line_.clear(); }

private:
    ProgressLine line_;
};

}  // namespace

// Every run has one: it shows itself only where stderr is a terminal.
std::unique_ptr<RunOutput> makeProgressOutput(const RunOptions&) { return std::make_unique<ProgressOutput>(); }
