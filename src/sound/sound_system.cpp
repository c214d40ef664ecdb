#include "sound/sound_system.h"

#include <cstdio>

#include "base/data_folder.h"

SoundSystem soundSystem;

namespace {

void loadGameSound(std::unique_ptr<SoundSegment>& segment, const char* fileName)
{
    AudioManager& manager = *soundSystem.manager;
    if (!manager.canLoad()) return;  // running silent: said once already
    manager.loadSound(segment, fileName, true, false);
    // A file that could not be read leaves its segment none, so that everything which takes it
    // does nothing. A loaded one that could not be made playable (no device) stays and answers
    // play with a failure.
    if (!segment)
        std::fprintf(stderr, "zentrix: warning: sound file %s %s; it stays silent\n", shownPath(fileName).c_str(),
                     manager.lastError().c_str());
}

}  // namespace

int32_t setUpSound(void* window)
{
    soundSystem.manager = std::make_unique<AudioManager>(soundEngine());
    AudioManager& manager = *soundSystem.manager;
    if (!succeeded(manager.initialize(window, 128, DMUS_APATH_DYNAMIC_STEREO))) {
        std::fprintf(stderr, "zentrix: %s; running silent\n", manager.lastError().c_str());
    }

    loadGameSound(soundSystem.musicSegment, musicFileName);
    loadGameSound(soundSystem.explosionSegment, explosionFileName);

    SoundPerformance* performance = manager.performance();
    if (performance) {
        for (auto& path : soundSystem.soundPaths) {
            std::unique_ptr<AudioPath> made;
            if (succeeded(performance->createStandardAudioPath(DMUS_APATH_DYNAMIC_3D, 1, true, made))) path = std::move(made);
        }
    }
    for (int k = 0; k < soundChannelCount; ++k) {
        if (!soundSystem.soundPaths[k]) continue;
        std::unique_ptr<SoundBuffer3D> buffer;
        if (succeeded(soundSystem.soundPaths[k]->getBuffer3D(buffer))) soundSystem.soundBuffers[k] = std::move(buffer);
    }
    for (int k = 0; k < soundChannelCount; ++k) {
        SoundBuffer3D* buffer = soundSystem.soundBuffers[k].get();
        if (!buffer) continue;
        buffer->getAllParameters(soundSystem.bufferParams[k]);
        soundSystem.bufferParams[k].mode = DS3DMODE_NORMAL;
        buffer->setAllParameters(soundSystem.bufferParams[k]);
    }
    // The listener is the output's own, reached through the last channel.
    if (AudioPath* last = soundSystem.soundPaths[soundChannelCount - 1].get()) {
        std::unique_ptr<SoundListener> found;
        if (succeeded(last->getListener(found))) soundSystem.listener = std::move(found);
    }
    int32_t result = S_OK;
    if (SoundListener* listener = soundSystem.listener.get()) listener->getAllParameters(soundSystem.listenerParams);
    soundSystem.listenerParams.front = frontVector;
    soundSystem.listenerParams.top = topVector;
    if (SoundListener* listener = soundSystem.listener.get()) result = listener->setOrientation(frontVector, topVector);
    return result;
}

void setSpatialDefaults(float dopplerFactor, float rolloffFactor, float minDistance, float maxDistance)
{
    ListenerParams& lp = soundSystem.listenerParams;
    lp.dopplerFactor = dopplerFactor;
    lp.rolloffFactor = rolloffFactor;
    lp.position = Vec3(0.0f, 0.0f, 0.0f);
    if (SoundListener* listener = soundSystem.listener.get()) listener->setAllParameters(lp);
    for (int k = 0; k < soundChannelCount; ++k) {
        soundSystem.bufferParams[k].minDistance = minDistance;
        soundSystem.bufferParams[k].maxDistance = maxDistance;
        if (SoundBuffer3D* buffer = soundSystem.soundBuffers[k].get()) buffer->setAllParameters(soundSystem.bufferParams[k]);
    }
}

void startMusic(SoundSegment* segment)
{
    if (!segment) return;
    // From the beginning, as the primary sound on the stereo output, without end.
    segment->stop(DMUS_SEGF_DEFAULT);
    segment->setRepeats(DMUS_SEG_REPEAT_INFINITE);
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
    if (soundSystem.manager) soundSystem.manager->stopAll();
    soundSystem.musicSegment.reset();
    soundSystem.explosionSegment.reset();
    soundSystem.listener.reset();
    for (int k = 0; k < soundChannelCount; ++k) {
        soundSystem.soundBuffers[k].reset();
        soundSystem.soundPaths[k].reset();
    }
    soundSystem.manager.reset();
}
