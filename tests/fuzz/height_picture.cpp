// Fuzzes reading a picture as heights: PNGs of every colour type and depth through libpng at
// their own precision, the other formats through the image loader.

#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.h"
#include "platform/image/height_picture.h"
#include "platform/image/image_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Legal pictures of many megatexels decode for seconds from a few bytes, which would only slow
    // the search; oversized ones still reach the refusal.
    int64_t w = 0, h = 0;
    std::string error;
    const ImageFileType type = imageFileType(data, size);
    if (type != ImageFileType::Unknown && imageHeaderSize(data, size, type, w, h, error) && w <= maxImageSide &&
        h <= maxImageSide && w * h > 1024 * 1024)
        return 0;
    HeightPicture picture;
    if (!decodeHeightPicture(data, size, picture, error)) {
        if (error.empty() || !picture.levels.empty()) std::abort();
        return 0;
    }
    if (picture.width <= 0 || picture.height <= 0 || picture.width > maxImageSide || picture.height > maxImageSide ||
        picture.levels.size() != size_t(picture.width) * size_t(picture.height))
        std::abort();
    return 0;
}
