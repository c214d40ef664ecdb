#include "app/command_line.h"

#include <cstring>

#include "base/checked_file.h"
#include "base/path_option.h"
#include "platform/video/video_encoder.h"

const char* usageText()
{
    return "Usage: zentrix [OPTIONS]\n"
           "A real-time 3-D landscape demo, configured by the text files in its data folder.\n"
           "\n"
           "Options:\n"
           "  --data DIR         run in DIR, the folder with the data files (default: current directory;\n"
           "                     an installed program started where there is no data set runs in\n"
           "                     $XDG_DATA_HOME/zentrix, a copy of its bundled set)\n"
           "  --headless         render off-screen, open no window or sound device (the program runs\n"
           "                     silent unless --audio-out is given); never wait for the display refresh\n"
           "  --frames N         run exactly N frames (0 ... N-1), then shut down normally\n"
           "  --fixed-step MS    a virtual millisecond clock replaces the system tick; it advances by\n"
           "                     MS after each frame's work and by 1 ms per pacing poll\n"
           "  --seed N           seed the random numbers with N instead of the milliseconds since\n"
           "                     boot (with --fixed-step: instead of 0)\n"
           "  --keys FILE        scripted keyboard: lines 'FIRST[-LAST] KEY...' hold keys down during\n"
           "                     those frames; keys UP DOWN LEFT RIGHT NUMPAD1 NUMPAD3 B V M N E W A F\n"
           "                     1 2 ESCAPE; '#' starts a comment\n"
           "  --trace FILE       write one CSV row per frame (timing, camera, settings, world state,\n"
           "                     and ground_height, land_tile, water_tile, water_frame: the ground\n"
           "                     height under the camera, the land and water tile found there (-1:\n"
           "                     none) and water tile 0's animation frame (-1: no water tiles))\n"
           "  --screenshot FILE  write the last frame that runs as a PNG (FILE ends in .png)\n"
           "  --audio-out FILE   mix the sound into FILE (16-bit stereo 44100 Hz WAV; FILE ends in .wav)\n"
           "                     instead of the sound device; after each frame the milliseconds the clock\n"
           "                     advanced are rendered, so sample n is the sound at n / 44.1 ms of the\n"
           "                     program's clock\n"
           "  --record FILE      write a session file: the random seed, every clock reading and the\n"
           "                     keys of every frame, and how the run ended; flushed every frame\n"
           "  --replay FILE      run the recorded session instead of the clock and the keyboard: the\n"
           "                     same trace, pictures and sound (keys are ignored, Escape ends it);\n"
           "                     in a window at the pace it was recorded, headless or with --video as\n"
           "                     fast as it can; refuses a session of another data folder, naming the\n"
           "                     file that differs\n"
           "  --video FILE       encode the frames and the sound into FILE: .mp4 or .mkv (H.264, AAC)\n"
           "                     or .webm (VP9, Opus); each frame lasts until the next one's tick\n"
           "  --video-fps N      a constant N frames per second (1 to 1000) instead; a frame fills at\n"
           "                     most 60 of them, the 60th lasting until the next frame\n"
           "  --video-quality Q  the encoder's constant rate factor: lower is better and larger\n"
           "                     (H.264 0 to 51, default 20; VP9 0 to 63, default 32)\n"
           "  --help             show this text and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Outputs: all five (--trace, --screenshot, --audio-out, --record, --video) are opened at\n"
           "start-up, so a bad path fails before the first frame; a failed write ends the run with\n"
           "status 1. The picture's name must end in .png, the sound's in .wav, the video's in .mp4,\n"
           ".mkv or .webm (in any case), or the command line is refused with status 2; a stream\n"
           "(/dev/stdout, /dev/stderr, /dev/fd/N, a pipe, a character device) is taken whatever its\n"
           "name, except by --video. No option takes an empty name.\n"
           "\n"
           "Keys: Up/Down move, Left/Right turn, Numpad 1/3 raise/lower the eye, V/B time factor,\n"
           "N/M launch speed, W/E launch angle, A sound on/off, F detail texture, 1/2 point/linear\n"
           "mip filtering, Escape quits; F12 in a window saves the frame in the data folder's\n"
           "screenshots/ folder.\n"
           "\n"
           "An existing output file is replaced only when the run ends normally; a stop signal\n"
           "(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2) ends the run early, leaving it as it was.\n"
           "/dev/stdout, /dev/stderr and /dev/fd/N are written where the descriptor stands.\n"
           "\n"
           "Exit status: 0 normal end, 1 a data or configuration problem or a stop signal, 2 a bad\n"
           "command line.\n";
}

namespace {

// Options that each read well but cannot be given together.
bool checkCombinations(const RunOptions& o, std::string& error)
{
    if (!o.replayFile.empty()) {
        // A replay takes its clock, seed and keys from the session.
        const char* clash = !o.recordFile.empty() ? "--record" : o.fixedStepMs >= 0 ? "--fixed-step"
                            : o.seedGiven ? "--seed" : !o.keysFile.empty() ? "--keys" : nullptr;
        if (clash) { error = std::string("--replay takes the clock, the seed and the keys from the session; ") + clash + " cannot be given with it"; return false; }
    }
    if (o.videoFile.empty() && (o.videoFps > 0 || o.videoQuality >= 0)) { error = "--video-fps and --video-quality need --video"; return false; }
    if (!o.videoFile.empty() && o.videoQuality > VideoEncoder::maxQuality(o.videoFile)) {
        error = "--video-quality for " + o.videoFile + " is at most " + std::to_string(VideoEncoder::maxQuality(o.videoFile)) + ", not " + std::to_string(o.videoQuality);
        return false;
    }
    return true;
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, RunOptions& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        int64_t n = 0;
        if (arg == "--help" || arg == "-h") {
            o.showHelp = true;
        } else if (arg == "--version") {
            o.showVersion = true;
        } else if (arg == "--headless") {
            o.headless = true;
        } else if (arg == "--data") {
            if (!value(v)) return false;
            if (!(error = pathOptionFault(arg, v, "folder name")).empty()) return false;
            o.dataDir = v;
        } else if (arg == "--frames") {
            if (!value(v)) return false;
            if (!parseWholeNumber(v, 0, INT64_MAX, n)) { error = "--frames needs a whole number of 0 or more, not " + quoteToken(v); return false; }
            o.frames = n;
        } else if (arg == "--fixed-step") {
            if (!value(v)) return false;
            if (!parseWholeNumber(v, 0, 1000000, n)) { error = "--fixed-step needs milliseconds from 0 to 1000000, not " + quoteToken(v); return false; }
            o.fixedStepMs = n;
        } else if (arg == "--seed") {
            if (!value(v)) return false;
            if (!parseWholeNumber(v, 0, UINT32_MAX, n)) { error = "--seed needs a whole number from 0 to 4294967295, not " + quoteToken(v); return false; }
            o.seedGiven = true;
            o.seed = static_cast<uint32_t>(n);
        } else if (arg == "--keys" || arg == "--trace" || arg == "--record" || arg == "--replay") {
            if (!value(v)) return false;
            if (!(error = pathOptionFault(arg, v, "file name")).empty()) return false;
            (arg == "--keys" ? o.keysFile : arg == "--trace" ? o.traceFile : arg == "--record" ? o.recordFile : o.replayFile) = v;
        } else if (arg == "--screenshot") {
            if (!value(v)) return false;
            if (!(error = pathOptionFault(arg, v, "file name", {".png"}, true)).empty()) return false;
            o.screenshotFile = v;
        } else if (arg == "--audio-out") {
            if (!value(v)) return false;
            if (!(error = pathOptionFault(arg, v, "file name", {".wav"}, true)).empty()) return false;
            o.audioOutFile = v;
        } else if (arg == "--video") {
            if (!value(v)) return false;
            // The ending picks the container, so a stream has no way to say which.
            if (!(error = pathOptionFault(arg, v, "file name", {".mp4", ".mkv", ".webm"})).empty()) return false;
            o.videoFile = v;
        } else if (arg == "--video-fps") {
            if (!value(v)) return false;
            if (!parseWholeNumber(v, 1, 1000, n)) { error = "--video-fps needs a whole number from 1 to 1000, not '" + std::string(v) + "'"; return false; }
            o.videoFps = static_cast<int>(n);
        } else if (arg == "--video-quality") {
            if (!value(v)) return false;
            if (!parseWholeNumber(v, 0, 63, n)) { error = "--video-quality needs a whole number from 0 to 63, not '" + std::string(v) + "'"; return false; }
            o.videoQuality = static_cast<int>(n);
        } else {
            error = "unknown option " + quoteToken(arg) + " (see --help)";
            return false;
        }
    }
    return checkCombinations(o, error);
}
