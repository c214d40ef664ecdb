#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/video/video_encoder.h"
#include "support/fixtures.h"
#include "support/video_reader.h"

namespace {

RgbaImage testPicture(int width, int height, int k)
{
    RgbaImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &image.pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
            const bool square = x >= 10 + 20 * k && x < 40 + 20 * k && y >= 20 && y < 50;
            p[0] = square ? 240 : uint8_t(x * 255 / width);
            p[1] = square ? 30 : uint8_t(y * 255 / height);
            p[2] = uint8_t(40 * k);
            p[3] = 255;
        }
    return image;
}

std::vector<int16_t> sine(size_t frames)
{
    std::vector<int16_t> s(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] = int16_t(8000.0 * std::sin(2.0 * M_PI * 440.0 * double(i) / 44100.0) +
                                          4000.0 * std::sin(2.0 * M_PI * 97.0 * double(i) / 44100.0));
    return s;
}

}  // namespace

// Five pictures at uneven times with a quarter second of sound, in both kinds of container: each
// picture comes back at its millisecond, close to what went in, and the sound lines up.
TEST(VideoEncoder, FewFramesDecodeBackAtTheirTimesWithTheirSound)
{
    TempDir dir;
    const std::vector<int64_t> times = {0, 40, 60, 100, 180};
    const std::vector<int16_t> sound = sine(44100 / 4);
    for (const char* name : {"v.mp4", "v.mkv", "v.webm"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        VideoEncoder encoder;
        std::string why;
        ASSERT_TRUE(encoder.create(path, VideoEncoderSettings{}, why)) << why;
        for (size_t k = 0; k < times.size(); ++k) {
            const RgbaImage picture = testPicture(160, 120, int(k));
            ASSERT_TRUE(encoder.addPicture(picture.pixels.data(), 160, 120, times[k], why)) << why;
            // The sound arrives in pieces between the pictures, as it does from a run.
            const size_t from = size_t(times[k]) * 441 / 10, to = k + 1 < times.size() ? size_t(times[k + 1]) * 441 / 10 : sound.size() / 2;
            ASSERT_TRUE(encoder.addSound(sound.data() + from * 2, to - from, why)) << why;
        }
        ASSERT_TRUE(encoder.finish(250, why)) << why;

        DecodedVideo video;
        ASSERT_TRUE(readVideo(path, times, video, why)) << why;
        const bool webm = std::string(name) == "v.webm";
        EXPECT_EQ(video.videoCodec, webm ? "vp9" : "h264");
        EXPECT_EQ(video.audioCodec, webm ? "opus" : "aac");
        EXPECT_EQ(video.width, 160);
        EXPECT_EQ(video.height, 120);
        EXPECT_EQ(video.pictureMs, times);
        EXPECT_EQ(video.videoEndMs, 250);
        for (size_t k = 0; k < times.size(); ++k) EXPECT_GE(psnr(video.picturesAt[k], testPicture(160, 120, int(k))), 30.0) << k;

        // Lossy sound: the best match lies within a millisecond of no shift and is close.
        ASSERT_GT(video.sound.size(), sound.size() * 9 / 10);
        int64_t bestLag = 0;
        double best = -1.0;
        for (int64_t lag = -1000; lag <= 1000; ++lag) {
            const double c = soundCorrelation(video.sound, sound, lag + int64_t(std::llround(video.soundStartMs * 44.1)));
            if (c > best) best = c, bestLag = lag;
        }
        EXPECT_GT(best, 0.95);
        EXPECT_LE(std::abs(bestLag), 44) << "sound shifted by " << bestLag << " samples";
    }
}

// A constant rate shows at each output frame the picture presented last at or before its time;
// a second picture in the same millisecond replaces the first.
TEST(VideoEncoder, ConstantRateRepeatsAndSameMillisecondReplaces)
{
    TempDir dir;
    VideoEncoderSettings settings;
    settings.fps = 10;
    settings.audioRate = 0;
    VideoEncoder encoder;
    std::string why;
    ASSERT_TRUE(encoder.create(dir.file("c.mp4"), settings, why)) << why;
    const RgbaImage a = testPicture(96, 64, 0), b = testPicture(96, 64, 1), c = testPicture(96, 64, 2);
    ASSERT_TRUE(encoder.addPicture(a.pixels.data(), 96, 64, 0, why));
    ASSERT_TRUE(encoder.addPicture(b.pixels.data(), 96, 64, 0, why));
    ASSERT_TRUE(encoder.addPicture(c.pixels.data(), 96, 64, 150, why));
    ASSERT_TRUE(encoder.finish(300, why)) << why;
    DecodedVideo video;
    ASSERT_TRUE(readVideo(dir.file("c.mp4"), {0, 100, 200}, video, why)) << why;
    EXPECT_EQ(video.pictureMs, (std::vector<int64_t>{0, 100, 200}));
    EXPECT_TRUE(video.audioCodec.empty());
    EXPECT_GE(psnr(video.picturesAt[0], b), 30.0);
    EXPECT_GE(psnr(video.picturesAt[1], b), 30.0);
    EXPECT_GE(psnr(video.picturesAt[2], c), 30.0);
}

// A clock that leaps ahead costs a bounded number of frames: each picture fills at most
// maxRepeatedFrames, the last of them lasting until the next picture, which comes at its time.
TEST(VideoEncoder, ConstantRateGapsAreHeldByABoundedNumberOfFrames)
{
    TempDir dir;
    VideoEncoderSettings settings;
    settings.fps = 10;
    settings.audioRate = 0;
    VideoEncoder encoder;
    std::string why;
    ASSERT_TRUE(encoder.create(dir.file("gap.mkv"), settings, why)) << why;
    const RgbaImage a = testPicture(96, 64, 0), b = testPicture(96, 64, 1);
    ASSERT_TRUE(encoder.addPicture(a.pixels.data(), 96, 64, 0, why));
    ASSERT_TRUE(encoder.addPicture(b.pixels.data(), 96, 64, 1000000, why));
    ASSERT_TRUE(encoder.finish(2000000, why)) << why;
    const uint64_t most = VideoEncoder::maxRepeatedFrames;
    EXPECT_EQ(encoder.picturesWritten(), 2 * most);
    DecodedVideo video;
    ASSERT_TRUE(readVideo(dir.file("gap.mkv"), {500000, 1000000, 1999999}, video, why)) << why;
    ASSERT_EQ(video.pictureMs.size(), 2 * most);
    EXPECT_EQ(video.pictureMs[most - 1], int64_t(most - 1) * 100);
    EXPECT_EQ(video.pictureMs[most], 1000000);
    EXPECT_EQ(video.videoEndMs, 2000000);
    EXPECT_GE(psnr(video.picturesAt[0], a), 30.0);
    EXPECT_GE(psnr(video.picturesAt[1], b), 30.0);
    EXPECT_GE(psnr(video.picturesAt[2], b), 30.0);
}

TEST(VideoEncoder, BadNamesAndPathsAreRefusedNamingTheFile)
{
    TempDir dir;
    std::string why;
    VideoEncoder encoder;
    EXPECT_FALSE(encoder.create(dir.file("v.avi"), VideoEncoderSettings{}, why));
    EXPECT_NE(why.find("v.avi"), std::string::npos) << why;
    EXPECT_FALSE(encoder.create(dir.file("no/such/v.mp4"), VideoEncoderSettings{}, why));
    EXPECT_NE(why.find("no/such/v.mp4"), std::string::npos) << why;
    // A run that ends before its first picture has nothing to show.
    ASSERT_TRUE(encoder.create(dir.file("empty.webm"), VideoEncoderSettings{}, why));
    EXPECT_FALSE(encoder.finish(100, why));
    EXPECT_NE(why.find("before its first picture"), std::string::npos) << why;
}
