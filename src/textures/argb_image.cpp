#include "textures/argb_image.h"

#include <algorithm>
#include <cstring>

#include <stb_image_resize.h>

namespace {

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

ArgbImage scaledToPowerOfTwo(const ArgbImage& image);

}  // namespace

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

uint32_t nextPowerOfTwo(uint32_t n)
{
    uint32_t p = 1;
    while (p < n && p < 0x80000000u) p <<= 1;
    return p;
}

ArgbImage scaleToPowerOfTwo(const ArgbImage& image)
{
    if (isPowerOfTwo(image.width) && isPowerOfTwo(image.height)) return image;
    return scaledToPowerOfTwo(image);
}

ArgbImage scaleToPowerOfTwo(ArgbImage&& image)
{
    if (isPowerOfTwo(image.width) && isPowerOfTwo(image.height)) return std::move(image);
    return scaledToPowerOfTwo(image);
}

namespace {

ArgbImage scaledToPowerOfTwo(const ArgbImage& image)
{
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

}  // namespace

void applyColorKey(ArgbImage& image, uint32_t key)
{
    for (uint32_t& t : image.texels)
        if (t == key) t = 0;
}

void applyColorKey(uint8_t* bgra, size_t count, uint32_t key)
{
    const uint8_t keyBytes[4] = {uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16), uint8_t(key >> 24)};
    uint32_t keyWord;
    std::memcpy(&keyWord, keyBytes, 4);
    for (size_t i = 0; i < count; ++i) {
        uint32_t t;
        std::memcpy(&t, bgra + i * 4, 4);
        if (t == keyWord) std::memset(bgra + i * 4, 0, 4);
    }
}

void boxDownsample(const uint8_t* source, int width, int height, uint8_t* half)
{
    if (width <= 0 || height <= 0) return;
    const int halfWidth = width > 1 ? width / 2 : 1;
    const int halfHeight = height > 1 ? height / 2 : 1;
    const size_t stride = size_t(width) * 4;
    // The four channels of a texel are averaged two at a time in 16-bit lanes; a sum of four
    // bytes and the rounding 2 fits in 10 bits.
    constexpr uint32_t lanes = 0x00FF00FF, round = 0x00020002;
    auto load = [](const uint8_t* p) {
        uint32_t t;
        std::memcpy(&t, p, 4);
        return t;
    };
    for (int y = 0; y < halfHeight; ++y) {
        // A side of 1 averages the texel with itself.
        const uint8_t* row0 = source + size_t(std::min(2 * y, height - 1)) * stride;
        const uint8_t* row1 = source + size_t(std::min(2 * y + 1, height - 1)) * stride;
        uint8_t* out = half + size_t(y) * size_t(halfWidth) * 4;
        const size_t nextColumn = width > 1 ? 4 : 0;
        for (int x = 0; x < halfWidth; ++x) {
            const size_t x0 = size_t(x) * 8, x1 = x0 + nextColumn;
            const uint32_t a = load(row0 + x0), b = load(row0 + x1), c = load(row1 + x0), d = load(row1 + x1);
            const uint32_t low = ((a & lanes) + (b & lanes) + (c & lanes) + (d & lanes) + round) >> 2 & lanes;
            const uint32_t high =
                ((a >> 8 & lanes) + (b >> 8 & lanes) + (c >> 8 & lanes) + (d >> 8 & lanes) + round) >> 2 & lanes;
            const uint32_t texel = low | high << 8;
            std::memcpy(out + size_t(x) * 4, &texel, 4);
        }
    }
}

ArgbImage boxDownsample(const ArgbImage& image)
{
    ArgbImage out;
    if (image.width <= 0 || image.height <= 0) return out;
    out.width = image.width > 1 ? image.width / 2 : 1;
    out.height = image.height > 1 ? image.height / 2 : 1;
    out.texels.resize(size_t(out.width) * size_t(out.height));
    // Each channel is averaged on its own, so the bytes' order within a texel does not matter.
    boxDownsample(reinterpret_cast<const uint8_t*>(image.texels.data()), image.width, image.height,
                  reinterpret_cast<uint8_t*>(out.texels.data()));
    return out;
}
