#pragma once

#include <string>

#include "device/graphics_device.h"

// F12 in a window: the frame as a numbered PNG in the data folder's screenshots/ folder.
class ScreenshotKey {
public:
    // True once per press of F12.
    bool pressed();
    // Writes screenshots/zentrix-NNNN.png under folder with the first number not taken; never
    // replaces a file. savedAs is its absolute path. False with why.
    static bool save(const std::string& folder, const RgbaImage& image, std::string& savedAs, std::string& why);

private:
    bool wasDown_ = false;
};
