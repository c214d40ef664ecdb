#pragma once

#include <cstdint>
#include <memory>

#include "math/vec3.h"

// Segment flags of the sound engine interface.
inline constexpr uint32_t DMUS_SEGF_SECONDARY = 0x80;
inline constexpr uint32_t DMUS_SEGF_DEFAULT = 0x4000;

class AudioPath {
public:
    virtual ~AudioPath() = default;
};

// The positional buffer of one sound channel.
class SoundBuffer3D {
public:
    virtual ~SoundBuffer3D() = default;
    virtual void setPosition(const Vec3& position) = 0;
    virtual void setVelocity(const Vec3& velocity) = 0;
};

// A loaded sound that can be played on a path (none: the default stereo output).
class SoundSegment {
public:
    virtual ~SoundSegment() = default;
    virtual int32_t play(uint32_t flags, AudioPath* path) = 0;
    virtual int32_t stop(uint32_t flags) = 0;
    virtual int32_t setRepeats(uint32_t count) = 0;
};

struct Sound3DParams {
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 velocity{0.0f, 0.0f, 0.0f};
    float minDistance = 0.0f;
    float maxDistance = 0.0f;
    uint32_t mode = 0;
};

struct ListenerParams {
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 front{0.0f, 0.0f, 1.0f};
    Vec3 top{0.0f, 1.0f, 0.0f};
    float rolloffFactor = 1.0f;
    float dopplerFactor = 1.0f;
};

inline constexpr int soundChannelCount = 10;

// The program-wide sound objects. Without a sound engine every handle stays none and every step
// that needs one is skipped; the rest of the program runs unchanged.
struct SoundSystem {
    std::unique_ptr<SoundSegment> musicSegment;
    std::unique_ptr<SoundSegment> explosionSegment;
    std::unique_ptr<AudioPath> soundPaths[soundChannelCount];
    std::unique_ptr<SoundBuffer3D> soundBuffers[soundChannelCount];
    Sound3DParams bufferParams[soundChannelCount];
    ListenerParams listenerParams;
};

extern SoundSystem soundSystem;

int32_t setUpSound();
void setSpatialDefaults(float dopplerFactor, float rolloffFactor, float minDistance, float maxDistance);
void musicOn(int32_t request);
void musicOff(int32_t request);
void startMusic(SoundSegment* segment);
void stopMusic(SoundSegment* segment);
void shutDownSound();
