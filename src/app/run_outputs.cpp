#include "app/run_outputs.h"

#include "app/application.h"
#include "state/graphics.h"

// Every output, in the order the run calls them. A new output is a file defining
// `std::unique_ptr<RunOutput> makeNameOutput(const RunOptions&)` (nullptr when the command line
// does not ask for it) and its line here.
#define EVERY_OUTPUT(OUTPUT)          \
    OUTPUT(makeTraceOutput)           \
    OUTPUT(makeScreenshotOutput)      \
    OUTPUT(makeSoundFileOutput)       \
    OUTPUT(makeSessionOutput)         \
    OUTPUT(makeVideoOutput)           \
    OUTPUT(makeProgressOutput)        \
    OUTPUT(makeScreenshotKeyOutput)   \
    /* (the end of the list) */

#define DECLARE_OUTPUT(factory) RunOutputFactory factory;
EVERY_OUTPUT(DECLARE_OUTPUT)

bool PresentedFrame::pixels(const RgbaImage*& image)
{
    image = nullptr;
    if (!graphicsDevice) return true;
    if (!read_) readOk_ = graphicsDevice->readBackBuffer(image_);
    read_ = true;
    if (readOk_) image = &image_;
    return readOk_;
}

RunOutputs::RunOutputs(const RunOptions& options)
{
#define ADD_OUTPUT(factory) \
    if (auto output = factory(options)) outputs_.push_back(std::move(output));
    EVERY_OUTPUT(ADD_OUTPUT)
}

RunOutputs::~RunOutputs()
{
    if (!ended_)
        for (auto& output : outputs_) output->abandon();
}

bool RunOutputs::readInputs(std::string& error)
{
    for (auto& output : outputs_)
        if (!output->readInputs(error)) return false;
    return true;
}

void RunOutputs::listFiles(std::vector<RunFile>& writes, std::vector<RunFile>& reads) const
{
    for (const auto& output : outputs_) output->listFiles(writes, reads);
}

bool RunOutputs::open(std::string& error)
{
    for (auto& output : outputs_)
        if (!output->open(error)) return false;
    return true;
}

bool RunOutputs::wantsMix(bool headless) const
{
    for (const auto& output : outputs_)
        if (output->wantsMix(headless)) return true;
    return false;
}

void RunOutputs::attachMix(SoundMix::Renderer renderer)
{
    mix_.emplace(std::move(renderer));
    for (auto& output : outputs_) output->attachMix(*mix_);
}

std::unique_ptr<TickSource> RunOutputs::clock(std::unique_ptr<TickSource> clock, bool windowed)
{
    bool fullSpeed = false;
    for (const auto& output : outputs_) fullSpeed = fullSpeed || output->wantsFullSpeed();
    for (auto& output : outputs_) clock = output->clock(std::move(clock), windowed && !fullSpeed);
    return clock;
}

uint32_t RunOutputs::seed(uint32_t seed)
{
    for (auto& output : outputs_) seed = output->seed(seed);
    return seed;
}

std::unique_ptr<KeyboardSource> RunOutputs::keyboard(std::unique_ptr<KeyboardSource> keyboard)
{
    for (auto& output : outputs_) keyboard = output->keyboard(std::move(keyboard));
    return keyboard;
}

int64_t RunOutputs::frameTotal(int64_t frames) const
{
    for (const auto& output : outputs_) frames = output->frameTotal(frames);
    return frames;
}

bool RunOutputs::beginFrames(int64_t frameLimit, std::string& error)
{
    total_ = frameTotal(frameLimit);
    return !mix_ || mix_->advanceTo(outputTickCount(), error);
}

bool RunOutputs::startUpDone(std::string& error)
{
    for (auto& output : outputs_)
        if (!output->startUpDone(error)) return false;
    return true;
}

void RunOutputs::beforePresent(bool lastFrame, bool windowed)
{
    PresentedFrame frame(lastFrame, windowed);
    std::string why;
    for (auto& output : outputs_)
        if (!failure_.empty() || !output->beforePresent(frame, why)) return fail(why);
}

void RunOutputs::afterFrame()
{
    std::string why;
    if (mix_ && !mix_->advanceTo(outputTickCount(), why)) return fail(why);
    const FrameDone frame{frameIndex, total_, outputTickCount()};
    for (auto& output : outputs_)
        if (!failure_.empty() || !output->afterFrame(frame, why)) return fail(why);
}

void RunOutputs::fail(const std::string& why)
{
    if (!failure_.empty()) return;
    failure_ = why;
    requestClose();
}

bool RunOutputs::end(const char* reason, std::string& error)
{
    ended_ = true;
    error = failure_;
    for (auto& output : outputs_)
        if (!error.empty() || !output->finish(reason, error)) break;
    for (auto& output : outputs_)
        if (!error.empty() || !output->commit(error)) break;
    if (error.empty()) return true;
    for (auto& output : outputs_) output->abandon();
    return false;
}
