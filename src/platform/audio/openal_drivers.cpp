#include "platform/audio/openal_drivers.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace {

std::string trimmed(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string envOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return v && v[0] ? std::string(v) : fallback;
}

}  // namespace

bool configSetsDrivers(const std::string& path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return false;
    std::string text(64 * 1024, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f.get()));
    std::istringstream lines(text);
    std::string line;
    bool general = true;  // keys before any section belong to the general one
    while (std::getline(lines, line)) {
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        if (line.front() == '[') {
            const size_t end = line.find(']');
            std::string section = trimmed(line.substr(1, end == std::string::npos ? std::string::npos : end - 1));
            for (char& c : section) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            general = section == "general";
            continue;
        }
        const size_t eq = line.find('=');
        if (general && eq != std::string::npos && trimmed(line.substr(0, eq)) == "drivers") return true;
    }
    return false;
}

std::vector<std::string> openAlConfigFiles()
{
    std::vector<std::string> files{"/etc/openal/alsoft.conf"};
    std::stringstream dirs(envOr("XDG_CONFIG_DIRS", "/etc/xdg"));
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty()) files.push_back(dir + "/alsoft.conf");
    const std::string home = envOr("HOME", "");
    if (!home.empty()) files.push_back(home + "/.alsoftrc");
    const std::string config = envOr("XDG_CONFIG_HOME", home.empty() ? "" : home + "/.config");
    if (!config.empty()) files.push_back(config + "/alsoft.conf");
    if (const char* own = std::getenv("ALSOFT_CONF"); own && own[0]) files.push_back(own);
    return files;
}

std::string openAlDriverChoice(bool loopback, const char* envDrivers, const std::vector<std::string>& configFiles)
{
    // The loopback device mixes without any back-end, so none is probed, whatever is set.
    if (loopback) return "null";
    if (envDrivers) return {};
    for (const std::string& file : configFiles)
        if (configSetsDrivers(file)) return {};
    // A leading '-' leaves a back-end out; the trailing comma keeps every other one.
    return "-jack,";
}

void chooseOpenAlDrivers(bool loopback)
{
    const std::string choice = openAlDriverChoice(loopback, std::getenv("ALSOFT_DRIVERS"), openAlConfigFiles());
    if (!choice.empty()) setenv("ALSOFT_DRIVERS", choice.c_str(), 1);
}
