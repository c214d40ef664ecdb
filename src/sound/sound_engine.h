#pragma once

// What the sound code asks of the platform's sound engine. The objects keep the shape of a music
// and effects engine with a loader, a performance that mixes, and audio paths that route sounds
// to the stereo output or to positional 3-D outputs: platform/audio implements them on OpenAL,
// the unit tests with a recording fake.

#include <cstdint>
#include <memory>
#include <string>

#include "base/result_codes.h"
#include "math/vec3.h"

// Segment flags.
inline constexpr uint32_t DMUS_SEGF_SECONDARY = 0x80;
inline constexpr uint32_t DMUS_SEGF_DEFAULT = 0x4000;
inline constexpr uint32_t DMUS_SEG_REPEAT_INFINITE = 0xFFFFFFFFu;
// Audio path types and the engine set-up flags.
inline constexpr uint32_t DMUS_APATH_DYNAMIC_3D = 6;
inline constexpr uint32_t DMUS_APATH_DYNAMIC_STEREO = 8;
inline constexpr uint32_t DMUS_AUDIOF_ALL = 0x3F;
// Modes of a positional buffer.
inline constexpr uint32_t DS3DMODE_NORMAL = 0;
inline constexpr uint32_t DS3DMODE_HEADRELATIVE = 1;
inline constexpr uint32_t DS3DMODE_DISABLE = 2;

// The parameters of one positional output, in the program's left-handed axes.
struct Sound3DParams {
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 velocity{0.0f, 0.0f, 0.0f};
    float minDistance = 1.0f;
    float maxDistance = 1.0e9f;
    uint32_t mode = DS3DMODE_NORMAL;
};

// The listener's parameters, in the program's left-handed axes.
struct ListenerParams {
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 velocity{0.0f, 0.0f, 0.0f};
    Vec3 front{0.0f, 0.0f, 1.0f};
    Vec3 top{0.0f, 1.0f, 0.0f};
    float distanceFactor = 1.0f;
    float rolloffFactor = 1.0f;
    float dopplerFactor = 1.0f;
};

// The positional output of a 3-D audio path.
class SoundBuffer3D {
public:
    virtual ~SoundBuffer3D() = default;
    virtual int32_t getAllParameters(Sound3DParams& out) = 0;
    virtual int32_t setAllParameters(const Sound3DParams& params) = 0;
    virtual int32_t setPosition(const Vec3& position) = 0;
    virtual int32_t setVelocity(const Vec3& velocity) = 0;
};

// The one listener of the output.
class SoundListener {
public:
    virtual ~SoundListener() = default;
    virtual int32_t getAllParameters(ListenerParams& out) = 0;
    virtual int32_t setAllParameters(const ListenerParams& params) = 0;
    virtual int32_t setOrientation(const Vec3& front, const Vec3& top) = 0;
};

// A route from a playing sound to the output: stereo, or one positional voice.
class AudioPath {
public:
    virtual ~AudioPath() = default;
    // The path's positional buffer; fails on a path without one.
    virtual int32_t getBuffer3D(std::unique_ptr<SoundBuffer3D>& out) = 0;
    // The listener of the output the path mixes into.
    virtual int32_t getListener(std::unique_ptr<SoundListener>& out) = 0;
};

// A decoded sound inside the engine.
class EngineSegment {
public:
    virtual ~EngineSegment() = default;
    virtual int32_t setRepeats(uint32_t count) = 0;
    // Marks the data as a standard MIDI file.
    virtual int32_t setStandardMidiFile() = 0;
};

// Reads sound files into segments.
class SoundLoader {
public:
    virtual ~SoundLoader() = default;
    // Fails with why set (one phrase, no file name) when the file is missing or not decodable.
    virtual int32_t loadSegment(const std::string& fileName, std::unique_ptr<EngineSegment>& out,
                                std::string& why) = 0;
    // Drops the loader's own reference to a segment it made.
    virtual void releaseObject(EngineSegment& segment) = 0;
};

// The mixer: owns the output, plays segments on paths.
class SoundPerformance {
public:
    virtual ~SoundPerformance() = default;
    // Opens the output. Fails with why set when there is no sound device.
    virtual int32_t initAudio(void* window, uint32_t defaultPathType, uint32_t channelCount, uint32_t flags,
                              std::string& why) = 0;
    // Borrowed; none before initAudio succeeded.
    virtual AudioPath* defaultAudioPath() = 0;
    virtual int32_t createStandardAudioPath(uint32_t type, uint32_t channelCount, bool activate,
                                            std::unique_ptr<AudioPath>& out) = 0;
    // A path built from the segment's own path configuration; fails for a segment without one.
    virtual int32_t createSegmentAudioPath(EngineSegment& segment, std::unique_ptr<AudioPath>& out) = 0;
    // target none: the performance itself.
    virtual int32_t download(EngineSegment& segment, AudioPath* target) = 0;
    virtual int32_t unload(EngineSegment& segment, AudioPath* target) = 0;
    // path none: the default audio path.
    virtual int32_t playSegment(EngineSegment& segment, uint32_t flags, AudioPath* path) = 0;
    // segment none: everything that plays.
    virtual int32_t stop(EngineSegment* segment, uint32_t flags) = 0;
    virtual void closeDown() = 0;
};

// Creates the engine objects; the thread set-up and tear-down bracket their whole life.
class SoundEngine {
public:
    virtual ~SoundEngine() = default;
    virtual int32_t initializeThread() = 0;
    virtual void uninitializeThread() = 0;
    virtual int32_t createLoader(std::unique_ptr<SoundLoader>& out) = 0;
    virtual int32_t createPerformance(std::unique_ptr<SoundPerformance>& out) = 0;
};

// The engine the game sounds use, not owned. None: no engine at all (silentReason says why,
// e.g. a headless run without a sound file).
void setSoundEngine(SoundEngine* engine, const std::string& silentReason = "");
SoundEngine* soundEngine();
const std::string& soundEngineSilentReason();
