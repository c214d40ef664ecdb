#include "noise.h"

#include <algorithm>

#define STB_PERLIN_IMPLEMENTATION
#include <stb_perlin.h>

float smoothstep(float edge0, float edge1, float x)
{
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

float mix(float a, float b, float t) { return a + (b - a) * t; }

float fbm(float x, float z, int octaves, int seed)
{
    float sum = 0.0f, amplitude = 1.0f, frequency = 1.0f, norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * stb_perlin_noise3_seed(x * frequency, 0.37f * float(i), z * frequency, 0, 0, 0, seed + i);
        norm += amplitude;
        amplitude *= 0.5f;
        frequency *= 2.0f;
    }
    return sum / norm;
}

float tilingNoise(float x, float y, int period, int seed)
{
    return stb_perlin_noise3_seed(x, y, 0.5f, period, period, 0, seed);
}
