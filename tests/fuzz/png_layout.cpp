// Fuzzes PNGs cut short and with chunks that claim other lengths than they hold. An input is a
// plan of ten bytes, then a PNG: flags (1: give chunk N a new length, 2: cut the file), N, the
// new length and the cut position (big-endian, taken modulo the PNG's size). Both readers of
// pictures, textures and height maps, must refuse what they cannot decode in bounded time and
// memory (libFuzzer's -timeout and -rss_limit_mb), and a file left without an IEND is refused.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support/fuzz_support.h"
#include "platform/image/height_picture.h"
#include "platform/image/image_loader.h"

namespace {

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 10 + 8) return 0;
    const uint8_t flags = data[0], target = data[1];
    const uint32_t newLength = be32(data + 2), cut = be32(data + 6);
    std::vector<uint8_t> png(data + 10, data + size);

    if (flags & 1) {
        size_t pos = 8;
        for (int index = 0; pos + 8 <= png.size(); ++index) {
            if (index == target) {
                for (int i = 0; i < 4; ++i) png[pos + size_t(i)] = uint8_t(newLength >> (24 - 8 * i));
                break;
            }
            pos += 12 + size_t(be32(png.data() + pos));
        }
    }
    if (flags & 2) png.resize(cut % png.size());
    const bool ended = std::search(png.begin(), png.end(), "IEND", "IEND" + 4) != png.end();

    // Large legal pictures decode for seconds; oversized ones still reach the refusal.
    int64_t w = 0, h = 0;
    std::string error;
    const ImageFileType type = imageFileType(png.data(), png.size());
    if (type != ImageFileType::Unknown && imageHeaderSize(png.data(), png.size(), type, w, h, error) &&
        w <= maxImageSide && h <= maxImageSide && w * h > 1024 * 1024)
        return 0;

    ArgbImage image;
    error.clear();
    const bool decoded = decodeImage(png.data(), png.size(), image, error);
    if (decoded ? image.texels.size() != size_t(image.width) * size_t(image.height) || image.width <= 0
                : error.empty() || !image.texels.empty())
        std::abort();
    HeightPicture heights;
    std::string heightError;
    const bool read = decodeHeightPicture(png.data(), png.size(), heights, heightError);
    if (read ? heights.levels.size() != size_t(heights.width) * size_t(heights.height)
             : heightError.empty() || !heights.levels.empty())
        std::abort();
    // A PNG without its end is refused by both; pictures both accept have one size.
    if (type == ImageFileType::Png && !ended && (decoded || read)) std::abort();
    if (decoded && read && (image.width != heights.width || image.height != heights.height)) std::abort();
    return 0;
}
