#pragma once

// The picture reader of the browser build: plain 24-bit BMPs (every picture of a data set the
// landscape tool writes) read directly, and PNG or JPEG files through the browser's decoder,
// which decodes the page's preloaded pictures while the page loads.

#include <memory>
#include <string>

#include "textures/picture.h"

class WebPictureReader : public PictureReader {
public:
    std::unique_ptr<Picture> read(const std::string& path, std::string& error) override;
};

// The texels of a plain, uncompressed 24-bit BMP with a header of 40 bytes or more; false with
// error for anything else or a file cut short.
bool decodePlainBmp(const uint8_t* bytes, size_t size, ArgbImage& out, std::string& error);
