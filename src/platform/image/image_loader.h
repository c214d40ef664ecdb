#pragma once

// Image files (BMP, JPEG, PNG) decoded into 32-bit texels: SDL2_image, and plain 24-bit BMPs read
// directly. The program's picture reader for textures.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/data_folder.h"
#include "device/page_block.h"
#include "textures/argb_image.h"
#include "textures/picture.h"

// The bytes of a picture file, read whole into bytes (length of them are the file's). Only regular
// files of at most 512 MiB are read; false with error saying why otherwise.
bool readPictureFile(const std::string& path, PageBlock& bytes, size_t& length, std::string& error);

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

// Larger side data is refused: no chunk but the image data needs this much, and libpng would
// allocate a chunk's whole length before reading it.
inline constexpr uint32_t maxPngSideChunkBytes = uint32_t(64) << 20;

// Checks a whole PNG's chunk layout before a decoder sees it: IHDR first, every chunk complete
// inside the file, side chunks within maxPngSideChunkBytes, image data (IDAT) before IEND, and
// IEND present (anything after it is ignored). A decoder given a file that passes never reads
// past its end and never allocates more for a chunk than the file holds. False with error for
// a file that ends early or claims more than it holds.
bool checkPngLayout(const uint8_t* bytes, size_t size, std::string& error);

// What an image file's header announces, read without decoding: unknown for a file that cannot
// be opened, is no BMP, JPEG or PNG, or announces a size the loader refuses (loading it will fail
// with its own warning). A header too deep in a large file to be found counts as the largest
// picture the loader accepts.
PictureSize probeImageFile(const std::string& path);

struct SDL_Surface;

// A decoded picture whose texels are not converted yet, so that they can be written straight
// into the memory they are meant for (a texture's level) rather than copied there.
class DecodedImage final : public Picture {
public:
    int width() const override { return width_; }
    int height() const override { return height_; }
    bool toTexels(uint8_t* bgra, int pitch, std::string& error) const override;
    bool toArgb(ArgbImage& out, std::string& error) const override;

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

// The picture reader the game's textures load through.
class ImageFileReader final : public PictureReader {
public:
    // Pictures are named as the lists name them: relative names are in the data folder.
    std::unique_ptr<Picture> read(const std::string& path, std::string& error) override;
    PictureSize size(const std::string& path) override { return probeImageFile(dataPath(path)); }
};
