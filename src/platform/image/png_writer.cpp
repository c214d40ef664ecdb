#include "platform/image/png_writer.h"

#include <stb_image_write.h>

#include "base/checked_file.h"

bool encodePng(const RgbaImage& image, std::vector<uint8_t>& png, std::string& error)
{
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != size_t(image.width) * size_t(image.height) * 4) {
        error = "the picture is empty or its size does not match its pixels";
        return false;
    }
    // The encoder's own file writer ignores failed writes, so it encodes into memory and the
    // caller writes through a checked file.
    png.clear();
    const auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        const auto* bytes = static_cast<const uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    if (!stbi_write_png_to_func(append, &png, image.width, image.height, 4, image.pixels.data(), image.width * 4) ||
        png.empty()) {
        error = "out of memory while encoding the PNG";
        return false;
    }
    return true;
}

bool writePng(OutputFile& file, const RgbaImage& image, std::string& error)
{
    std::vector<uint8_t> png;
    if (!encodePng(image, png, error)) {
        error = "cannot write " + file.path() + ": " + error;
        return false;
    }
    if (!file.rewrite(png.data(), png.size())) {
        error = file.error();
        return false;
    }
    return true;
}

bool writePng(const std::string& path, const RgbaImage& image, std::string& error)
{
    std::vector<uint8_t> png;
    if (!encodePng(image, png, error)) {
        error = "cannot write " + path + ": " + error;
        return false;
    }
    OutputFile file;
    if (!file.open(path, "picture", OutputFile::Accept::AnyFile, OutputFile::Unfinished::Removed) ||
        !file.write(png.data(), png.size()) || !file.close()) {
        error = file.error();
        return false;
    }
    return true;
}
