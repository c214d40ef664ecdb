#pragma once

#include "math/vec3.h"

// The recorded flight path: 32 points in world units, y up.
inline constexpr int trajectoryPointCount = 32;
extern float trajX[trajectoryPointCount];
extern float trajY[trajectoryPointCount];
extern float trajZ[trajectoryPointCount];

inline constexpr const char* trajectoryFileName = "trajectory_data.txt";

// Reads "trajectory_data.txt" (rows of z, x, height in the recording's units) and converts the
// table into world units. False, with a fatal error, when the file cannot be opened.
bool loadTrajectory();
Vec3 trajectoryPoint(int index);
