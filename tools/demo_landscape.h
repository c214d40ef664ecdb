#pragma once

#include <filesystem>
#include <string>

// The bundled landscape: nine land tiles of 240 x 240 units around a valley with a lake, their
// height maps, base textures coloured by height and slope, a grey detail texture and a water
// texture, plus Terrain.txt and TerrainTextures.txt naming them. Deterministic.
bool writeDemoLandscape(const std::filesystem::path& outDir, std::string& error);

// Ground height of the landscape before a tile's border fade, in world units.
float demoLandscapeHeight(float x, float z);
