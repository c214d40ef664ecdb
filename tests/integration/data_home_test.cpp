#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

namespace fs = std::filesystem;

// The program laid out as installed (bin/zentrix beside share/zentrix) and started in an empty
// folder copies its bundled set into the user's data folder once, runs there, and keeps the
// user's edits; a folder with a data set, or --data, is used as before.
TEST(DataHome, InstalledProgramRunsOnItsOwnCopyOfTheBundledSet)
{
    TempDir dir;
    fs::create_directories(dir / "prefix/bin");
    fs::copy_file(ZENTRIX_BINARY, dir / "prefix/bin/zentrix");
    writeFixtureData(dir.file("prefix/share/zentrix"));
    fs::create_directories(dir / "empty");
    const std::string program = dir.file("prefix/bin/zentrix") + " --headless --frames 3";
    const auto runIn = [&](const std::string& folder, const std::string& environment, const std::string& args = "") {
        return runCommand("cd " + folder + " && env -u XDG_DATA_HOME " + environment + " " + program + args);
    };

    const ProcessResult first = runIn(dir.file("empty"), "HOME=" + dir.file("home"));
    EXPECT_EQ(first.exitStatus, 0) << first.output;
    const std::string home = dir.file("home/.local/share/zentrix");
    EXPECT_NE(first.output.find("copied the bundled data set to " + home), std::string::npos) << first.output;
    EXPECT_TRUE(fs::exists(home + "/Terrain.txt"));
    EXPECT_TRUE(fs::exists(home + "/protokoll.txt"));  // the log lands in the copy
    EXPECT_TRUE(fs::is_empty(dir / "empty"));
    EXPECT_FALSE(fs::exists(dir / "prefix/share/zentrix/protokoll.txt"));

    // Later runs use the copy as it is now, edits included, and copy nothing.
    writeFile(home + "/SpielEinstellungen.txt", "Sichtweite 500\n");
    const ProcessResult second = runIn(dir.file("empty"), "HOME=" + dir.file("home"));
    EXPECT_EQ(second.exitStatus, 0) << second.output;
    EXPECT_EQ(second.output.find("copied"), std::string::npos) << second.output;
    EXPECT_EQ(readFile(home + "/SpielEinstellungen.txt"), "Sichtweite 500\n");

    // XDG_DATA_HOME, when absolute, is the place.
    const ProcessResult xdg = runIn(dir.file("empty"), "HOME=" + dir.file("home") + " XDG_DATA_HOME=" + dir.file("xdg"));
    EXPECT_EQ(xdg.exitStatus, 0) << xdg.output;
    EXPECT_TRUE(fs::exists(dir / "xdg/zentrix/Terrain.txt"));

    // A folder holding a data set, even a broken one, is the user's: reported as before.
    writeFile(dir.file("own/Resolutions.txt"), "broken");
    const ProcessResult own = runIn(dir.file("own"), "HOME=" + dir.file("home2"));
    EXPECT_EQ(own.exitStatus, 1) << own.output;
    EXPECT_FALSE(fs::exists(dir / "home2"));
    const ProcessResult data = runIn(dir.file("empty"), "HOME=" + dir.file("home2"), " --data " + dir.file("empty"));
    EXPECT_EQ(data.exitStatus, 1);
    EXPECT_NE(data.output.find("cannot open"), std::string::npos) << data.output;
    EXPECT_FALSE(fs::exists(dir / "home2"));

    // A home where nothing can be written: one line naming the place, status 1.
    writeFile(dir.file("blocked/.local"), "a file where a folder belongs");
    const ProcessResult blocked = runIn(dir.file("empty"), "HOME=" + dir.file("blocked"));
    EXPECT_EQ(blocked.exitStatus, 1);
    EXPECT_NE(blocked.output.find("zentrix: cannot create the data folder " + dir.file("blocked/.local/share/zentrix")),
              std::string::npos)
        << blocked.output;
}
