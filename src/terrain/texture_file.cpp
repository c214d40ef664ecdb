#include "terrain/texture_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "app/graphics.h"
#include "platform/image/image_loader.h"

namespace {

void warnCannotLoad(const std::string& fileName, const std::string& reason)
{
    std::fprintf(stderr, "zentrix: warning: cannot load texture %s: %s\n", fileName.c_str(), reason.c_str());
}

void writeLevel(Texture& texture, uint32_t level, const ArgbImage& image)
{
    const LockedRect rect = texture.lockRect(level);
    if (!rect.bits) return;
    const int width = std::min(image.width, static_cast<int>(texture.width(level)));
    const int height = std::min(image.height, static_cast<int>(texture.height(level)));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rect.bits + static_cast<ptrdiff_t>(y) * rect.pitch;
        for (int x = 0; x < width; ++x) {
            const uint32_t t = image.at(x, y);
            row[x * 4 + 0] = uint8_t(t);        // blue
            row[x * 4 + 1] = uint8_t(t >> 8);   // green
            row[x * 4 + 2] = uint8_t(t >> 16);  // red
            row[x * 4 + 3] = uint8_t(t >> 24);  // alpha
        }
    }
    texture.unlockRect(level);
}

}  // namespace

void TextureFile::load()
{
    texture.reset();
    ArgbImage image;
    std::string error;
    if (!loadImageFile(fileName, image, error)) {
        warnCannotLoad(fileName, error);
        return;
    }
    // The key applies to the texels as drawn, before filtering blurs them.
    applyColorKey(image, textureColorKey);
    image = scaleToPowerOfTwo(image);
    if (image.texels.empty()) {
        warnCannotLoad(fileName, "out of memory while scaling");
        return;
    }
    if (!graphicsDevice) {
        warnCannotLoad(fileName, "no graphics device");
        return;
    }
    std::unique_ptr<Texture> created = graphicsDevice->createTexture(uint32_t(image.width), uint32_t(image.height), 0, 0,
                                                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    if (!created) {
        warnCannotLoad(fileName, "the graphics device cannot create the texture");
        return;
    }
    for (uint32_t level = 0; level < created->levelCount(); ++level) {
        if (level > 0) image = boxDownsample(image);
        writeLevel(*created, level, image);
    }
    texture = std::move(created);
}
