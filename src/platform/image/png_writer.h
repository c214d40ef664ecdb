#pragma once

#include <string>

#include "device/graphics_device.h"

// Writes an RGBA picture as PNG; false with error (the system's reason) when it cannot.
bool writePng(const std::string& path, const RgbaImage& image, std::string& error);
