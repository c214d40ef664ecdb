#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

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

TEST_F(AppRun, WithoutADisplaySuggestsHeadless)
{
    const ProcessResult r =
        runCommand("env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER= " + zentrix("--frames 1 --data " + dir.path()));
    EXPECT_EQ(r.exitStatus, 1) << r.output;
    EXPECT_NE(r.output.find("--headless"), std::string::npos) << r.output;
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
