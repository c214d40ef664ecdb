#include "sound/audio_manager.h"

#include <new>

namespace {
SoundEngine* currentEngine = nullptr;
std::string currentSilentReason;
}  // namespace

void setSoundEngine(SoundEngine* engine, const std::string& silentReason)
{
    currentEngine = engine;
    currentSilentReason = silentReason;
}
SoundEngine* soundEngine() { return currentEngine; }
const std::string& soundEngineSilentReason() { return currentSilentReason; }

SoundSegment::SoundSegment(SoundPerformance* performance, SoundLoader* loader, std::unique_ptr<EngineSegment> segment)
    : segment(std::move(segment)), loader(loader), performance(performance)
{
    // Only a segment that carries its own path configuration gets a path of its own; wave files
    // never do.
    if (this->segment && this->performance) {
        std::unique_ptr<AudioPath> path;
        if (succeeded(this->performance->createSegmentAudioPath(*this->segment, path))) embeddedPath = std::move(path);
    }
}

SoundSegment::~SoundSegment()
{
    if (segment) {
        if (loader) loader->releaseObject(*segment);
        if (downloaded && performance) performance->unload(*segment, embeddedPath.get());
        embeddedPath.reset();
        segment.reset();
    }
    performance = nullptr;
}

int32_t SoundSegment::download(AudioPath* audioPath)
{
    if (!segment) return CO_E_NOTINITIALIZED;
    if (!performance) return CO_E_NOTINITIALIZED;
    AudioPath* target = audioPath ? audioPath : embeddedPath.get();
    const int32_t result = performance->download(*segment, target);
    if (succeeded(result)) downloaded = true;
    return result;
}

int32_t SoundSegment::play(uint32_t flags, AudioPath* audioPath)
{
    if (!segment || !performance) return CO_E_NOTINITIALIZED;
    if (!downloaded) return E_FAIL;
    if (!audioPath && embeddedPath) audioPath = embeddedPath.get();
    return performance->playSegment(*segment, flags, audioPath);
}

int32_t SoundSegment::stop(uint32_t flags)
{
    if (!segment || !performance) return CO_E_NOTINITIALIZED;
    return performance->stop(segment.get(), flags);
}

int32_t SoundSegment::setRepeats(uint32_t count)
{
    if (!segment) return CO_E_NOTINITIALIZED;
    return segment->setRepeats(count);
}

AudioManager::AudioManager(SoundEngine* engine) : engine_(engine)
{
    comReady_ = engine_ && succeeded(engine_->initializeThread());
}

AudioManager::~AudioManager()
{
    loader_.reset();
    listener_.reset();
    if (performance_) {
        performance_->stop(nullptr, 0);
        performance_->closeDown();
        performance_.reset();
    }
    if (comReady_) engine_->uninitializeThread();
    comReady_ = false;
}

int32_t AudioManager::initialize(void* window, uint32_t channelCount, uint32_t defaultPathType)
{
    // Without the engine set up for this thread, nothing can be created.
    if (!comReady_) {
        lastError_ = engine_ ? "the sound engine could not be set up" : soundEngineSilentReason();
        if (lastError_.empty()) lastError_ = "no sound engine";
        return CO_E_NOTINITIALIZED;
    }
    int32_t result = engine_->createLoader(loader_);
    if (!succeeded(result)) {
        loader_.reset();
        lastError_ = "the sound file loader could not be created";
        return result;
    }
    result = engine_->createPerformance(performance_);
    if (!succeeded(result)) {
        performance_.reset();
        lastError_ = "the sound mixer could not be created";
        return result;
    }
    std::string why;
    result = performance_->initAudio(window, defaultPathType, channelCount, DMUS_AUDIOF_ALL, why);
    if (!succeeded(result)) {
        lastError_ = why.empty() ? "no sound device" : why;
        return result;
    }
    if (AudioPath* path = performance_->defaultAudioPath()) {
        std::unique_ptr<SoundListener> found;
        if (succeeded(path->getListener(found)) && found) {
            listener_ = std::move(found);
            listener_->getAllParameters(listenerParams_);
        }
    }
    return S_OK;
}

int32_t AudioManager::loadSound(std::unique_ptr<SoundSegment>& outSegment, const std::string& fileName,
                                bool downloadNow, bool isMidiFile)
{
    if (!loader_) {
        lastError_ = "no sound engine";
        return CO_E_NOTINITIALIZED;
    }
    std::unique_ptr<EngineSegment> loaded;
    std::string why;
    int32_t result = loader_->loadSegment(fileName, loaded, why);
    if (!succeeded(result) || !loaded) {
        lastError_ = why.empty() ? "cannot be loaded" : why;
        return succeeded(result) ? E_FAIL : result;
    }
    EngineSegment* raw = loaded.get();
    SoundSegment* made = new (std::nothrow) SoundSegment(performance_.get(), loader_.get(), std::move(loaded));
    if (!made) {
        loader_->releaseObject(*raw);
        lastError_ = "out of memory";
        return E_OUTOFMEMORY;
    }
    outSegment.reset(made);
    if (isMidiFile) {
        result = raw->setStandardMidiFile();
        if (!succeeded(result)) {
            lastError_ = "not playable as a MIDI file";
            return result;
        }
    }
    if (downloadNow) {
        result = outSegment->download(nullptr);
        if (!succeeded(result)) {
            lastError_ = "cannot be made playable";
            return result;
        }
    }
    return S_OK;
}

void AudioManager::stopAll()
{
    if (performance_) performance_->stop(nullptr, 0);
}
