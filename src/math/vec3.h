#pragma once

// Three single-precision components; every operation stays in float.
struct Vec3 {
    float x, y, z;

    Vec3() = default;  // components left unset, like the original value type
    constexpr Vec3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

    Vec3& operator+=(const Vec3& b) { x += b.x; y += b.y; z += b.z; return *this; }
    Vec3& operator-=(const Vec3& b) { x -= b.x; y -= b.y; z -= b.z; return *this; }
};

inline Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(const Vec3& a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(float s, const Vec3& a) { return {a.x * s, a.y * s, a.z * s}; }
// Division multiplies by the reciprocal rounded to float first.
inline Vec3 operator/(const Vec3& a, float s) { const float r = 1.0f / s; return {a.x * r, a.y * r, a.z * r}; }

inline float dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float lengthSq(const Vec3& a) { return a.x * a.x + a.y * a.y + a.z * a.z; }
// A zero vector stays zero instead of becoming NaN.
Vec3 unit(const Vec3& a);

// Constant vectors shared by the camera, the sound listener, the balls and the ground ray.
extern const Vec3 zeroVector;    // (0, 0, 0)
extern const Vec3 frontVector;   // (0, 0, 1)
extern const Vec3 topVector;     // (0, 1, 0)
extern const Vec3 rightVector;   // (1, 0, 0)
extern const Vec3 downVector;    // (0, -1, 0)
