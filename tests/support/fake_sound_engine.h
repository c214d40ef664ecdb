#pragma once

// A sound engine that plays nothing and records every call, in order, as one line of text:
// "initAudio 128 8", "play Explosion.wav 0x80 path3", "release buffer3" and so on.

#include <set>
#include <string>
#include <vector>

#include "sound/sound_engine.h"

class FakeSoundEngine : public SoundEngine {
public:
    std::vector<std::string> log;
    // Failure switches.
    int32_t initializeThreadResult = S_OK;
    int32_t createLoaderResult = S_OK;
    int32_t createPerformanceResult = S_OK;
    int32_t initAudioResult = S_OK;
    int32_t downloadResult = S_OK;
    bool noDefaultPath = false;
    bool noPaths = false;       // creating a channel path fails
    bool noBuffers = false;     // a path has no 3-D buffer
    bool noListener = false;    // a path has no listener
    std::set<std::string> files;  // the sound files that exist and decode
    std::set<std::string> pathConfigFiles;  // files whose segment brings its own path configuration

    int32_t initializeThread() override;
    void uninitializeThread() override;
    int32_t createLoader(std::unique_ptr<SoundLoader>& out) override;
    int32_t createPerformance(std::unique_ptr<SoundPerformance>& out) override;

    void record(const std::string& line) { log.push_back(line); }
    // Index of the first logged line equal to line, or -1.
    int find(const std::string& line) const;
    // The logged lines that start with prefix, in order.
    std::vector<std::string> matching(const std::string& prefix) const;
    bool audioReady = false;  // initAudio succeeded
    int pathCount = 0;
    int listenerCount = 0;
};

// A channel path and buffer for tests that place sounds by hand.
class FakeAudioPath : public AudioPath {
public:
    int32_t getBuffer3D(std::unique_ptr<SoundBuffer3D>&) override { return E_FAIL; }
    int32_t getListener(std::unique_ptr<SoundListener>&) override { return E_FAIL; }
};
