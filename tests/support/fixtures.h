#pragma once

#include <filesystem>
#include <string>

// A fresh temporary folder that becomes the working directory for the test's lifetime, since the
// program reads its data files from the working directory.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::filesystem::path operator/(const std::string& name) const { return std::filesystem::path(path_) / name; }
    void writeText(const std::string& name, const std::string& text) const;

private:
    std::string path_;
    std::string previous_;
};

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// The data files a run needs, small and valid, written into dir.
void writeFixtureData(const std::string& dir);

struct ProcessResult {
    int exitStatus = -1;
    std::string output;  // stdout and stderr together
};
// Runs a shell command line, capturing its output.
ProcessResult runCommand(const std::string& commandLine);
