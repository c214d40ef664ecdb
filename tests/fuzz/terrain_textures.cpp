// Fuzzes the terrain texture list, "TerrainTextures.txt", with a few pictures beside it that its
// names may refer to, loaded onto a recording device.

#include <memory>
#include <vector>

#include <stb_image_write.h>

#include "base/fatal_error.h"
#include "app/graphics.h"
#include "fuzz/support/fuzz_support.h"
#include "support/recording_device.h"
#include "terrain/terrain_texture_set.h"

namespace {

void writePictures()
{
    static bool written = false;
    if (written) return;
    const std::vector<uint8_t> rgb(3 * 3 * 3, 0x80);
    stbi_write_bmp("a.bmp", 3, 3, 3, rgb.data());
    stbi_write_png("b.png", 3, 3, 3, rgb.data(), 9);
    stbi_write_jpg("c.jpg", 3, 3, 3, rgb.data(), 90);
    written = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    enterFuzzWorkDir();
    writePictures();
    resetProgramState();
    writeInputFile(terrainTextureListFileName, data, size);
    graphicsDevice = std::make_unique<RecordingDevice>();
    { TerrainTextureSet set; }
    graphicsDevice.reset();
    return 0;
}
