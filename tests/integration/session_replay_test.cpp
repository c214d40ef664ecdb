#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "session/session_file.h"
#include "platform/audio/wav_file.h"
#include "platform/image/image_loader.h"
#include "support/fixtures.h"
#include "support/video_reader.h"

namespace {

std::string zentrix(const std::string& args) { return std::string(ZENTRIX_BINARY) + " --headless " + args; }

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t nl = text.find('\n', pos);
        out.push_back(text.substr(pos, nl - pos));
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return out;
}

std::vector<std::string> cells(const std::string& row)
{
    std::vector<std::string> out;
    size_t pos = 0;
    for (;;) {
        const size_t comma = row.find(',', pos);
        out.push_back(row.substr(pos, comma - pos));
        if (comma == std::string::npos) return out;
        pos = comma + 1;
    }
}

}  // namespace

// The bundled landscape with pacing 1, on the real clock with the seed from the clock: a walk
// with turns and the F, B and A keys, recorded, replays without its key script to the same trace
// and last picture; the replay's video shows that picture at its tick, lasts as long as the
// run's clock and carries the replay's sound.
TEST(SessionReplay, RealClockRecordingReplaysExactlyAndIntoAVideo)
{
    TempDir dir;
    const std::string data = dir.file("data");
    ASSERT_EQ(runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + data).exitStatus, 0);
    // Five labels, vertex processing, a label, then the pacing mode.
    std::istringstream rendering(readFile(data + "/RenderingAndMore.txt"));
    std::vector<std::string> tokens;
    for (std::string t; rendering >> t;) tokens.push_back(t);
    ASSERT_GE(tokens.size(), 8u);
    ASSERT_EQ(tokens[7], "1");
    dir.writeText("keys.txt", "0-30 UP\n15-45 LEFT\n35 F\n50 B\n60 A\n70-90 UP RIGHT\n95 F\n");

    const ProcessResult recorded = runCommand(zentrix("--data " + data + " --frames 100 --keys " + dir.file("keys.txt") +
                                                      " --record " + dir.file("s.txt") + " --trace " + dir.file("t1.csv") +
                                                      " --screenshot " + dir.file("s1.png")));
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.output;
    std::filesystem::remove(dir.file("keys.txt"));
    const ProcessResult replayed = runCommand(zentrix("--data " + data + " --replay " + dir.file("s.txt") + " --trace " +
                                                      dir.file("t2.csv") + " --screenshot " + dir.file("s2.png") +
                                                      " --audio-out " + dir.file("a.wav") + " --video " + dir.file("v.mp4")));
    ASSERT_EQ(replayed.exitStatus, 0) << replayed.output;
    const std::string trace = readFile(dir.file("t1.csv"));
    EXPECT_EQ(readFile(dir.file("t2.csv")), trace);
    EXPECT_EQ(readFile(dir.file("s2.png")), readFile(dir.file("s1.png")));
    EXPECT_NE(readFile(dir.file("s.txt")).find("\nend frames\n"), std::string::npos);

    const std::vector<std::string> rows = lines(trace);
    ASSERT_EQ(rows.size(), 101u);
    const int64_t firstTick = std::stoll(cells(rows[1])[1]);
    const int64_t lastTick = std::stoll(cells(rows.back())[1]);
    const int64_t lastFrameMs = std::stoll(cells(rows.back())[3]);
    const int64_t runMs = lastTick + lastFrameMs - firstTick;
    ASSERT_GT(runMs, 1900);  // pacing 1 at 50 frames per second

    DecodedVideo video;
    std::string why;
    ASSERT_TRUE(readVideo(dir.file("v.mp4"), {lastTick - firstTick}, video, why)) << why;
    EXPECT_EQ(video.width, 800);
    EXPECT_EQ(video.height, 600);
    EXPECT_EQ(video.audioCodec, "aac");
    EXPECT_NEAR(double(video.videoEndMs), double(runMs), 25.0);
    ArgbImage shot;
    ASSERT_TRUE(loadImageFile(dir.file("s2.png"), shot, why)) << why;
    RgbaImage screenshot{shot.width, shot.height, {}};
    for (uint32_t t : shot.texels)
        screenshot.pixels.insert(screenshot.pixels.end(), {uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t), 255});
    const double quality = psnr(video.picturesAt[0], screenshot);
    EXPECT_GE(quality, 30.0);

    PcmSound wav;
    ASSERT_TRUE(loadWavFile(dir.file("a.wav"), wav, why)) << why;
    const int64_t offset = firstTick * 441 / 10 - int64_t(std::llround(video.soundStartMs * 44.1));
    int64_t bestLag = 0;
    double best = -1.0;
    for (int64_t lag = -441; lag <= 441; ++lag) {
        const double c = soundCorrelation(video.sound, wav.samples, lag + offset);
        if (c > best) best = c, bestLag = lag;
    }
    EXPECT_GT(best, 0.9);
    EXPECT_LE(std::abs(bestLag), 44) << "the video's sound is " << bestLag << " samples off the capture";
    std::printf("run %lld ms, video %lld ms, PSNR %.1f dB, sound correlation %.4f at %lld samples\n", (long long)runMs,
                (long long)video.videoEndMs, quality, best, (long long)bestLag);
}

// The program stays in the folder it was started in: paths on the command line mean what they
// meant there, while data files (and the log) are found in the data folder and a session lists
// them by their plain names, so it replays when started from inside the data folder.
TEST(SessionReplay, CommandLinePathsStayWhereTheyWereTyped)
{
    TempDir dir;
    ASSERT_EQ(runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + dir.file("data")).exitStatus, 0);
    dir.writeText("keys.txt", "0-20 UP LEFT\n");
    const std::string common = " --fixed-step 20 --seed 3 --frames 25 ";
    const ProcessResult recorded =
        runCommand("cd " + dir.path() + " && " + zentrix("--data data" + common + "--keys keys.txt --trace t1.csv --record s.txt"));
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("data/t1.csv")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/protokoll.txt")));
    EXPECT_NE(readFile(dir.file("s.txt")).find("\ndata Terrain.txt "), std::string::npos);

    const ProcessResult replayed =
        runCommand("cd " + dir.file("data") + " && " + zentrix("--replay ../s.txt --trace ../t2.csv"));
    ASSERT_EQ(replayed.exitStatus, 0) << replayed.output;
    EXPECT_EQ(readFile(dir.file("t2.csv")), readFile(dir.file("t1.csv")));
}

// Each refusal ends with status 1 and one line naming the session or the file that differs;
// --frames stops a replay early.
TEST(SessionReplay, RefusalsNameTheFileAndFramesStopsEarly)
{
    TempDir dir;
    writeFixtureData(dir.path());
    auto run = [&](const std::string& args) { return runCommand(zentrix("--data " + dir.path() + " " + args)); };
    ASSERT_EQ(run("--frames 6 --record " + dir.file("s.txt") + " --trace " + dir.file("t1.csv")).exitStatus, 0);
    const std::string session = readFile(dir.file("s.txt"));

    const ProcessResult early = run("--replay " + dir.file("s.txt") + " --frames 2 --trace " + dir.file("t2.csv"));
    EXPECT_EQ(early.exitStatus, 0) << early.output;
    const std::vector<std::string> full = lines(readFile(dir.file("t1.csv")));
    EXPECT_EQ(lines(readFile(dir.file("t2.csv"))), std::vector<std::string>(full.begin(), full.begin() + 3));

    writeFile(dir.file("cut.txt"), session.substr(0, session.find("frame 3") + 9));
    const ProcessResult cut = run("--replay " + dir.file("cut.txt"));
    EXPECT_EQ(cut.exitStatus, 1);
    EXPECT_NE(cut.output.find("cut.txt is cut off in the middle of frame 3"), std::string::npos) << cut.output;

    writeFile(dir.file("v2.txt"), "zentrix session 2\n" + session.substr(session.find('\n') + 1));
    const ProcessResult version = run("--replay " + dir.file("v2.txt"));
    EXPECT_EQ(version.exitStatus, 1);
    EXPECT_NE(version.output.find("version '2' is not known"), std::string::npos) << version.output;

    // One clock reading more in frame 3 than the run takes: the replay goes out of step there and
    // replaces no existing output.
    const size_t frame3 = session.find("\nframe 3 ") + 1, end3 = session.find('\n', frame3);
    const std::string lastTick = session.substr(session.rfind(' ', end3) + 1, end3 - session.rfind(' ', end3) - 1);
    writeFile(dir.file("skew.txt"), session.substr(0, end3) + " " + lastTick.substr(0, lastTick.find('*')) +
                                        session.substr(end3));
    for (const char* name : {"keep.csv", "keep.wav"}) writeFile(dir.file(name), "precious");
    const ProcessResult skew =
        run("--replay " + dir.file("skew.txt") + " --trace " + dir.file("keep.csv") + " --audio-out " + dir.file("keep.wav"));
    EXPECT_EQ(skew.exitStatus, 1) << skew.output;
    EXPECT_NE(skew.output.find("went out of step with the recording in frame 3"), std::string::npos) << skew.output;
    for (const char* name : {"keep.csv", "keep.wav"}) EXPECT_EQ(readFile(dir.file(name)), "precious") << name;

    writeFile(dir.file("SpielEinstellungen.txt"), "ViewDistance 999\n");
    const ProcessResult changed = run("--replay " + dir.file("s.txt") + " --video " + dir.file("v.webm"));
    EXPECT_EQ(changed.exitStatus, 1);
    EXPECT_EQ(changed.output, "zentrix: session " + dir.file("s.txt") +
                                  " cannot be replayed here: the data file SpielEinstellungen.txt differs from the one the "
                                  "session was recorded with\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("v.webm")));

    // Never over an input: the key script is not a place to record or encode to; an existing
    // video is replaced only by a complete one.
    writeFile(dir.file("old.mkv"), "an older video");
    writeFile(dir.file("SpielEinstellungen.txt"), "ViewDistance 1000\n");
    const ProcessResult failed = run("--replay " + dir.file("s.txt") + " --frames 0 --video " + dir.file("old.mkv"));
    EXPECT_EQ(failed.exitStatus, 1) << failed.output;
    EXPECT_NE(failed.output.find("cannot write video " + dir.file("old.mkv")), std::string::npos) << failed.output;
    EXPECT_EQ(readFile(dir.file("old.mkv")), "an older video");
    ASSERT_EQ(run("--replay " + dir.file("s.txt") + " --video " + dir.file("old.mkv")).exitStatus, 0);
    EXPECT_NE(readFile(dir.file("old.mkv")), "an older video");
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string().rfind(".old.mkv.zentrix-", 0), 0u) << entry.path();
    writeFile(dir.file("keys.mkv"), "0 UP\n");
    for (const char* option : {" --video ", " --record "}) {
        const ProcessResult over = run("--frames 1 --keys " + dir.file("keys.mkv") + option + dir.file("keys.mkv"));
        EXPECT_EQ(over.exitStatus, 2);
        EXPECT_NE(over.output.find("is the same file as the key script"), std::string::npos) << over.output;
        EXPECT_EQ(readFile(dir.file("keys.mkv")), "0 UP\n");
    }
}

// A disk that fills up (a file-size limit): the run ends with status 1 naming the file; the
// session keeps its whole frames, a video that cannot be completed is taken away.
TEST(SessionReplay, OutputsPastTheFileSizeLimitEndWithStatusOne)
{
    TempDir dir;
    writeFixtureData(dir.path());
    auto capped = [&](const std::string& args) {
        return runCommand("trap '' XFSZ; ulimit -f 8; " + zentrix("--data " + dir.path() + " --fixed-step 20 " + args));
    };
    const ProcessResult video = capped("--frames 100 --video " + dir.file("v.mkv"));
    EXPECT_EQ(video.exitStatus, 1) << video.output;
    EXPECT_NE(video.output.find("zentrix: cannot write video " + dir.file("v.mkv")), std::string::npos) << video.output;
    EXPECT_NE(video.output.find("File too large"), std::string::npos) << video.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("v.mkv")));

    const ProcessResult session = capped("--frames 2000 --record " + dir.file("s.txt"));
    EXPECT_EQ(session.exitStatus, 1) << session.output;
    EXPECT_NE(session.output.find("zentrix: cannot write session file " + dir.file("s.txt") + ": File too large"),
              std::string::npos)
        << session.output;
    Session kept;
    std::string error;
    const std::string text = readFile(dir.file("s.txt"));
    // What reached the disk replays up to its last whole frame.
    ASSERT_TRUE(parseSession(text.substr(0, text.rfind('\n') + 1), "s.txt", kept, error)) << error;
    EXPECT_GT(kept.frames.size(), 10u);
}

// The sound of a replay is the recording's, sample for sample, on the real clock: with pacing 1
// long enough for the first explosion (after about 6.3 s), and with pacing 2, whose frames end
// at any tick. The outputs read the clock only as the run read it.
TEST(SessionReplay, RealClockRecordingsSoundTheSameWhenReplayed)
{
    TempDir dir;
    const std::string data = dir.file("data");
    ASSERT_EQ(runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + data).exitStatus, 0);
    struct Case {
        const char* pacing;
        const char* frames;
        bool explodes;
    };
    for (const Case& c : {Case{"1\nFps 20", "140", true}, Case{"2\nFps 50", "150", false}}) {
        SCOPED_TRACE(c.pacing);
        writeFile(data + "/RenderingAndMore.txt", std::string("Vertex processing 0 to 3: 0\nPacing ") + c.pacing + "\nUnused 0\n");
        const ProcessResult recorded = runCommand(zentrix("--data " + data + " --frames " + c.frames + " --record " +
                                                          dir.file("s.txt") + " --trace " + dir.file("t.csv") +
                                                          " --audio-out " + dir.file("a1.wav")));
        ASSERT_EQ(recorded.exitStatus, 0) << recorded.output;
        const ProcessResult replayed = runCommand(
            zentrix("--data " + data + " --replay " + dir.file("s.txt") + " --audio-out " + dir.file("a2.wav")));
        ASSERT_EQ(replayed.exitStatus, 0) << replayed.output;
        const std::string last = lines(readFile(dir.file("t.csv"))).back();
        if (c.explodes) {
            EXPECT_NE(cells(last)[30], "0") << "no explosion in the recording";
        }
        const std::string sound = readFile(dir.file("a1.wav"));
        EXPECT_GT(sound.size(), 44100u);
        EXPECT_TRUE(readFile(dir.file("a2.wav")) == sound) << "the replay's sound differs from the recording's";
    }
}
