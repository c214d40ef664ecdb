#include "app/run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

#include "app/application.h"
#include "app/data_home.h"
#include "state/clock.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "app/input.h"
#include "app/run_outputs.h"
#include "app/run_files.h"
#include "session/scripted_keyboard.h"
#include "state/settings.h"
#include "objects/random.h"
#include "platform/audio/openal_engine.h"
#include "base/data_folder.h"
#include "base/stop_signals.h"
#include "platform/gl/gl_system.h"
#include "platform/image/image_loader.h"
#include "platform/glyphs/freetype_rasterizer.h"
#include "platform/sdl/sdl_platform.h"
#include "sound/sound_engine.h"

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "zentrix: %s\n", message.c_str());
    return 1;
}

// The picture reader textures load through, for the length of a run.
struct PictureReaderScope {
    ImageFileReader reader;
    PictureReader* previous = pictureReader();
    PictureReaderScope() { setPictureReader(&reader); }
    ~PictureReaderScope() { setPictureReader(previous); }
};

// The sound engine the game sounds see, for the length of a run.
struct SoundEngineScope {
    SoundEngineScope(SoundEngine* engine, const std::string& silentReason) { setSoundEngine(engine, silentReason); }
    ~SoundEngineScope() { setSoundEngine(nullptr); }
};

// A run ends early with this status unless a step returns carryOn.
constexpr int carryOn = -1;

// Everything one run holds. Members are made in the order of the start-up sequence and go in the
// reverse order, as locals of one long function would.
struct Run {
    explicit Run(const RunOptions& o) : options(o), outputs(o) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const RunOptions& options;
    RunOutputs outputs;
    std::unique_ptr<ScriptedKeyboard> script;
    std::unique_ptr<OpenAlEngine> audioEngine;
    std::optional<SoundEngineScope> soundScope;
    PictureReaderScope pictures;
    std::unique_ptr<TickSource> clock;
    SdlVideo video;
    SdlWindow window;
    bool windowClosed = false;
};

// The session and key script the run reads, and the data folder.
int resolveInputs(Run& run)
{
    const RunOptions& options = run.options;
    std::string error;
    if (!run.outputs.readInputs(error)) return fail(error);
    if (!options.keysFile.empty()) {
        run.script = std::make_unique<ScriptedKeyboard>([] { return frameIndex; });
        if (!run.script->load(options.keysFile, error)) {
            std::fprintf(stderr, "zentrix: %s\n", error.c_str());
            return 2;
        }
    }
    std::string dataDir = options.dataDir;
    if (!chooseDataFolder(dataDir, error)) return fail(error);
    // Data files keep their plain names where the data folder is the one the user started in.
    std::error_code ec;
    const bool elsewhere = !dataDir.empty() && !std::filesystem::equivalent(dataDir, ".", ec);
    const std::filesystem::path folder = std::filesystem::absolute(dataDir, ec);
    // The folder is searched as a working folder would be, with the same failures.
    if (elsewhere && access(folder.c_str(), X_OK) != 0)
        return fail("cannot enter the data folder " + dataDir + ": " + std::strerror(errno));
    if (elsewhere && !std::filesystem::is_directory(folder, ec))
        return fail("cannot enter the data folder " + dataDir + ": " + std::strerror(ENOTDIR));
    setDataFolder(elsewhere ? std::filesystem::weakly_canonical(folder, ec).string() : std::string());
    return carryOn;
}

// An output that is an input would replace what the run reads; two outputs on one file would
// mix. Both are mistakes on the command line.
int checkOutputClashes(const Run& run)
{
    std::vector<RunFile> outputs, inputs = dataFolderInputs();
    if (!run.options.keysFile.empty()) inputs.push_back({run.options.keysFile, "the key script " + run.options.keysFile});
    run.outputs.listFiles(outputs, inputs);
    outputs.push_back({dataPath(logFileName), "the log " + shownPath(logFileName)});
    std::string error;
    if (!checkOutputsAgainstInputs(outputs, inputs, error)) {
        std::fprintf(stderr, "zentrix: %s\n", error.c_str());
        return 2;
    }
    return carryOn;
}

// Output files are created before any work, so a bad path fails at once.
int openOutputs(Run& run)
{
    std::string error;
    return run.outputs.open(error) ? carryOn : fail(error);
}

// Sound goes to the sound device, or through the loopback mixer to the outputs that want it; a
// headless run without one stays silent.
int startSound(Run& run)
{
    std::string silentReason;
    if (run.outputs.wantsMix(run.options.headless)) {
        run.audioEngine = std::make_unique<OpenAlEngine>(OpenAlEngine::Output::Loopback);
        OpenAlEngine* engine = run.audioEngine.get();
        run.outputs.attachMix([engine](int16_t* out, size_t frames) { engine->render(out, frames); });
    } else if (!run.options.headless) {
        run.audioEngine = std::make_unique<OpenAlEngine>(OpenAlEngine::Output::Device);
    } else {
        silentReason = "no sound in a headless run without --audio-out";
    }
    run.soundScope.emplace(run.audioEngine.get(), silentReason);
    return carryOn;
}

// The clock, the fonts, the random seed, the resolution settings and the window, in the order
// the program loads them.
int startPlatform(Run& run)
{
    const RunOptions& options = run.options;
    if (options.fixedStepMs >= 0)
        run.clock = std::make_unique<VirtualClock>(static_cast<uint32_t>(options.fixedStepMs));
    else
        run.clock = std::make_unique<SystemClock>();
    run.clock = run.outputs.clock(std::move(run.clock), !options.headless);

    std::string error;
    if (!run.video.start(options.headless, error)) return fail(error);
    // The fonts exist before the window, as the program loads; their glyphs come with the device.
    setGlyphRasterizerFactory(createFreeTypeRasterizer);
    createFonts();
    setTickSource(run.clock.get());
    // A virtual clock stands at 0, so fixed-step runs stay reproducible; otherwise the time since
    // boot makes every run's water and stars different.
    if (options.seedGiven)
        seedRandom(run.outputs.seed(options.seed));
    else
        seedRandom(run.outputs.seed(options.fixedStepMs >= 0 ? 0u : bootMilliseconds()));

    if (!loadResolutionSettings()) {
        shutDown();
        return fail(fatalErrorMessage());
    }
    setGlWindowAttributes();
    if (!run.window.create("My Zentrix", appSettings.screenWidth, appSettings.screenHeight,
                           appSettings.fullScreen != 0, options.headless, error))
        return fail(error);
    SDL_Window* handle = run.window.handle();
    mainWindow = handle;
    const bool headless = options.headless;
    setGraphicsSystemFactory([handle, headless] { return createGlGraphicsSystem(handle, headless); });
    return carryOn;
}

bool lastFrameOf(int64_t frameLimit) { return frameLimit >= 0 && frameIndex + 1 >= frameLimit; }

// What the lifecycle asks of the platform and of the outputs.
void installHooks(Run& run)
{
    SDL_Window* handle = run.window.handle();
    appHooks.messageBox = [handle](const char* text) {
        std::fprintf(stderr, "zentrix: %s\n", text);
        showSdlMessageBox(handle, text);
    };
    appHooks.createInput = [&run]() -> int {
        std::unique_ptr<KeyboardSource> keyboard;
        if (run.script)
            keyboard = std::move(run.script);
        else
            keyboard = std::make_unique<SdlKeyboard>(run.window);
        keyboard = run.outputs.keyboard(std::move(keyboard));
        return createInput(std::move(keyboard), std::make_unique<SdlMouse>(run.window));
    };
    const int64_t frameLimit = run.options.frames;
    appHooks.afterFrame = [&run, frameLimit] {
        run.outputs.afterFrame();
        if (lastFrameOf(frameLimit)) requestClose();
    };
    appHooks.beforePresent = [&run, frameLimit] {
        run.outputs.beforePresent(quitPosted() || lastFrameOf(frameLimit), !run.options.headless);
    };
}

// Start-up, then one window event and one frame per pass until a close.
int runFrames(Run& run)
{
    const int64_t frameLimit = run.options.frames;
    if (run.outputs.frameTotal(frameLimit) == 0) requestClose();
    // The time before the sound starts is silence, so that the mix lines up with the clock.
    std::string error;
    if (!run.outputs.beginFrames(frameLimit, error)) return fail(error);
    setActivity("starting up");
    if (!startUp() && fatalErrorPending()) {
        shutDown();
        return fail(fatalErrorMessage());
    }
    if (!run.outputs.startUpDone(error) || stopSignal()) {
        shutDown();
        return fail(stopSignal() ? stopMessage() : error);
    }
    setActivity("running");
    while (!quitPosted()) {
        if (stopSignal()) run.outputs.fail(stopMessage());
        if (pollOneEvent()) {
            run.windowClosed = true;
            requestClose();
        }
        loopTick();
    }
    return carryOn;
}

// Shut-down, then every output closed; the first failure decides the status.
int finishRun(Run& run)
{
    setActivity("shutting down");
    shutDown();
    const int64_t frameLimit = run.options.frames;
    const char* reason = run.windowClosed                             ? "close"
                         : frameLimit >= 0 && frameIndex >= frameLimit ? "frames"
                                                                        : "escape";
    std::string error;
    const bool ok = run.outputs.end(reason, error);
    mainWindow = nullptr;
    appHooks = AppHooks{};
    setTickSource(nullptr);
    return ok ? 0 : fail(error);
}

}  // namespace

int runApplication(const RunOptions& options)
{
    Run run(options);
    for (int (*step)(Run&) : {resolveInputs, +[](Run& r) { return checkOutputClashes(r); }, openOutputs, startSound,
                              startPlatform}) {
        if (const int status = step(run); status != carryOn) return status;
        if (stopSignal()) return fail(stopMessage());
    }
    installHooks(run);
    if (const int status = runFrames(run); status != carryOn) return status;
    return finishRun(run);
}
