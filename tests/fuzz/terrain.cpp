// Fuzzes the terrain layout, "Terrain.txt": the reader and its checks on every input, and for
// inputs whose tiles are small enough to build quickly, the tile builds, one ground-height
// query and one frame of drawing on a recording device.

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <stb_image_write.h>

#include "state/camera.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "fuzz/support/fuzz_support.h"
#include "support/recording_device.h"
#include "terrain/terrain.h"

namespace {

// Two base textures, one detail texture, two height maps (one of them a missing file).
void writeTextures()
{
    static bool written = false;
    if (written) return;
    std::vector<uint8_t> rgb(16 * 16 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7);
    stbi_write_bmp("t.bmp", 16, 16, 3, rgb.data());
    const std::string list = "B 2 t.bmp t.bmp D 1 t.bmp H 2 t.bmp none.bmp";
    writeInputFile(terrainTextureListFileName, reinterpret_cast<const uint8_t*>(list.data()), list.size());
    written = true;
}

bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// An accepted description must keep every limit the builds rely on.
void checkAccepted(const TerrainDescription& d, const TextureListSizes& lists)
{
    for (const LandTileRecord& r : d.land)
        if (r.columns < 3 || r.rows < 3 || int64_t(r.columns) * r.rows > maxTileVertices || !(r.width > 0.0f) ||
            !(r.depth > 0.0f) || !std::isfinite(r.width) || !std::isfinite(r.heightScale) || !finite(r.position) ||
            r.baseTexture < 0 || size_t(r.baseTexture) >= lists.base || r.heightMap < 0 || size_t(r.heightMap) >= lists.heightMaps)
            std::abort();
    for (const WaterTileRecord& r : d.water) {
        if (r.columns < 2 || r.rows < 2 || r.frameCount < 1 || r.framePeriod < 0 ||
            waterFrameBytes(r.columns, r.rows, r.frameCount) > uint64_t(maxWaterFrameBytes) || !std::isfinite(r.waveHeight) ||
            !std::isfinite(r.sway) || r.detailTexture < 0 || size_t(r.detailTexture) >= lists.detail)
            std::abort();
        for (const Vec3& p : r.positions)
            if (!finite(p)) std::abort();
    }
}

// Builds stay within a few million vertices so that each input runs quickly.
bool smallEnough(const TerrainDescription& d)
{
    int64_t vertices = 0;
    for (const LandTileRecord& r : d.land) vertices += int64_t(r.columns) * r.rows;
    for (const WaterTileRecord& r : d.water) vertices += int64_t(r.columns) * r.rows * r.frameCount;
    return vertices <= 2000000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    enterFuzzWorkDir();
    writeTextures();
    resetProgramState();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TextureListSizes lists{2, 1, 2};
    TerrainDescription description;
    std::string error;
    if (parseTerrainDescription(text, lists, description, error)) {
        checkAccepted(description, lists);
        if (!smallEnough(description)) return 0;
    } else if (error.rfind("Terrain.txt: ", 0) != 0) {
        std::abort();  // every refusal names the file
    }

    writeInputFile(terrainFileName, data, size);
    graphicsDevice = std::make_unique<RecordingDevice>();
    {
        Terrain terrain;
        // The camera somewhere over the first tile, if there is one, looking along +z.
        cameraPos = Vec3(0.0f, 20.0f, -20.0f);
        if (!description.land.empty()) cameraPos = Vec3(description.land[0].position.x, 20.0f, description.land[0].position.z);
        lookDir = Vec3(0.0f, 0.0f, 1.0f);
        terrain.render();
        // Every value the reader accepts keeps the ground height a number.
        if (!fatalErrorPending() && !std::isfinite(terrainFrame.groundHeight())) std::abort();
    }
    graphicsDevice.reset();
    return 0;
}
