#pragma once

// Image files into 32-bit ARGB texels, and the steps that prepare them for a texture: colour
// key, power-of-two sides, mip levels.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/memory/page_block.h"

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

// What an image file's header announces, read without decoding: known is false for a file that
// cannot be opened or is no BMP, JPEG or PNG (loading it will fail with its own warning). A header
// too deep in a large file to be found counts as the largest picture the loader accepts.
struct ImageProbe {
    bool known = false;
    int64_t width = 0, height = 0;
};
ImageProbe probeImageFile(const std::string& path);

// The bytes a texture made from a picture of width x height takes: both sides rounded up to
// powers of two, four bytes a texel, every mip level. 0 for a size the loader refuses.
uint64_t textureBytes(int64_t width, int64_t height);

struct SDL_Surface;

// A decoded picture whose texels are not converted yet, so that they can be written straight
// into the memory they are meant for (a texture's level) rather than copied there.
class DecodedImage {
public:
    int width() const { return width_; }
    int height() const { return height_; }
    // Rows of width() texels, pitch bytes apart, each texel the bytes blue, green, red, alpha.
    bool toTexels(uint8_t* bgra, int pitch, std::string& error) const;
    bool toArgb(ArgbImage& out, std::string& error) const;

    struct FreeSurface {
        void operator()(SDL_Surface* surface) const noexcept;
    };

private:
    friend struct ImageDecoder;
    bool convert(void* texels, int pitch, bool bgraBytes, std::string& error) const;
    int width_ = 0, height_ = 0;
    ImageFileType type_ = ImageFileType::Unknown;
    std::unique_ptr<SDL_Surface, FreeSurface> surface_;  // what a decoder made
    // A plain 24-bit BMP is read from the file's own bytes: its top row and the step to the next.
    PageBlock file_;
    const uint8_t* rows_ = nullptr;
    ptrdiff_t rowStep_ = 0;
};

// Decodes a BMP, JPEG or PNG held in memory. The header is checked first, so that a picture of
// more than maxImageSide texels on a side, or a BMP whose file is too short for the pixels its
// header announces, is refused before anything is allocated for it. On failure out is left
// alone and error says why.
bool decodeImage(const uint8_t* bytes, size_t size, ArgbImage& out, std::string& error,
                 ImageFileType* decodedType = nullptr);

// Decodes a BMP, JPEG or PNG file. Only regular files are read: a directory or a device is
// refused by its type. On failure out is left alone and error says why.
bool loadImageFile(const std::string& path, ArgbImage& out, std::string& error, ImageFileType* decodedType = nullptr);
bool loadImageFile(const std::string& path, DecodedImage& out, std::string& error,
                   ImageFileType* decodedType = nullptr);

bool isPowerOfTwo(int n);

// The smallest power of two not below n (1 for n <= 1).
uint32_t nextPowerOfTwo(uint32_t n);

// Both sides up to the next power of two with a triangle filter, every channel filtered alike;
// an image that already has power-of-two sides comes back unchanged. Empty if memory runs out.
ArgbImage scaleToPowerOfTwo(const ArgbImage& image);
// The same, taking over the texels of a power-of-two image instead of copying them.
ArgbImage scaleToPowerOfTwo(ArgbImage&& image);

// Every texel exactly equal to key becomes transparent black.
void applyColorKey(ArgbImage& image, uint32_t key);
// The same on count texels stored as the bytes blue, green, red, alpha.
void applyColorKey(uint8_t* bgra, size_t count, uint32_t key);

// The next mip level: half of each side (not below 1), each texel the rounded mean of a 2 x 2
// block per channel.
ArgbImage boxDownsample(const ArgbImage& image);
// The same on four-byte texels: source has width x height of them, half receives the next level.
void boxDownsample(const uint8_t* source, int width, int height, uint8_t* half);
