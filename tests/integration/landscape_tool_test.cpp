#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include <png.h>

#include "platform/image/image_loader.h"
#include "support/fixtures.h"

namespace {

const std::string tool = ZENTRIX_LANDSCAPE_TOOL;

// A grey PNG of 8 or 16 bits; value(x, y) is 0 ... 1, row 0 at the top.
void writeGreyPng(const std::string& path, int side, int depth, const std::function<double(int, int)>& value)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(size_t(side) * size_t(depth / 8));
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(side), png_uint_32(side), depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        const int top = depth == 16 ? 65535 : 255;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const long v = std::lround(std::clamp(value(x, y), 0.0, 1.0) * top);
                if (depth == 16) {
                    row[size_t(2 * x)] = uint8_t(v >> 8);
                    row[size_t(2 * x + 1)] = uint8_t(v);
                } else {
                    row[size_t(x)] = uint8_t(v);
                }
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    } else {
        ADD_FAILURE() << "cannot write " << path;
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// The picture's height at (x, z): texel centres, bilinear between them, clamped at the edges.
double pictureHeight(int side, const std::function<double(int, int)>& value, double size, double height, double x, double z)
{
    const auto level = [&](int u, int v) { return value(std::clamp(u, 0, side - 1), std::clamp(v, 0, side - 1)); };
    const double u = std::clamp((x / size + 0.5) * side - 0.5, 0.0, side - 1.0);
    const double v = std::clamp((0.5 - z / size) * side - 0.5, 0.0, side - 1.0);
    const int u0 = int(u), v0 = int(v);
    const double fu = u - u0, fv = v - v0;
    const double top = level(u0, v0) * (1 - fu) + level(u0 + 1, v0) * fu;
    const double bottom = level(u0, v0 + 1) * (1 - fu) + level(u0 + 1, v0 + 1) * fu;
    return (top * (1 - fv) + bottom * fv) * height;
}

struct Sample {
    double x, z, ground;
};

// Runs the program on dir with a key script; each frame's ground height is measured where the
// camera stood when the frame was drawn, before that frame's keys moved it.
std::vector<Sample> walk(const TempDir& dir, const std::string& data, const std::string& keys, int frames)
{
    dir.writeText("walk.keys", keys);
    const ProcessResult run = runCommand(std::string(ZENTRIX_BINARY) + " --headless --fixed-step 20 --frames " +
                                         std::to_string(frames) + " --data " + data + " --keys " + dir.file("walk.keys") +
                                         " --trace " + dir.file("walk.csv"));
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    std::stringstream trace(readFile(dir.file("walk.csv")));
    std::string line;
    std::getline(trace, line);
    std::map<std::string, size_t> column;
    {
        std::stringstream header(line);
        size_t i = 0;
        for (std::string name; std::getline(header, name, ',');) column[name] = i++;
    }
    std::vector<Sample> samples;
    double x = 0, z = -20;  // the start
    while (std::getline(trace, line)) {
        std::vector<double> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(std::stod(cell));
        samples.push_back({x, z, cells[column["ground_height"]]});
        x = cells[column["cam_x"]];
        z = cells[column["cam_z"]];
    }
    EXPECT_EQ(samples.size(), size_t(frames));
    return samples;
}

}  // namespace

// An 8-bit picture rising to the right and towards the far edge, with a lake in its near half: the
// walk goes ahead (+z) through the water, turns right and walks along +x past the picture's edge.
// Inside the square the ground is the picture's height (or the water where that is higher) on
// every frame: the right way round, and without a trench anywhere.
TEST(LandscapeTool, GroundFollowsThePictureTheRightWayRound)
{
    TempDir dir;
    const int side = 64;
    const auto value = [](int x, int y) { return 0.6 * x / 63.0 + 0.4 * (63 - y) / 63.0 + 0.1 * std::sin(x * 0.3); };
    writeGreyPng(dir.file("slope.png"), side, 8, value);
    const ProcessResult made =
        runCommand(tool + " --from " + dir.file("slope.png") + " --size 120 --height 30 --water 14 --out " + dir.file("land"));
    ASSERT_EQ(made.exitStatus, 0) << made.output;

    const std::vector<Sample> samples = walk(dir, dir.file("land"), "0-89 UP\n90-202 RIGHT\n203-299 UP\n", 300);
    int inside = 0, wet = 0;
    double maxX = -1e9;
    for (const Sample& s : samples) {
        maxX = std::max(maxX, s.x);
        if (std::fabs(s.x) > 59.0 || std::fabs(s.z) > 59.0) continue;
        const double land = pictureHeight(side, value, 120, 30, s.x, s.z);
        if (land < 14.0) ++wet;
        EXPECT_NEAR(s.ground, std::max(land, 14.0), 0.25) << "at x " << s.x << ", z " << s.z;
        ++inside;
    }
    EXPECT_GT(inside, 200);
    EXPECT_GT(wet, 5);       // the walk starts in the lake
    EXPECT_GT(maxX, 65.0);   // and ends past the picture's +x edge
}

// A 16-bit ramp: more levels than 8 bits hold, so the ground stays within a fraction of a 256th
// of the height of the picture.
TEST(LandscapeTool, SixteenBitPictureKeepsItsFinerLevels)
{
    TempDir dir;
    const int side = 128;
    const auto value = [](int x, int y) { return (0.2 * x + 0.8 * (127 - y)) / 127.0; };
    writeGreyPng(dir.file("ramp.png"), side, 16, value);
    const ProcessResult made =
        runCommand(tool + " --from " + dir.file("ramp.png") + " --size 400 --height 100 --out " + dir.file("land"));
    ASSERT_EQ(made.exitStatus, 0) << made.output;

    std::vector<double> errors;
    for (const Sample& s : walk(dir, dir.file("land"), "0-199 UP\n", 200))
        errors.push_back(std::fabs(s.ground - pictureHeight(side, value, 400, 100, s.x, s.z)));
    std::sort(errors.begin(), errors.end());
    // 8 bits would be 100 / 255 = 0.39 apart, up to 0.2 off; 765 levels are 0.13 apart.
    EXPECT_LT(errors[errors.size() * 95 / 100], 0.09);
    EXPECT_LT(errors.back(), 0.1);
}

TEST(LandscapeTool, BadCommandLinesAndPicturesAreRefusedWithoutWriting)
{
    TempDir dir;
    writeGreyPng(dir.file("ok.png"), 8, 8, [](int, int) { return 0.5; });
    const auto run = [&](const std::string& args) { return runCommand("cd " + dir.path() + " && " + tool + " " + args); };

    const ProcessResult help = run("--out --help");
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.output.find("top row is the far edge"), std::string::npos) << help.output;
    for (const auto& [args, message] : std::vector<std::pair<std::string, std::string>>{
             {"", "the folder to write is missing: give --out DIR (see --help)"},
             {"land", "unexpected argument 'land' (the folder to write is given with --out)"},
             {"--out -x", "--out needs a file or folder name, not '-x' (write ./-x for a name starting with -)"},
             {"--out ''", "--out needs a folder name, not ''"},
             {"--out land --from ''", "--from needs a file name, not ''"},
             {"--out land --preview ''", "--preview needs a file name ending in .png, not ''"},
             {"--out land --preview map.jpg", "--preview needs a file name ending in .png, not 'map.jpg'"},
             {"--out land --from ok.png --size nan", "--size needs a number from 0.001 to 1e+06, not 'nan'"},
             {"--out land --from ok.png --height 0", "--height needs a number from 0.001 to 100000, not '0'"},
             {"--out land --seed 1.5", "--seed needs a whole number from 0 to 1000000, not '1.5'"},
             {"--out land --seed 2 --from ok.png", "--seed generates a landscape; it cannot be combined with --from"},
             {"--out land --water 3", "--size, --height and --water describe a picture's landscape: they need --from"},
             {"--out land --fly", "unknown option '--fly' (see --help)"},
             {"--out land --from", "--from needs a value"}}) {
        const ProcessResult r = run(args);
        EXPECT_EQ(r.exitStatus, 2) << args;
        EXPECT_EQ(r.output, "zentrix-landscape: " + message + "\n") << args;
    }

    dir.writeText("junk.png", "\x89PNG\r\n\x1a\nnot really");
    std::filesystem::create_directory(dir / "folder.png");
    for (const auto& [args, message] : std::vector<std::pair<std::string, std::string>>{
             {"--out land --from missing.png", "cannot read the height picture missing.png: No such file or directory"},
             {"--out land --from folder.png", "cannot read the height picture folder.png: is a directory"},
             {"--out land --from junk.png", "cannot read the height picture junk.png: "}}) {
        const ProcessResult r = run(args);
        EXPECT_EQ(r.exitStatus, 1) << args;
        EXPECT_EQ(r.output.rfind("zentrix-landscape: " + message, 0), 0u) << r.output;
    }
    dir.writeText("a-file", "mine");
    const ProcessResult onFile = run("--out a-file --from ok.png");
    EXPECT_EQ(onFile.exitStatus, 1) << onFile.output;
    EXPECT_EQ(readFile(dir.file("a-file")), "mine");
    // Nothing was written for any of them, least of all a folder named after an option.
    for (const char* name : {"land", "--help", "-x", "--fly"}) EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
}

// A new landscape into a folder keeps the settings the user edited there; --overwrite replaces
// them. The preview is a 512 x 512 picture.
TEST(LandscapeTool, RewritingKeepsEditedSettingsUnlessTold)
{
    TempDir dir;
    writeGreyPng(dir.file("hill.png"), 16, 8, [](int x, int y) { return x * y / 225.0; });
    const std::string args = " --from " + dir.file("hill.png") + " --out " + dir.file("land") + " --preview " + dir.file("p.png");
    ASSERT_EQ(runCommand(tool + args).exitStatus, 0);
    dir.writeText("land/SpielEinstellungen.txt", "Sichtweite: 300\n");
    ASSERT_EQ(runCommand(tool + args).exitStatus, 0);
    EXPECT_EQ(readFile(dir.file("land/SpielEinstellungen.txt")), "Sichtweite: 300\n");
    ASSERT_EQ(runCommand(tool + args + " --overwrite").exitStatus, 0);
    EXPECT_EQ(readFile(dir.file("land/SpielEinstellungen.txt")), readFile(std::string(ZENTRIX_SOURCE_DIR) + "/data/SpielEinstellungen.txt"));

    ArgbImage preview;
    std::string error;
    ASSERT_TRUE(loadImageFile(dir.file("p.png"), preview, error)) << error;
    EXPECT_EQ(preview.width, 512);
    EXPECT_EQ(preview.height, 512);
    // No stray temporary files are left beside the written ones.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "land"))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

namespace {

// Every file under folder with its content, by relative name.
std::map<std::string, std::string> snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().lexically_relative(folder).string()] =
            entry.is_regular_file() ? readFile(entry.path().string()) : std::string("(folder)");
    return files;
}

}  // namespace

// An output that is the height picture read or another file of the run is refused before any
// work, naming both; the folder, the picture and the links to it stay as they were.
TEST(LandscapeTool, OutputsThatAreInputsOrEachOtherAreRefused)
{
    TempDir dir;
    writeGreyPng(dir.file("hills.png"), 16, 8, [](int x, int) { return x / 15.0; });
    std::filesystem::create_hard_link(dir / "hills.png", dir / "linked.png");
    ASSERT_EQ(runCommand("cd " + dir.path() + " && " + tool + " --seed 3 --out my").exitStatus, 0);
    // A preview must be named .png, so it meets a file of the data set only through a link.
    std::filesystem::create_hard_link(dir / "my/Landscape/Height.bmp", dir / "height.png");
    std::filesystem::create_hard_link(dir / "my/Terrain.txt", dir / "terrain.png");
    const auto before = snapshot(dir.path());
    for (const auto& [preview, other] : std::vector<std::pair<std::string, std::string>>{
             {"hills.png", "is the same file as --from hills.png, which the run reads"},
             {"linked.png", "is the same file as --from hills.png, which the run reads"},
             {"height.png", "and --out my (Landscape/Height.bmp) are the same file"},
             {"terrain.png", "and --out my (Terrain.txt) are the same file"}}) {
        const ProcessResult r =
            runCommand("cd " + dir.path() + " && " + tool + " --from hills.png --out my --preview " + preview);
        EXPECT_EQ(r.exitStatus, 2) << preview;
        EXPECT_EQ(r.output, "zentrix-landscape: --preview " + preview + " " + other + "\n");
    }
    const ProcessResult fromOut = runCommand("cd " + dir.path() + " && " + tool + " --from my/Landscape/Ground.bmp --out my");
    EXPECT_EQ(fromOut.exitStatus, 2);
    EXPECT_EQ(fromOut.output, "zentrix-landscape: --out my (Landscape/Ground.bmp) is the same file as --from "
                              "my/Landscape/Ground.bmp, which the run reads\n");
    EXPECT_EQ(snapshot(dir.path()), before);
}

// A run that fails part-way, on a full disk or at a folder where a file must go, leaves the data
// folder exactly as it was: no new height map beside the old terrain, no stray temporary file,
// and no folder where there was none.
TEST(LandscapeTool, AFailedRunLeavesTheFolderAsItWas)
{
    TempDir dir;
    const auto run = [&](const std::string& args) { return runCommand("cd " + dir.path() + " && " + args); };
    ASSERT_EQ(run(tool + " --seed 1 --out my --preview p.png").exitStatus, 0);
    std::filesystem::remove(dir / "my/Explosion.wav");
    std::filesystem::create_directory(dir / "my/Explosion.wav");
    const auto before = snapshot(dir.path());

    // The shell caps the files at 1 MiB (the height map fits, the ground texture does not).
    const ProcessResult full = run("trap '' XFSZ; ulimit -f 2048; " + tool + " --seed 2 --out my --overwrite --preview p.png");
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_EQ(full.output, "zentrix-landscape: cannot write my/Landscape/Ground.bmp: File too large\n");
    EXPECT_EQ(snapshot(dir.path()), before);

    const ProcessResult blocked = run(tool + " --seed 2 --out my --overwrite --preview p.png");
    EXPECT_EQ(blocked.exitStatus, 1);
    EXPECT_EQ(blocked.output,
              "zentrix-landscape: cannot write my/Explosion.wav: something that is not a regular file is in the way\n");
    EXPECT_EQ(snapshot(dir.path()), before);

    const ProcessResult fresh = run("trap '' XFSZ; ulimit -f 2048; " + tool + " --seed 2 --out new/land");
    EXPECT_EQ(fresh.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
}
