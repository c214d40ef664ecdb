#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sound/sound_engine.h"

// One loaded sound: plays, stops and repeats it on the manager's performance. Must not outlive
// the manager that made it.
class SoundSegment {
public:
    SoundSegment(SoundPerformance* performance, SoundLoader* loader, std::unique_ptr<EngineSegment> segment);
    virtual ~SoundSegment();
    SoundSegment(const SoundSegment&) = delete;
    SoundSegment& operator=(const SoundSegment&) = delete;

    // E_FAIL before a successful download; audioPath none: the embedded path, else the default.
    virtual int32_t play(uint32_t flags, AudioPath* audioPath);
    int32_t download(AudioPath* audioPath);
    int32_t stop(uint32_t flags);
    // DMUS_SEG_REPEAT_INFINITE repeats without end.
    int32_t setRepeats(uint32_t count);

    bool isDownloaded() const { return downloaded; }
    AudioPath* embeddedAudioPath() const { return embeddedPath.get(); }

private:
    std::unique_ptr<EngineSegment> segment;
    SoundLoader* loader;            // borrowed
    SoundPerformance* performance;  // borrowed
    std::unique_ptr<AudioPath> embeddedPath;
    bool downloaded = false;
};

// The connection to the sound engine: loader and performance, the output and its listener.
class AudioManager {
public:
    // Sets up the engine for this thread; engine none: nothing works, every step says so.
    explicit AudioManager(SoundEngine* engine);
    ~AudioManager();
    AudioManager(const AudioManager&) = delete;
    AudioManager& operator=(const AudioManager&) = delete;

    int32_t initialize(void* window, uint32_t channelCount, uint32_t defaultPathType);
    // Once the file is loaded, outSegment holds the new segment even if a later step fails.
    int32_t loadSound(std::unique_ptr<SoundSegment>& outSegment, const std::string& fileName, bool downloadNow,
                      bool isMidiFile);
    SoundPerformance* performance() const { return performance_.get(); }
    bool canLoad() const { return loader_ != nullptr; }
    void stopAll();

    SoundListener* listener() const { return listener_.get(); }
    const ListenerParams& listenerParams() const { return listenerParams_; }
    // What the last failing step said, in words, for the user.
    const std::string& lastError() const { return lastError_; }

private:
    SoundEngine* engine_;
    bool comReady_ = false;
    std::unique_ptr<SoundLoader> loader_;
    std::unique_ptr<SoundPerformance> performance_;
    std::unique_ptr<SoundListener> listener_;
    ListenerParams listenerParams_;
    std::string lastError_;
};
