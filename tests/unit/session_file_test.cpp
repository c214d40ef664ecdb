#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/progress_line.h"
#include "session/session_run.h"
#include "base/checked_file.h"
#include "support/fixtures.h"

namespace {

// A keyboard that holds the given keys, or fails its read when told to.
class HeldKeys : public KeyboardSource {
public:
    std::vector<uint8_t> held;
    bool fail = false;
    bool read(uint8_t state[256]) override
    {
        if (fail) return false;
        std::memset(state, 0, 256);
        for (uint8_t k : held) state[k] = 0x80;
        return true;
    }
    bool escapeDown() override { return false; }
};

class SteppedClock : public TickSource {
public:
    std::vector<uint32_t> values;
    size_t next = 0;
    uint32_t now() override { return values[next++ % values.size()]; }
};

struct Recorded {
    std::vector<uint32_t> ticks[4];  // start-up, frames 0..2
    std::vector<std::vector<uint8_t>> keys{{DIK_UP, DIK_LEFT}, {}, {DIK_F}};
};

// Records a start-up and three frames (frame 1's key read fails) the way a run does.
std::string recordSession(TempDir& dir, Recorded& r)
{
    dir.writeText("a.txt", "alpha");
    SessionRecorder recorder;
    EXPECT_TRUE(recorder.create(dir.file("s.txt")));
    auto inner = std::make_unique<SteppedClock>();
    inner->values = {1000, 1000, 1005, 1020, 1021, 1021, 1021, 1043, 4294967295u, 3};
    auto clock = recorder.wrapClock(std::move(inner));
    auto keysIn = std::make_unique<HeldKeys>();
    HeldKeys* keys = keysIn.get();
    auto keyboard = recorder.wrapKeyboard(std::move(keysIn));
    recorder.begin(77);
    recorder.noteFileRead("a.txt");
    recorder.noteFileRead("missing.txt");
    recorder.noteFileRead("a.txt");
    r.ticks[0] = {clock->now(), clock->now()};
    recorder.startUpDone();
    const int reads[3] = {3, 4, 1};
    for (int f = 0; f < 3; ++f) {
        keys->held = r.keys[size_t(f)];
        keys->fail = f == 1;
        uint8_t state[256];
        keyboard->read(state);
        for (int i = 0; i < reads[f]; ++i) r.ticks[f + 1].push_back(clock->now());
        recorder.frameDone(f);
    }
    EXPECT_TRUE(recorder.finish("escape"));
    return readFile(dir.file("s.txt"));
}

}  // namespace

TEST(SessionFile, RoundTripGivesTheSameTicksKeysSeedAndEnd)
{
    TempDir dir;
    Recorded r;
    const std::string text = recordSession(dir, r);
    // One line per frame, readable: held keys by name, repeated clock values folded.
    EXPECT_NE(text.find("\nframe 0 keys UP LEFT ticks 1005 1020 1021\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nframe 1 keys ? ticks 1021*2 1043 4294967295\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ndata missing.txt missing\n"), std::string::npos) << text;

    SessionReplayer replay;
    std::string error;
    ASSERT_TRUE(replay.load(dir.file("s.txt"), error)) << error;
    EXPECT_EQ(replay.session().seed, 77u);
    EXPECT_EQ(replay.session().end, "escape");
    ASSERT_EQ(replay.session().dataFiles.size(), 2u);
    std::string how;
    EXPECT_EQ(firstDifferingDataFile(replay.session(), how), "") << how;

    auto clock = replay.makeClock();
    auto keyboard = replay.makeKeyboard(nullptr);
    for (uint32_t t : r.ticks[0]) EXPECT_EQ(clock->now(), t);
    replay.startUpDone();
    for (int f = 0; f < 3; ++f) {
        uint8_t state[256];
        const bool read = keyboard->read(state);
        EXPECT_EQ(read, f != 1) << f;
        if (read) {
            for (int k = 0; k < 256; ++k)
                EXPECT_EQ((state[k] & 0x80) != 0, std::count(r.keys[size_t(f)].begin(), r.keys[size_t(f)].end(), k) > 0);
        }
        // The recording's last frame ends the replay as it ended the recording.
        EXPECT_EQ(keyboard->escapeDown(), f == 2) << f;
        for (uint32_t t : r.ticks[f + 1]) EXPECT_EQ(clock->now(), t);
        replay.frameDone();
    }
    EXPECT_EQ(replay.error(), "");
}

TEST(SessionFile, ACutInsideAFrameIsRefusedAndACutBetweenFramesReplaysUpToThere)
{
    TempDir dir;
    Recorded r;
    const std::string text = recordSession(dir, r);
    const size_t frame2 = text.find("frame 2");
    Session s;
    std::string error;
    EXPECT_FALSE(parseSession(text.substr(0, frame2 + 12), "s.txt", s, error));
    EXPECT_NE(error.find("s.txt is cut off in the middle of frame 2"), std::string::npos) << error;
    EXPECT_FALSE(parseSession(text.substr(0, text.find("start") + 3), "s.txt", s, error));
    EXPECT_NE(error.find("middle of the start-up"), std::string::npos) << error;

    ASSERT_TRUE(parseSession(text.substr(0, frame2), "s.txt", s, error)) << error;
    EXPECT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.end, "");
}

TEST(SessionFile, UnknownVersionsAndMalformedLinesAreRefusedWithTheLine)
{
    Session s;
    std::string error;
    EXPECT_FALSE(parseSession("zentrix session 2\nseed 1\nstart\n", "s.txt", s, error));
    EXPECT_EQ(error, "s.txt:1: session format version '2' is not known to this program, which reads version 1");
    EXPECT_FALSE(parseSession("frame,tick,dt\n1,2,3\n", "s.txt", s, error));
    EXPECT_NE(error.find("not a zentrix session file"), std::string::npos) << error;
    const std::string head = "zentrix session 1\nseed 5\nstart 1\n";
    const char* bad[] = {
        "frame 1 keys ticks 1\n",                 // frames out of order
        "frame 0 keys UP\n",                      // no tick list
        "frame 0 keys JUMP ticks 1\n",            // unknown key
        "frame 0 keys #00 ticks 1\n",             // key code 0
        "frame 0 keys ticks 4294967296\n",        // beyond 32 bits
        "frame 0 keys ticks 7*0\n",               // an empty run
        "frame 0 keys ticks 7*100000001\n",       // a run no pacing loop makes
        "frame 0 keys ticks -1\n",
        "data a.txt 5 12345\n",                   // short digest
        "data %zz 5 0123456789abcdef\n",          // bad escape
        "end escape\nframe 0 keys ticks 1\n",     // after the end
        "end crashed\n",
        "start 1\n",                              // a second start
        "seed 6\n",
    };
    for (const char* line : bad) EXPECT_FALSE(parseSession(head + line, "s.txt", s, error)) << line;
    EXPECT_FALSE(parseSession("zentrix session 1\nseed 5\nframe 0 keys ticks 1\n", "s.txt", s, error));
    EXPECT_FALSE(parseSession("zentrix session 1\nseed 5\n", "s.txt", s, error));
    EXPECT_NE(error.find("nothing to replay"), std::string::npos) << error;
    // Tokens are quoted as the other readers quote them: no escape sequence reaches the
    // terminal and a megabyte of name gives a short line.
    EXPECT_FALSE(parseSession(head + "frame 0 keys \x1b]0;pwned\a ticks 1\n", "s.txt", s, error));
    EXPECT_EQ(error, "s.txt:4: unknown key '\\x1B]0;pwned\\x07'");
    EXPECT_FALSE(parseSession(head + std::string(1 << 20, 'x') + "\n", "s.txt", s, error));
    EXPECT_EQ(error, "s.txt:4: unknown line '" + std::string(40, 'x') + "...'");
    EXPECT_FALSE(parseSession(head + "data %1B[2J 1 0123456789abcdef\ndata %1B[2J missing\n", "s.txt", s, error));
    EXPECT_EQ(error, "s.txt:5: data file '\\x1B[2J' is listed twice");
    EXPECT_EQ(printableName("Landscape/Height.bmp"), "Landscape/Height.bmp");
    EXPECT_EQ(printableName("\x1b[2J"), "'\\x1B[2J'");
    // The end line may lack its newline; a frame line may not.
    ASSERT_TRUE(parseSession(head + "frame 0 keys ticks 1\nend frames", "s.txt", s, error)) << error;
    EXPECT_EQ(s.end, "frames");
    EXPECT_FALSE(parseSession(head + "frame 0 keys ticks 1\nend frames\nend", "s.txt", s, error));
    EXPECT_FALSE(parseSession(head + "frame 0 keys ticks 1", "s.txt", s, error));
    EXPECT_NE(error.find("cut off in the middle of frame 0"), std::string::npos) << error;
    // Names with spaces and odd bytes travel escaped and come back whole.
    ASSERT_TRUE(parseSession(head + sessionDataLine({"my dir/x%.bmp", true, 3, 0xabcdef}), "s.txt", s, error)) << error;
    EXPECT_EQ(s.dataFiles.at(0).name, "my dir/x%.bmp");
}

TEST(SessionFile, ADifferentDataFolderNamesTheFirstFileThatDiffers)
{
    TempDir dir;
    Recorded r;
    recordSession(dir, r);
    SessionReplayer replay;
    std::string error, how;
    ASSERT_TRUE(replay.load(dir.file("s.txt"), error)) << error;
    dir.writeText("a.txt", "alphA");  // same size, one byte changed
    EXPECT_EQ(firstDifferingDataFile(replay.session(), how), "a.txt");
    EXPECT_EQ(how, "differs from the one the session was recorded with");
    std::filesystem::remove(dir.file("a.txt"));
    EXPECT_EQ(firstDifferingDataFile(replay.session(), how), "a.txt");
    EXPECT_EQ(how, "is missing or unreadable now");
    dir.writeText("a.txt", "alpha");
    dir.writeText("missing.txt", "here now");
    EXPECT_EQ(firstDifferingDataFile(replay.session(), how), "missing.txt");
    EXPECT_EQ(how, "was missing when the session was recorded and is there now");
}

// A run that reads the clock more often than its recording gets a clock that keeps moving, so
// a pacing loop cannot wait for ever, and the replay reports where it left the recording.
TEST(SessionFile, AReplayOutOfStepSaysWhereAndNeverStopsTheClock)
{
    Session s;
    std::string error;
    SessionReplayer more;
    TempDir dir;
    dir.writeText("s.txt", "zentrix session 1\nseed 5\nstart 10\nframe 0 keys ticks 10 30\nframe 1 keys ticks 50 70\n");
    ASSERT_TRUE(more.load(dir.file("s.txt"), error)) << error;
    auto clock = more.makeClock();
    clock->now();
    more.startUpDone();
    EXPECT_EQ(clock->now(), 10u);
    EXPECT_EQ(clock->now(), 30u);
    EXPECT_EQ(clock->now(), 31u);
    EXPECT_EQ(clock->now(), 32u);
    EXPECT_NE(more.error().find("went out of step with the recording in frame 0"), std::string::npos) << more.error();

    SessionReplayer fewer;
    ASSERT_TRUE(fewer.load(dir.file("s.txt"), error)) << error;
    auto clock2 = fewer.makeClock();
    clock2->now();
    fewer.startUpDone();
    clock2->now();
    fewer.frameDone();
    EXPECT_NE(fewer.error().find("less often"), std::string::npos) << fewer.error();
}

TEST(ProgressLine, ShowsFramesRateAndTimeLeft)
{
    EXPECT_EQ(ProgressLine::text(500, 2000, 10.0), "zentrix: frame 500 of 2000 (25%), 50.0 frames/s, 0:30 left");
    EXPECT_EQ(ProgressLine::text(120, -1, 4.0), "zentrix: frame 120, 30.0 frames/s");
}
