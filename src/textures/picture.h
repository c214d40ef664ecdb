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

class PictureReader {
public:
    virtual ~PictureReader() = default;
    // The picture in the file at path; null with error saying why when it cannot be read.
    virtual std::unique_ptr<Picture> read(const std::string& path, std::string& error) = 0;
};

// The reader textures load through; not owned. Without one every picture fails to load.
void setPictureReader(PictureReader* reader);
PictureReader* pictureReader();
