#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/graphics_device.h"

class OutputFile;

// Encodes an RGBA picture as PNG bytes; false with error when the picture is empty or its size
// does not match its pixels.
bool encodePng(const RgbaImage& image, std::vector<uint8_t>& png, std::string& error);

// Writes an RGBA picture as PNG; false with error (naming the file and the system's reason) when
// it cannot. Every write and the close are checked, so a full disk is an error, not a short file.
bool writePng(const std::string& path, const RgbaImage& image, std::string& error);
// The same into an output file opened earlier: its whole content becomes the picture.
bool writePng(OutputFile& file, const RgbaImage& image, std::string& error);
