#pragma once

// Scratch folder, working directory and graphics device for the length of a test scope.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/graphics.h"
#include "support/recording_device.h"

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zentrix-test-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    void writeText(const std::string& name, const std::string& text) const { std::ofstream(path_ / name) << text; }

private:
    std::filesystem::path path_;
};

class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& dir) : saved_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory()
    {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }

private:
    std::filesystem::path saved_;
};

// Installs a RecordingDevice as graphicsDevice.
class DeviceScope {
public:
    DeviceScope()
    {
        auto device = std::make_unique<RecordingDevice>();
        device_ = device.get();
        graphicsDevice = std::move(device);
    }
    ~DeviceScope() { graphicsDevice.reset(); }
    RecordingDevice* operator->() const { return device_; }

private:
    RecordingDevice* device_;
};
