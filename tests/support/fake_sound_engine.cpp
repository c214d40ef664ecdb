#include "support/fake_sound_engine.h"

#include <cstdio>

namespace {

std::string hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", v);
    return text;
}

std::string vec(const Vec3& v)
{
    char text[96];
    std::snprintf(text, sizeof text, "(%g,%g,%g)", static_cast<double>(v.x), static_cast<double>(v.y),
                  static_cast<double>(v.z));
    return text;
}

struct FakeSegment : EngineSegment {
    FakeSoundEngine& engine;
    std::string name;
    FakeSegment(FakeSoundEngine& e, std::string n) : engine(e), name(std::move(n)) {}
    ~FakeSegment() override { engine.record("release segment " + name); }
    int32_t setRepeats(uint32_t count) override
    {
        engine.record("repeats " + name + " " + hex(count));
        return S_OK;
    }
    int32_t setStandardMidiFile() override
    {
        engine.record("midi " + name);
        return S_OK;
    }
};

struct FakeBuffer : SoundBuffer3D {
    FakeSoundEngine& engine;
    std::string name;
    FakeBuffer(FakeSoundEngine& e, std::string n) : engine(e), name(std::move(n)) {}
    ~FakeBuffer() override { engine.record("release " + name); }
    int32_t getAllParameters(Sound3DParams& out) override
    {
        engine.record(name + ".get");
        out = Sound3DParams{};
        out.mode = DS3DMODE_HEADRELATIVE;  // something the set-up must change
        return S_OK;
    }
    int32_t setAllParameters(const Sound3DParams& p) override
    {
        char text[128];
        std::snprintf(text, sizeof text, ".set mode=%u min=%g max=%g", p.mode, static_cast<double>(p.minDistance),
                      static_cast<double>(p.maxDistance));
        engine.record(name + text);
        return S_OK;
    }
    int32_t setPosition(const Vec3& v) override
    {
        engine.record(name + ".position " + vec(v));
        return S_OK;
    }
    int32_t setVelocity(const Vec3& v) override
    {
        engine.record(name + ".velocity " + vec(v));
        return S_OK;
    }
};

struct FakeListener : SoundListener {
    FakeSoundEngine& engine;
    std::string name;
    FakeListener(FakeSoundEngine& e, std::string n) : engine(e), name(std::move(n)) {}
    ~FakeListener() override { engine.record("release " + name); }
    int32_t getAllParameters(ListenerParams& out) override
    {
        engine.record(name + ".get");
        out = ListenerParams{};
        out.front = Vec3(1.0f, 0.0f, 0.0f);  // something the set-up must change
        return S_OK;
    }
    int32_t setAllParameters(const ListenerParams& p) override
    {
        char text[160];
        std::snprintf(text, sizeof text, ".set doppler=%g rolloff=%g position=", static_cast<double>(p.dopplerFactor),
                      static_cast<double>(p.rolloffFactor));
        engine.record(name + text + vec(p.position) + " front=" + vec(p.front) + " top=" + vec(p.top));
        return S_OK;
    }
    int32_t setOrientation(const Vec3& front, const Vec3& top) override
    {
        engine.record(name + ".orientation " + vec(front) + " " + vec(top));
        return S_OK;
    }
};

struct FakePath : AudioPath {
    FakeSoundEngine& engine;
    std::string name;
    FakePath(FakeSoundEngine& e, std::string n) : engine(e), name(std::move(n)) {}
    ~FakePath() override { engine.record("release " + name); }
    int32_t getBuffer3D(std::unique_ptr<SoundBuffer3D>& out) override
    {
        engine.record(name + ".getBuffer3D");
        if (engine.noBuffers) return E_FAIL;
        out = std::make_unique<FakeBuffer>(engine, "buffer" + name.substr(4));
        return S_OK;
    }
    int32_t getListener(std::unique_ptr<SoundListener>& out) override
    {
        engine.record(name + ".getListener");
        if (engine.noListener) return E_FAIL;
        out = std::make_unique<FakeListener>(engine, "listener" + std::to_string(engine.listenerCount++));
        return S_OK;
    }
};

std::string pathName(AudioPath* path) { return path ? static_cast<FakePath*>(path)->name : "none"; }
std::string segmentName(EngineSegment* s) { return s ? static_cast<FakeSegment*>(s)->name : "all"; }

struct FakeLoader : SoundLoader {
    FakeSoundEngine& engine;
    explicit FakeLoader(FakeSoundEngine& e) : engine(e) {}
    ~FakeLoader() override { engine.record("release loader"); }
    int32_t loadSegment(const std::string& fileName, std::unique_ptr<EngineSegment>& out, std::string& why) override
    {
        engine.record("load " + fileName);
        if (!engine.files.count(fileName)) {
            why = "cannot be opened: No such file or directory";
            return E_FAIL;
        }
        out = std::make_unique<FakeSegment>(engine, fileName);
        return S_OK;
    }
    void releaseObject(EngineSegment& segment) override { engine.record("releaseObject " + segmentName(&segment)); }
};

struct FakePerformance : SoundPerformance {
    FakeSoundEngine& engine;
    std::unique_ptr<FakePath> defaultPath;
    explicit FakePerformance(FakeSoundEngine& e) : engine(e) {}
    ~FakePerformance() override { engine.record("release performance"); }
    int32_t initAudio(void*, uint32_t type, uint32_t channels, uint32_t flags, std::string& why) override
    {
        engine.record("initAudio " + std::to_string(channels) + " " + std::to_string(type) + " " + hex(flags));
        if (!succeeded(engine.initAudioResult)) {
            why = "no sound device can be opened";
            return engine.initAudioResult;
        }
        engine.audioReady = true;
        if (!engine.noDefaultPath) defaultPath = std::make_unique<FakePath>(engine, "pathDefault");
        return S_OK;
    }
    AudioPath* defaultAudioPath() override { return defaultPath.get(); }
    int32_t createStandardAudioPath(uint32_t type, uint32_t channels, bool activate,
                                    std::unique_ptr<AudioPath>& out) override
    {
        const std::string name = "path" + std::to_string(engine.pathCount++);
        const bool failed = engine.noPaths || !engine.audioReady;
        engine.record("createPath " + std::to_string(type) + " " + std::to_string(channels) +
                      (activate ? " active" : " inactive") + (failed ? " failed" : " " + name));
        if (failed) return E_FAIL;
        out = std::make_unique<FakePath>(engine, name);
        return S_OK;
    }
    int32_t createSegmentAudioPath(EngineSegment& segment, std::unique_ptr<AudioPath>& out) override
    {
        if (!engine.pathConfigFiles.count(segmentName(&segment))) return E_FAIL;
        out = std::make_unique<FakePath>(engine, "pathOf" + segmentName(&segment));
        engine.record("segmentPath " + segmentName(&segment));
        return S_OK;
    }
    int32_t download(EngineSegment& segment, AudioPath* target) override
    {
        engine.record("download " + segmentName(&segment) + " to " + (target ? pathName(target) : "performance"));
        return engine.audioReady ? engine.downloadResult : E_FAIL;
    }
    int32_t unload(EngineSegment& segment, AudioPath* target) override
    {
        engine.record("unload " + segmentName(&segment) + " from " + (target ? pathName(target) : "performance"));
        return S_OK;
    }
    int32_t playSegment(EngineSegment& segment, uint32_t flags, AudioPath* path) override
    {
        engine.record("play " + segmentName(&segment) + " " + hex(flags) + " " + pathName(path));
        return S_OK;
    }
    int32_t stop(EngineSegment* segment, uint32_t flags) override
    {
        engine.record("stop " + segmentName(segment) + " " + hex(flags));
        return S_OK;
    }
    void closeDown() override
    {
        engine.record("closeDown");
        defaultPath.reset();
    }
};

}  // namespace

int32_t FakeSoundEngine::initializeThread()
{
    record("initializeThread");
    return initializeThreadResult;
}
void FakeSoundEngine::uninitializeThread() { record("uninitializeThread"); }

int32_t FakeSoundEngine::createLoader(std::unique_ptr<SoundLoader>& out)
{
    record("createLoader");
    if (!succeeded(createLoaderResult)) return createLoaderResult;
    out = std::make_unique<FakeLoader>(*this);
    return S_OK;
}

int32_t FakeSoundEngine::createPerformance(std::unique_ptr<SoundPerformance>& out)
{
    record("createPerformance");
    if (!succeeded(createPerformanceResult)) return createPerformanceResult;
    out = std::make_unique<FakePerformance>(*this);
    return S_OK;
}

int FakeSoundEngine::find(const std::string& line) const
{
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i] == line) return static_cast<int>(i);
    return -1;
}

std::vector<std::string> FakeSoundEngine::matching(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const std::string& line : log)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}
