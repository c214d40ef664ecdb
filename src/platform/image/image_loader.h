#pragma once

// Image files into 32-bit ARGB texels, and the steps that prepare them for a texture: colour
// key, power-of-two sides, mip levels.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Texels row by row from the top, each 0xAARRGGBB.
struct ArgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> texels;

    uint32_t at(int x, int y) const { return texels[size_t(y) * size_t(width) + size_t(x)]; }
};

enum class ImageFileType { Unknown, Bmp, Jpeg, Png };

// The type a file's first bytes announce; Unknown for anything but BMP, JPEG and PNG.
ImageFileType imageFileType(const uint8_t* bytes, size_t size);

// Larger pictures are refused rather than scaled into textures of hundreds of megabytes.
inline constexpr int maxImageSide = 8192;

// The side lengths a BMP, JPEG or PNG header announces, read without decoding anything (a BMP's
// negative, top-down height counts by its absolute value). False with error for a header that
// is cut short or malformed, or that announces no size.
bool imageHeaderSize(const uint8_t* bytes, size_t size, ImageFileType type, int64_t& width, int64_t& height,
                     std::string& error);

// Decodes a BMP, JPEG or PNG held in memory. The header is checked first, so that a picture of
// more than maxImageSide texels on a side, or a BMP whose file is too short for the pixels its
// header announces, is refused before anything is allocated for it. On failure out is left
// alone and error says why.
bool decodeImage(const uint8_t* bytes, size_t size, ArgbImage& out, std::string& error,
                 ImageFileType* decodedType = nullptr);

// Decodes a BMP, JPEG or PNG file. Only regular files are read: a directory or a device is
// refused by its type. On failure out is left alone and error says why.
bool loadImageFile(const std::string& path, ArgbImage& out, std::string& error, ImageFileType* decodedType = nullptr);

// The smallest power of two not below n (1 for n <= 1).
uint32_t nextPowerOfTwo(uint32_t n);

// Both sides up to the next power of two with a triangle filter, every channel filtered alike;
// an image that already has power-of-two sides comes back unchanged. Empty if memory runs out.
ArgbImage scaleToPowerOfTwo(const ArgbImage& image);

// Every texel exactly equal to key becomes transparent black.
void applyColorKey(ArgbImage& image, uint32_t key);

// The next mip level: half of each side (not below 1), each texel the rounded mean of a 2 x 2
// block per channel.
ArgbImage boxDownsample(const ArgbImage& image);
