#include "textures/texture_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "state/graphics.h"
#include "textures/argb_image.h"
#include "textures/picture.h"
#include "base/data_folder.h"

namespace {

void warnCannotLoad(const std::string& fileName, const std::string& reason)
{
    std::fprintf(stderr, "zentrix: warning: cannot load texture %s: %s\n", shownPath(fileName).c_str(), reason.c_str());
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
    std::string error = "no picture reader";
    PictureReader* reader = pictureReader();
    std::unique_ptr<Picture> picture = reader ? reader->read(fileName, error) : nullptr;
    if (!picture) {
        warnCannotLoad(fileName, error);
        return;
    }
    // A picture with power-of-two sides is converted straight into level 0; any other is scaled
    // first. The key applies to the texels as drawn, before scaling or filtering blurs them.
    const bool scale = !isPowerOfTwo(picture->width()) || !isPowerOfTwo(picture->height());
    ArgbImage scaled;
    if (scale) {
        if (!picture->toArgb(scaled, error)) {
            warnCannotLoad(fileName, error);
            return;
        }
        picture.reset();
        applyColorKey(scaled, textureColorKey);
        scaled = scaleToPowerOfTwo(std::move(scaled));
        if (scaled.texels.empty()) {
            warnCannotLoad(fileName, "out of memory while scaling");
            return;
        }
    }
    if (!graphicsDevice) {
        warnCannotLoad(fileName, "no graphics device");
        return;
    }
    const int width = scale ? scaled.width : picture->width();
    const int height = scale ? scaled.height : picture->height();
    std::unique_ptr<Texture> created = graphicsDevice->createTexture(uint32_t(width), uint32_t(height), 0, 0,
                                                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    if (!created) {
        warnCannotLoad(fileName, "the graphics device cannot create the texture");
        return;
    }
    if (scale) {
        writeLevel(*created, 0, scaled);
    } else {
        const LockedRect rect = created->lockRect(0);
        const bool converted = rect.bits && picture->toTexels(rect.bits, rect.pitch, error);
        if (converted) applyColorKey(rect.bits, size_t(width) * size_t(height), textureColorKey);
        created->unlockRect(0);
        if (!converted) {
            warnCannotLoad(fileName, error);
            return;
        }
    }
    // Each level is filtered from the one above it, in place in the texture.
    for (uint32_t level = 1; level < created->levelCount(); ++level) {
        const LockedRect rect = created->lockRect(level);
        boxDownsample(created->levelData(level - 1).data(), int(created->width(level - 1)),
                      int(created->height(level - 1)), rect.bits);
        created->unlockRect(level);
    }
    texture = std::move(created);
}
