#pragma once

// Smooth noise for the generated heights and textures.

float smoothstep(float edge0, float edge1, float x);
float mix(float a, float b, float t);

// Fractal noise of octaves layers, about -0.6 ... 0.6.
float fbm(float x, float z, int octaves, int seed);

// Noise that repeats every period lattice cells along both axes, for textures that tile.
float tilingNoise(float x, float y, int period, int seed);
