#include "app/run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

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
#include "app/scripted_keyboard.h"
#include "state/settings.h"
#include "app/trace.h"
#include "objects/random.h"
#include "platform/audio/openal_engine.h"
#include "base/checked_file.h"
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

// Paths given on the command line are taken relative to where the program was started, not to
// the data folder it changes into.
std::string absolutePath(const std::string& path)
{
    if (path.empty()) return path;
    std::error_code ec;
    const auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.string();
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

}  // namespace

int runApplication(const RunOptions& options)
{
    const std::string keysFile = absolutePath(options.keysFile);
    const std::string traceFile = absolutePath(options.traceFile);
    const std::string screenshotFile = absolutePath(options.screenshotFile);
    const std::string audioOutFile = absolutePath(options.audioOutFile);
    RunOptions absolute = options;
    absolute.keysFile = keysFile;
    absolute.recordFile = absolutePath(options.recordFile);
    absolute.replayFile = absolutePath(options.replayFile);
    absolute.videoFile = absolutePath(options.videoFile);
    RunExtras extras;
    {
        std::string error;
        int status = 1;
        if (!extras.load(absolute, error, status)) {
            std::fprintf(stderr, "zentrix: %s\n", error.c_str());
            return status;
        }
    }

    std::unique_ptr<ScriptedKeyboard> script;
    if (!keysFile.empty()) {
        script = std::make_unique<ScriptedKeyboard>([] { return frameIndex; });
        std::string error;
        if (!script->load(keysFile, error)) {
            std::fprintf(stderr, "zentrix: %s\n", error.c_str());
            return 2;
        }
    }
    std::string dataDir = options.dataDir;
    if (std::string error; !chooseDataFolder(dataDir, error)) return fail(error);
    if (!dataDir.empty() && chdir(dataDir.c_str()) != 0)
        return fail("cannot enter the data folder " + dataDir + ": " + std::strerror(errno));

    // An output that is an input would replace what the run reads; two outputs on one file would
    // mix. Both are mistakes on the command line.
    {
        std::vector<RunFile> outputs;
        if (!traceFile.empty()) outputs.push_back({traceFile, "--trace " + options.traceFile});
        if (!screenshotFile.empty()) outputs.push_back({screenshotFile, "--screenshot " + options.screenshotFile});
        if (!audioOutFile.empty()) outputs.push_back({audioOutFile, "--audio-out " + options.audioOutFile});
        if (!absolute.recordFile.empty()) outputs.push_back({absolute.recordFile, "--record " + options.recordFile});
        if (!absolute.videoFile.empty()) outputs.push_back({absolute.videoFile, "--video " + options.videoFile});
        outputs.push_back({logFileName, std::string("the log ") + logFileName});
        std::vector<RunFile> inputs = dataFolderInputs();
        if (!keysFile.empty()) inputs.push_back({keysFile, "the key script " + options.keysFile});
        if (!absolute.replayFile.empty()) inputs.push_back({absolute.replayFile, "the session " + options.replayFile});
        std::string error;
        if (!checkOutputsAgainstInputs(outputs, inputs, error)) {
            std::fprintf(stderr, "zentrix: %s\n", error.c_str());
            return 2;
        }
    }
    // A reader that goes away turns into a failed write with its own message, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    // Output files are created before any work, so a bad path fails at once.
    {
        std::string error;
        if (!extras.prepare(error)) {
            extras.finish("error", false, error);
            return fail(error);
        }
    }
    // Every later return ends the session and the video, so that a failed run leaves no video.
    bool runOk = false;
    const char* endReason = "error";
    struct FinishExtras {
        RunExtras& extras;
        bool& ok;
        const char*& reason;
        ~FinishExtras()
        {
            std::string ignored;
            if (!ok) extras.finish(reason, false, ignored);
        }
    } finishExtras{extras, runOk, endReason};
    TraceWriter trace;
    if (!traceFile.empty()) {
        std::string error;
        if (!trace.open(traceFile, error)) return fail(error);
    }
    OutputFile screenshot;
    if (!screenshotFile.empty() && !screenshot.open(screenshotFile, "screenshot")) return fail(screenshot.error());
    bool screenshotWritten = false;
    // A run that ends before its last frame leaves no empty picture behind, and an existing file
    // as it was.
    struct DiscardUnwritten {
        OutputFile& file;
        const bool& written;
        ~DiscardUnwritten()
        {
            if (!written) file.discard();
        }
    } discardUnwritten{screenshot, screenshotWritten};

    // Sound goes to the sound device, or with --audio-out through the loopback mixer into a file;
    // a headless run without a file stays silent.
    std::unique_ptr<OpenAlEngine> audioEngine;
    AudioOut audioOut;
    std::string silentReason;
    if (!audioOutFile.empty() || extras.wantsLoopback(options.headless)) {
        audioEngine = std::make_unique<OpenAlEngine>(OpenAlEngine::Output::Loopback);
        OpenAlEngine* engine = audioEngine.get();
        std::string error;
        auto render = [engine](int16_t* out, size_t frames) { engine->render(out, frames); };
        if (!audioOutFile.empty() && !audioOut.open(audioOutFile, render, error)) return fail(error);
        audioOut.setRenderer(render);
        extras.attachSound(audioOut);
    } else if (!options.headless) {
        audioEngine = std::make_unique<OpenAlEngine>(OpenAlEngine::Output::Device);
    } else {
        silentReason = "no sound in a headless run without --audio-out";
    }
    SoundEngineScope soundScope(audioEngine.get(), silentReason);
    PictureReaderScope pictures;

    std::unique_ptr<TickSource> clock;
    if (options.fixedStepMs >= 0)
        clock = std::make_unique<VirtualClock>(static_cast<uint32_t>(options.fixedStepMs));
    else
        clock = std::make_unique<SystemClock>();
    clock = extras.clock(std::move(clock));

    SdlVideo video;
    std::string error;
    if (!video.start(options.headless, error)) return fail(error);
    // The fonts exist before the window, as the program loads; their glyphs come with the device.
    setGlyphRasterizerFactory(createFreeTypeRasterizer);
    createFonts();
    setTickSource(clock.get());
    // A virtual clock stands at 0, so fixed-step runs stay reproducible; otherwise the time since
    // boot makes every run's water and stars different.
    if (options.seedGiven)
        seedRandom(extras.seed(options.seed));
    else
        seedRandom(extras.seed(options.fixedStepMs >= 0 ? 0u : bootMilliseconds()));

    if (!loadResolutionSettings()) {
        shutDown();
        return fail(fatalErrorMessage());
    }
    setGlWindowAttributes();
    SdlWindow window;
    if (!window.create("My Zentrix", appSettings.screenWidth, appSettings.screenHeight, appSettings.fullScreen != 0,
                       options.headless, error))
        return fail(error);

    SDL_Window* handle = window.handle();
    mainWindow = handle;
    const bool headless = options.headless;
    setGraphicsSystemFactory([handle, headless] { return createGlGraphicsSystem(handle, headless); });

    appHooks.messageBox = [handle](const char* text) {
        std::fprintf(stderr, "zentrix: %s\n", text);
        showSdlMessageBox(handle, text);
    };
    appHooks.createInput = [&]() -> int {
        std::unique_ptr<KeyboardSource> keyboard;
        if (script)
            keyboard = std::move(script);
        else
            keyboard = std::make_unique<SdlKeyboard>(window);
        keyboard = extras.keyboard(std::move(keyboard));
        return createInput(std::move(keyboard), std::make_unique<SdlMouse>(window));
    };
    const int64_t frameLimit = options.frames;
    // The first output that fails ends the run: what follows could not be kept anyway.
    std::string outputError;
    appHooks.afterFrame = [&trace, &audioOut, &outputError, &extras, frameLimit] {
        if (!trace.writeRow() && outputError.empty()) {
            outputError = trace.error();
            requestClose();
        }
        std::string why;
        if (!audioOut.advanceTo(outputTickCount(), why) && outputError.empty()) {
            outputError = why;
            requestClose();
        }
        if (!extras.afterFrame(frameLimit, why) && outputError.empty()) {
            outputError = why;
            requestClose();
        }
        if (frameLimit >= 0 && frameIndex + 1 >= frameLimit) requestClose();
    };
    appHooks.beforePresent = [&] {
        std::string why;
        if (outputError.empty() && !extras.beforePresent(!headless, why)) {
            outputError = why;
            requestClose();
        }
        const bool lastFrame = quitPosted() || (frameLimit >= 0 && frameIndex + 1 >= frameLimit);
        if (!screenshot.isOpen() || !lastFrame || !graphicsDevice || !outputError.empty()) return;
        RgbaImage image;
        if (!graphicsDevice->readBackBuffer(image))
            outputError = "cannot read the back buffer for the screenshot " + screenshotFile;
        else if (!writePng(screenshot, image, why))
            outputError = why;
        else
            screenshotWritten = true;
    };

    if (frameLimit == 0 || extras.frameTotal(frameLimit) == 0) requestClose();
    // The time before the sound starts is silence, so that the file lines up with the clock.
    if (!audioOut.advanceTo(outputTickCount(), error)) return fail(error);
    setActivity("starting up");
    if (!startUp() && fatalErrorPending()) {
        shutDown();
        return fail(fatalErrorMessage());
    }
    if (!extras.startUpDone(error)) {
        shutDown();
        return fail(error);
    }
    setActivity("running");
    // One window event per pass, then one frame; a close leaves the loop on the next pass.
    bool windowClosed = false;
    while (!quitPosted()) {
        if (pollOneEvent()) {
            windowClosed = true;
            requestClose();
        }
        loopTick();
    }
    setActivity("shutting down");
    shutDown();
    endReason = !outputError.empty() ? "error" : windowClosed ? "close" : frameLimit >= 0 && frameIndex >= frameLimit ? "frames" : "escape";
    if (!trace.close() && outputError.empty()) outputError = trace.error();
    if (screenshotWritten && !screenshot.close() && outputError.empty()) outputError = screenshot.error();
    if (!audioOut.close(error) && outputError.empty()) outputError = error;
    runOk = true;
    if (!extras.finish(endReason, outputError.empty(), error) && outputError.empty()) outputError = error;
    mainWindow = nullptr;
    appHooks = AppHooks{};
    setTickSource(nullptr);
    if (!outputError.empty()) return fail(outputError);
    return 0;
}
