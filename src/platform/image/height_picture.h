#pragma once

// Pictures read as height maps: one 16-bit level per texel, so that a 16-bit PNG keeps its
// precision (the texture loader reduces every picture to 8 bits per channel).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Levels row by row from the top: 0 is black, 65535 white. A colour texel is read as its
// luminance (0.2126 red + 0.7152 green + 0.0722 blue); alpha is ignored.
struct HeightPicture {
    int width = 0;
    int height = 0;
    int bitDepth = 8;  // of the file: 16 only for a 16-bit PNG
    std::vector<uint16_t> levels;

    uint16_t at(int x, int y) const { return levels[size_t(y) * size_t(width) + size_t(x)]; }
};

// A PNG of any colour type and bit depth is decoded at its own depth; BMP and JPEG go through
// the image loader at 8 bits. Pictures of more than maxImageSide texels on a side are refused by
// their header. On failure out is left alone and error says why.
bool decodeHeightPicture(const uint8_t* bytes, size_t size, HeightPicture& out, std::string& error);

// The same for a file; only regular files are read.
bool loadHeightPicture(const std::string& path, HeightPicture& out, std::string& error);
