#include <gtest/gtest.h>

#include "app/command_line.h"
#include "session/scripted_keyboard.h"

namespace {

bool parse(std::vector<const char*> args, RunOptions& o, std::string& error)
{
    args.insert(args.begin(), "zentrix");
    return parseCommandLine(static_cast<int>(args.size()), args.data(), o, error);
}

}  // namespace

TEST(CommandLine, ReadsEveryOption)
{
    RunOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--data", "d", "--headless", "--frames", "3", "--fixed-step", "10", "--seed", "42", "--keys",
                       "k.txt", "--trace", "t.csv", "--screenshot", "s.png"},
                      o, error))
        << error;
    EXPECT_EQ(o.dataDir, "d");
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.frames, 3);
    EXPECT_EQ(o.fixedStepMs, 10);
    EXPECT_TRUE(o.seedGiven);
    EXPECT_EQ(o.seed, 42u);
    EXPECT_EQ(o.keysFile, "k.txt");
    EXPECT_EQ(o.traceFile, "t.csv");
    EXPECT_EQ(o.screenshotFile, "s.png");
}

TEST(CommandLine, RefusesUnknownOptionsAndBadValues)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus"}, {"--frames"}, {"--frames", "-1"}, {"--frames", "3x"}, {"--fixed-step", "ten"},
        {"--seed", "99999999999"}, {"--data", ""}, {"extra"}};
    for (const auto& args : bad) {
        RunOptions o;
        std::string error;
        EXPECT_FALSE(parse(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

// A replay takes clock, seed and keys from its session; the video's name picks its codecs.
TEST(CommandLine, RecordReplayAndVideoOptions)
{
    RunOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--replay", "s.txt", "--video", "out.WEBM", "--video-fps", "30", "--video-quality", "63"}, o, error))
        << error;
    EXPECT_EQ(o.replayFile, "s.txt");
    EXPECT_EQ(o.videoFps, 30);
    EXPECT_EQ(o.videoQuality, 63);
    const struct {
        std::vector<const char*> args;
        const char* expect;
    } bad[] = {{{"--replay", "s.txt", "--seed", "3"}, "--seed cannot be given with it"},
               {{"--replay", "s.txt", "--keys", "k.txt"}, "--keys cannot be given with it"},
               {{"--replay", "s.txt", "--record", "r.txt"}, "--record cannot be given with it"},
               {{"--video", "out.avi"}, "--video needs a file name ending in .mp4, .mkv or .webm, not 'out.avi'"},
               {{"--video", "out.mp4", "--video-quality", "52"}, "--video-quality for out.mp4 is at most 51, not 52"},
               {{"--video-fps", "25"}, "--video-fps and --video-quality need --video"},
               {{"--video", "o.mkv", "--video-fps", "0"}, "--video-fps needs a whole number from 1 to 1000, not '0'"},
               {{"--record", ""}, "--record needs a file name"}};
    for (const auto& c : bad) {
        RunOptions r;
        EXPECT_FALSE(parse(c.args, r, error)) << c.args[0];
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
    }
}

// One rule for every path: never empty; an output of one type names it (in any case), except a
// stream, whose name carries no type; the video's name must, as it picks the container.
TEST(CommandLine, PathValuesAreNeverEmptyAndTypedOutputsNameTheirType)
{
    std::string error;
    for (const char* option : {"--data", "--keys", "--trace", "--screenshot", "--audio-out", "--record", "--replay", "--video"}) {
        RunOptions o;
        EXPECT_FALSE(parse({option, ""}, o, error)) << option;
        EXPECT_EQ(error.rfind(std::string(option) + " needs a ", 0), 0u) << error;
        EXPECT_EQ(error.substr(error.size() - 8), ", not ''") << error;
    }
    const struct {
        const char* option;
        const char* value;
        const char* expect;  // empty: accepted
    } cases[] = {{"--screenshot", "s.jpg", "--screenshot needs a file name ending in .png, not 's.jpg'"},
                 {"--screenshot", "png", "--screenshot needs a file name ending in .png, not 'png'"},
                 {"--screenshot", "s.png/", "--screenshot needs a file name ending in .png, not 's.png/'"},
                 {"--audio-out", "a.mp3", "--audio-out needs a file name ending in .wav, not 'a.mp3'"},
                 {"--audio-out", "/dev/fd/x", "--audio-out needs a file name ending in .wav, not '/dev/fd/x'"},
                 {"--video", "/dev/stdout", "--video needs a file name ending in .mp4, .mkv or .webm, not '/dev/stdout'"},
                 {"--screenshot", "Shot.PNG", ""},
                 {"--audio-out", "take.Wav", ""},
                 {"--screenshot", "/dev/stdout", ""},
                 {"--audio-out", "/dev/fd/3", ""},
                 {"--audio-out", "/dev/null", ""},  // a character device, by its type
                 {"--trace", "trace", ""}};
    for (const auto& c : cases) {
        RunOptions o;
        error.clear();
        EXPECT_EQ(parse({c.option, c.value}, o, error), !*c.expect) << c.option << " " << c.value;
        EXPECT_EQ(error, c.expect);
    }
}

TEST(KeyScript, FramesRangesAndComments)
{
    int64_t frame = 0;
    ScriptedKeyboard keys([&] { return frame; });
    std::string error;
    ASSERT_TRUE(keys.parse("# walk, then turn\n0-2 UP LEFT\n2 B  # overlaps\n\n5 ESCAPE\n", "k.txt", error)) << error;
    uint8_t state[256];
    ASSERT_TRUE(keys.read(state));
    EXPECT_EQ(state[DIK_UP], 0x80);
    EXPECT_EQ(state[DIK_LEFT], 0x80);
    EXPECT_EQ(state[DIK_B], 0);
    frame = 2;
    keys.read(state);
    EXPECT_EQ(state[DIK_UP], 0x80);
    EXPECT_EQ(state[DIK_B], 0x80);
    frame = 3;
    keys.read(state);
    EXPECT_EQ(state[DIK_UP], 0);
    EXPECT_FALSE(keys.escapeDown());
    frame = 5;
    EXPECT_TRUE(keys.escapeDown());
    // A byte-order mark opens the file as it may open a settings file; anywhere else it is no frame.
    ASSERT_TRUE(keys.parse("\xEF\xBB\xBF" "5 ESCAPE\n", "k.txt", error)) << error;
    EXPECT_TRUE(keys.escapeDown());
    EXPECT_FALSE(keys.parse("1 UP\n\xEF\xBB\xBF" "5 ESCAPE\n", "k.txt", error));
    EXPECT_EQ(error, "k.txt:2: expected a frame number or FIRST-LAST, not '\\xEF\\xBB\\xBF5'");
}

TEST(KeyScript, MalformedLinesNameFileAndLine)
{
    const struct {
        const char* text;
        const char* expect;
    } cases[] = {{"0 UP\nx UP\n", "k.txt:2: expected a frame number"},
                 {"3-1 UP\n", "k.txt:1: the last frame 1 comes before the first 3"},
                 {"1 JUMP\n", "k.txt:1: unknown key 'JUMP'"},
                 {"\n\n4\n", "k.txt:3: no key"},
                 {"-2 UP\n", "k.txt:1: expected a frame number"}};
    for (const auto& c : cases) {
        ScriptedKeyboard keys([] { return int64_t{0}; });
        std::string error;
        EXPECT_FALSE(keys.parse(c.text, "k.txt", error)) << c.text;
        EXPECT_EQ(error.rfind(c.expect, 0), 0u) << error;
    }
}
