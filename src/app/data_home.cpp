#include "app/data_home.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/checked_file.h"

namespace fs = std::filesystem;

bool holdsDataSet(const fs::path& folder)
{
    static const char* const names[] = {"Resolutions.txt", "RenderingAndMore.txt", "SpielEinstellungen.txt",
                                        "Terrain.txt", "TerrainTextures.txt"};
    std::error_code ec;
    for (const char* name : names)
        if (fs::exists(folder / name, ec)) return true;
    return false;
}

std::vector<fs::path> bundledDataFolders()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    const fs::path bin = exe.parent_path();
    if (fs::exists(bin / "CMakeCache.txt", ec)) return {};
    std::vector<fs::path> folders{(bin / ZENTRIX_DATA_FROM_BIN).lexically_normal()};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::string list = dirs && dirs[0] ? dirs : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string entry = list.substr(start, end - start);
        start = end + 1;
        if (entry.empty() || entry[0] != '/') continue;  // relative entries are not taken
        const fs::path folder = (fs::path(entry) / "zentrix").lexically_normal();
        bool seen = false;
        for (const fs::path& f : folders) seen = seen || f == folder;
        if (!seen) folders.push_back(folder);
    }
    return folders;
}

fs::path installedDataSet()
{
    for (const fs::path& folder : bundledDataFolders())
        if (holdsDataSet(folder)) return folder;
    return {};
}

namespace {

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    std::string homeDir = home ? home : "";
    if (homeDir.empty()) {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
            homeDir = found->pw_dir;
    }
    return homeDir;
}

}  // namespace

namespace {

// $VARIABLE/zentrix when the variable holds an absolute path, else ~/fallback/zentrix; empty
// when no home folder is known.
fs::path xdgFolder(const char* variable, const char* fallback)
{
    const char* xdg = std::getenv(variable);
    if (xdg && xdg[0] == '/') return fs::path(xdg) / "zentrix";
    const std::string home = homeFolder();
    if (home.empty()) return {};
    return fs::path(home) / fallback / "zentrix";
}

}  // namespace

fs::path userDataFolder() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }
fs::path userStateFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state"); }

bool createPrivateFolders(const fs::path& folder, std::string& error)
{
    fs::path made;
    for (const fs::path& part : folder) {
        made /= part;
        if (mkdir(made.c_str(), 0700) == 0 || errno == EEXIST) continue;
        error = "cannot create the folder " + made.string() + ": " + std::strerror(errno);
        return false;
    }
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "cannot create the folder " + folder.string() + ": a file of that name is in the way";
        return false;
    }
    return true;
}

namespace {

bool copyFile(const fs::path& from, const fs::path& to, std::string& error)
{
    std::FILE* opened = openRegularFile(from.string());
    if (!opened) {
        error = "cannot read " + from.string() + ": " + openFailureReason(errno);
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(opened, std::fclose);
    const std::string temporary = to.string() + ".part" + std::to_string(getpid());
    OutputFile out;
    if (!out.open(temporary, "file", OutputFile::Accept::AnyFile, OutputFile::Unfinished::Removed)) {
        error = out.error();
        return false;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (n > 0 && !out.write(buffer.data(), n)) break;
        if (n < buffer.size()) break;
    }
    std::error_code ec;
    if (std::ferror(in.get())) {
        out.close();
        fs::remove(temporary, ec);
        error = "cannot read " + from.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!out.close()) {
        fs::remove(temporary, ec);
        error = out.error();
        return false;
    }
    fs::rename(temporary, to, ec);
    if (ec) {
        fs::remove(temporary, ec);
        error = "cannot write " + to.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

bool copyMissingFiles(const fs::path& bundled, const fs::path& target, std::string& error)
{
    std::error_code ec;
    fs::create_directories(target, ec);
    if (ec) {
        error = "cannot create the data folder " + target.string() + ": " + ec.message();
        return false;
    }
    fs::recursive_directory_iterator it(bundled, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path to = target / fs::relative(it->path(), bundled, ec);
        if (ec) break;
        if (it->is_directory(ec)) {
            fs::create_directories(to, ec);
            if (ec) {
                error = "cannot create the data folder " + to.string() + ": " + ec.message();
                return false;
            }
        } else if (it->is_regular_file(ec) && !fs::exists(fs::symlink_status(to, ec))) {
            if (!copyFile(it->path(), to, error)) return false;
        }
    }
    if (ec) {
        error = "cannot read the bundled data set " + bundled.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool chooseDataFolder(std::string& dataDir, std::string& error)
{
    if (!dataDir.empty() || holdsDataSet(".")) return true;
    const std::vector<fs::path> bundled = bundledDataFolders();
    if (bundled.empty()) return true;  // run from the build folder: the working folder, as before
    const fs::path home = userDataFolder();
    // Copied once, on first use: later the folder is the user's, deletions and edits included.
    if (!home.empty() && holdsDataSet(home)) {
        dataDir = home.string();
        return true;
    }
    for (const fs::path& folder : bundled) {
        if (!holdsDataSet(folder)) continue;
        if (home.empty()) {
            dataDir = folder.string();  // nowhere to copy it to: run on it as it is
            return true;
        }
        if (!copyMissingFiles(folder, home, error)) return false;
        std::fprintf(stderr, "zentrix: copied the bundled data set to %s\n", home.c_str());
        dataDir = home.string();
        return true;
    }
    std::error_code ec;
    error = "no data set found; looked in " + fs::current_path(ec).string();
    if (!home.empty()) error += ", " + home.string();
    for (const fs::path& folder : bundled) error += ", " + folder.string();
    error += " (--data DIR names one)";
    return false;
}
