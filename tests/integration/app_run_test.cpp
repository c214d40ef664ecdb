#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <stb_image_write.h>

#include "support/fixtures.h"

namespace {

std::string zentrix(const std::string& args) { return std::string(ZENTRIX_BINARY) + " " + args; }

// CSV rows keyed by column name.
std::vector<std::map<std::string, std::string>> readTrace(const std::string& path)
{
    std::vector<std::map<std::string, std::string>> rows;
    std::istringstream in(readFile(path));
    std::string line;
    std::vector<std::string> names;
    auto split = [](const std::string& s) {
        std::vector<std::string> out;
        std::stringstream ss(s);
        std::string cell;
        while (std::getline(ss, cell, ',')) out.push_back(cell);
        return out;
    };
    if (std::getline(in, line)) names = split(line);
    while (std::getline(in, line)) {
        const auto cells = split(line);
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < names.size() && i < cells.size(); ++i) row[names[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

// The last line of a run's output: the one that tells why it ended (earlier lines may be warnings).
std::string lastLine(const std::string& output)
{
    const size_t end = output.size() && output.back() == '\n' ? output.size() - 1 : output.size();
    const size_t start = output.rfind('\n', end ? end - 1 : 0);
    return output.substr(start == std::string::npos || start >= end ? 0 : start + 1);
}

// Whether output holds line as one whole line (a sanitizer build may add its report after it).
bool hasLine(const std::string& output, const std::string& line)
{
    return ("\n" + output).find("\n" + line) != std::string::npos;
}

double num(const std::map<std::string, std::string>& row, const char* column) { return std::stod(row.at(column)); }

class AppRun : public ::testing::Test {
protected:
    void SetUp() override { writeFixtureData(dir.path()); }
    ProcessResult run(const std::string& args) { return runCommand(zentrix("--headless --data " + dir.path() + " " + args)); }
    TempDir dir;
};

}  // namespace

TEST_F(AppRun, ThreeFramesOnFixtureData)
{
    const ProcessResult r = run("--frames 3 --fixed-step 20 --trace " + dir.file("t.csv"));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_EQ(readFile(dir.file("protokoll.txt")), "software VertexProcessing gewollt\n");
    const auto rows = readTrace(dir.file("t.csv"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].at("frame"), "0");
    EXPECT_EQ(rows[2].at("tick"), "40");
    EXPECT_EQ(rows[1].at("dt"), "0.0199999996");  // the step just measured
    // No tiles: no ground under the camera and no water animation.
    EXPECT_EQ(rows[2].at("ground_height"), "0");
    EXPECT_EQ(rows[2].at("land_tile"), "-1");
    EXPECT_EQ(rows[2].at("water_tile"), "-1");
    EXPECT_EQ(rows[2].at("water_frame"), "-1");
}

TEST_F(AppRun, SeedFromTheClockDiffersBetweenRunsUnlessGiven)
{
    // The stars are drawn from the generator: two runs show the same field only with one seed.
    auto shot = [&](const std::string& args, const std::string& name) {
        const ProcessResult r = run("--frames 1 --screenshot " + dir.file(name) + " " + args);
        EXPECT_EQ(r.exitStatus, 0) << r.output;
        return readFile(dir.file(name));
    };
    EXPECT_EQ(shot("--seed 9", "a.png"), shot("--seed 9", "b.png"));
    EXPECT_EQ(shot("--fixed-step 20", "c.png"), shot("--fixed-step 20", "d.png"));
    EXPECT_NE(shot("", "e.png"), shot("", "f.png"));
}

TEST_F(AppRun, EachMissingFileEndsWithStatusOneAndItsName)
{
    for (const char* name : {"Resolutions.txt", "RenderingAndMore.txt", "SpielEinstellungen.txt", "trajectory_data.txt",
                             "TerrainTextures.txt", "Terrain.txt"}) {
        writeFixtureData(dir.path());
        std::filesystem::remove(dir.file(name));
        const ProcessResult r = run("--frames 3");
        EXPECT_EQ(r.exitStatus, 1) << name << ": " << r.output;
        EXPECT_NE(r.output.find(std::string("cannot open ") + name + ": No such file or directory"), std::string::npos)
            << r.output;
    }
}

// Refusals before the graphics device exists end as a normal run does: one line, status 1, and
// under the sanitizer build nothing of the graphics library left behind.
TEST_F(AppRun, RefusalsBeforeTheDeviceShutTheGraphicsDownAsANormalEndDoes)
{
    for (const auto& [name, text, line] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"RenderingAndMore.txt", "a b c d e 7 p 2 f 50 u 0", "RenderingAndMore.txt: vertex processing must be 0, 1, 2 or 3, not 7"},
             {"SpielEinstellungen.txt", "Sichtweite 0", "SpielEinstellungen.txt: the view distance must be a finite number above 0 (and below 1.8e19), not 0"},
             {"trajectory_data.txt", "1 2 nan", "trajectory_data.txt: number 3 (point 0) must be a finite number, not nan"},
             {"RenderingAndMore.txt", "", "RenderingAndMore.txt is larger than 4 MiB, far more than any text file of the program holds"}}) {
        writeFixtureData(dir.path());
        writeFile(dir.file(name), text);
        if (text.empty()) std::filesystem::resize_file(dir.file(name), uintmax_t(5) << 20);
        const ProcessResult r = run("--frames 3 --fixed-step 20");
        EXPECT_EQ(r.exitStatus, 1) << r.output;
        EXPECT_EQ(lastLine(r.output), "zentrix: " + line + "\n");
    }
}

TEST_F(AppRun, CommandLineErrorsAndHelp)
{
    EXPECT_EQ(runCommand(zentrix("--frames many")).exitStatus, 2);
    const ProcessResult unknown = runCommand(zentrix("--fly"));
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_NE(unknown.output.find("--fly"), std::string::npos);
    writeFile(dir.file("keys.txt"), "0 UP\nlater UP\n");
    const ProcessResult keys = run("--frames 1 --keys " + dir.file("keys.txt"));
    EXPECT_EQ(keys.exitStatus, 2);
    EXPECT_NE(keys.output.find("keys.txt:2"), std::string::npos) << keys.output;
    const ProcessResult help = runCommand(zentrix("--help"));
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.output.find("--fixed-step"), std::string::npos);
}

// One line of the program's own: Wayland's client library, tried by SDL with no runtime folder,
// would print its own complaint first.
TEST_F(AppRun, WithoutADisplaySuggestsHeadless)
{
    const ProcessResult r = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR SDL_VIDEODRIVER= " +
                                       zentrix("--frames 1 --data " + dir.path()));
    EXPECT_EQ(r.exitStatus, 1) << r.output;
    EXPECT_EQ(r.output, "zentrix: cannot open a window: no display found (DISPLAY and WAYLAND_DISPLAY are unset or "
                        "unreachable); run with --headless to render off-screen\n");
}

TEST_F(AppRun, EscapeEndsAfterTheFrameThatSawIt)
{
    writeFile(dir.file("keys.txt"), "4 ESCAPE\n");
    const ProcessResult r = run("--fixed-step 10 --keys " + dir.file("keys.txt") + " --trace " + dir.file("t.csv"));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_EQ(readTrace(dir.file("t.csv")).size(), 5u);
}

TEST_F(AppRun, TraceShowsAFollowerWrapAndAProjectileImpact)
{
    // B is pressed early: the follower's duration changes only at the wrap.
    writeFile(dir.file("keys.txt"), "10 B\n");
    const ProcessResult r = run("--frames 420 --fixed-step 20 --keys " + dir.file("keys.txt") + " --trace " + dir.file("t.csv"));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const auto rows = readTrace(dir.file("t.csv"));
    ASSERT_EQ(rows.size(), 420u);
    int wrapRow = -1, impactRow = -1;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (wrapRow < 0 && num(rows[i - 1], "segment") == 29 && num(rows[i], "segment") == 0) wrapRow = int(i);
        if (impactRow < 0 && num(rows[i], "projectile_y") <= -20.0) impactRow = int(i);
    }
    ASSERT_GT(wrapRow, 0);
    EXPECT_FLOAT_EQ(num(rows[wrapRow - 1], "segment_duration"), 0.2f);
    EXPECT_NEAR(num(rows[wrapRow], "segment_duration"), 0.3, 1e-6);
    EXPECT_NEAR(num(rows[20], "time_factor"), 0.3, 1e-6);
    ASSERT_GT(impactRow, 0);
    // Impact after about 5.7 s of simulation time; the next frame relaunches from the launch point.
    EXPECT_NEAR(impactRow * 0.02, 5.7, 0.05);
    ASSERT_LT(impactRow + 1, int(rows.size()));
    EXPECT_EQ(num(rows[impactRow + 1], "projectile_y"), -17.0);
    EXPECT_EQ(num(rows[impactRow + 1], "projectile_x"), -30.0);
}

TEST_F(AppRun, OutputFilesThatCannotGrowEndWithStatusOneAndOneLine)
{
    // A file-size limit of one 512-byte block makes the disk "full" for this run alone.
    const std::string limited = "sh -c 'trap \"\" XFSZ; ulimit -f 1; exec \"$0\" \"$@\"' " + std::string(ZENTRIX_BINARY) +
                                " --headless --data " + dir.path() + " --fixed-step 20 ";
    const ProcessResult trace = runCommand(limited + "--frames 200 --trace " + dir.file("t.csv"));
    EXPECT_EQ(trace.exitStatus, 1) << trace.output;
    EXPECT_EQ(lastLine(trace.output), "zentrix: cannot write trace file " + dir.file("t.csv") + ": File too large\n");
    const ProcessResult shot = runCommand(limited + "--frames 2 --screenshot " + dir.file("s.png"));
    EXPECT_EQ(shot.exitStatus, 1) << shot.output;
    EXPECT_EQ(lastLine(shot.output), "zentrix: cannot write screenshot " + dir.file("s.png") + ": File too large\n");
}

TEST_F(AppRun, OutputFilesOnAFullDeviceEndWithStatusOneAndOneLine)
{
    if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const ProcessResult trace = run("--frames 200 --fixed-step 20 --trace /dev/full");
    EXPECT_EQ(trace.exitStatus, 1) << trace.output;
    EXPECT_EQ(lastLine(trace.output), "zentrix: cannot write trace file /dev/full: No space left on device\n");

    const ProcessResult shot = run("--frames 2 --fixed-step 20 --screenshot /dev/full");
    EXPECT_EQ(shot.exitStatus, 1) << shot.output;
    EXPECT_EQ(lastLine(shot.output), "zentrix: cannot write screenshot /dev/full: No space left on device\n");
}

// A disk that fills up mid-run, where no /dev/full exists: the shell caps the size of the files the
// program writes (ulimit counts 512-byte blocks) and ignores the signal, so writes fail with EFBIG.
TEST_F(AppRun, OutputFilesPastTheFileSizeLimitEndWithStatusOneAndOneLine)
{
    auto capped = [this](const std::string& args) {
        return runCommand("trap '' XFSZ; ulimit -f 8; " + zentrix("--headless --data " + dir.path() + " " + args));
    };
    const std::string trace = dir.file("t.csv");
    const ProcessResult t = capped("--frames 200 --fixed-step 20 --trace " + trace);
    EXPECT_EQ(t.exitStatus, 1) << t.output;
    EXPECT_EQ(lastLine(t.output), "zentrix: cannot write trace file " + trace + ": File too large\n");

    const std::string shot = dir.file("shot.png");
    const ProcessResult s = capped("--frames 2 --fixed-step 20 --screenshot " + shot);
    EXPECT_EQ(s.exitStatus, 1) << s.output;
    EXPECT_EQ(lastLine(s.output), "zentrix: cannot write screenshot " + shot + ": File too large\n");

    const std::string sound = dir.file("out.wav");
    const ProcessResult a = capped("--frames 50 --fixed-step 20 --audio-out " + sound);
    EXPECT_EQ(a.exitStatus, 1) << a.output;
    EXPECT_NE(lastLine(a.output).find("zentrix: cannot write"), std::string::npos) << a.output;
    EXPECT_NE(lastLine(a.output).find(sound + ": File too large"), std::string::npos) << a.output;
}

TEST_F(AppRun, UnwritableOutputPathsFailBeforeTheFirstFrame)
{
    const std::string missing = dir.file("no-such-folder/shot.png");
    const ProcessResult shot = run("--frames 2 --screenshot " + missing);
    EXPECT_EQ(shot.exitStatus, 1);
    EXPECT_EQ(shot.output, "zentrix: cannot create screenshot " + missing + ": No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("protokoll.txt")));  // no device was ever made

    const ProcessResult trace = run("--frames 2 --trace " + dir.path());
    EXPECT_EQ(trace.exitStatus, 1);
    EXPECT_EQ(trace.output, "zentrix: cannot create trace file " + dir.path() + ": Is a directory\n");

    // A run that stops before its last frame leaves no empty picture behind.
    std::filesystem::remove(dir.file("SpielEinstellungen.txt"));
    EXPECT_EQ(run("--frames 2 --screenshot " + dir.file("shot.png")).exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("shot.png")));
}

TEST_F(AppRun, DirectoriesGivenAsInputFilesAreNamedAsSuch)
{
    const ProcessResult keys = run("--frames 1 --keys " + dir.path());
    EXPECT_EQ(keys.exitStatus, 2);
    EXPECT_EQ(keys.output, "zentrix: cannot open key script " + dir.path() + ": is a directory\n");

    std::filesystem::remove(dir.file("TerrainTextures.txt"));
    std::filesystem::create_directory(dir.file("TerrainTextures.txt"));
    const ProcessResult list = run("--frames 1");
    EXPECT_EQ(list.exitStatus, 1);
    EXPECT_NE(list.output.find("zentrix: TerrainTextures.txt is a directory\n"), std::string::npos) << list.output;
}

TEST_F(AppRun, OutputsLeaveExistingFilesAsTheyWereUnlessTheRunCompletes)
{
    for (const char* name : {"keep.png", "keep.csv", "keep.wav"}) writeFile(dir.file(name), "precious");
    const std::string outputs = " --screenshot " + dir.file("keep.png") + " --trace " + dir.file("keep.csv") +
                                " --audio-out " + dir.file("keep.wav");
    // No frame at all, then a start-up refusal: nothing is replaced and nothing is left beside.
    EXPECT_EQ(run("--frames 0 --screenshot " + dir.file("keep.png")).exitStatus, 0);
    EXPECT_EQ(run("--frames 0 --screenshot /dev/null").exitStatus, 0);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    std::filesystem::remove(dir.file("SpielEinstellungen.txt"));
    EXPECT_EQ(run("--frames 2" + outputs).exitStatus, 1);
    for (const char* name : {"keep.png", "keep.csv", "keep.wav"}) EXPECT_EQ(readFile(dir.file(name)), "precious") << name;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))  // no half-written copies
        EXPECT_EQ(entry.path().filename().string().find(".zentrix-"), std::string::npos) << entry.path();

    // A complete run replaces them, keeping their permissions.
    writeFixtureData(dir.path());
    std::filesystem::permissions(dir.file("keep.csv"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(run("--frames 2 --fixed-step 20" + outputs).exitStatus, 0);
    EXPECT_EQ(readTrace(dir.file("keep.csv")).size(), 2u);
    EXPECT_EQ(readFile(dir.file("keep.png")).substr(1, 3), "PNG");
    EXPECT_EQ(readFile(dir.file("keep.wav")).substr(0, 4), "RIFF");
    EXPECT_EQ(std::filesystem::status(dir.file("keep.csv")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(AppRun, AnOutputThatIsAnInputOrAnotherOutputIsRefusedWithStatusTwo)
{
    writeFile(dir.file("keys.txt"), "0 UP\n");
    std::filesystem::create_hard_link(dir.file("Terrain.txt"), dir.file("hard.txt"));
    std::filesystem::create_symlink(dir.file("out.csv"), dir.file("link.wav"));
    const std::string terrain = readFile(dir.file("Terrain.txt"));
    struct Case {
        std::string args, message;
    };
    const Case cases[] = {
        {"--audio-out Backgroundmusic.wav",
         "--audio-out Backgroundmusic.wav is the same file as the input Backgroundmusic.wav, which the run reads"},
        {"--trace " + dir.file("hard.txt"),
         "--trace " + dir.file("hard.txt") + " is the same file as the input Terrain.txt, which the run reads"},
        {"--keys " + dir.file("keys.txt") + " --trace " + dir.file("keys.txt"),
         "--trace " + dir.file("keys.txt") + " is the same file as the key script " + dir.file("keys.txt") +
             ", which the run reads"},
        {"--trace " + dir.file("out.csv") + " --audio-out " + dir.file("link.wav"),
         "--trace " + dir.file("out.csv") + " and --audio-out " + dir.file("link.wav") + " are the same file"},
        {"--trace protokoll.txt", "--trace protokoll.txt and the log protokoll.txt are the same file"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = runCommand("cd " + dir.path() + " && " + zentrix("--headless --frames 1 " + c.args));
        EXPECT_EQ(r.exitStatus, 2) << c.args;
        EXPECT_EQ(r.output, "zentrix: " + c.message + "\n");
    }
    EXPECT_EQ(readFile(dir.file("Terrain.txt")), terrain);
    EXPECT_EQ(readFile(dir.file("keys.txt")), "0 UP\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv")));
}

TEST_F(AppRun, TheLogIsNeverFollowedThroughALinkNorWaitedOnAsAPipe)
{
    writeFile(dir.file("victim.txt"), "precious");
    std::filesystem::create_symlink(dir.file("victim.txt"), dir.file("protokoll.txt"));
    const ProcessResult link = run("--frames 1");
    EXPECT_EQ(link.exitStatus, 1);
    EXPECT_TRUE(hasLine(link.output, "zentrix: the log protokoll.txt is a symbolic link, which is never followed\n"))
        << link.output;
    EXPECT_EQ(readFile(dir.file("victim.txt")), "precious");

    std::filesystem::remove(dir.file("protokoll.txt"));
    ASSERT_EQ(mkfifo(dir.file("protokoll.txt").c_str(), 0600), 0);
    const ProcessResult pipe = runCommand("timeout 20 " + zentrix("--headless --data " + dir.path() + " --frames 1"));
    EXPECT_EQ(pipe.exitStatus, 1);
    EXPECT_TRUE(hasLine(pipe.output, "zentrix: the log protokoll.txt is not a regular file\n")) << pipe.output;
}

TEST_F(AppRun, PipesNeverBlockAndAReaderThatQuitsIsAFailedWrite)
{
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const char* option : {"--trace", "--screenshot", "--audio-out"}) {
        const ProcessResult r = runCommand("timeout 20 " + zentrix("--headless --data " + dir.path() + " --frames 1 " +
                                                                   option + " " + dir.file("fifo")));
        EXPECT_EQ(r.exitStatus, 1) << option;
        EXPECT_NE(r.output.find(dir.file("fifo") + ": no process is reading from the pipe"), std::string::npos) << r.output;
    }
    // head takes the first bytes and goes; the next writes meet a closed pipe.
    for (const char* option : {"--trace", "--audio-out"}) {
        const ProcessResult r = runCommand("bash -c 'timeout 20 " + zentrix("--headless --data " + dir.path()) +
                                           " --frames 500 --fixed-step 20 " + option +
                                           " /dev/stdout | head -c 4 >/dev/null; exit ${PIPESTATUS[0]}'");
        EXPECT_EQ(r.exitStatus, 1) << option;
        EXPECT_NE(r.output.find(": cannot write "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("/dev/stdout: Broken pipe\n"), std::string::npos) << r.output;
    }
}

TEST_F(AppRun, DataFoldersThatAskForTooMuchAreRefusedBeforeAnythingIsBuilt)
{
    writeFile(dir.file("TerrainTextures.txt"), "Base 1 a.bmp Detail 1 a.bmp Height 1 a.bmp");
    std::string terrain = "LandTiles 2000 WaterTiles 0\n";
    for (int i = 0; i < 2000; ++i) terrain += "L X 0 Y 0 Z 0 C 255 R 255 U 1 V 1 W 100 D 100 H 0.1 B 0 D 0 H 0\n";
    writeFile(dir.file("Terrain.txt"), terrain);
    ProcessResult r = run("--frames 1");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(lastLine(r.output).find("zentrix: Terrain.txt: land tile 78: the terrain and its textures would take "),
              std::string::npos)
        << r.output;

    // Only the header of an 8192 x 8192 picture: the budget is kept by what headers announce.
    const unsigned char png[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                 0, 0, 0x20, 0, 0, 0, 0x20, 0, 8, 2, 0, 0, 0, 0, 0, 0, 0};
    writeFile(dir.file("big.png"), std::string(reinterpret_cast<const char*>(png), sizeof png));
    std::string list = "Base 20";
    for (int i = 0; i < 20; ++i) list += " big.png";
    writeFile(dir.file("TerrainTextures.txt"), list + " Detail 0 Height 0");
    r = run("--frames 1");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(lastLine(r.output), "zentrix: TerrainTextures.txt: base texture 4 (big.png, 8192 x 8192): the textures would "
                                  "take 1789569700 bytes with this one, more than the terrain budget of 1610612736 bytes "
                                  "(1.5 GiB)\n");

    // Text files that never end, read or not as files, and words that never end.
    writeFixtureData(dir.path());
    std::filesystem::resize_file(dir.file("Terrain.txt"), uintmax_t(20) << 30);
    r = run("--frames 1");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(lastLine(r.output), "zentrix: Terrain.txt is larger than 4 MiB, far more than any text file of the program "
                                  "holds\n");
    writeFile(dir.file("keys.txt"), "");
    std::filesystem::resize_file(dir.file("keys.txt"), uintmax_t(8) << 30);
    r = run("--frames 1 --keys " + dir.file("keys.txt"));
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.output, "zentrix: key script " + dir.file("keys.txt") +
                            " is larger than 4 MiB, far more than any text file of the program holds\n");
    writeFixtureData(dir.path());
    writeFile(dir.file("RenderingAndMore.txt"), std::string(300, '\t') + std::string(300, 'v') + "\x01 1\n");
    r = run("--frames 1");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(hasLine(r.output, "zentrix: RenderingAndMore.txt: a word of 301 characters, more than the 256 allowed: '" +
                                      std::string(40, 'v') + "...'\n"))
        << r.output;
}

TEST_F(AppRun, ReadErrorsAreReportedAsSuch)
{
    std::filesystem::remove(dir.file("SpielEinstellungen.txt"));
    std::filesystem::create_symlink("/proc/self/mem", dir.file("SpielEinstellungen.txt"));
    const ProcessResult r = run("--frames 1");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(hasLine(r.output, "zentrix: cannot read SpielEinstellungen.txt: Input/output error\n")) << r.output;
    // A file that states no size and never ends.
    const ProcessResult keys = run("--frames 1 --keys /proc/self/pagemap");
    EXPECT_EQ(keys.exitStatus, 2);
    EXPECT_EQ(keys.output, "zentrix: key script /proc/self/pagemap is larger than 4 MiB, far more than any text file of "
                           "the program holds\n");
}

#if !defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator reserves far more address space than the cap, and reports running out
// of memory itself.
TEST_F(AppRun, RunningOutOfMemoryIsOneLineWithStatusOne)
{
    std::vector<uint8_t> black(4 * 4 * 3, 0);
    stbi_write_bmp(dir.file("black.bmp").c_str(), 4, 4, 3, black.data());
    writeFile(dir.file("TerrainTextures.txt"), "Base 1 black.bmp Detail 1 black.bmp Height 1 black.bmp");
    std::string terrain = "LandTiles 70 WaterTiles 0\n";  // within the budget
    for (int i = 0; i < 70; ++i) terrain += "L X 0 Y 0 Z 0 C 255 R 255 U 1 V 1 W 100 D 100 H 0.1 B 0 D 0 H 0\n";
    writeFile(dir.file("Terrain.txt"), terrain);
    writeFile(dir.file("keep.csv"), "precious");
    const ProcessResult r = runCommand("ulimit -v 1000000; " + zentrix("--headless --data " + dir.path() +
                                                                       " --frames 1 --trace " + dir.file("keep.csv")));
    EXPECT_EQ(r.exitStatus, 1) << r.output;
    EXPECT_EQ(lastLine(r.output), "zentrix: out of memory while building the terrain\n");
    EXPECT_EQ(readFile(dir.file("keep.csv")), "precious");

    // Too little for the graphics driver itself: refused before it can fail inside its own code.
    const ProcessResult tight = runCommand("ulimit -v 500000; " + zentrix("--headless --data " + dir.path() + " --frames 1"));
    EXPECT_EQ(tight.exitStatus, 1);
    EXPECT_EQ(tight.output, "zentrix: the address-space limit (ulimit -v) of 488 MiB is below the 768 MiB the program "
                            "needs (the graphics driver reserves most of it); raise it or lift it\n");
}
#endif

TEST_F(AppRun, PicturesThatEndEarlyAreOneLineNeverAHang)
{
    // A PNG that ends after an empty side chunk, before its image data: it used to make the
    // decoder spin for ever, deaf to signals. The kill bounds a regression to a failure.
    std::string png = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x40\0\0\0\x40\x08\0\0\0\0\x8f\x02\x2e\x02", 33);
    png += std::string("\0\0\0\0tEXt\0\0\0\0", 12);
    writeFile(dir.file("cut.png"), png);
    std::vector<uint8_t> black(4 * 4 * 3, 0);
    stbi_write_bmp(dir.file("black.bmp").c_str(), 4, 4, 3, black.data());
    writeFile(dir.file("Terrain.txt"),
              "LandTiles 1 WaterTiles 0\nL X 0 Y 0 Z 0 C 255 R 255 U 1 V 1 W 100 D 100 H 0.1 B 0 D 0 H 0\n");
    const auto runWith = [&](const char* base, const char* height) {
        writeFile(dir.file("TerrainTextures.txt"),
                  std::string("Base 1 ") + base + " Detail 1 black.bmp Height 1 " + height);
        return runCommand("timeout -s KILL 30 " + zentrix("--headless --data " + dir.path() + " --frames 2 --fixed-step 20"));
    };
    // A texture is left out with one warning; the height map the tile needs ends the run.
    const ProcessResult texture = runWith("cut.png", "black.bmp");
    EXPECT_EQ(texture.exitStatus, 0) << texture.output;
    EXPECT_TRUE(hasLine(texture.output, "zentrix: warning: cannot load texture cut.png: the PNG file ends before its "
                                        "image data\n"))
        << texture.output;
    const ProcessResult height = runWith("black.bmp", "cut.png");
    EXPECT_EQ(height.exitStatus, 1) << height.output;
    EXPECT_EQ(lastLine(height.output), "zentrix: Terrain.txt: land tile 0: height map 0 (cut.png) could not be "
                                       "loaded, and the tile needs its heights\n");
}

TEST_F(AppRun, AFailedRunReplacesNothingAndDescriptorsAreWrittenWhereTheyStand)
{
    // The screenshot fails at the very end, after the trace is complete: the trace is not put in place.
    writeFile(dir.file("keep.csv"), "precious");
    if (std::filesystem::is_character_file("/dev/full")) {
        const ProcessResult r = run("--frames 2 --fixed-step 20 --trace " + dir.file("keep.csv") + " --screenshot /dev/full");
        EXPECT_EQ(r.exitStatus, 1) << r.output;
        EXPECT_EQ(readFile(dir.file("keep.csv")), "precious");
    }
    // /dev/stdout is the shell's descriptor, which runs on after the program's rows; >> appends.
    const std::string traced = zentrix("--headless --data " + dir.path() + " --frames 2 --fixed-step 20 --trace /dev/stdout 2>/dev/null");
    for (const auto& [redirect, kept] : {std::pair<const char*, const char*>{">", ""}, {">>", "precious"}}) {
        ASSERT_EQ(runCommand("(echo header; " + traced + "; echo footer) " + redirect + " " + dir.file("keep.csv")).exitStatus, 0);
        const std::string log = readFile(dir.file("keep.csv"));
        EXPECT_EQ(log.rfind(std::string(kept) + "header\nframe,tick,", 0), 0u) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
        EXPECT_EQ(log.substr(log.size() - 7), "footer\n");
        writeFile(dir.file("keep.csv"), "precious");
    }
}

namespace {

// The program started directly (so that signals reach it and not a shell), with every signal as
// the default has it and stderr into a file.
pid_t spawnZentrix(const std::string& args, const std::string& errPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        execl("/bin/sh", "sh", "-c", ("exec " + zentrix(args)).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The exit status within seconds, or -1 (the process is then killed).
int exitWithin(pid_t pid, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> hiddenFiles(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().find(".zentrix-") != std::string::npos) found.push_back(entry.path());
    return found;
}

}  // namespace

// Every stop signal ends the run after its frame with status 1 and one line: the existing trace
// as it was, the new screenshot gone, no hidden file left.
TEST_F(AppRun, EachStopSignalEndsTheRunLeavingExistingOutputsAsTheyWere)
{
    const std::pair<int, const char*> signals[] = {{SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},
                                                   {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}};
    for (const auto& [sig, name] : signals) {
        SCOPED_TRACE(name);
        writeFile(dir.file("keep.csv"), "precious");
        const pid_t pid = spawnZentrix("--headless --data " + dir.path() + " --frames 100000000 --fixed-step 20 --trace " +
                                           dir.file("keep.csv") + " --screenshot " + dir.file("new.png"),
                                       dir.file("err.txt"));
        // Running frames once rows of the new trace have reached its hidden file (the log's, made
        // and renamed during start-up, may come and go meanwhile).
        for (int i = 0; i < 3000; ++i) {
            std::error_code ec;
            const auto hidden = hiddenFiles(dir.path());
            if (std::any_of(hidden.begin(), hidden.end(), [&](const std::string& path) {
                    return std::filesystem::path(path).filename().string().rfind(".keep.csv.", 0) == 0 &&
                           std::filesystem::file_size(path, ec) > 0 && !ec;
                }))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, sig);
        EXPECT_EQ(exitWithin(pid, 5.0), 1);
        EXPECT_TRUE(hasLine(readFile(dir.file("err.txt")), "zentrix: stopped by " + std::string(name) + "\n"))
            << readFile(dir.file("err.txt"));
        EXPECT_EQ(readFile(dir.file("keep.csv")), "precious");
        EXPECT_FALSE(std::filesystem::exists(dir.file("new.png")));
        EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>());
    }
}

// A program stuck in a write to a pipe nobody reads ends by the watchdog within its grace, or at
// once on a second signal, removing its hidden files all the same.
TEST_F(AppRun, AStuckRunEndsByTheWatchdogOrASecondSignal)
{
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const int reader = ::open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);  // never read
    ASSERT_GE(reader, 0);
    for (const bool twice : {false, true}) {
        SCOPED_TRACE(twice ? "a second signal" : "the watchdog");
        writeFile(dir.file("keep.png"), "precious");
        const pid_t pid = spawnZentrix("--headless --data " + dir.path() + " --frames 100000000 --fixed-step 20 --trace " +
                                           dir.file("fifo") + " --screenshot " + dir.file("keep.png"),
                                       dir.file("err.txt"));
        int queued = 0;
        for (int i = 0; i < 3000 && queued < 65536; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ioctl(reader, FIONREAD, &queued);
        }
        ASSERT_EQ(queued, 65536) << "the pipe never filled";
        const auto start = std::chrono::steady_clock::now();
        kill(pid, SIGTERM);
        if (twice) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "ended before the grace";
            kill(pid, SIGINT);
        }
        EXPECT_EQ(exitWithin(pid, 5.0), 1);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (twice) EXPECT_LT(seconds, 1.5);
        else EXPECT_GT(seconds, 2.5);
        EXPECT_TRUE(hasLine(readFile(dir.file("err.txt")), "zentrix: stopped by SIGTERM\n")) << readFile(dir.file("err.txt"));
        EXPECT_EQ(readFile(dir.file("keep.png")), "precious");
        EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>());
        char drain[65536];
        while (::read(reader, drain, sizeof drain) > 0) {
        }
    }
    ::close(reader);
}
