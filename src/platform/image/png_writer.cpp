#include "platform/image/png_writer.h"

#include <cerrno>
#include <cstring>

#include <stb_image_write.h>

bool writePng(const std::string& path, const RgbaImage& image, std::string& error)
{
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != size_t(image.width) * size_t(image.height) * 4) {
        error = "cannot write " + path + ": the picture is empty or its size does not match its pixels";
        return false;
    }
    errno = 0;
    if (!stbi_write_png(path.c_str(), image.width, image.height, 4, image.pixels.data(), image.width * 4)) {
        // The writer only fails on opening or writing the file, which leaves errno set.
        error = "cannot write " + path + ": " + (errno ? std::strerror(errno) : "write failed");
        return false;
    }
    return true;
}
