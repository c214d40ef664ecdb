// Fuzzes image decoding (BMP, JPEG, PNG) and the preparation every texture goes through: colour
// key, power-of-two scaling and the mip chain.

#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.h"
#include "platform/image/image_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Legal pictures of many megatexels decode for seconds from a few bytes (a JPEG decoder fills
    // what is missing), which would only slow the search; oversized ones still reach the refusal.
    int64_t w = 0, h = 0;
    std::string error;
    const ImageFileType type = imageFileType(data, size);
    if (type != ImageFileType::Unknown && imageHeaderSize(data, size, type, w, h, error) && w <= maxImageSide &&
        h <= maxImageSide && w * h > 1024 * 1024)
        return 0;
    ArgbImage image;
    if (!decodeImage(data, size, image, error)) return 0;
    if (image.width <= 0 || image.height <= 0 || image.width > maxImageSide || image.height > maxImageSide ||
        image.texels.size() != size_t(image.width) * size_t(image.height))
        std::abort();
    // Large pictures are legal but would make every run slow; the preparation is the same code.
    if (size_t(image.width) * size_t(image.height) > 512 * 512) return 0;
    applyColorKey(image, 0xFF000000u);
    image = scaleToPowerOfTwo(image);
    while (image.width > 1 || image.height > 1) image = boxDownsample(image);
    return 0;
}
