#pragma once

#include <cstdint>
#include <string>

struct RunOptions {
    std::string dataDir;        // empty: the current directory
    bool headless = false;
    int64_t frames = -1;        // -1: until Escape or the window closes
    int64_t fixedStepMs = -1;   // -1: the system tick
    bool seedGiven = false;
    uint32_t seed = 0;
    std::string keysFile;
    std::string traceFile;
    std::string screenshotFile;
    std::string audioOutFile;   // empty: sound goes to the sound device
    std::string recordFile;     // --record: the session file to write
    std::string replayFile;     // --replay: the session to run instead of the clock and keys
    std::string videoFile;      // --video: .mp4, .mkv or .webm
    int videoFps = 0;           // 0: each frame lasts until the next (variable rate)
    int videoQuality = -1;      // -1: the codec's default here
    bool showHelp = false;
    bool showVersion = false;
};

// False with error set (one line, no program name) for an unknown option or a bad value.
bool parseCommandLine(int argc, const char* const* argv, RunOptions& options, std::string& error);
const char* usageText();
