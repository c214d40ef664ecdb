#include "textures/picture.h"

#include <algorithm>
#include <cstdint>

namespace {
PictureReader* current = nullptr;
}

uint64_t textureBytes(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0) return 0;
    uint64_t w = nextPowerOfTwo(uint32_t(std::min<int64_t>(width, INT32_MAX)));
    uint64_t h = nextPowerOfTwo(uint32_t(std::min<int64_t>(height, INT32_MAX)));
    uint64_t total = 0;
    for (;;) {
        total += w * h * 4;
        if (w == 1 && h == 1) return total;
        w = std::max<uint64_t>(1, w / 2);
        h = std::max<uint64_t>(1, h / 2);
    }
}

void setPictureReader(PictureReader* reader) { current = reader; }
PictureReader* pictureReader() { return current; }
