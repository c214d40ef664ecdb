#include "demo_landscape.h"

#include <algorithm>
#include <cmath>

#include "noise.h"

namespace {

constexpr float waterLevel = 4.0f;
constexpr float lakeCentreZ = 100.0f;
// A brightness of 765 lifts by 76.5, as the height scale 0.3 of the earlier tiles did.
constexpr float highest = 76.5f;

}  // namespace

float demoLandscapeHeight(float x, float z, int seed)
{
    // Seed 1 keeps the noise of the bundled landscape; each further seed moves every layer on.
    const int s = (seed - 1) * 16;
    // Rolling hills everywhere ...
    const float n = fbm(x / 110.0f, z / 110.0f, 5, 1 + s);
    const float hills = 14.0f + 50.0f * std::pow(std::clamp(n + 0.55f, 0.0f, 1.2f), 1.4f);
    // ... except in a valley running along +z from a terrace at the start down to the lake.
    const float terrace = 24.0f * (1.0f - smoothstep(-5.0f, 45.0f, z)) + 1.2f * fbm(x / 15.0f, z / 15.0f, 2, 5 + s);
    const float ex = x / 60.0f, ez = (z - lakeCentreZ) / 65.0f;
    const float e = ex * ex + ez * ez;
    float basin = e < 1.0f ? 0.8f + 1.8f * e + 0.6f * fbm(x / 12.0f, z / 12.0f, 2, 9 + s)
                           : waterLevel - 1.4f + 14.0f * (e - 1.0f);
    // Towards the start the shore climbs only to the terrace; beyond the lake it becomes hills.
    if (z < lakeCentreZ)
        basin = std::min(basin, std::max(terrace, waterLevel + 2.0f));
    else
        basin = std::min(basin, hills);
    const float floor = std::min(basin, 70.0f);
    const float openness = std::max(smoothstep(45.0f, 95.0f, std::fabs(x)), smoothstep(-45.0f, -95.0f, z));
    return std::max(0.0f, mix(floor, std::max(hills, 0.6f * floor), openness));
}

LandscapeSpec demoLandscape(int seed)
{
    LandscapeSpec spec;
    // 206 vertices a side keep the vertex count and spacing (3.8 units) of the nine tiles of 65
    // vertices the landscape had before, so the software renderer's frame rate stays usable.
    spec.size = 768.0f;
    spec.height = highest;
    spec.gridVertices = 206;
    spec.ground = [seed](float x, float z) { return std::min(demoLandscapeHeight(x, z, seed), highest); };
    spec.water = true;
    spec.waterLevel = waterLevel;
    // One instance covers the whole basin, so there are no instance edges to part.
    spec.fixedLake = true;
    spec.lakeMinX = -75.0f;
    spec.lakeMaxX = 75.0f;
    spec.lakeMinZ = lakeCentreZ - 75.0f;
    spec.lakeMaxZ = lakeCentreZ + 75.0f;
    spec.seed = seed;
    return spec;
}
