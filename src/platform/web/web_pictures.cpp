#include "platform/web/web_pictures.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <emscripten/emscripten.h>

#include "base/checked_file.h"
#include "base/data_folder.h"

namespace {

constexpr int maxSide = 8192;
constexpr long maxFileBytes = 256L << 20;

uint32_t le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

class ArgbPicture : public Picture {
public:
    explicit ArgbPicture(ArgbImage image) : image_(std::move(image)) {}
    int width() const override { return image_.width; }
    int height() const override { return image_.height; }
    bool toTexels(uint8_t* bgra, int pitch, std::string&) const override
    {
        for (int y = 0; y < image_.height; ++y) {
            uint8_t* out = bgra + ptrdiff_t(y) * pitch;
            for (int x = 0; x < image_.width; ++x, out += 4) {
                const uint32_t t = image_.at(x, y);
                out[0] = uint8_t(t), out[1] = uint8_t(t >> 8), out[2] = uint8_t(t >> 16), out[3] = uint8_t(t >> 24);
            }
        }
        return true;
    }
    bool toArgb(ArgbImage& out, std::string&) const override
    {
        out = image_;
        return true;
    }

private:
    ArgbImage image_;
};

bool readWhole(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    // A directory or a pipe under a picture's name is refused by its type.
    FILE* file = openRegularFile(path);
    if (!file) {
        error = "cannot open " + path + ": " + openFailureReason(errno);
        return false;
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && size <= maxFileBytes && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        bytes.resize(size_t(size));
        ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    if (!ok) error = "cannot read " + path + (size > maxFileBytes ? ": larger than 256 MiB" : "");
    return ok;
}

}  // namespace

bool decodePlainBmp(const uint8_t* bytes, size_t size, ArgbImage& out, std::string& error)
{
    if (size < 54 || bytes[0] != 'B' || bytes[1] != 'M' || le32(bytes + 14) < 40 || le16(bytes + 28) != 24 ||
        le32(bytes + 30) != 0) {
        error = "not an uncompressed 24-bit BMP";
        return false;
    }
    const int32_t w = int32_t(le32(bytes + 18)), h = int32_t(le32(bytes + 22));
    if (w <= 0 || h == 0 || w > maxSide || h < -maxSide || h > maxSide) {
        error = "the BMP header gives a size of " + std::to_string(w) + " x " + std::to_string(h);
        return false;
    }
    const int64_t rows = h < 0 ? -int64_t(h) : h;
    const int64_t stride = (int64_t(w) * 3 + 3) / 4 * 4;
    const int64_t offset = le32(bytes + 10);
    if (offset < 54 || offset + stride * rows > int64_t(size)) {
        error = "the BMP is cut short";
        return false;
    }
    out.width = w;
    out.height = int(rows);
    out.texels.resize(size_t(w) * size_t(rows));
    for (int64_t y = 0; y < rows; ++y) {
        // Rows are stored from the bottom up unless the height is negative.
        const uint8_t* in = bytes + offset + (h < 0 ? y : rows - 1 - y) * stride;
        for (int x = 0; x < w; ++x, in += 3)
            out.texels[size_t(y) * size_t(w) + size_t(x)] = 0xFF000000u | uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
    }
    return true;
}

std::unique_ptr<Picture> WebPictureReader::read(const std::string& name, std::string& error)
{
    const std::string path = dataPath(name);
    std::vector<uint8_t> bytes;
    if (!readWhole(path, bytes, error)) return nullptr;
    ArgbImage image;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        if (!decodePlainBmp(bytes.data(), bytes.size(), image, error)) return nullptr;
        return std::make_unique<ArgbPicture>(std::move(image));
    }
    int w = 0, h = 0;
    char* rgba = emscripten_get_preloaded_image_data(path.c_str(), &w, &h);
    if (!rgba) {
        error = "the browser has not decoded " + path + " (only pictures the page preloads are)";
        return nullptr;
    }
    if (w <= 0 || h <= 0 || w > maxSide || h > maxSide) {
        std::free(rgba);
        error = "the picture " + path + " decodes to " + std::to_string(w) + " x " + std::to_string(h) + " texels";
        return nullptr;
    }
    image.width = w;
    image.height = h;
    image.texels.resize(size_t(w) * size_t(h));
    const auto* p = reinterpret_cast<const uint8_t*>(rgba);
    for (size_t i = 0; i < image.texels.size(); ++i, p += 4)
        image.texels[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    std::free(rgba);
    return std::make_unique<ArgbPicture>(std::move(image));
}
