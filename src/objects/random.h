#pragma once

#include <cstdint>

// The program's own 15-bit linear congruential generator, so a seeded run comes out the same
// on every platform.
void seedRandom(uint32_t seed);
// 0 .. 32767.
int randomValue();

// min <= result < max: the top of the range maps back to min.
float randomFloat(float min, float max);
int randomInt(int min, int max);

// Replaces the generator behind randomFloat and randomInt; null restores it.
void setRandomSourceForTest(int (*source)());
