#pragma once

#include "math/vec3.h"

// Sixteen floats, row-major, row vectors (p' = p * M), translation in row 3, left-handed, y up.
// The layout is the one the device's transform calls take unchanged.
struct Matrix4 {
    float m[4][4];

    float& operator()(int r, int c) { return m[r][c]; }
    float operator()(int r, int c) const { return m[r][c]; }
};

Matrix4 identity();
Matrix4 operator*(const Matrix4& a, const Matrix4& b);
// General 4x4 inverse; a singular matrix yields the identity.
Matrix4 inverse(const Matrix4& m);
// The program's own yaw rotation: a small-angle form up to 0.17 rad, else a Taylor series
// after one wrap into about +-pi. Positive angles turn +z towards +x.
Matrix4 rotationY(float angle);
Matrix4 lookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up);
Matrix4 perspectiveFovLH(float fovY, float aspect, float zNear, float zFar);

// Point transform by the full matrix (w assumed 1, no divide) and direction transform by the
// upper 3x3 block.
Vec3 transformPoint(const Vec3& p, const Matrix4& m);
Vec3 transformDirection(const Vec3& v, const Matrix4& m);

// Single-precision trigonometry: evaluated in double by the library, rounded to float.
float floatCos(float a);
float floatSin(float a);
// degrees * 3.1415927f / 180, multiplying first.
float degToRad(float degrees);

inline constexpr float piF = 3.1415927f;
