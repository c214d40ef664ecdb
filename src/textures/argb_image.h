#pragma once

// Pictures as 32-bit ARGB texels, and the steps that prepare them for a texture: colour key,
// power-of-two sides, mip levels. Pure computation; decoding files is the picture reader's.

#include <cstddef>
#include <cstdint>
#include <vector>

// Texels row by row from the top, each 0xAARRGGBB.
struct ArgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> texels;

    uint32_t at(int x, int y) const { return texels[size_t(y) * size_t(width) + size_t(x)]; }
};

bool isPowerOfTwo(int n);

// The smallest power of two not below n (1 for n <= 1).
uint32_t nextPowerOfTwo(uint32_t n);

// Both sides up to the next power of two with a triangle filter, every channel filtered alike;
// an image that already has power-of-two sides comes back unchanged. Empty if memory runs out.
ArgbImage scaleToPowerOfTwo(const ArgbImage& image);
// The same, taking over the texels of a power-of-two image instead of copying them.
ArgbImage scaleToPowerOfTwo(ArgbImage&& image);

// Every texel exactly equal to key becomes transparent black.
void applyColorKey(ArgbImage& image, uint32_t key);
// The same on count texels stored as the bytes blue, green, red, alpha.
void applyColorKey(uint8_t* bgra, size_t count, uint32_t key);

// The next mip level: half of each side (not below 1), each texel the rounded mean of a 2 x 2
// block per channel.
ArgbImage boxDownsample(const ArgbImage& image);
// The same on four-byte texels: source has width x height of them, half receives the next level.
void boxDownsample(const uint8_t* source, int width, int height, uint8_t* half);
