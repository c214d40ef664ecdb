#include "objects/random.h"

namespace {
uint32_t state = 0;
int (*testSource)() = nullptr;

int nextRaw() { return testSource ? testSource() : randomValue(); }
}  // namespace

void seedRandom(uint32_t seed) { state = seed; }

int randomValue()
{
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

float randomFloat(float min, float max)
{
    const float d = max - min;
    const int r = nextRaw();
    const float v = static_cast<float>((static_cast<double>(r) * static_cast<double>(d)) / 32767.0 + static_cast<double>(min));
    return v < max ? v : min;
}

int randomInt(int min, int max)
{
    // 64-bit product: 32767 times a span above 65538 overflows int.
    const long long span = static_cast<long long>(max) - min;
    const long long c = min + (static_cast<long long>(nextRaw()) * span) / 32767;
    return c < max ? static_cast<int>(c) : min;
}

void setRandomSourceForTest(int (*source)()) { testSource = source; }
