#include "platform/image/height_picture.h"

#include <csetjmp>
#include <cstring>
#include <memory>

#include <png.h>

#include "platform/image/image_loader.h"

namespace {

uint16_t luminance(uint32_t red, uint32_t green, uint32_t blue)
{
    // Integer weights summing to 10,000, rounded: a grey texel keeps its level exactly.
    return uint16_t((2126 * red + 7152 * green + 722 * blue + 5000) / 10000);
}

struct PngSource {
    const uint8_t* bytes;
    size_t size;
    size_t offset;
    char message[200];
};

void readPngBytes(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->offset) png_error(png, "the file ends inside the picture");
    std::memcpy(out, source->bytes + source->offset, length);
    source->offset += length;
}

[[noreturn]] void pngError(png_structp png, png_const_charp message)
{
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    std::snprintf(source->message, sizeof source->message, "%s", message);
    png_longjmp(png, 1);
}

// libpng's own warnings would be lines on stderr that name no file; the result is what counts.
void pngWarning(png_structp, png_const_charp) {}

// Everything the decoder allocates lives outside the frames a libpng error jumps over, so the
// jump skips no destructor.
struct PngDecode {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<uint8_t> rows;  // the whole transformed picture for an interlaced file, else one row
    std::vector<png_bytep> rowPointers;
    HeightPicture picture;
    ~PngDecode() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// Reads the rows into d.picture's levels. Called after decodePng has set its jump point, and
// holds nothing that needs destroying, since a libpng error leaves it by a long jump.
void readPngRows(PngDecode& d, int channels, int outDepth, size_t rowBytes, int passes)
{
    const png_uint_32 width = png_uint_32(d.picture.width);
    const png_uint_32 height = png_uint_32(d.picture.height);
    const auto convertRow = [&](const uint8_t* row, png_uint_32 y) {
        uint16_t* levels = d.picture.levels.data() + size_t(y) * width;
        for (png_uint_32 x = 0; x < width; ++x) {
            uint32_t v[3];
            for (int c = 0; c < channels; ++c) {
                const uint8_t* p = row + (size_t(x) * size_t(channels) + size_t(c)) * size_t(outDepth / 8);
                v[c] = outDepth == 16 ? uint32_t(p[0]) << 8 | p[1] : uint32_t(p[0]) * 257u;
            }
            levels[x] = channels == 1 ? uint16_t(v[0]) : luminance(v[0], v[1], v[2]);
        }
    };
    if (passes > 1) {
        // Interlaced passes fill in the same rows, so the whole picture is kept until the last.
        d.rows.resize(rowBytes * height);
        d.rowPointers.resize(height);
        for (png_uint_32 y = 0; y < height; ++y) d.rowPointers[y] = d.rows.data() + size_t(y) * rowBytes;
        png_read_image(d.png, d.rowPointers.data());
        for (png_uint_32 y = 0; y < height; ++y) convertRow(d.rowPointers[y], y);
    } else {
        d.rows.resize(rowBytes);
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(d.png, d.rows.data(), nullptr);
            convertRow(d.rows.data(), y);
        }
    }
}

bool decodePng(const uint8_t* bytes, size_t size, HeightPicture& out, std::string& error)
{
    int64_t headerWidth = 0, headerHeight = 0;
    if (!imageHeaderSize(bytes, size, ImageFileType::Png, headerWidth, headerHeight, error)) return false;
    if (headerWidth > maxImageSide || headerHeight > maxImageSide) {
        error = "the image is " + std::to_string(headerWidth) + " x " + std::to_string(headerHeight) + ", more than " +
                std::to_string(maxImageSide) + " texels on a side";
        return false;
    }
    if (!checkPngLayout(bytes, size, error)) return false;
    PngSource source{bytes, size, 0, "corrupt PNG"};
    PngDecode d;
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, pngError, pngWarning);
    if (!d.png) {
        error = "out of memory";
        return false;
    }
    d.info = png_create_info_struct(d.png);
    if (!d.info) {
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(d.png))) {
        error = std::string("corrupt PNG: ") + source.message;
        return false;
    }
    png_set_user_limits(d.png, maxImageSide, maxImageSide);
    png_set_chunk_malloc_max(d.png, 64u << 20);
    png_set_read_fn(d.png, &source, readPngBytes);
    png_read_info(d.png, d.info);

    const png_uint_32 width = png_get_image_width(d.png, d.info);
    const png_uint_32 height = png_get_image_height(d.png, d.info);
    const int colorType = png_get_color_type(d.png, d.info);
    const int depth = png_get_bit_depth(d.png, d.info);
    // Everything becomes grey or RGB at 8 or 16 bits; transparency is not height.
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(d.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(d.png);
    // Also the alpha that expanding a palette with transparency adds.
    png_set_strip_alpha(d.png);
    const int passes = png_set_interlace_handling(d.png);
    png_read_update_info(d.png, d.info);

    const int channels = png_get_channels(d.png, d.info);
    const int outDepth = png_get_bit_depth(d.png, d.info);
    const size_t rowBytes = png_get_rowbytes(d.png, d.info);
    if ((channels != 1 && channels != 3) || (outDepth != 8 && outDepth != 16) ||
        rowBytes != size_t(width) * size_t(channels) * size_t(outDepth / 8)) {
        error = "unsupported PNG layout";
        return false;
    }
    d.picture.width = int(width);
    d.picture.height = int(height);
    d.picture.bitDepth = depth == 16 ? 16 : 8;
    d.picture.levels.resize(size_t(width) * size_t(height));

    readPngRows(d, channels, outDepth, rowBytes, passes);
    out = std::move(d.picture);
    return true;
}

}  // namespace

bool decodeHeightPicture(const uint8_t* bytes, size_t size, HeightPicture& out, std::string& error)
{
    const ImageFileType type = imageFileType(bytes, size);
    if (type == ImageFileType::Png) return decodePng(bytes, size, out, error);
    ArgbImage image;
    if (!decodeImage(bytes, size, image, error)) return false;
    HeightPicture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.levels.resize(image.texels.size());
    for (size_t i = 0; i < image.texels.size(); ++i) {
        const uint32_t t = image.texels[i];
        picture.levels[i] = luminance((t >> 16 & 0xFF) * 257u, (t >> 8 & 0xFF) * 257u, (t & 0xFF) * 257u);
    }
    out = std::move(picture);
    return true;
}

bool loadHeightPicture(const std::string& path, HeightPicture& out, std::string& error)
{
    PageBlock bytes;
    size_t length = 0;
    if (!readPictureFile(path, bytes, length, error)) return false;
    return decodeHeightPicture(bytes.data(), length, out, error);
}
