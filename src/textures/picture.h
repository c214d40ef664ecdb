#pragma once

// Where the game's pictures come from. The game decodes no file format itself: textures read
// their files through the one PictureReader the program installs at start-up (the platform's
// image decoder; tests may install another).

#include <cstdint>
#include <memory>
#include <string>

#include "textures/argb_image.h"

// A picture read from a file whose texels are not converted yet, so that they can be written
// straight into the memory they are meant for (a texture's level).
class Picture {
public:
    virtual ~Picture() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Rows of width() texels, pitch bytes apart, each texel the bytes blue, green, red, alpha.
    virtual bool toTexels(uint8_t* bgra, int pitch, std::string& error) const = 0;
    virtual bool toArgb(ArgbImage& out, std::string& error) const = 0;
};

// What a picture file's header announces, read without decoding anything.
struct PictureSize {
    bool known = false;  // false for a file the reader would not load (it fails with its own warning)
    int64_t width = 0, height = 0;
};

class PictureReader {
public:
    virtual ~PictureReader() = default;
    // The picture in the file at path; null with error saying why when it cannot be read.
    virtual std::unique_ptr<Picture> read(const std::string& path, std::string& error) = 0;
    // The size read would give, from the header alone, so that memory can be counted before
    // anything is decoded. A reader that cannot tell says it does not know.
    virtual PictureSize size(const std::string& path)
    {
        (void)path;
        return {};
    }
};

// The bytes a texture made from a picture of width x height takes: both sides rounded up to
// powers of two, four bytes a texel, every mip level.
uint64_t textureBytes(int64_t width, int64_t height);

// The reader textures load through; not owned. Without one every picture fails to load.
void setPictureReader(PictureReader* reader);
PictureReader* pictureReader();
