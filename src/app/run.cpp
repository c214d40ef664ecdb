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
#include "app/audio_out.h"
#include "app/data_home.h"
#include "state/clock.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "app/input.h"
#include "app/run_extras.h"
#include "app/outputs.h"
#include "session/scripted_keyboard.h"
#include "state/settings.h"
#include "app/trace.h"
#include "objects/random.h"
#include "platform/audio/openal_engine.h"
#include "base/checked_file.h"
#include "base/data_folder.h"
#include "base/stop_signals.h"
#include "platform/gl/gl_system.h"
#include "platform/image/image_loader.h"
#include "platform/image/png_writer.h"
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
// reverse order, as locals of one long function would; the guards are made only once what they
// guard exists.
struct Run {
    explicit Run(const RunOptions& o) : options(o) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const RunOptions& options;
    RunExtras extras;
    std::unique_ptr<ScriptedKeyboard> script;

    // Every return after the outputs exist ends the session and the video, so that a failed run
    // leaves no video.
    bool runOk = false;
    const char* endReason = "error";
    struct FinishExtras {
        explicit FinishExtras(Run& r) : run(r) {}
        FinishExtras(const FinishExtras&) = delete;  // a copy going out of scope would end the session
        Run& run;
        ~FinishExtras()
        {
            std::string ignored;
            if (!run.runOk) run.extras.finish(run.endReason, false, ignored);
        }
    };
    std::optional<FinishExtras> finishExtras;
    TraceWriter trace;
    OutputFile screenshot;
    bool screenshotWritten = false;
    // A run that ends before its last frame leaves no empty picture behind, and an existing file
    // as it was.
    struct DiscardUnwritten {
        explicit DiscardUnwritten(Run& r) : run(r) {}
        DiscardUnwritten(const DiscardUnwritten&) = delete;
        Run& run;
        ~DiscardUnwritten()
        {
            if (!run.screenshotWritten) run.screenshot.discard();
        }
    };
    std::optional<DiscardUnwritten> discardUnwritten;

    std::unique_ptr<OpenAlEngine> audioEngine;
    AudioOut audioOut;
    std::optional<SoundEngineScope> soundScope;
    PictureReaderScope pictures;
    std::unique_ptr<TickSource> clock;
    SdlVideo video;
    SdlWindow window;
    // The first output that fails ends the run: what follows could not be kept anyway.
    std::string outputError;
    bool windowClosed = false;
};

// The session and key script the run reads, and the data folder.
int resolveInputs(Run& run)
{
    const RunOptions& options = run.options;
    std::string error;
    int status = 1;
    if (!run.extras.load(options, error, status)) {
        std::fprintf(stderr, "zentrix: %s\n", error.c_str());
        return status;
    }
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
    const RunOptions& options = run.options;
    std::vector<RunFile> outputs;
    if (!run.options.traceFile.empty()) outputs.push_back({run.options.traceFile, "--trace " + options.traceFile});
    if (!run.options.screenshotFile.empty()) outputs.push_back({run.options.screenshotFile, "--screenshot " + options.screenshotFile});
    if (!run.options.audioOutFile.empty()) outputs.push_back({run.options.audioOutFile, "--audio-out " + options.audioOutFile});
    if (!run.options.recordFile.empty()) outputs.push_back({run.options.recordFile, "--record " + options.recordFile});
    if (!run.options.videoFile.empty()) outputs.push_back({run.options.videoFile, "--video " + options.videoFile});
    outputs.push_back({dataPath(logFileName), "the log " + shownPath(logFileName)});
    std::vector<RunFile> inputs = dataFolderInputs();
    if (!run.options.keysFile.empty()) inputs.push_back({run.options.keysFile, "the key script " + options.keysFile});
    if (!run.options.replayFile.empty())
        inputs.push_back({run.options.replayFile, "the session " + options.replayFile});
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
    if (!run.extras.prepare(error)) {
        run.extras.finish("error", false, error);
        return fail(error);
    }
    run.finishExtras.emplace(run);
    if (!run.options.traceFile.empty() && !run.trace.open(run.options.traceFile, error)) return fail(error);
    if (!run.options.screenshotFile.empty() &&
        !run.screenshot.open(run.options.screenshotFile, "screenshot", OutputFile::Accept::AnyFile, OutputFile::Unfinished::Removed))
        return fail(run.screenshot.error());
    run.discardUnwritten.emplace(run);
    return carryOn;
}

// Sound goes to the sound device, or with --audio-out through the loopback mixer into a file;
// a headless run without a file stays silent.
int startSound(Run& run)
{
    std::string silentReason;
    if (!run.options.audioOutFile.empty() || run.extras.wantsLoopback(run.options.headless)) {
        run.audioEngine = std::make_unique<OpenAlEngine>(OpenAlEngine::Output::Loopback);
        OpenAlEngine* engine = run.audioEngine.get();
        std::string error;
        auto render = [engine](int16_t* out, size_t frames) { engine->render(out, frames); };
        if (!run.options.audioOutFile.empty() && !run.audioOut.open(run.options.audioOutFile, render, error)) return fail(error);
        run.audioOut.setRenderer(render);
        run.extras.attachSound(run.audioOut);
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
    run.clock = run.extras.clock(std::move(run.clock), !options.headless);

    std::string error;
    if (!run.video.start(options.headless, error)) return fail(error);
    // The fonts exist before the window, as the program loads; their glyphs come with the device.
    setGlyphRasterizerFactory(createFreeTypeRasterizer);
    createFonts();
    setTickSource(run.clock.get());
    // A virtual clock stands at 0, so fixed-step runs stay reproducible; otherwise the time since
    // boot makes every run's water and stars different.
    if (options.seedGiven)
        seedRandom(run.extras.seed(options.seed));
    else
        seedRandom(run.extras.seed(options.fixedStepMs >= 0 ? 0u : bootMilliseconds()));

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

// Keeps the first output failure and ends the run after this frame.
void outputFailed(Run& run, const std::string& why)
{
    if (!run.outputError.empty()) return;
    run.outputError = why;
    requestClose();
}

// The last frame that runs goes to the screenshot, read back before it is presented.
void takeScreenshot(Run& run)
{
    if (!run.screenshot.isOpen() || !run.outputError.empty() || !graphicsDevice) return;
    RgbaImage image;
    std::string why;
    if (!graphicsDevice->readBackBuffer(image))
        run.outputError = "cannot read the back buffer for the screenshot " + run.options.screenshotFile;
    else if (!writePng(run.screenshot, image, why))
        run.outputError = why;
    else
        run.screenshotWritten = true;
}

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
        keyboard = run.extras.keyboard(std::move(keyboard));
        return createInput(std::move(keyboard), std::make_unique<SdlMouse>(run.window));
    };
    const int64_t frameLimit = run.options.frames;
    appHooks.afterFrame = [&run, frameLimit] {
        if (!run.trace.writeRow()) outputFailed(run, run.trace.error());
        std::string why;
        if (!run.audioOut.advanceTo(outputTickCount(), why)) outputFailed(run, why);
        if (!run.extras.afterFrame(frameLimit, why)) outputFailed(run, why);
        if (lastFrameOf(frameLimit)) requestClose();
    };
    appHooks.beforePresent = [&run, frameLimit] {
        std::string why;
        if (run.outputError.empty() && !run.extras.beforePresent(!run.options.headless, why)) outputFailed(run, why);
        if (quitPosted() || lastFrameOf(frameLimit)) takeScreenshot(run);
    };
}

// Start-up, then one window event and one frame per pass until a close.
int runFrames(Run& run)
{
    const int64_t frameLimit = run.options.frames;
    if (frameLimit == 0 || run.extras.frameTotal(frameLimit) == 0) requestClose();
    // The time before the sound starts is silence, so that the file lines up with the clock.
    std::string error;
    if (!run.audioOut.advanceTo(outputTickCount(), error)) return fail(error);
    setActivity("starting up");
    if (!startUp() && fatalErrorPending()) {
        shutDown();
        return fail(fatalErrorMessage());
    }
    if (!run.extras.startUpDone(error) || stopSignal()) {
        shutDown();
        return fail(stopSignal() ? stopMessage() : error);
    }
    setActivity("running");
    while (!quitPosted()) {
        if (stopSignal()) outputFailed(run, stopMessage());
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
    std::string& outputError = run.outputError;
    run.endReason = !outputError.empty()                           ? "error"
                    : run.windowClosed                             ? "close"
                    : frameLimit >= 0 && frameIndex >= frameLimit ? "frames"
                                                                   : "escape";
    // Every output is completed first and put in place of an existing file only once all are: a
    // run that fails anywhere replaces nothing.
    std::string error;
    if (outputError.empty() && !run.trace.finish()) outputError = run.trace.error();
    if (outputError.empty() && run.screenshotWritten && !run.screenshot.finish()) outputError = run.screenshot.error();
    if (outputError.empty() && !run.audioOut.finish(error)) outputError = error;
    run.runOk = true;
    if (!run.extras.finish(outputError.empty() ? run.endReason : "error", outputError.empty(), error) &&
        outputError.empty())
        outputError = error;
    if (outputError.empty() && !run.trace.commit()) outputError = run.trace.error();
    if (outputError.empty() && run.screenshotWritten && !run.screenshot.commit()) outputError = run.screenshot.error();
    if (outputError.empty() && (!run.audioOut.commit(error) || !run.extras.commit(error))) outputError = error;
    if (!outputError.empty()) {
        run.trace.abandon();
        run.screenshot.abandon();
        run.audioOut.abandon();
        run.extras.abandon();
    }
    mainWindow = nullptr;
    appHooks = AppHooks{};
    setTickSource(nullptr);
    if (!outputError.empty()) return fail(outputError);
    return 0;
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
