#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/graphics_device.h"

// Texels exactly this colour are see-through in every texture the game loads.
inline constexpr uint32_t textureColorKey = 0xFF000000;

// A texture made from an image file: ARGB with the colour key in alpha, power-of-two sides,
// full mip chain, kept in the managed pool so level 0 can be read back.
struct TextureFile {
    std::string fileName;  // relative names resolve against the working directory
    std::unique_ptr<Texture> texture;

    // Replaces texture. A file that cannot be loaded leaves it null with one warning on stderr.
    void load();
};
