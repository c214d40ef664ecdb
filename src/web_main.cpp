// The program in the browser: the page's canvas, keys and clock wired to the same start-up,
// frame and shut-down as the native program, one frame per animation frame of the page.
// The page (web/index.html) creates one instance of the module per run and calls zxStart with
// the options of its address; a stop (Escape, the frame limit, an error) ends the instance.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "app/graphics.h"
#include "app/input.h"
#include "app/trace.h"
#include "base/data_folder.h"
#include "base/fatal_error.h"
#include "base/path_option.h"
#include "objects/random.h"
#include "platform/audio/openal_engine.h"
#include "platform/web/canvas_glyphs.h"
#include "platform/web/web_canvas.h"
#include "platform/web/web_input.h"
#include "platform/web/web_page.h"
#include "platform/web/web_pictures.h"
#include "session/scripted_keyboard.h"
#include "sound/sound_engine.h"
#include "state/settings.h"

namespace {

// Where the page's data sets lie in the in-memory file system (the bundled one, and one the
// landscape tool made from the user's picture), and where a run's outputs go.
constexpr const char* bundledFolder = "/data";
constexpr const char* ownFolder = "/custom";
constexpr const char* traceFile = "/out/trace.csv";

struct WebRun {
    int64_t frameLimit = -1;
    std::unique_ptr<TickSource> clock;
    WebClock* liveClock = nullptr;
    std::unique_ptr<ScriptedKeyboard> script;
    TraceWriter trace;
    bool tracing = false;
    RgbaImage lastFrame;
    std::unique_ptr<OpenAlEngine> sound;
    std::string error;
    double workMs = 0;  // spent in the frames so far (the browser's drawing goes on beside it)
};

WebRun* run = nullptr;
WebPictureReader pictures;

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "zentrix: %s\n", message.c_str());
    tellPageStopped("error", message);
    return status;
}

// An option of the page's address, in the command line's range; empty text means "not given"
// and leaves value alone.
bool parseNumber(const char* text, const char* option, int64_t low, int64_t high, int64_t& value, std::string& error)
{
    if (!text || !*text || parseWholeNumber(text, low, high, value)) return true;
    error = std::string(option) + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
            ", not \"" + text + "\"";
    return false;
}

class PageMouse : public MouseSource {
public:
    bool read(int32_t& dx, int32_t& dy, int32_t& wheel, uint8_t buttons[8]) override
    {
        dx = dy = wheel = 0;
        std::memset(buttons, 0, 8);
        return true;
    }
};

bool lastFrame() { return run->frameLimit >= 0 && frameIndex + 1 >= run->frameLimit; }

void installHooks()
{
    appHooks.messageBox = [](const char* text) { std::fprintf(stderr, "zentrix: %s\n", text); };
    appHooks.createInput = []() -> int {
        std::unique_ptr<KeyboardSource> keyboard;
        if (run->script)
            keyboard = std::move(run->script);
        else
            keyboard = std::make_unique<WebKeyboard>(tellPageKey);
        return createInput(std::move(keyboard), std::make_unique<PageMouse>());
    };
    appHooks.afterFrame = [] {
        if (run->tracing && !run->trace.writeRow() && run->error.empty()) {
            run->error = run->trace.error();
            requestClose();
        }
        if (frameIndex == 0) tellPageFirstFrame();
        if (lastFrame()) requestClose();
    };
    appHooks.beforePresent = [] {
        if (!(quitPosted() || lastFrame()) || run->frameLimit < 0 || !graphicsDevice) return;
        if (!graphicsDevice->readBackBuffer(run->lastFrame)) run->error = "cannot read the canvas back";
    };
}

void finish()
{
    stopPageFrames();
    shutDown();
    std::string error = run->error;
    const char* reason = !error.empty()                                             ? "error"
                         : run->frameLimit >= 0 && frameIndex >= run->frameLimit ? "frames"
                                                                                  : "escape";
    if (run->tracing) {
        if (error.empty() && !(run->trace.finish() && run->trace.commit())) error = run->trace.error();
        if (!error.empty()) run->trace.abandon();
    }
    appHooks = AppHooks{};
    setTickSource(nullptr);
    setSoundEngine(nullptr);
    run->sound.reset();
    if (!error.empty()) std::fprintf(stderr, "zentrix: %s\n", error.c_str());
    tellPageStopped(error.empty() ? reason : "error", error);
}

void frame()
{
    if (quitPosted()) {
        finish();
        return;
    }
    // The time the browser took between two frames belongs to the next one.
    if (run->liveClock && frameIndex > 0)
        run->liveClock->startFrameAt(frameClock.frameStartTick + static_cast<uint32_t>(frameClock.frameMs));
    const double begin = pageNow();
    loopTick();
    run->workMs += pageNow() - begin;
}

// The page's screen size: empty for the data set's, or one of the program's two display modes.
bool parseScreenSize(const char* text, int32_t& width, int32_t& height, std::string& error)
{
    if (!text || !*text) return true;
    if (std::strcmp(text, "800x600") == 0) width = 800, height = 600;
    else if (std::strcmp(text, "1024x768") == 0) width = 1024, height = 768;
    else {
        error = std::string("resolution must be 800x600 or 1024x768, not '") + text + "'";
        return false;
    }
    return true;
}

int start(const char* frames, const char* seed, const char* fixedStep, const char* keys, const char* data,
          const char* resolution)
{
    const char* dataFolder = data && std::strcmp(data, ownFolder) == 0 ? ownFolder : bundledFolder;
    if (data && *data && dataFolder != ownFolder && std::strcmp(data, bundledFolder) != 0)
        return fail(2, std::string("no data set ") + data + " in the page (" + bundledFolder + " or " + ownFolder + ")");
    std::string error;
    int64_t frameLimit = -1, seedValue = -1, step = -1;
    // The ranges of the command line's --frames, --seed and --fixed-step.
    if (!parseNumber(frames, "frames", 0, INT64_MAX, frameLimit, error) ||
        !parseNumber(seed, "seed", 0, UINT32_MAX, seedValue, error) ||
        !parseNumber(fixedStep, "fixed-step", 0, 1000000, step, error))
        return fail(2, error);
    int32_t width = 0, height = 0;
    if (!parseScreenSize(resolution, width, height, error)) return fail(2, error);
    run->frameLimit = frameLimit;
    if (keys && *keys) {
        run->script = std::make_unique<ScriptedKeyboard>([] { return frameIndex; });
        // Lines of the script are separated by ';' in an address.
        std::string text(keys);
        for (char& c : text)
            if (c == ';') c = '\n';
        if (!run->script->parse(text, "keys", error)) return fail(2, error);
    }
    setDataFolder(dataFolder);
    if (frameLimit >= 0) {
        mkdir("/out", 0755);  // in the instance's own memory: nothing of the user's is there
        run->tracing = true;
        if (!run->trace.open(traceFile, error)) return fail(1, error);
    }

    if (step >= 0) {
        run->clock = std::make_unique<VirtualClock>(static_cast<uint32_t>(step));
    } else {
        auto live = std::make_unique<WebClock>();
        run->liveClock = live.get();
        run->clock = std::move(live);
    }
    setPictureReader(&pictures);
    // Web Audio through emscripten's OpenAL; the browser lets it sound from the first click or
    // key on. A run with a frame limit is a test's and stays silent, as a headless run does.
    if (frameLimit < 0) {
        run->sound = std::make_unique<OpenAlEngine>(OpenAlEngine::Output::Device);
        setSoundEngine(run->sound.get());
    } else {
        setSoundEngine(nullptr, "no sound in a run with a frame limit");
    }
    setGlyphRasterizerFactory(createCanvasRasterizer);
    createFonts();
    setTickSource(run->clock.get());
    seedRandom(seedValue >= 0 ? static_cast<uint32_t>(seedValue)
                              : step >= 0 ? 0u : pageMilliseconds());
    if (!loadResolutionSettings()) return fail(1, fatalErrorMessage());
    if (width > 0) appSettings.screenWidth = width, appSettings.screenHeight = height;
    setCanvasSize(appSettings.screenWidth, appSettings.screenHeight);
    setGraphicsSystemFactory(createWebGraphicsSystem);
    installHooks();
    if (frameLimit == 0) requestClose();
    if (!startUp()) {
        shutDown();
        return fail(1, fatalErrorPending() ? fatalErrorMessage() : "the keyboard could not be read");
    }
    // The browser paces the frames: each measures the time since the last one ended.
    if (run->liveClock) appSettings.pacingMode = 2;
    runPageFrames(frame);
    return 0;
}

}  // namespace

// The page's calls, exported by name (cmake/web.cmake).
extern "C" {

// Starts the run; the options are the text of the page's address (empty: not given; resolution
// 800x600 or 1024x768 in place of the data set's display mode), data the
// data set ("/data", the bundled one, or "/custom", made by zxMakeLandscape). Returns 0
// when the first frame is scheduled, 1 for a data or platform problem, 2 for a bad option; the
// page hears of every end through Module.onZentrixStopped(reason, message).
int zxStart(const char* frames, const char* seed, const char* fixedStep, const char* keys, const char* data,
            const char* resolution)
{
    if (run) return fail(2, "a run is already going in this instance");
    run = new WebRun;  // lives as long as the instance
    return start(frames, seed, fixedStep, keys, data, resolution);
}

// Ends the run after the frame now due, as Escape does.
void zxStop() { requestClose(); }

// The last frame's picture of a run with a frame limit, top row first, 4 bytes a pixel (RGBA).
int zxPictureWidth() { return run ? run->lastFrame.width : 0; }
int zxPictureHeight() { return run ? run->lastFrame.height : 0; }
const uint8_t* zxPicture() { return run ? run->lastFrame.pixels.data() : nullptr; }
// Frames run so far, for the page's frame rate.
double zxFrameIndex() { return static_cast<double>(frameIndex); }
// Milliseconds spent in the frames so far, for measuring.
double zxFrameWorkMs() { return run ? run->workMs : 0.0; }

}  // extern "C"

int main() { return 0; }
