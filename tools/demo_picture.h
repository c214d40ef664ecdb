#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A 24-bit picture the generators draw into, rows from the top, R G B per pixel.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    RgbPicture(int w, int h) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3, 0) {}
    uint8_t* pixel(int x, int y) { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
    const uint8_t* pixel(int x, int y) const { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
};

#include "output_files.h"

// An uncompressed bottom-up 24-bit BMP.
std::vector<uint8_t> encodeBmp24(const RgbPicture& picture);
// The same written to path as part of set. False with error set when the file cannot be written.
bool writeBmp24(OutputSet& set, const std::filesystem::path& path, const RgbPicture& picture, std::string& error,
                Existing existing = Existing::Replace);
