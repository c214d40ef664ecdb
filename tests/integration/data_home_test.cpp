#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include <unistd.h>

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

namespace {

// Every path under root with its kind, one a line, sorted: two listings are equal only when the
// trees are.
std::string listing(const fs::path& root)
{
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        lines.push_back(fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : ""));
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// Files of the build folder that a test's install rewrites, put back as they were.
struct KeptBuildFiles {
    std::vector<std::pair<fs::path, std::optional<std::string>>> files;
    explicit KeptBuildFiles(std::initializer_list<const char*> names)
    {
        for (const char* name : names) {
            const fs::path path = fs::path(ZENTRIX_BUILD_DIR) / name;
            files.emplace_back(path, fs::exists(path) ? std::optional(readFile(path)) : std::nullopt);
        }
    }
    ~KeptBuildFiles()
    {
        std::error_code ec;
        for (const auto& [path, text] : files)
            if (text)
                writeFile(path, *text);
            else
                fs::remove(path, ec);
    }
};

const std::string twoFrames = " --headless --frames 2 --fixed-step 20";

// Whether output holds line as one whole line.
bool hasLine(const std::string& output, const std::string& line)
{
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace

// make install's step on this build, into a prefix under DESTDIR: started in an empty folder with
// a fresh home, the program finds its bundled set beside it; uninstall leaves the tree as it was,
// an empty folder that was there before included.
TEST(DataHome, InstalledTreeRunsFromAnEmptyFolderAndUninstallsWithoutTrace)
{
    TempDir dir;
    KeptBuildFiles kept{"install_manifest.txt", "install_files.txt", "install_folders.txt"};
    fs::create_directories(dir / "dest/usr/share/man");
    writeFile(dir.file("dest/usr/keep.txt"), "not ours");
    const std::string before = listing(dir / "dest");
    const std::string script = std::string(ZENTRIX_SOURCE_DIR) + "/scripts/install-tree.sh";
    const ProcessResult install =
        runCommand("DESTDIR=" + dir.file("dest") + " " + script + " install " + ZENTRIX_BUILD_DIR + " /usr");
    ASSERT_EQ(install.exitStatus, 0) << install.output;

    fs::create_directories(dir / "empty");
    const ProcessResult run = runCommand("cd " + dir.file("empty") + " && env -u XDG_DATA_HOME -u XDG_STATE_HOME HOME=" +
                                         dir.file("home") + " " + dir.file("dest/usr/bin/zentrix") + twoFrames);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(fs::exists(dir / "home/.local/share/zentrix/protokoll.txt"));

    const ProcessResult uninstall = runCommand(script + " uninstall " + ZENTRIX_BUILD_DIR);
    EXPECT_EQ(uninstall.exitStatus, 0) << uninstall.output;
    EXPECT_EQ(listing(dir / "dest"), before);
}

// Installed in another layout with no data beside it: the bundled set comes from XDG_DATA_DIRS
// (relative entries ignored); with none anywhere, one line names every folder looked in.
TEST(DataHome, BundledSetIsFoundThroughXdgDataDirsOrEveryPlaceLookedInIsNamed)
{
    TempDir dir;
    fs::create_directories(dir / "prefix/games");
    fs::copy_file(ZENTRIX_BINARY, dir / "prefix/games/zentrix");
    writeFixtureData(dir.file("xdg/zentrix"));
    fs::create_directories(dir / "empty");
    const auto runWith = [&](const std::string& home, const std::string& dirs) {
        return runCommand("cd " + dir.file("empty") + " && env -u XDG_DATA_HOME HOME=" + dir.file(home) +
                          " XDG_DATA_DIRS=" + dirs + " " + dir.file("prefix/games/zentrix") + twoFrames);
    };

    const ProcessResult found = runWith("home", "share:" + dir.file("xdg"));
    EXPECT_EQ(found.exitStatus, 0) << found.output;
    EXPECT_TRUE(fs::exists(dir / "home/.local/share/zentrix/Terrain.txt"));

    const ProcessResult none = runWith("home2", dir.file("nothing") + ":share");
    EXPECT_EQ(none.exitStatus, 1);
    const std::string beside = (dir / "prefix/games" / ZENTRIX_DATA_FROM_BIN).lexically_normal().string();
    EXPECT_TRUE(hasLine(none.output, "zentrix: no data set found; looked in " + dir.file("empty") + ", " +
                                         dir.file("home2/.local/share/zentrix") + ", " + beside + ", " +
                                         dir.file("nothing/zentrix") + " (--data DIR names one)"))
        << none.output;
    EXPECT_FALSE(fs::exists(dir / "home2"));
}

// A data folder that cannot take the log (a system-wide install): the run goes on, its log in
// the user's state folder, said in one line. The folder is made read-only by a read-only bind
// mount in a mount namespace of the run's own where that can be made (EROFS), else by its
// permissions; root passes those by, so root then runs the program as nobody (EACCES). Both
// failures take the same path.
TEST(DataHome, ReadOnlyDataFolderLeavesTheLogToTheStateFolder)
{
    TempDir dir;
    writeFixtureData(dir.file("data"));
    fs::copy_file(ZENTRIX_BINARY, dir / "zentrix");
    fs::create_directories(dir / "home");
    const std::string data = dir.file("data");
    const std::string mountReadOnly =
        "unshare -m sh -c 'mount --bind " + data + " " + data + " && mount -o remount,bind,ro " + data;
    std::string wrapper, reason = "Permission denied";
    if (geteuid() == 0 && runCommand(mountReadOnly + "'").exitStatus == 0) {
        wrapper = mountReadOnly + " && exec \"$0\" \"$@\"' ";
        reason = "Read-only file system";
    } else {
        if (geteuid() == 0) {
            if (runCommand("command -v setpriv").exitStatus != 0) GTEST_SKIP() << "setpriv is needed to run as nobody";
            wrapper = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
            fs::permissions(dir.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
            ASSERT_EQ(chown(dir.file("home").c_str(), 65534, 65534), 0);
        }
        fs::permissions(dir / "data", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    const auto runWith = [&](const std::string& environment) {
        return runCommand("cd " + dir.path() + " && env -u XDG_STATE_HOME HOME=" + dir.file("home") + " " +
                          environment + " " + wrapper + "./zentrix --data data" + twoFrames);
    };

    const ProcessResult home = runWith("");
    EXPECT_EQ(home.exitStatus, 0) << home.output;
    const std::string log = dir.file("home/.local/state/zentrix/protokoll.txt");
    EXPECT_TRUE(hasLine(home.output,
                        "zentrix: the data folder " + data + " cannot take the log (" + reason + "); it goes to " + log))
        << home.output;
    EXPECT_NE(readFile(log).find("VertexProcessing"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "data/protokoll.txt"));

    const ProcessResult state = runWith("XDG_STATE_HOME=" + dir.file("home/state"));
    EXPECT_EQ(state.exitStatus, 0) << state.output;
    EXPECT_TRUE(fs::exists(dir / "home/state/zentrix/protokoll.txt"));
    fs::permissions(dir / "data", fs::perms::owner_write, fs::perm_options::add);
}

// Run from elsewhere, a message names the data file where it is; run in the data folder itself,
// by its name as before.
TEST(DataHome, MessagesNameDataFilesWhereTheyAreUnlessRunInTheDataFolder)
{
    TempDir dir;
    writeFixtureData(dir.file("data"));
    fs::remove(dir / "data/Terrain.txt");
    const std::string program = std::string(ZENTRIX_BINARY) + " --headless --frames 1 --data ";
    const ProcessResult away = runCommand(program + "data");
    EXPECT_EQ(away.exitStatus, 1);
    EXPECT_TRUE(hasLine(away.output, "zentrix: cannot open " + dir.file("data/Terrain.txt") + ": No such file or directory"))
        << away.output;
    const ProcessResult here = runCommand("cd data && " + program + ".");
    EXPECT_EQ(here.exitStatus, 1);
    EXPECT_TRUE(hasLine(here.output, "zentrix: cannot open Terrain.txt: No such file or directory")) << here.output;
}
