// The OpenAL engine on its loopback device: no sound card involved.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <vector>

#include "platform/audio/openal_drivers.h"
#include "platform/audio/openal_engine.h"
#include "platform/audio/wav_file.h"
#include "sound/audio_manager.h"
#include "support/fixtures.h"

namespace {

// A 1 kHz tone of seconds, same on every channel.
void writeTone(const std::string& path, int channels, double seconds)
{
    PcmSound s;
    s.channels = channels;
    s.rate = 44100;
    for (size_t i = 0; i < size_t(seconds * 44100); ++i)
        for (int c = 0; c < channels; ++c) s.samples.push_back(int16_t(10000 * std::sin(6.2831853 * 1000.0 * i / 44100)));
    std::string why;
    ASSERT_TRUE(writeWavFile(path, s, why)) << why;
}

struct Mix {
    std::vector<int16_t> samples;  // interleaved left, right
    double rms(int channel, double fromS, double toS) const
    {
        double sum = 0;
        size_t n = 0;
        for (size_t i = size_t(fromS * 44100); i < size_t(toS * 44100) && 2 * i + 1 < samples.size(); ++i, ++n)
            sum += double(samples[2 * i + channel]) * samples[2 * i + channel];
        return n ? std::sqrt(sum / n) : 0.0;
    }
};

class OpenAl : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeTone(dir.file("mono.wav"), 1, 0.1);
        writeTone(dir.file("stereo.wav"), 2, 0.1);
        ASSERT_EQ(manager.initialize(nullptr, 128, DMUS_APATH_DYNAMIC_STEREO), S_OK) << manager.lastError();
    }
    Mix render(double seconds)
    {
        Mix m;
        m.samples.resize(2 * size_t(seconds * 44100));
        engine.render(m.samples.data(), m.samples.size() / 2);
        return m;
    }
    std::unique_ptr<SoundSegment> load(const char* name)
    {
        std::unique_ptr<SoundSegment> s;
        EXPECT_EQ(manager.loadSound(s, dir.file(name), true, false), S_OK) << manager.lastError();
        return s;
    }
    std::unique_ptr<AudioPath> positionalPath(const Vec3& position)
    {
        std::unique_ptr<AudioPath> path;
        EXPECT_EQ(manager.performance()->createStandardAudioPath(DMUS_APATH_DYNAMIC_3D, 1, true, path), S_OK);
        std::unique_ptr<SoundBuffer3D> buffer;
        EXPECT_EQ(path->getBuffer3D(buffer), S_OK);
        Sound3DParams p;
        p.position = position;
        p.minDistance = 10.0f;
        p.maxDistance = 10000.0f;
        EXPECT_EQ(buffer->setAllParameters(p), S_OK);
        Sound3DParams back;
        buffer->getAllParameters(back);
        EXPECT_EQ(back.position.z, position.z);  // the program's axes on the way back too
        EXPECT_EQ(back.minDistance, 10.0f);
        return path;
    }
    TempDir dir;
    OpenAlEngine engine{OpenAlEngine::Output::Loopback};
    AudioManager manager{&engine};
};

}  // namespace

TEST_F(OpenAl, RepeatsStopAndThePrimarySound)
{
    auto tone = load("mono.wav");
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->setRepeats(2), S_OK);
    EXPECT_EQ(tone->play(DMUS_SEGF_DEFAULT, nullptr), S_OK);
    Mix m = render(0.5);
    EXPECT_GT(m.rms(0, 0.01, 0.29), 3000.0);  // three times 0.1 s
    EXPECT_LT(m.rms(0, 0.31, 0.5), 10.0);
    EXPECT_NEAR(m.rms(0, 0.0, 0.29), m.rms(1, 0.0, 0.29), 1.0);  // centred

    EXPECT_EQ(tone->setRepeats(DMUS_SEG_REPEAT_INFINITE), S_OK);
    EXPECT_EQ(tone->play(DMUS_SEGF_DEFAULT, nullptr), S_OK);
    m = render(1.0);
    EXPECT_GT(m.rms(0, 0.8, 1.0), 3000.0);  // still going
    EXPECT_EQ(tone->stop(DMUS_SEGF_DEFAULT), S_OK);
    m = render(0.2);
    EXPECT_LT(m.rms(0, 0.01, 0.2), 10.0);

    // A second primary sound replaces the first.
    auto other = load("stereo.wav");
    tone->play(DMUS_SEGF_DEFAULT, nullptr);
    other->setRepeats(DMUS_SEG_REPEAT_INFINITE);
    other->play(DMUS_SEGF_DEFAULT, nullptr);
    m = render(0.3);
    EXPECT_NEAR(m.rms(0, 0.05, 0.3), 10000 / std::sqrt(2.0), 800.0);
}

TEST_F(OpenAl, PositionalVoicesPlaceEvenStereoSoundsAndOverlay)
{
    auto stereo = load("stereo.wav");
    auto mono = load("mono.wav");
    auto right = positionalPath(Vec3(8.0f, 0.0f, 2.0f));
    auto left = positionalPath(Vec3(-8.0f, 0.0f, 2.0f));
    // A stereo file on a positional voice is mixed down to mono and placed.
    EXPECT_EQ(stereo->play(DMUS_SEGF_SECONDARY, right.get()), S_OK);
    Mix m = render(0.1);
    EXPECT_GT(m.rms(1, 0.0, 0.09), 1.5 * m.rms(0, 0.0, 0.09));
    // Two voices at once, one each side: both heard.
    EXPECT_EQ(mono->play(DMUS_SEGF_SECONDARY, left.get()), S_OK);
    EXPECT_EQ(stereo->play(DMUS_SEGF_SECONDARY, right.get()), S_OK);
    m = render(0.1);
    EXPECT_NEAR(m.rms(0, 0.0, 0.09), m.rms(1, 0.0, 0.09), 0.1 * m.rms(1, 0.0, 0.09));
    EXPECT_GT(m.rms(0, 0.0, 0.09), 3000.0);

    // Hostile values are refused, not handed to the mixer.
    std::unique_ptr<SoundBuffer3D> buffer;
    ASSERT_EQ(right->getBuffer3D(buffer), S_OK);
    EXPECT_EQ(buffer->setPosition(Vec3(NAN, 0.0f, 0.0f)), E_FAIL);
    Sound3DParams bad;
    bad.minDistance = -1.0f;
    EXPECT_EQ(buffer->setAllParameters(bad), E_FAIL);
    std::unique_ptr<SoundListener> listener;
    ASSERT_EQ(right->getListener(listener), S_OK);
    EXPECT_EQ(listener->setOrientation(Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f)), E_FAIL);
    ListenerParams lp;
    ASSERT_EQ(listener->getAllParameters(lp), S_OK);
    EXPECT_EQ(lp.front.z, 1.0f);  // facing +z in the program's axes
    EXPECT_EQ(lp.top.y, 1.0f);

    // Segments go before the manager; unloading a playing sound first silences it.
    stereo->play(DMUS_SEGF_SECONDARY, right.get());
    stereo.reset();
    m = render(0.05);
    EXPECT_LT(m.rms(1, 0.005, 0.05), 10.0);  // after the mixer's short fade
}

TEST_F(OpenAl, SoundsOnOneVoiceOverlayUpToItsPoolAndNeverCutTheMusic)
{
    writeTone(dir.file("long.wav"), 1, 2.0);
    auto music = load("stereo.wav");
    auto tone = load("long.wav");
    music->setRepeats(DMUS_SEG_REPEAT_INFINITE);
    ASSERT_EQ(music->play(DMUS_SEGF_DEFAULT, nullptr), S_OK);
    const double musicAlone = render(0.2).rms(0, 0.05, 0.2);
    // A secondary sound on the music's own path (a 3-D channel that failed) plays beside it.
    ASSERT_EQ(tone->play(DMUS_SEGF_SECONDARY, nullptr), S_OK);
    Mix m = render(0.2);
    EXPECT_GT(m.rms(0, 0.05, 0.2), 1.2 * musicAlone);
    EXPECT_EQ(tone->stop(DMUS_SEGF_DEFAULT), S_OK);
    music->stop(DMUS_SEGF_DEFAULT);
    render(0.05);

    // The same sound three times on one positional voice, 0.1 s apart: all three sound at once
    // (power adds up), where a voice of one source would hold only the last.
    auto path = positionalPath(Vec3(0.0f, 0.0f, 5.0f));
    ASSERT_EQ(tone->play(DMUS_SEGF_SECONDARY, path.get()), S_OK);
    const double one = render(0.1).rms(0, 0.02, 0.1);
    tone->play(DMUS_SEGF_SECONDARY, path.get());
    render(0.1);
    tone->play(DMUS_SEGF_SECONDARY, path.get());
    m = render(0.3);
    // Equal tones at different phases: the power of the sum is not fixed, but a single one is
    // far below the three together over a window that averages the beats out.
    EXPECT_GT(m.rms(0, 0.02, 0.3), 1.3 * one);
    // A fifth and sixth sound take over the oldest ones: the pool stays at four voices, and
    // everything still ends with the last sound.
    for (int i = 0; i < 3; ++i) tone->play(DMUS_SEGF_SECONDARY, path.get());
    m = render(2.2);
    EXPECT_GT(m.rms(0, 1.7, 1.95), 1000.0);
    EXPECT_LT(m.rms(0, 2.05, 2.2), 10.0);
}

TEST(OpenAlDevice, AlsaLibraryMessagesAreSilenced)
{
    // The engine for a sound card quiets alsa-lib, which OpenAL Soft loads for its ALSA output; an
    // unknown device name then costs no "ALSA lib ..." line.
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!alsa) GTEST_SKIP() << "alsa-lib is not installed";
    using Open = int (*)(void**, const char*, int, int);
    auto open = reinterpret_cast<Open>(dlsym(alsa, "snd_pcm_open"));
    ASSERT_NE(open, nullptr);
    OpenAlEngine engine{OpenAlEngine::Output::Device};
    void* pcm = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_LT(open(&pcm, "zentrix-no-such-device", 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    dlclose(alsa);
}

// The back-ends a run lets OpenAL Soft probe: none for the loopback device, whatever is set; on
// the sound device all but JACK, unless the user names them in the environment or a
// configuration file's general section.
TEST(OpenAlDrivers, LoopbackProbesNoneAndTheDeviceLeavesJackOutUnlessTheUserChooses)
{
    TempDir dir;
    writeFile(dir.file("plain.conf"), "# drivers = jack\n[general]\nperiod_size = 1024\n[wave]\ndrivers = x\n");
    writeFile(dir.file("named.conf"), "drivers=pulse,alsa\n");
    writeFile(dir.file("section.conf"), "[wave]\nfile = x.wav\n[ General ]\n  drivers = jack # the user's\n");
    EXPECT_EQ(openAlDriverChoice(true, "jack", {dir.file("named.conf")}), "null");
    EXPECT_EQ(openAlDriverChoice(false, nullptr, {dir.file("plain.conf"), dir.file("missing.conf")}), "-jack,");
    EXPECT_EQ(openAlDriverChoice(false, "", {}), "");
    EXPECT_EQ(openAlDriverChoice(false, nullptr, {dir.file("plain.conf"), dir.file("named.conf")}), "");
    EXPECT_EQ(openAlDriverChoice(false, nullptr, {dir.file("section.conf")}), "");
}
