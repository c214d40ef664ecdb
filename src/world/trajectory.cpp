#include "world/trajectory.h"

#include "app/token_reader.h"

float trajX[trajectoryPointCount];
float trajY[trajectoryPointCount];
float trajZ[trajectoryPointCount];

bool loadTrajectory()
{
    for (int i = 0; i < trajectoryPointCount; ++i) trajX[i] = trajY[i] = trajZ[i] = 0.0f;
    TokenReader in;
    if (!in.openRequired(trajectoryFileName)) return false;
    // A missing or unreadable number stops the reading for good: the token stays in place, so
    // every later read fails on it too, and the values keep 0.
    for (int i = 0; i < trajectoryPointCount; ++i) {
        in.readFloat(trajZ[i]);
        in.readFloat(trajX[i]);
        in.readFloat(trajY[i]);
    }
    in.close();
    for (int i = 0; i < trajectoryPointCount; ++i) {
        trajY[i] = static_cast<float>(static_cast<double>(trajY[i]) / 55.0 - 4.0);
        trajX[i] = static_cast<float>((static_cast<double>(trajX[i]) + 10000.0) / 500.0 - 30.0);
        trajZ[i] = static_cast<float>((static_cast<double>(trajZ[i]) + 10000.0) / 500.0 + 50.0);
    }
    return true;
}

Vec3 trajectoryPoint(int index) { return {trajX[index], trajY[index], trajZ[index]}; }
