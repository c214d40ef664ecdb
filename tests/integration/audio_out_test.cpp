// --audio-out on fixture sounds made here: what the captured mix holds, where, and on which side.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "platform/audio/wav_file.h"
#include "support/fixtures.h"

namespace {

constexpr int rate = 44100;

std::string zentrix(const std::string& args) { return std::string(ZENTRIX_BINARY) + " " + args; }

// A tone of hz in [0, onSeconds) and silence after, in a sound of seconds.
PcmSound toneSound(int channels, double seconds, double hz, double onSeconds)
{
    PcmSound s;
    s.channels = channels;
    s.rate = rate;
    const size_t n = static_cast<size_t>(seconds * rate);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double v = t < onSeconds ? 12000.0 * std::sin(6.283185307179586 * hz * t) : 0.0;
        for (int c = 0; c < channels; ++c) s.samples.push_back(static_cast<int16_t>(std::lround(v)));
    }
    return s;
}

// Steady white noise: two copies a few seconds apart do not cancel, they add in power.
PcmSound noiseSound(double seconds, int amplitude = 8000)
{
    PcmSound s;
    s.channels = 1;
    s.rate = rate;
    const size_t n = static_cast<size_t>(seconds * rate);
    uint32_t state = 12345;
    for (size_t i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double fade = std::min({1.0, i / 88.0, (n - i) / 88.0});
        s.samples.push_back(static_cast<int16_t>(std::lround(fade * (double((state >> 16) % uint32_t(2 * amplitude + 1)) - amplitude))));
    }
    return s;
}

struct Capture {
    std::vector<int16_t> left, right;
    double rms(const std::vector<int16_t>& ch, double fromMs, double toMs) const
    {
        const size_t a = static_cast<size_t>(std::max(0.0, fromMs * 44.1));
        const size_t b = std::min(ch.size(), static_cast<size_t>(toMs * 44.1));
        double sum = 0.0;
        for (size_t i = a; i < b; ++i) sum += double(ch[i]) * ch[i];
        return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
    }
    double both(double fromMs, double toMs) const
    {
        return std::hypot(rms(left, fromMs, toMs), rms(right, fromMs, toMs)) / std::sqrt(2.0);
    }
    // The first sample whose magnitude exceeds level on either side, from sample from on.
    size_t firstAbove(int level, size_t from) const
    {
        for (size_t i = from; i < left.size(); ++i)
            if (std::abs(left[i]) > level || std::abs(right[i]) > level) return i;
        return left.size();
    }
};

uint32_t le32(const std::string& b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

// Reads a capture, checking that the header is that of a complete 16-bit stereo 44.1 kHz file.
Capture readCapture(const std::string& path)
{
    const std::string bytes = readFile(path);
    Capture c;
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) return c;
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 24), 44100u);
    EXPECT_EQ(bytes[22], 2);   // channels
    EXPECT_EQ(bytes[34], 16);  // bits
    EXPECT_EQ(bytes.substr(36, 4), "data");
    const uint32_t dataBytes = le32(bytes, 40);
    EXPECT_EQ(dataBytes, bytes.size() - 44);
    EXPECT_EQ(dataBytes % 4, 0u);
    for (size_t i = 44; i + 3 < bytes.size(); i += 4) {
        c.left.push_back(int16_t(uint16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8)));
        c.right.push_back(int16_t(uint16_t(uint8_t(bytes[i + 2]) | uint8_t(bytes[i + 3]) << 8)));
    }
    return c;
}

// The ticks of the frames in which an explosion played (its channel moved on).
std::vector<double> explosionTicks(const std::string& tracePath)
{
    std::istringstream in(readFile(tracePath));
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names;
    std::stringstream header(line);
    for (std::string cell; std::getline(header, cell, ',');) names.push_back(cell);
    std::vector<double> ticks;
    std::string lastChannel = "0";
    while (std::getline(in, line)) {
        std::map<std::string, std::string> row;
        std::stringstream ss(line);
        size_t i = 0;
        for (std::string cell; std::getline(ss, cell, ',') && i < names.size(); ++i) row[names[i]] = cell;
        if (row["explosion_channel"] != lastChannel) ticks.push_back(std::stod(row["tick"]));
        lastChannel = row["explosion_channel"];
    }
    return ticks;
}

class AudioOutRun : public ::testing::Test {
protected:
    void SetUp() override { writeFixtureData(dir.path()); }
    void writeSound(const std::string& name, const PcmSound& sound)
    {
        std::string why;
        ASSERT_TRUE(writeWavFile(dir.file(name), sound, why)) << why;
    }
    ProcessResult run(const std::string& args)
    {
        return runCommand(zentrix("--headless --data " + dir.path() + " --fixed-step 50 --audio-out " + dir.file("out.wav") +
                                  " --trace " + dir.file("t.csv") + " " + args));
    }
    TempDir dir;
};

}  // namespace

TEST_F(AudioOutRun, MusicFromTheFirstFrameLoopingAndRestartedByA)
{
    // One second: 440 Hz for half a second, then silence. The explosion file is garbage.
    writeSound("Backgroundmusic.wav", toneSound(2, 1.0, 440.0, 0.5));
    writeFile(dir.file("Explosion.wav"), "RIFF, but no sound in it");
    // A at frame 40 (2000 ms) switches the music off, at frame 70 (3500 ms) on again.
    writeFile(dir.file("keys.txt"), "40 A\n70 A\n");
    const ProcessResult r = run("--frames 100 --keys " + dir.file("keys.txt"));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("zentrix: warning: sound file Explosion.wav is not a usable WAV file"), std::string::npos)
        << r.output;
    const Capture c = readCapture(dir.file("out.wav"));
    ASSERT_EQ(c.left.size(), 5000u * 441u / 10u);  // exactly the 5000 ms the clock advanced

    const double loud = 12000.0 / std::sqrt(2.0);
    EXPECT_NEAR(c.both(0, 50), loud, 0.2 * loud);  // heard in the first frame
    EXPECT_LT(c.both(600, 950), 100.0);
    EXPECT_NEAR(c.both(1050, 1450), loud, 0.2 * loud);  // looped
    EXPECT_NEAR(c.both(1550, 1950), 0.0, 100.0);
    // Off from frame 40: the second half of 2000..2500 stays silent too.
    EXPECT_LT(c.both(2060, 3450), 100.0);
    // On again at 3500 ms, from its beginning: the tone where the old loop would have been silent.
    EXPECT_NEAR(c.both(3560, 3950), loud, 0.2 * loud);
    EXPECT_LT(c.both(4060, 4450), 100.0);
    EXPECT_NEAR(c.both(4560, 4950), loud, 0.2 * loud);
    // The music is not positional: both sides alike.
    EXPECT_NEAR(c.rms(c.left, 0, 400), c.rms(c.right, 0, 400), 0.05 * loud);
}

TEST_F(AudioOutRun, ExplosionsAtTheirTicksOverlaidAndRightOfCentre)
{
    // No music file. Seven seconds of noise outlast the 5.7 s between two impacts.
    writeSound("Explosion.wav", noiseSound(7.0));
    const ProcessResult r = run("--frames 290");
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("zentrix: warning: sound file Backgroundmusic.wav cannot be opened"), std::string::npos)
        << r.output;
    const std::vector<double> ticks = explosionTicks(dir.file("t.csv"));
    ASSERT_EQ(ticks.size(), 2u);
    const Capture c = readCapture(dir.file("out.wav"));

    // Silence, then the first explosion from its frame's tick on (within a frame).
    const size_t onset = c.firstAbove(30, 0);
    EXPECT_NEAR(double(onset), ticks[0] * 44.1, 50 * 44.1);
    EXPECT_LT(c.both(0, ticks[0] - 50), 1.0);
    const double single = c.both(ticks[0] + 100, ticks[0] + 1000);
    EXPECT_GT(single, 300.0);
    // The impact lies right of centre in front of the unturned camera.
    EXPECT_GT(c.rms(c.right, ticks[0], ticks[0] + 2000), 1.15 * c.rms(c.left, ticks[0], ticks[0] + 2000));

    // The second one overlays the first: power adds up until the first one ends.
    const double before = c.both(ticks[1] - 600, ticks[1] - 50);
    const double overlaid = c.both(ticks[1] + 100, ticks[1] + 900);
    EXPECT_NEAR(before, single, 0.1 * single);
    EXPECT_NEAR(overlaid / before, std::sqrt(2.0), 0.15);
    // The first one ends a little over 7 s after its start: the impact velocity points away from
    // the listener, and the Doppler shift lowers and lengthens the sound by some 5 %.
    EXPECT_NEAR(c.both(ticks[0] + 7800, ticks[0] + 8300) / overlaid, 1.0 / std::sqrt(2.0), 0.12);
}

TEST_F(AudioOutRun, ALongExplosionOutlastsTenFasterOnesOnItsChannel)
{
    // Fourteen seconds of quiet noise (quiet, so that a dozen at once add up without limiting).
    writeSound("Explosion.wav", noiseSound(14.0, 1000));
    // Speed 17 and angle 10 (twelve and ten presses): flights of about 1.2 s once the settings are
    // taken over. The sound is off until the two slow flights from the start have landed.
    std::string keys = "0 A\n240 A\n";
    for (int i = 0; i < 12; ++i) keys += std::to_string(2 * i) + (i < 10 ? " N W\n" : " N\n");
    writeFile(dir.file("keys.txt"), keys);
    const ProcessResult r = run("--frames 540 --keys " + dir.file("keys.txt"));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const std::vector<double> ticks = explosionTicks(dir.file("t.csv"));
    ASSERT_GE(ticks.size(), 11u);
    for (size_t i = 1; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i] - ticks[i - 1], 1200.0, 100.0) << i;
    const Capture c = readCapture(dir.file("out.wav"));
    auto power = [&](double fromMs, double toMs) { return std::pow(c.both(fromMs, toMs), 2.0); };

    // Overlaid explosions add up in power: ten before the eleventh impact, which comes back to the
    // first one's channel ...
    const double one = power(ticks[0] + 100, ticks[0] + 1000);
    const double ten = power(ticks[10] - 1000, ticks[10] - 100);
    EXPECT_NEAR(ten / one, 10.0, 1.0);
    // ... and eleven after it: the first explosion, 12 s into its 14, still sounds.
    EXPECT_NEAR(power(ticks[10] + 100, ticks[10] + 1000) / ten, 1.1, 0.04);
}

TEST_F(AudioOutRun, TurnedNinetyDegreesRightTheSameImpactIsHeardOnTheLeft)
{
    writeSound("Explosion.wav", noiseSound(2.0));
    // 45 frames of 50 ms at 40 degrees per second: a quarter turn before the first impact.
    writeFile(dir.file("keys.txt"), "1-45 RIGHT\n");
    const ProcessResult r = run("--frames 130 --keys " + dir.file("keys.txt"));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const std::vector<double> ticks = explosionTicks(dir.file("t.csv"));
    ASSERT_EQ(ticks.size(), 1u);
    const Capture c = readCapture(dir.file("out.wav"));
    EXPECT_GT(c.rms(c.left, ticks[0], ticks[0] + 1500), 1.15 * c.rms(c.right, ticks[0], ticks[0] + 1500));
}

TEST_F(AudioOutRun, CompleteFileOnEveryEndAndRefusedWhenUnwritable)
{
    writeSound("Backgroundmusic.wav", toneSound(1, 0.5, 440.0, 0.5));
    // A fatal error during start-up: the file is still a complete WAV file.
    std::filesystem::remove(dir.file("trajectory_data.txt"));
    ProcessResult r = run("--frames 10");
    EXPECT_EQ(r.exitStatus, 1) << r.output;
    readCapture(dir.file("out.wav"));
    writeFixtureData(dir.path());
    r = run("--frames 3");
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_EQ(readCapture(dir.file("out.wav")).left.size(), 150u * 441u / 10u);

    std::filesystem::create_directory(dir.file("folder.wav"));
    for (const std::string& bad : {dir.file("no-such-folder/out.wav"), dir.file("folder.wav")}) {
        r = runCommand(zentrix("--headless --data " + dir.path() + " --frames 3 --audio-out " + bad));
        EXPECT_EQ(r.exitStatus, 1) << r.output;
        EXPECT_NE(r.output.find("cannot create sound file " + bad), std::string::npos) << r.output;
    }
    r = runCommand(zentrix("--headless --frames 3 --audio-out"));
    EXPECT_EQ(r.exitStatus, 2) << r.output;
    // Headless without a file: one line says the run is silent.
    r = runCommand(zentrix("--headless --data " + dir.path() + " --frames 3"));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    const std::string silent = "zentrix: no sound in a headless run without --audio-out; running silent\n";
    EXPECT_EQ(r.output.find(silent), 0u) << r.output;
    EXPECT_EQ(r.output.find(silent, 1), std::string::npos) << r.output;
}
