#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/audio_out.h"
#include "app/run_output.h"
#include "platform/audio/wav_file.h"
#include "support/fixtures.h"

namespace {

void put16(std::string& s, uint16_t v) { s += char(v & 0xFF), s += char(v >> 8); }
void put32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// A PCM WAV image with the given format fields and raw data.
std::string wavImage(int channels, int rate, int bits, const std::string& data)
{
    std::string s = "RIFF";
    put32(s, uint32_t(36 + data.size()));
    s += "WAVEfmt ";
    put32(s, 16);
    put16(s, 1);
    put16(s, uint16_t(channels));
    put32(s, uint32_t(rate));
    put32(s, uint32_t(rate * channels * bits / 8));
    put16(s, uint16_t(channels * bits / 8));
    put16(s, uint16_t(bits));
    s += "data";
    put32(s, uint32_t(data.size()));
    return s + data;
}

bool decode(const std::string& image, PcmSound& out, std::string& why)
{
    return decodeWav(reinterpret_cast<const uint8_t*>(image.data()), image.size(), out, why);
}

}  // namespace

TEST(WavFile, DecodesToSixteenBitsAndAtMostTwoChannels)
{
    PcmSound pcm;
    std::string why;
    // 8-bit unsigned mono: 128 is silence, 255 nearly full scale.
    ASSERT_TRUE(decode(wavImage(1, 22050, 8, std::string("\x80\xFF\x00", 3)), pcm, why)) << why;
    EXPECT_EQ(pcm.channels, 1);
    EXPECT_EQ(pcm.rate, 22050);
    ASSERT_EQ(pcm.samples.size(), 3u);
    EXPECT_EQ(pcm.samples[0], 0);
    EXPECT_GT(pcm.samples[1], 32000);
    EXPECT_EQ(pcm.samples[2], -32768);

    // Four channels are mixed down to two.
    std::string quad;
    for (int i = 0; i < 10; ++i) put16(quad, 1000), put16(quad, 1000), put16(quad, 1000), put16(quad, 1000);
    ASSERT_TRUE(decode(wavImage(4, 44100, 16, quad), pcm, why)) << why;
    EXPECT_EQ(pcm.channels, 2);
    EXPECT_EQ(pcm.frames(), 10u);

    // A stereo sound for a positional voice: the two sides averaged.
    PcmSound stereo;
    stereo.channels = 2;
    stereo.rate = 8000;
    stereo.samples = {1000, 3000, -32768, -32768, 32767, 32767};
    const PcmSound mono = downmixToMono(stereo);
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.rate, 8000);
    EXPECT_EQ(mono.samples, (std::vector<int16_t>{2000, -32768, 32767}));
}

TEST(WavFile, RefusesWhatIsNotAUsableSound)
{
    PcmSound pcm;
    std::string why;
    EXPECT_FALSE(decode("RIFF, but no sound in it", pcm, why));
    EXPECT_NE(why.find("is not a usable WAV file"), std::string::npos) << why;
    EXPECT_FALSE(decode("", pcm, why));
    EXPECT_FALSE(decode(wavImage(1, 44100, 16, ""), pcm, why));
    EXPECT_FALSE(decode(wavImage(1, 500, 16, std::string(200, '\0')), pcm, why));
    EXPECT_NE(why.find("500 Hz"), std::string::npos) << why;
    // The data chunk claims more than the file holds: at most what is there is played.
    std::string truncated = wavImage(1, 44100, 16, std::string(8, '\x10'));
    truncated.replace(40, 4, std::string("\xFF\xFF\xFF\x7F", 4));
    if (decode(truncated, pcm, why)) {
        EXPECT_LE(pcm.samples.size(), 4u);
    }

    TempDir dir;
    EXPECT_FALSE(loadWavFile(dir.file("missing.wav"), pcm, why));
    EXPECT_EQ(why, "cannot be opened: No such file or directory");
    std::filesystem::create_directory(dir.file("folder.wav"));
    EXPECT_FALSE(loadWavFile(dir.file("folder.wav"), pcm, why));
    EXPECT_EQ(why, "is a directory, not a sound file");
}

TEST(WavFile, WriterKeepsTheHeaderCompleteAfterEveryWrite)
{
    TempDir dir;
    WavWriter writer;
    std::string why;
    ASSERT_TRUE(writer.open(dir.file("w.wav"), 2, 44100, why)) << why;
    const int16_t frames[6] = {1, -1, 2, -2, 3, -3};
    ASSERT_TRUE(writer.write(frames, 3, why)) << why;
    // Not closed yet: what is on disk already reads back whole.
    PcmSound back;
    ASSERT_TRUE(loadWavFile(dir.file("w.wav"), back, why)) << why;
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.rate, 44100);
    EXPECT_EQ(back.samples, std::vector<int16_t>(frames, frames + 6));
    EXPECT_TRUE(writer.close(why));
    EXPECT_EQ(std::filesystem::file_size(dir.file("w.wav")), 44u + 12u);

    EXPECT_FALSE(writer.open(dir.file("no/such/folder.wav"), 2, 44100, why));
    EXPECT_NE(why.find("cannot create sound file " + dir.file("no/such/folder.wav") + ": No such file or directory"),
              std::string::npos)
        << why;
    if (std::filesystem::exists("/dev/full")) {
        ASSERT_TRUE(writer.open("/dev/full", 2, 44100, why) == false || !writer.write(frames, 3, why));
        EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
    }
}

RunOutputFactory makeSoundFileOutput;

// The --audio-out output on the mix.
TEST(SoundMix, RendersExactlyTheMillisecondsTheClockAdvanced)
{
    TempDir dir;
    size_t rendered = 0;
    SoundMix mix([&](int16_t* s, size_t n) {
        for (size_t i = 0; i < 2 * n; ++i) s[i] = 7;
        rendered += n;
    });
    std::string why;
    RunOptions options;
    options.audioOutFile = dir.file("a.wav");
    const auto out = makeSoundFileOutput(options);
    ASSERT_TRUE(out->open(why)) << why;
    ASSERT_TRUE(out->wantsMix(true));
    out->attachMix(mix);
    // 44.1 samples per millisecond: whole samples only, the fraction carried to the next frame.
    ASSERT_TRUE(mix.advanceTo(3, why));
    EXPECT_EQ(mix.framesRendered(), 132u);
    ASSERT_TRUE(mix.advanceTo(10, why));
    EXPECT_EQ(mix.framesRendered(), 441u);
    ASSERT_TRUE(mix.advanceTo(10, why));
    EXPECT_EQ(mix.framesRendered(), 441u);
    // A clock that leaps past what a WAV file can hold is refused before anything is written.
    EXPECT_FALSE(mix.advanceTo(0xFFFFFFF6u, why));
    EXPECT_EQ(why, "sound file " + dir.file("a.wav") + " reached the 4 GiB limit of the WAV format");
    EXPECT_EQ(rendered, 441u);
    ASSERT_TRUE(out->finish("frames", why) && out->commit(why)) << why;
    PcmSound wav;
    ASSERT_TRUE(loadWavFile(dir.file("a.wav"), wav, why)) << why;
    EXPECT_EQ(wav.samples.size(), 2u * 441u);
}
