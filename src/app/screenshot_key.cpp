#include "app/screenshot_key.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/run_output.h"
#include "base/data_folder.h"
#include "platform/image/png_writer.h"
#include "platform/sdl/sdl_platform.h"

bool ScreenshotKey::pressed()
{
    const bool down = screenshotKeyDown();
    const bool press = down && !wasDown_;
    wasDown_ = down;
    return press;
}

bool ScreenshotKey::save(const std::string& folder, const RgbaImage& image, std::string& savedAs, std::string& why)
{
    std::vector<uint8_t> png;
    if (!encodePng(image, png, why)) return false;
    // Named in full: the data folder is often not where the user started the program.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder + "screenshots", ec);
    const std::string dir = ec ? folder + "screenshots" : absolute.string();
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        why = "cannot create the folder " + dir + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        why = dir + " is not a folder";
        return false;
    }
    for (int number = 1; number <= 99999; ++number) {
        char name[32];
        std::snprintf(name, sizeof name, "/zentrix-%04d.png", number);
        const std::string path = dir + name;
        // O_EXCL: a picture already there, or one made meanwhile, is never overwritten.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            why = "cannot create screenshot " + path + ": " + std::strerror(errno);
            return false;
        }
        size_t done = 0;
        while (done < png.size()) {
            const ssize_t n = ::write(fd, png.data() + done, png.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += size_t(n);
        }
        const int writeErr = errno;
        const bool closed = ::close(fd) == 0;
        if (done < png.size() || !closed) {
            why = "cannot write screenshot " + path + ": " + std::strerror(done < png.size() ? writeErr : errno);
            ::unlink(path.c_str());
            return false;
        }
        savedAs = path;
        return true;
    }
    why = "cannot save a screenshot: " + dir + " holds 99999 of them already";
    return false;
}

namespace {

class ScreenshotKeyOutput final : public RunOutput {
public:
    bool beforePresent(PresentedFrame& frame, std::string&) override
    {
        if (!frame.windowed() || !key_.pressed()) return true;
        // A picture that cannot be taken is worth a warning, not the end of the run.
        const RgbaImage* image = nullptr;
        std::string saved, why;
        if (!frame.pixels(image))
            std::fprintf(stderr, "zentrix: warning: cannot read the back buffer for the screenshot\n");
        else if (image && ScreenshotKey::save(dataFolder(), *image, saved, why))
            std::fprintf(stderr, "zentrix: screenshot saved as %s\n", saved.c_str());
        else if (image)
            std::fprintf(stderr, "zentrix: warning: %s\n", why.c_str());
        return true;
    }

private:
    ScreenshotKey key_;
};

}  // namespace

std::unique_ptr<RunOutput> makeScreenshotKeyOutput(const RunOptions& options)
{
    if (options.headless) return nullptr;
    return std::make_unique<ScreenshotKeyOutput>();
}
