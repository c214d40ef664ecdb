#pragma once

#include <cstdint>
#include <memory>

#include "math/vec3.h"
#include "sound/audio_manager.h"
#include "sound/sound_engine.h"

inline constexpr int soundChannelCount = 10;

// The program-wide sound objects: the manager, the music and the explosion, and ten positional
// channels (path, its 3-D buffer and the parameters last written to it) with the listener.
// Without a sound device every handle stays none and every step that needs one is skipped; the
// rest of the program runs unchanged.
struct SoundSystem {
    std::unique_ptr<AudioManager> manager;
    std::unique_ptr<SoundSegment> musicSegment;
    std::unique_ptr<SoundSegment> explosionSegment;
    std::unique_ptr<AudioPath> soundPaths[soundChannelCount];
    std::unique_ptr<SoundBuffer3D> soundBuffers[soundChannelCount];
    Sound3DParams bufferParams[soundChannelCount];
    std::unique_ptr<SoundListener> listener;
    ListenerParams listenerParams;
};

extern SoundSystem soundSystem;

inline constexpr const char* musicFileName = "Backgroundmusic.wav";
inline constexpr const char* explosionFileName = "Explosion.wav";

int32_t setUpSound(void* window);
void setSpatialDefaults(float dopplerFactor, float rolloffFactor, float minDistance, float maxDistance);
void musicOn(int32_t request);
void musicOff(int32_t request);
void startMusic(SoundSegment* segment);
void stopMusic(SoundSegment* segment);
void shutDownSound();
