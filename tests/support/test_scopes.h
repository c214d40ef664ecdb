#pragma once

// Working directory and graphics device for the length of a test scope.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/graphics.h"
#include "support/fixtures.h"
#include "support/recording_device.h"

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
