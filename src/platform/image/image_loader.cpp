#include "platform/image/image_loader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>
#include <stb_image_resize.h>
#include <sys/stat.h>

#include "platform/file/checked_file.h"

namespace {

// Larger than any picture of maxImageSide texels a side could need to be.
constexpr int64_t maxImageFileBytes = int64_t(512) << 20;

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    std::FILE* opened = openRegularFile(path);
    if (!opened) {
        error = openFailureReason(errno);
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && info.st_size > maxImageFileBytes) {
        error = "the file is larger than " + std::to_string(maxImageFileBytes >> 20) + " MiB, too large for a picture";
        return false;
    }
    uint8_t chunk[65536];
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
        // The file may have grown since its size was taken.
        if (int64_t(bytes.size()) > maxImageFileBytes) {
            error = "the file is too large for a picture";
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

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

bool pngHeaderSize(const uint8_t* bytes, size_t size, int64_t& width, int64_t& height, std::string& error)
{
    // The signature, then the IHDR chunk, which must come first: length, type, width, height.
    if (size < 24 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
        error = "the PNG header is cut short or does not begin with IHDR";
        return false;
    }
    width = be32(bytes + 16);
    height = be32(bytes + 20);
    // Every chunk must lie inside the file: the decoder would otherwise check the CRC of a chunk
    // of gigabytes that is not there, which costs about a second per 150-byte file.
    size_t pos = 8;
    while (pos + 12 <= size) {
        const uint64_t length = be32(bytes + pos);
        if (length > size - pos - 12) {
            error = "a PNG chunk of " + std::to_string(length) + " bytes runs past the end of the file";
            return false;
        }
        const bool end = std::memcmp(bytes + pos + 4, "IEND", 4) == 0;
        pos += 12 + size_t(length);
        if (end) break;
    }
    return true;
}

bool jpegHeaderSize(const uint8_t* bytes, size_t size, int64_t& width, int64_t& height, std::string& error)
{
    // Markers up to the first frame header; it must come before the first scan.
    size_t pos = 2;
    for (;;) {
        while (pos < size && bytes[pos] != 0xFF) ++pos;  // tolerate garbage between segments
        while (pos < size && bytes[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= size) break;
        const uint8_t marker = bytes[pos++];
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (marker == 0xD9 || marker == 0xDA) break;
        if (pos + 2 > size) break;
        const size_t length = be16(bytes + pos);
        if (length < 2 || pos + length > size) break;
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (length < 8) break;
            height = be16(bytes + pos + 3);
            width = be16(bytes + pos + 5);
            return true;
        }
        pos += length;
    }
    error = "the JPEG has no frame header before its image data";
    return false;
}

bool bmpHeaderSize(const uint8_t* bytes, size_t size, int64_t& width, int64_t& height, std::string& error)
{
    if (size < 26) {
        error = "the BMP header is cut short";
        return false;
    }
    const uint32_t infoSize = le32(bytes + 14);
    int64_t bitsPerPixel = 0;
    bool uncompressed = true;
    if (infoSize == 12) {  // the old core header: unsigned 16-bit sides
        width = le16(bytes + 18);
        height = le16(bytes + 20);
        bitsPerPixel = le16(bytes + 24);
    } else if (infoSize >= 16 && size >= 34) {
        width = int32_t(le32(bytes + 18));
        height = int32_t(le32(bytes + 22));  // negative: rows stored top-down
        bitsPerPixel = le16(bytes + 28);
        const uint32_t compression = infoSize >= 20 ? le32(bytes + 30) : 0;
        uncompressed = compression == 0 || compression == 3 || compression == 6;
    } else {
        error = "the BMP header is cut short or of an unknown kind (" + std::to_string(infoSize) + " bytes)";
        return false;
    }
    width = width < 0 ? -width : width;
    height = height < 0 ? -height : height;
    // Uncompressed rows have a known size: a file too short to hold them is refused before a
    // surface is allocated for pixels that are not there.
    if (uncompressed && width <= maxImageSide && height <= maxImageSide) {
        const int64_t rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        const int64_t offset = le32(bytes + 10);
        if (offset + rowBytes * height > int64_t(size)) {
            error = "the BMP file ends before the " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels its header announces";
            return false;
        }
    }
    return true;
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

bool imageHeaderSize(const uint8_t* bytes, size_t size, ImageFileType type, int64_t& width, int64_t& height,
                     std::string& error)
{
    width = height = 0;
    switch (type) {
    case ImageFileType::Png: return pngHeaderSize(bytes, size, width, height, error);
    case ImageFileType::Jpeg: return jpegHeaderSize(bytes, size, width, height, error);
    case ImageFileType::Bmp: return bmpHeaderSize(bytes, size, width, height, error);
    default: error = "not a BMP, JPEG or PNG image"; return false;
    }
}

bool decodeImage(const uint8_t* bytes, size_t size, ArgbImage& out, std::string& error, ImageFileType* decodedType)
{
    const ImageFileType type = imageFileType(bytes, size);
    if (type == ImageFileType::Unknown) {
        error = "not a BMP, JPEG or PNG image";
        return false;
    }
    int64_t w = 0, h = 0;
    if (!imageHeaderSize(bytes, size, type, w, h, error)) return false;
    if (w > maxImageSide || h > maxImageSide) {
        error = "the image is " + std::to_string(w) + " x " + std::to_string(h) + ", more than " +
                std::to_string(maxImageSide) + " texels on a side";
        return false;
    }
    if (w == 0 || h == 0) {
        error = std::string("the ") + typeName(type) + " header gives a size of " + std::to_string(w) + " x " +
                std::to_string(h);
        return false;
    }
    if (size > size_t(INT_MAX)) {
        error = "the file is too large for a picture";
        return false;
    }

    SDL_RWops* source = SDL_RWFromConstMem(bytes, static_cast<int>(size));
    if (!source) {
        error = std::string("cannot read the image from memory: ") + SDL_GetError();
        return false;
    }
    // The decoder announced by the first bytes is called by name: the generic loader asks every
    // format in turn whether it recognises the bytes, and would hand a JPEG-looking file that
    // merely contains "<svg" to the vector loader.
    SDL_Surface* decoded = nullptr;
    switch (type) {
    case ImageFileType::Bmp: decoded = SDL_LoadBMP_RW(source, 0); break;
    case ImageFileType::Jpeg: decoded = IMG_LoadJPG_RW(source); break;
    default: decoded = IMG_LoadPNG_RW(source); break;
    }
    SDL_RWclose(source);
    if (!decoded) {
        error = std::string("cannot decode the ") + typeName(type) + " image: " + IMG_GetError();
        return false;
    }
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(decoded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(decoded);
    if (!argb) {
        error = std::string("cannot convert the ") + typeName(type) + " image: " + SDL_GetError();
        return false;
    }
    if (argb->w <= 0 || argb->h <= 0 || argb->w > maxImageSide || argb->h > maxImageSide) {
        error = std::string("the ") + typeName(type) + " image decodes to " + std::to_string(argb->w) + " x " +
                std::to_string(argb->h) + " texels";
        SDL_FreeSurface(argb);
        return false;
    }
    out.width = argb->w;
    out.height = argb->h;
    out.texels.resize(size_t(argb->w) * size_t(argb->h));
    SDL_LockSurface(argb);
    for (int y = 0; y < argb->h; ++y)
        std::memcpy(&out.texels[size_t(y) * size_t(argb->w)],
                    static_cast<const uint8_t*>(argb->pixels) + ptrdiff_t(y) * argb->pitch, size_t(argb->w) * 4);
    SDL_UnlockSurface(argb);
    SDL_FreeSurface(argb);
    if (decodedType) *decodedType = type;
    return true;
}

bool loadImageFile(const std::string& path, ArgbImage& out, std::string& error, ImageFileType* decodedType)
{
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes, error)) return false;
    return decodeImage(bytes.data(), bytes.size(), out, error, decodedType);
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
