#include "math/vec3.h"

#include <cmath>

const Vec3 zeroVector{0.0f, 0.0f, 0.0f};
const Vec3 frontVector{0.0f, 0.0f, 1.0f};
const Vec3 topVector{0.0f, 1.0f, 0.0f};
const Vec3 rightVector{1.0f, 0.0f, 0.0f};
const Vec3 downVector{0.0f, -1.0f, 0.0f};

Vec3 unit(const Vec3& a)
{
    const float len = std::sqrt(lengthSq(a));
    if (len == 0.0f) return {0.0f, 0.0f, 0.0f};
    return a / len;
}
