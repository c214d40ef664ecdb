#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/camera.h"
#include "app/input.h"
#include "sound/audio_manager.h"
#include "sound/sound_system.h"
#include "support/fake_sound_engine.h"
#include "world/game_world.h"

namespace {

class Sound : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.files = {musicFileName, explosionFileName};
        setSoundEngine(&engine);
        explosionChannel = 0;
    }
    void TearDown() override
    {
        shutDownSound();
        setSoundEngine(nullptr);
        soundSystem = SoundSystem{};
        explosionChannel = 0;
    }
    // Runs the start-up's three sound steps and returns what they printed.
    std::string startSound()
    {
        testing::internal::CaptureStderr();
        setUpSound(nullptr);
        setSpatialDefaults(1.0f, 1.0f, 10.0f, 10000.0f);
        musicOn(1);
        return testing::internal::GetCapturedStderr();
    }
    // The log lines from index from on.
    std::vector<std::string> logFrom(size_t from) const
    {
        return std::vector<std::string>(engine.log.begin() + static_cast<long>(std::min(from, engine.log.size())),
                                        engine.log.end());
    }
    FakeSoundEngine engine;
};

const std::string music = musicFileName;
const std::string explosion = explosionFileName;

}  // namespace

TEST_F(Sound, SetUpSpatialDefaultsAndMusicInTheirOrder)
{
    EXPECT_EQ(startSound(), "");
    std::vector<std::string> expected = {
        "initializeThread", "createLoader", "createPerformance", "initAudio 128 8 0x3f", "pathDefault.getListener",
        "listener0.get", "load " + music, "download " + music + " to performance", "load " + explosion,
        "download " + explosion + " to performance"};
    for (int k = 0; k < 10; ++k) expected.push_back("createPath 6 1 active path" + std::to_string(k));
    for (int k = 0; k < 10; ++k) expected.push_back("path" + std::to_string(k) + ".getBuffer3D");
    for (int k = 0; k < 10; ++k) {
        expected.push_back("buffer" + std::to_string(k) + ".get");
        expected.push_back("buffer" + std::to_string(k) + ".set mode=0 min=1 max=1e+09");
    }
    expected.push_back("path9.getListener");
    expected.push_back("listener1.get");
    expected.push_back("listener1.orientation (0,0,1) (0,1,0)");
    // The spatial defaults: listener at the origin, then each channel's distances.
    expected.push_back("listener1.set doppler=1 rolloff=1 position=(0,0,0) front=(0,0,1) top=(0,1,0)");
    for (int k = 0; k < 10; ++k) expected.push_back("buffer" + std::to_string(k) + ".set mode=0 min=10 max=10000");
    // The music: stopped, endless, played from its beginning on the stereo output.
    expected.push_back("stop " + music + " 0x4000");
    expected.push_back("repeats " + music + " 0xffffffff");
    expected.push_back("play " + music + " 0x4000 none");
    EXPECT_EQ(engine.log, expected);
    EXPECT_EQ(soundSystem.bufferParams[4].minDistance, 10.0f);
    EXPECT_EQ(soundSystem.bufferParams[4].maxDistance, 10000.0f);
}

TEST_F(Sound, MusicSwitchesOffAndOnFromItsBeginning)
{
    startSound();
    size_t mark = engine.log.size();
    musicOff(0);
    musicOn(2);
    EXPECT_TRUE(logFrom(mark).empty());  // only a request of 1 acts
    musicOff(1);
    EXPECT_EQ(logFrom(mark), std::vector<std::string>{"stop " + music + " 0x4000"});
    mark = engine.log.size();
    musicOn(1);
    EXPECT_EQ(logFrom(mark), (std::vector<std::string>{"stop " + music + " 0x4000", "repeats " + music + " 0xffffffff",
                                                       "play " + music + " 0x4000 none"}));
}

TEST_F(Sound, MissingFilesLeaveTheirSegmentNoneAndTheOtherSoundPlays)
{
    engine.files = {explosion};
    const std::string printed = startSound();
    EXPECT_EQ(printed, "zentrix: warning: sound file Backgroundmusic.wav cannot be opened: No such file or directory; "
                       "it stays silent\n");
    EXPECT_EQ(soundSystem.musicSegment, nullptr);
    ASSERT_NE(soundSystem.explosionSegment, nullptr);
    EXPECT_TRUE(engine.matching("stop " + music).empty());
    EXPECT_TRUE(engine.matching("play").empty());
    musicOff(1);
    musicOn(1);
    EXPECT_TRUE(engine.matching("play").empty());

    explosionChannel = 3;
    placeExplosionSound(Vec3(1.0f, 2.0f, 3.0f), Vec3(0.0f, -5.0f, 0.0f));
    playExplosion();
    EXPECT_EQ(engine.matching("play"), std::vector<std::string>{"play " + explosion + " 0x80 path3"});
    EXPECT_EQ(engine.matching("buffer3.position"), std::vector<std::string>{"buffer3.position (1,2,3)"});
    EXPECT_EQ(explosionChannel, 4);
}

TEST_F(Sound, WithoutPathsBuffersOrListenerTheirStepsAreSkipped)
{
    engine.noPaths = true;
    startSound();
    EXPECT_EQ(engine.matching("createPath").size(), 10u);
    EXPECT_TRUE(engine.matching("path0.").empty());
    EXPECT_TRUE(engine.matching("buffer").empty());
    EXPECT_TRUE(engine.matching("listener1").empty());
    // The records are written all the same.
    EXPECT_EQ(soundSystem.bufferParams[9].maxDistance, 10000.0f);
    EXPECT_EQ(soundSystem.listenerParams.front.z, 1.0f);
    EXPECT_EQ(soundSystem.listenerParams.rolloffFactor, 1.0f);
    shutDownSound();

    FakeSoundEngine noBuffers;
    noBuffers.files = engine.files;
    noBuffers.noBuffers = true;
    setSoundEngine(&noBuffers);
    startSound();
    EXPECT_EQ(noBuffers.matching("path").size(), 10u + 1u + 1u);  // ten buffer asks, the listener, the default path
    EXPECT_TRUE(noBuffers.matching("buffer").empty());
    EXPECT_EQ(noBuffers.matching("listener1.orientation").size(), 1u);
    shutDownSound();

    FakeSoundEngine noListener;
    noListener.files = engine.files;
    noListener.noListener = true;
    setSoundEngine(&noListener);
    startSound();
    EXPECT_TRUE(noListener.matching("listener").empty());
    EXPECT_EQ(noListener.matching("buffer9.set").size(), 2u);
    shutDownSound();  // before the engines go
}

TEST_F(Sound, NoSoundDeviceSaysSoOnceAndRunsSilent)
{
    engine.initAudioResult = E_FAIL;
    EXPECT_EQ(startSound(), "zentrix: no sound device can be opened; running silent\n");
    EXPECT_EQ(engine.matching("createPath 6 1 active failed").size(), 10u);
    ASSERT_NE(soundSystem.explosionSegment, nullptr);  // loaded, but it cannot be made playable
    EXPECT_TRUE(engine.matching("play").empty());
    playExplosion();
    EXPECT_EQ(explosionChannel, 1);  // a loaded but never downloaded segment still counts as one
    EXPECT_TRUE(engine.matching("play").empty());

    setSoundEngine(nullptr, "no sound in a headless run without --audio-out");
    shutDownSound();
    EXPECT_EQ(startSound(), "zentrix: no sound in a headless run without --audio-out; running silent\n");
    EXPECT_EQ(soundSystem.musicSegment, nullptr);
    EXPECT_EQ(soundSystem.soundPaths[0], nullptr);
}

TEST_F(Sound, ShutDownReleasesInItsOrder)
{
    startSound();
    const size_t mark = engine.log.size();
    shutDownSound();
    std::vector<std::string> expected = {"stop all 0x0"};
    for (const std::string& name : {music, explosion}) {
        expected.push_back("releaseObject " + name);
        expected.push_back("unload " + name + " from performance");
        expected.push_back("release segment " + name);
    }
    expected.push_back("release listener1");
    for (int k = 0; k < 10; ++k) {
        expected.push_back("release buffer" + std::to_string(k));
        expected.push_back("release path" + std::to_string(k));
    }
    for (const char* line : {"release loader", "release listener0", "stop all 0x0", "closeDown", "release pathDefault",
                             "release performance", "uninitializeThread"})
        expected.push_back(line);
    EXPECT_EQ(logFrom(mark), expected);
    EXPECT_EQ(soundSystem.manager, nullptr);
    shutDownSound();  // twice is harmless
    EXPECT_EQ(engine.log.size(), mark + expected.size());
}

TEST(AudioManager, FailedInitialisationReleasesOnlyWhatExists)
{
    struct Case {
        const char* name;
        void (*arrange)(FakeSoundEngine&);
        std::vector<std::string> teardown;
    };
    const Case cases[] = {
        {"thread", [](FakeSoundEngine& e) { e.initializeThreadResult = E_FAIL; }, {}},
        {"loader", [](FakeSoundEngine& e) { e.createLoaderResult = E_OUTOFMEMORY; }, {"uninitializeThread"}},
        {"performance", [](FakeSoundEngine& e) { e.createPerformanceResult = E_FAIL; },
         {"release loader", "uninitializeThread"}},
        {"device", [](FakeSoundEngine& e) { e.initAudioResult = E_FAIL; },
         {"release loader", "stop all 0x0", "closeDown", "release performance", "uninitializeThread"}},
    };
    for (const Case& c : cases) {
        FakeSoundEngine engine;
        c.arrange(engine);
        size_t mark = 0;
        {
            AudioManager manager(&engine);
            const int32_t result = manager.initialize(nullptr, 128, DMUS_APATH_DYNAMIC_STEREO);
            EXPECT_LT(result, 0) << c.name;
            if (std::string(c.name) == "thread") {
                EXPECT_EQ(result, CO_E_NOTINITIALIZED);
            }
            if (std::string(c.name) == "loader") {
                EXPECT_EQ(result, E_OUTOFMEMORY);
                std::unique_ptr<SoundSegment> segment;
                EXPECT_EQ(manager.loadSound(segment, "x.wav", true, false), CO_E_NOTINITIALIZED);
                EXPECT_EQ(segment, nullptr);
            }
            EXPECT_EQ(manager.listener(), nullptr);
            mark = engine.log.size();
        }
        EXPECT_EQ(std::vector<std::string>(engine.log.begin() + static_cast<long>(mark), engine.log.end()), c.teardown)
            << c.name;
    }
    AudioManager none(nullptr);
    EXPECT_EQ(none.initialize(nullptr, 128, 8), CO_E_NOTINITIALIZED);
    EXPECT_EQ(none.performance(), nullptr);
}

TEST(AudioManager, SegmentResultsBeforeDownloadAndWithoutASegment)
{
    SoundSegment empty(nullptr, nullptr, nullptr);
    EXPECT_EQ(empty.play(0, nullptr), CO_E_NOTINITIALIZED);
    EXPECT_EQ(empty.stop(0), CO_E_NOTINITIALIZED);
    EXPECT_EQ(empty.setRepeats(1), CO_E_NOTINITIALIZED);
    EXPECT_EQ(empty.download(nullptr), CO_E_NOTINITIALIZED);

    FakeSoundEngine engine;
    engine.files = {"a.wav", "b.wav"};
    engine.downloadResult = E_FAIL;
    AudioManager manager(&engine);
    ASSERT_EQ(manager.initialize(nullptr, 128, 8), S_OK);
    std::unique_ptr<SoundSegment> segment;
    // The download fails, but the loaded segment is handed over all the same.
    EXPECT_EQ(manager.loadSound(segment, "a.wav", true, false), E_FAIL);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->play(DMUS_SEGF_SECONDARY, nullptr), E_FAIL);
    EXPECT_TRUE(engine.matching("play").empty());

    engine.downloadResult = S_OK;
    std::unique_ptr<SoundSegment> later;
    EXPECT_EQ(manager.loadSound(later, "b.wav", false, false), S_OK);
    EXPECT_EQ(later->play(0, nullptr), E_FAIL);  // not downloaded yet
    EXPECT_EQ(later->download(nullptr), S_OK);
    EXPECT_EQ(later->play(0, nullptr), S_OK);
    EXPECT_EQ(engine.matching("play"), std::vector<std::string>{"play b.wav 0x0 none"});

    std::unique_ptr<SoundSegment> missing;
    EXPECT_LT(manager.loadSound(missing, "c.wav", true, false), 0);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(manager.lastError(), "cannot be opened: No such file or directory");
}

TEST(AudioManager, ASegmentWithItsOwnPathPlaysAndUnloadsThere)
{
    FakeSoundEngine engine;
    engine.files = {"p.wav"};
    engine.pathConfigFiles = {"p.wav"};
    {
        AudioManager manager(&engine);
        ASSERT_EQ(manager.initialize(nullptr, 128, 8), S_OK);
        std::unique_ptr<SoundSegment> segment;
        ASSERT_EQ(manager.loadSound(segment, "p.wav", true, false), S_OK);
        EXPECT_GE(engine.find("download p.wav to pathOfp.wav"), 0);
        segment->play(0, nullptr);
        EXPECT_GE(engine.find("play p.wav 0x0 pathOfp.wav"), 0);
        segment.reset();
        EXPECT_GE(engine.find("unload p.wav from pathOfp.wav"), 0);
    }
}
