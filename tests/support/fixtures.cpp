#include "support/fixtures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    char pattern[] = "/tmp/zentrix-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) throw std::runtime_error("mkdtemp failed");
    path_ = made;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

void TempDir::writeText(const std::string& name, const std::string& text) const { writeFile(file(name), text); }

void writeFile(const std::string& path, const std::string& text)
{
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFixtureData(const std::string& dir)
{
    writeFile(dir + "/Resolutions.txt", "Display mode 1=800x600x16 2=800x600x32 3=1024x768x16 4=1024x768x32 1\nFullScreen 0\n");
    writeFile(dir + "/RenderingAndMore.txt", "Vertex processing 0 to 3: 3\nPacing 2\nFps 50\nUnused 0\n");
    writeFile(dir + "/SpielEinstellungen.txt", "ViewDistance 1000\n");
    std::string trajectory;
    for (int i = 0; i < 32; ++i) {
        // A slow circle around the middle of the recording's units.
        trajectory += std::to_string(-5000 + 100 * i) + " " + std::to_string(-2000 + 50 * i) + " " +
                      std::to_string(400 + 10 * i) + "\n";
    }
    writeFile(dir + "/trajectory_data.txt", trajectory);
    writeFile(dir + "/TerrainTextures.txt", "Base 0\nDetail 0\nHeightMaps 0\n");
    writeFile(dir + "/Terrain.txt", "LandTiles 0\nWaterTiles 0\n");
}

ProcessResult runCommand(const std::string& commandLine)
{
    ProcessResult result;
    const std::string full = commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
