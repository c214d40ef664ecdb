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
    bool showHelp = false;
    bool showVersion = false;
};

// False with error set (one line, no program name) for an unknown option or a bad value.
bool parseCommandLine(int argc, const char* const* argv, RunOptions& options, std::string& error);
const char* usageText();
