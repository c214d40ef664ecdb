#include "sound/sound_system.h"

SoundSystem soundSystem;

int32_t setUpSound()
{
    // No sound engine is attached yet: the segments, paths, buffers and listener stay none, which
    // is exactly the state of a machine without a sound device.
    return 0;
}

void setSpatialDefaults(float dopplerFactor, float rolloffFactor, float minDistance, float maxDistance)
{
    soundSystem.listenerParams.dopplerFactor = dopplerFactor;
    soundSystem.listenerParams.rolloffFactor = rolloffFactor;
    soundSystem.listenerParams.position = Vec3(0.0f, 0.0f, 0.0f);
    for (Sound3DParams& p : soundSystem.bufferParams) {
        p.minDistance = minDistance;
        p.maxDistance = maxDistance;
    }
}

void startMusic(SoundSegment* segment)
{
    if (!segment) return;
    segment->stop(DMUS_SEGF_DEFAULT);
    segment->setRepeats(0xFFFFFFFFu);
    segment->play(DMUS_SEGF_DEFAULT, nullptr);
}

void stopMusic(SoundSegment* segment)
{
    if (!segment) return;
    segment->stop(DMUS_SEGF_DEFAULT);
}

void musicOn(int32_t request)
{
    if (request == 1) startMusic(soundSystem.musicSegment.get());
}

void musicOff(int32_t request)
{
    if (request == 1) stopMusic(soundSystem.musicSegment.get());
}

void shutDownSound()
{
    soundSystem.musicSegment.reset();
    soundSystem.explosionSegment.reset();
    for (int k = 0; k < soundChannelCount; ++k) {
        soundSystem.soundBuffers[k].reset();
        soundSystem.soundPaths[k].reset();
    }
}
