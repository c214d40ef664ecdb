#include "platform/image/image_loader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <stb_image.h>
#include <stb_image_resize.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = errno ? std::strerror(errno) : "cannot open the file";
        return false;
    }
    uint8_t chunk[65536];
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
        // stb decodes from an int-sized buffer; nothing that large is a picture we want.
        if (bytes.size() > size_t(INT_MAX)) {
            error = "the file is too large";
            return false;
        }
    }
    if (std::ferror(file.get())) {
        error = errno ? std::strerror(errno) : "read error";
        return false;
    }
    return true;
}

const char* typeName(ImageFileType type)
{
    switch (type) {
    case ImageFileType::Bmp: return "BMP";
    case ImageFileType::Jpeg: return "JPEG";
    case ImageFileType::Png: return "PNG";
    default: return "unknown";
    }
}

// Texel <-> bytes in B, G, R, A order, the order the resizer sees the four channels in.
std::vector<uint8_t> toBytes(const ArgbImage& image)
{
    std::vector<uint8_t> bytes(image.texels.size() * 4);
    for (size_t i = 0; i < image.texels.size(); ++i) {
        const uint32_t t = image.texels[i];
        bytes[i * 4 + 0] = uint8_t(t);
        bytes[i * 4 + 1] = uint8_t(t >> 8);
        bytes[i * 4 + 2] = uint8_t(t >> 16);
        bytes[i * 4 + 3] = uint8_t(t >> 24);
    }
    return bytes;
}

uint32_t texelFromBytes(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

ImageFileType imageFileType(const uint8_t* bytes, size_t size)
{
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(bytes, pngSignature, 8) == 0) return ImageFileType::Png;
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return ImageFileType::Jpeg;
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ImageFileType::Bmp;
    return ImageFileType::Unknown;
}

bool loadImageFile(const std::string& path, ArgbImage& out, std::string& error, ImageFileType* decodedType)
{
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes, error)) return false;

    // stb reads more formats than these three; the data set uses only these.
    const ImageFileType type = imageFileType(bytes.data(), bytes.size());
    if (type == ImageFileType::Unknown) {
        error = "not a BMP, JPEG or PNG image";
        return false;
    }
    const int length = static_cast<int>(bytes.size());
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(bytes.data(), length, &w, &h, &channels)) {
        error = std::string("cannot decode the ") + typeName(type) + " image: " + stbi_failure_reason();
        return false;
    }
    if (w > maxImageSide || h > maxImageSide) {
        error = "the image is " + std::to_string(w) + " x " + std::to_string(h) + ", more than " +
                std::to_string(maxImageSide) + " texels on a side";
        return false;
    }
    stbi_uc* rgba = stbi_load_from_memory(bytes.data(), length, &w, &h, &channels, 4);
    if (!rgba) {
        error = std::string("cannot decode the ") + typeName(type) + " image: " + stbi_failure_reason();
        return false;
    }
    out.width = w;
    out.height = h;
    out.texels.resize(size_t(w) * size_t(h));
    for (size_t i = 0; i < out.texels.size(); ++i) {
        const stbi_uc* p = rgba + i * 4;
        out.texels[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
    }
    stbi_image_free(rgba);
    if (decodedType) *decodedType = type;
    return true;
}

uint32_t nextPowerOfTwo(uint32_t n)
{
    uint32_t p = 1;
    while (p < n && p < 0x80000000u) p <<= 1;
    return p;
}

ArgbImage scaleToPowerOfTwo(const ArgbImage& image)
{
    if (isPowerOfTwo(image.width) && isPowerOfTwo(image.height)) return image;
    ArgbImage out;
    if (image.width <= 0 || image.height <= 0) return out;

    const int w = static_cast<int>(nextPowerOfTwo(uint32_t(image.width)));
    const int h = static_cast<int>(nextPowerOfTwo(uint32_t(image.height)));
    const std::vector<uint8_t> source = toBytes(image);
    std::vector<uint8_t> scaled(size_t(w) * size_t(h) * 4);
    // Treated as premultiplied so every channel is filtered alike, like the mip levels: colour-keyed
    // texels stay transparent black and the ball's edge fades in colour and alpha together.
    if (!stbir_resize_uint8_generic(source.data(), image.width, image.height, image.width * 4, scaled.data(), w, h,
                                    w * 4, 4, 3, STBIR_FLAG_ALPHA_PREMULTIPLIED, STBIR_EDGE_CLAMP, STBIR_FILTER_TRIANGLE,
                                    STBIR_COLORSPACE_LINEAR, nullptr))
        return out;

    out.width = w;
    out.height = h;
    out.texels.resize(size_t(w) * size_t(h));
    for (size_t i = 0; i < out.texels.size(); ++i) out.texels[i] = texelFromBytes(&scaled[i * 4]);
    return out;
}

void applyColorKey(ArgbImage& image, uint32_t key)
{
    for (uint32_t& t : image.texels)
        if (t == key) t = 0;
}

ArgbImage boxDownsample(const ArgbImage& image)
{
    ArgbImage out;
    if (image.width <= 0 || image.height <= 0) return out;
    out.width = image.width > 1 ? image.width / 2 : 1;
    out.height = image.height > 1 ? image.height / 2 : 1;
    out.texels.resize(size_t(out.width) * size_t(out.height));
    for (int y = 0; y < out.height; ++y) {
        // A side of 1 averages the texel with itself.
        const int y0 = std::min(2 * y, image.height - 1), y1 = std::min(2 * y + 1, image.height - 1);
        for (int x = 0; x < out.width; ++x) {
            const int x0 = std::min(2 * x, image.width - 1), x1 = std::min(2 * x + 1, image.width - 1);
            const uint32_t a = image.at(x0, y0), b = image.at(x1, y0), c = image.at(x0, y1), d = image.at(x1, y1);
            uint32_t texel = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const uint32_t sum = (a >> shift & 0xFF) + (b >> shift & 0xFF) + (c >> shift & 0xFF) + (d >> shift & 0xFF);
                texel |= ((sum + 2) / 4) << shift;
            }
            out.texels[size_t(y) * size_t(out.width) + size_t(x)] = texel;
        }
    }
    return out;
}
