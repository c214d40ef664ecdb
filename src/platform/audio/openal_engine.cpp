#include "platform/audio/openal_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "base/data_folder.h"
#include "platform/audio/al_api.h"
#include "platform/audio/openal_drivers.h"
#include "platform/audio/wav_file.h"
#include "platform/quiet_stderr.h"

namespace {

struct AlVoice;
struct AlSegment;

// One open output: device and context, and the voices that mix into it.
struct AlOutput {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    bool loopback = false;
    float rolloff = 1.0f;  // the listener's rolloff, applied to every positional voice
    std::vector<AlVoice*> voices;
    AlVoice* primary = nullptr;  // the voice of the primary sound, and that sound
    const AlSegment* primarySegment = nullptr;
    uint64_t playCount = 0;
    bool spatializeExt = false;
    LPALCRENDERSAMPLESSOFT renderSamples = nullptr;

    ~AlOutput()
    {
        if (context) {
            if (alcGetCurrentContext() == context) alcMakeContextCurrent(nullptr);
            alcDestroyContext(context);
        }
        if (device) alcCloseDevice(device);
    }
};

// The program's axes are left-handed, OpenAL's right-handed: z changes sign both ways.
void toAl(const Vec3& v, ALfloat out[3])
{
    out[0] = v.x;
    out[1] = v.y;
    out[2] = -v.z;
}
Vec3 fromAl(const ALfloat v[3]) { return Vec3(v[0], v[1], -v[2]); }
bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The voice of an audio path: a few OpenAL sources, so that sounds played on the path overlay
// instead of cutting each other off. A source is made when every one before it is busy; only
// when all voicesPerPath are busy does a new sound take over the one that started first.
struct AlVoice {
    static constexpr size_t voicesPerPath = 4;

    struct Source {
        ALuint name = 0;
        AlSegment* playing = nullptr;
        uint64_t started = 0;  // play order, for reusing the oldest
    };

    std::shared_ptr<AlOutput> output;
    std::vector<Source> sources;
    bool positional = false;
    bool active = true;
    // The positional parameters in the program's axes. They shape each sound from its start on:
    // a sound already playing keeps the place it started at.
    uint32_t mode = DS3DMODE_NORMAL;
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 velocity{0.0f, 0.0f, 0.0f};
    float minDistance = 1.0f;
    float maxDistance = std::numeric_limits<float>::max();

    AlVoice(std::shared_ptr<AlOutput> out, bool isPositional) : output(std::move(out)), positional(isPositional)
    {
        if (!addSource()) return;
        output->voices.push_back(this);
    }
    ~AlVoice()
    {
        if (sources.empty()) return;
        halt();
        for (Source& s : sources) alDeleteSources(1, &s.name);
        auto& v = output->voices;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
        if (output->primary == this) output->primary = nullptr;
    }
    bool valid() const { return !sources.empty(); }

    bool addSource()
    {
        ALuint name = 0;
        alGetError();
        alGenSources(1, &name);
        if (alGetError() != AL_NO_ERROR) return false;
        sources.push_back({name, nullptr, 0});
        configure(name);
        return true;
    }
    void configure(ALuint source) const
    {
        if (positional) {
            alSourcef(source, AL_ROLLOFF_FACTOR, output->rolloff);
            ALfloat p[3];
            toAl(position, p);
            alSourcei(source, AL_SOURCE_RELATIVE, mode == DS3DMODE_NORMAL ? AL_FALSE : AL_TRUE);
            if (mode == DS3DMODE_DISABLE) p[0] = p[1] = p[2] = 0.0f;
            alSourcefv(source, AL_POSITION, p);
            toAl(velocity, p);
            alSourcefv(source, AL_VELOCITY, p);
            alSourcef(source, AL_REFERENCE_DISTANCE, minDistance);
            alSourcef(source, AL_MAX_DISTANCE, maxDistance);
        } else {
            // The stereo output: at the listener, never attenuated or panned.
            alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
            alSource3f(source, AL_POSITION, 0.0f, 0.0f, 0.0f);
            alSourcef(source, AL_ROLLOFF_FACTOR, 0.0f);
            if (output->spatializeExt) alSourcei(source, AL_SOURCE_SPATIALIZE_SOFT, AL_FALSE);
        }
    }
    static bool busy(const Source& s)
    {
        ALint state = AL_STOPPED;
        alGetSourcei(s.name, AL_SOURCE_STATE, &state);
        return state == AL_PLAYING || state == AL_PAUSED;
    }
    static void halt(Source& s)
    {
        alSourceStop(s.name);
        alSourcei(s.name, AL_BUFFER, 0);
        s.playing = nullptr;
    }
    void halt()
    {
        for (Source& s : sources) halt(s);
    }
    // Stops what plays segment (none: everything) on this voice.
    void halt(const AlSegment* segment)
    {
        for (Source& s : sources)
            if (!segment || s.playing == segment) halt(s);
    }
    // The source for a new sound, free and set to the voice's parameters.
    Source& pick()
    {
        for (Source& s : sources)
            if (!busy(s)) return prepare(s);
        if (sources.size() < voicesPerPath && addSource()) return prepare(sources.back());
        Source* oldest = &sources.front();
        for (Source& s : sources)
            if (s.started < oldest->started) oldest = &s;
        return prepare(*oldest);
    }
    Source& prepare(Source& s)
    {
        halt(s);
        configure(s.name);
        return s;
    }
    // Rolloff belongs to the listener: it reaches sounds already playing too.
    void setRolloff(float rolloff)
    {
        if (positional)
            for (Source& s : sources) alSourcef(s.name, AL_ROLLOFF_FACTOR, rolloff);
    }
};

ALenum alFormat(const PcmSound& pcm) { return pcm.channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16; }

bool makeBuffer(const PcmSound& pcm, ALuint& buffer)
{
    alGetError();
    alGenBuffers(1, &buffer);
    if (alGetError() != AL_NO_ERROR) {
        buffer = 0;
        return false;
    }
    alBufferData(buffer, alFormat(pcm), pcm.samples.data(), static_cast<ALsizei>(pcm.samples.size() * 2), pcm.rate);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteBuffers(1, &buffer);
        buffer = 0;
        return false;
    }
    return true;
}

// A decoded wave file, and its buffers once downloaded to an output.
struct AlSegment : EngineSegment {
    PcmSound pcm;
    uint32_t repeats = 0;
    std::shared_ptr<AlOutput> output;
    ALuint buffer = 0;
    ALuint monoBuffer = 0;  // a stereo sound on a positional voice plays mixed down to mono

    ~AlSegment() override { release(); }
    int32_t setRepeats(uint32_t count) override
    {
        repeats = count;
        return S_OK;
    }
    // Wave data only: there is no synthesiser for MIDI data.
    int32_t setStandardMidiFile() override { return E_FAIL; }

    int32_t download(const std::shared_ptr<AlOutput>& to)
    {
        if (output == to && buffer) return S_OK;
        release();
        if (!makeBuffer(pcm, buffer)) return E_OUTOFMEMORY;
        if (pcm.channels == 2 && !makeBuffer(downmixToMono(pcm), monoBuffer)) {
            alDeleteBuffers(1, &buffer);
            buffer = 0;
            return E_OUTOFMEMORY;
        }
        output = to;
        return S_OK;
    }
    void release()
    {
        if (!output) return;
        // A buffer can only go once no source holds it.
        for (AlVoice* v : output->voices) v->halt(this);
        if (output->primarySegment == this) {
            output->primary = nullptr;
            output->primarySegment = nullptr;
        }
        if (buffer) alDeleteBuffers(1, &buffer);
        if (monoBuffer) alDeleteBuffers(1, &monoBuffer);
        buffer = monoBuffer = 0;
        output.reset();
    }
};

class AlBuffer3D : public SoundBuffer3D {
public:
    explicit AlBuffer3D(std::shared_ptr<AlVoice> voice) : voice_(std::move(voice)) {}
    int32_t getAllParameters(Sound3DParams& out) override
    {
        out.position = voice_->position;
        out.velocity = voice_->velocity;
        out.minDistance = voice_->minDistance;
        out.maxDistance = voice_->maxDistance;
        out.mode = voice_->mode;
        return S_OK;
    }
    int32_t setAllParameters(const Sound3DParams& p) override
    {
        if (!finite(p.position) || !finite(p.velocity) || !std::isfinite(p.minDistance) || !std::isfinite(p.maxDistance) ||
            p.minDistance <= 0.0f || p.maxDistance < p.minDistance || p.mode > DS3DMODE_DISABLE)
            return E_FAIL;
        voice_->mode = p.mode;
        voice_->position = p.position;
        voice_->velocity = p.velocity;
        voice_->minDistance = p.minDistance;
        voice_->maxDistance = p.maxDistance;
        return S_OK;
    }
    int32_t setPosition(const Vec3& position) override
    {
        if (!finite(position)) return E_FAIL;
        voice_->position = position;
        return S_OK;
    }
    int32_t setVelocity(const Vec3& velocity) override
    {
        if (!finite(velocity)) return E_FAIL;
        voice_->velocity = velocity;
        return S_OK;
    }

private:
    std::shared_ptr<AlVoice> voice_;
};

class AlListener : public SoundListener {
public:
    explicit AlListener(std::shared_ptr<AlOutput> output) : output_(std::move(output)) {}
    int32_t getAllParameters(ListenerParams& out) override
    {
        ALfloat v[3];
        alGetListenerfv(AL_POSITION, v);
        out.position = fromAl(v);
        alGetListenerfv(AL_VELOCITY, v);
        out.velocity = fromAl(v);
        ALfloat o[6];
        alGetListenerfv(AL_ORIENTATION, o);
        out.front = fromAl(o);
        out.top = fromAl(o + 3);
        out.dopplerFactor = alGetFloat(AL_DOPPLER_FACTOR);
        out.rolloffFactor = output_->rolloff;
        out.distanceFactor = distanceFactor_;
        return S_OK;
    }
    int32_t setAllParameters(const ListenerParams& p) override
    {
        if (!finite(p.position) || !finite(p.velocity) || !std::isfinite(p.dopplerFactor) || !std::isfinite(p.rolloffFactor) ||
            !std::isfinite(p.distanceFactor) || p.dopplerFactor < 0.0f || p.rolloffFactor < 0.0f || p.distanceFactor <= 0.0f)
            return E_FAIL;
        const int32_t turned = setOrientation(p.front, p.top);
        if (!succeeded(turned)) return turned;
        ALfloat v[3];
        toAl(p.position, v);
        alListenerfv(AL_POSITION, v);
        toAl(p.velocity, v);
        alListenerfv(AL_VELOCITY, v);
        alDopplerFactor(p.dopplerFactor);
        // Distances are in units of distanceFactor metres; the speed of sound follows.
        distanceFactor_ = p.distanceFactor;
        alSpeedOfSound(343.3f / p.distanceFactor);
        output_->rolloff = p.rolloffFactor;
        for (AlVoice* voice : output_->voices) voice->setRolloff(p.rolloffFactor);
        return S_OK;
    }
    int32_t setOrientation(const Vec3& front, const Vec3& top) override
    {
        if (!finite(front) || !finite(top) || lengthSq(front) == 0.0f || lengthSq(top) == 0.0f) return E_FAIL;
        ALfloat o[6];
        toAl(front, o);
        toAl(top, o + 3);
        alListenerfv(AL_ORIENTATION, o);
        return S_OK;
    }

private:
    std::shared_ptr<AlOutput> output_;
    float distanceFactor_ = 1.0f;
};

class AlPath : public AudioPath {
public:
    AlPath(std::shared_ptr<AlOutput> output, bool positional, bool active)
        : voice_(std::make_shared<AlVoice>(output, positional)), output_(std::move(output))
    {
        voice_->active = active;
    }
    bool valid() const { return voice_->valid(); }
    AlVoice& voice() { return *voice_; }
    int32_t getBuffer3D(std::unique_ptr<SoundBuffer3D>& out) override
    {
        if (!voice_->positional) return E_FAIL;
        out = std::make_unique<AlBuffer3D>(voice_);
        return S_OK;
    }
    int32_t getListener(std::unique_ptr<SoundListener>& out) override
    {
        out = std::make_unique<AlListener>(output_);
        return S_OK;
    }

private:
    std::shared_ptr<AlVoice> voice_;
    std::shared_ptr<AlOutput> output_;
};

class WavLoader : public SoundLoader {
public:
    int32_t loadSegment(const std::string& fileName, std::unique_ptr<EngineSegment>& out, std::string& why) override
    {
        auto segment = std::make_unique<AlSegment>();
        if (!loadWavFile(dataPath(fileName), segment->pcm, why)) return E_FAIL;
        out = std::move(segment);
        return S_OK;
    }
    // Nothing is cached: each load reads its file afresh.
    void releaseObject(EngineSegment&) override {}
};

}  // namespace

struct OpenAlEngine::State {
    Output kind;
    std::weak_ptr<AlOutput> current;
};

namespace {

class AlPerformance : public SoundPerformance {
public:
    explicit AlPerformance(std::shared_ptr<OpenAlEngine::State> engine) : engine_(std::move(engine)) {}
    ~AlPerformance() override { closeDown(); }

    int32_t initAudio(void*, uint32_t defaultPathType, uint32_t, uint32_t, std::string& why) override
    {
        if (output_) return S_OK;
        // The first call loads and probes the back-ends, whose libraries talk on stderr.
        QuietStderr quiet;
        auto out = std::make_shared<AlOutput>();
        std::vector<ALCint> attributes;
        if (engine_->kind == OpenAlEngine::Output::Loopback) {
            auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
            auto formatSupported = reinterpret_cast<LPALCISRENDERFORMATSUPPORTEDSOFT>(
                alcGetProcAddress(nullptr, "alcIsRenderFormatSupportedSOFT"));
            out->renderSamples = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
            if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback") || !openLoopback || !formatSupported ||
                !out->renderSamples) {
                why = "OpenAL has no loopback device (ALC_SOFT_loopback) to render sound into a file";
                return E_FAIL;
            }
            out->device = openLoopback(nullptr);
            if (!out->device) {
                why = "the OpenAL loopback device cannot be opened";
                return E_FAIL;
            }
            if (!formatSupported(out->device, OpenAlEngine::loopbackRate, ALC_STEREO_SOFT, ALC_FLOAT_SOFT)) {
                why = "the OpenAL loopback device cannot mix stereo at 44100 Hz";
                return E_FAIL;
            }
            out->loopback = true;
            // The mix comes out as float and is rounded here: 16-bit output from the mixer itself
            // would be dithered, and silence would not stay silent.
            attributes = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
                          ALC_FREQUENCY, OpenAlEngine::loopbackRate};
            // The limiter keeps loud overlays from clipping.
            if (alcIsExtensionPresent(out->device, "ALC_SOFT_output_limiter")) {
                attributes.push_back(ALC_OUTPUT_LIMITER_SOFT);
                attributes.push_back(ALC_TRUE);
            }
        } else {
            out->device = alcOpenDevice(nullptr);
            if (!out->device) {
                why = "no sound device can be opened";
                return E_FAIL;
            }
        }
        // Plain stereo panning, the same on every machine.
        if (alcIsExtensionPresent(out->device, "ALC_SOFT_HRTF")) {
            attributes.push_back(ALC_HRTF_SOFT);
            attributes.push_back(ALC_FALSE);
        }
        attributes.push_back(0);
        out->context = alcCreateContext(out->device, attributes.data());
        if (!out->context || !alcMakeContextCurrent(out->context)) {
            why = "no OpenAL context can be created on the sound device";
            return E_FAIL;
        }
        alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
        out->spatializeExt = alIsExtensionPresent("AL_SOFT_source_spatialize");
        output_ = out;
        engine_->current = out;
        defaultPath_ = std::make_unique<AlPath>(out, defaultPathType == DMUS_APATH_DYNAMIC_3D, true);
        if (!defaultPath_->valid()) {
            defaultPath_.reset();
            why = "the sound device has no voice for the music";
            return E_FAIL;
        }
        return S_OK;
    }

    AudioPath* defaultAudioPath() override { return defaultPath_.get(); }

    int32_t createStandardAudioPath(uint32_t type, uint32_t, bool activate, std::unique_ptr<AudioPath>& out) override
    {
        if (!output_) return E_FAIL;
        if (type != DMUS_APATH_DYNAMIC_3D && type != DMUS_APATH_DYNAMIC_STEREO) return E_FAIL;
        auto path = std::make_unique<AlPath>(output_, type == DMUS_APATH_DYNAMIC_3D, activate);
        if (!path->valid()) return E_OUTOFMEMORY;
        out = std::move(path);
        return S_OK;
    }

    // Wave data carries no path configuration.
    int32_t createSegmentAudioPath(EngineSegment&, std::unique_ptr<AudioPath>&) override { return E_FAIL; }

    int32_t download(EngineSegment& segment, AudioPath*) override
    {
        if (!output_) return E_FAIL;
        return static_cast<AlSegment&>(segment).download(output_);
    }

    int32_t unload(EngineSegment& segment, AudioPath*) override
    {
        static_cast<AlSegment&>(segment).release();
        return S_OK;
    }

    int32_t playSegment(EngineSegment& engineSegment, uint32_t flags, AudioPath* path) override
    {
        auto& segment = static_cast<AlSegment&>(engineSegment);
        if (!output_ || segment.output != output_ || !segment.buffer) return E_FAIL;
        AlPath* target = path ? static_cast<AlPath*>(path) : defaultPath_.get();
        if (!target) return E_FAIL;
        AlVoice& voice = target->voice();
        if (!voice.active) return E_FAIL;
        // A primary sound replaces the primary sound before it, wherever that plays; a secondary
        // one overlays everything, on its own voice too (up to the voice's pool).
        if (!(flags & DMUS_SEGF_SECONDARY)) {
            if (output_->primary) output_->primary->halt(output_->primarySegment);
            output_->primary = &voice;
            output_->primarySegment = &segment;
        }
        AlVoice::Source& source = voice.pick();
        const ALuint buffer = voice.positional && segment.monoBuffer ? segment.monoBuffer : segment.buffer;
        alGetError();
        if (segment.repeats == DMUS_SEG_REPEAT_INFINITE) {
            alSourcei(source.name, AL_LOOPING, AL_TRUE);
            alSourcei(source.name, AL_BUFFER, static_cast<ALint>(buffer));
        } else {
            // A finite count: the sound queued once more than it repeats.
            alSourcei(source.name, AL_LOOPING, AL_FALSE);
            const uint32_t plays = std::min<uint32_t>(segment.repeats, maxQueuedRepeats) + 1;
            std::vector<ALuint> queue(plays, buffer);
            alSourceQueueBuffers(source.name, static_cast<ALsizei>(queue.size()), queue.data());
        }
        alSourcePlay(source.name);
        if (alGetError() != AL_NO_ERROR) {
            AlVoice::halt(source);
            return E_FAIL;
        }
        source.playing = &segment;
        source.started = ++output_->playCount;
        return S_OK;
    }

    int32_t stop(EngineSegment* segment, uint32_t) override
    {
        if (!output_) return S_OK;
        for (AlVoice* voice : output_->voices) voice->halt(static_cast<AlSegment*>(segment));
        return S_OK;
    }

    void closeDown() override
    {
        if (!output_) return;
        stop(nullptr, 0);
        defaultPath_.reset();
        output_.reset();
    }

private:
    static constexpr uint32_t maxQueuedRepeats = 4096;
    std::shared_ptr<OpenAlEngine::State> engine_;
    std::shared_ptr<AlOutput> output_;
    std::unique_ptr<AlPath> defaultPath_;
};

}  // namespace

namespace {

// alsa-lib's error handler type; its messages (configuration trouble on a machine without a
// sound card) would otherwise precede the program's own "running silent" line.
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// OpenAL Soft loads alsa-lib at run time, so the handler is set through the same shared library,
// only where it is installed; the handle stays open for the rest of the run.
void silenceAlsa()
{
    static bool done = false;
    if (done) return;
    done = true;
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!alsa) return;
    using SetHandler = int (*)(AlsaErrorHandler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(quietAlsa);
}

}  // namespace

OpenAlEngine::OpenAlEngine(Output output) : state_(std::make_shared<State>())
{
    state_->kind = output;
    // The program says itself, in one line, when there is no sound; the library's own error log
    // and alsa-lib's stay quiet unless the user asks for the first.
    setenv("ALSOFT_LOGLEVEL", "0", 0);
    chooseOpenAlDrivers(output == Output::Loopback);
    if (output == Output::Device && !openAlOnWebAudio) silenceAlsa();
}

OpenAlEngine::~OpenAlEngine() = default;

int32_t OpenAlEngine::initializeThread() { return S_OK; }
void OpenAlEngine::uninitializeThread() {}

int32_t OpenAlEngine::createLoader(std::unique_ptr<SoundLoader>& out)
{
    out = std::make_unique<WavLoader>();
    return S_OK;
}

int32_t OpenAlEngine::createPerformance(std::unique_ptr<SoundPerformance>& out)
{
    out = std::make_unique<AlPerformance>(state_);
    return S_OK;
}

void OpenAlEngine::render(int16_t* out, size_t frames)
{
    std::shared_ptr<AlOutput> output = state_->current.lock();
    if (!output || !output->loopback) {
        std::memset(out, 0, frames * 2 * sizeof(int16_t));
        return;
    }
    std::vector<float> mix;
    while (frames > 0) {
        const size_t n = std::min<size_t>(frames, 4096);
        mix.resize(2 * n);
        output->renderSamples(output->device, mix.data(), static_cast<ALCsizei>(n));
        for (size_t i = 0; i < 2 * n; ++i) {
            const float v = std::isfinite(mix[i]) ? std::clamp(mix[i], -1.0f, 1.0f) : 0.0f;
            out[i] = static_cast<int16_t>(std::lrintf(v * 32767.0f));
        }
        out += 2 * n;
        frames -= n;
    }
}
