// --screenshot: the last frame that runs, as a PNG.

#include "app/run_output.h"
#include "base/checked_file.h"
#include "platform/image/png_writer.h"

namespace {

class ScreenshotOutput final : public RunOutput {
public:
    explicit ScreenshotOutput(std::string path) : path_(std::move(path)) {}
    void listFiles(std::vector<RunFile>& writes, std::vector<RunFile>&) const override
    {
        writes.push_back({path_, "--screenshot " + path_});
    }
    bool open(std::string& error) override
    {
        if (file_.open(path_, "screenshot", OutputFile::Accept::AnyFile, OutputFile::Unfinished::Removed)) return true;
        error = file_.error();
        return false;
    }
    // Read back before the present: afterwards the back buffer's content is undefined.
    bool beforePresent(PresentedFrame& frame, std::string& error) override
    {
        if (!frame.last() || written_) return true;
        const RgbaImage* image = nullptr;
        if (!frame.pixels(image)) {
            error = "cannot read the back buffer for the screenshot " + path_;
            return false;
        }
        if (!image) return true;
        written_ = writePng(file_, *image, error);
        return written_;
    }
    // A run that ends before a frame was drawn leaves no empty picture behind.
    bool finish(const char*, std::string& error) override
    {
        if (!written_) file_.discard();
        return !written_ || file_.finish() || fails(file_.error(), error);
    }
    bool commit(std::string& error) override { return !written_ || file_.commit() || fails(file_.error(), error); }
    void abandon() override
    {
        if (written_)
            file_.abandon();
        else
            file_.discard();
    }

private:
    std::string path_;
    OutputFile file_;
    bool written_ = false;
};

}  // namespace

std::unique_ptr<RunOutput> makeScreenshotOutput(const RunOptions& options)
{
    if (options.screenshotFile.empty()) return nullptr;
    return std::make_unique<ScreenshotOutput>(options.screenshotFile);
}
