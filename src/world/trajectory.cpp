#include "world/trajectory.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "base/fatal_error.h"
#include "base/token_reader.h"
#include "base/data_folder.h"

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
    int numbersRead = 0;
    std::string stoppedAt;
    for (int i = 0; i < trajectoryPointCount; ++i) {
        float* row[3] = {&trajZ[i], &trajX[i], &trajY[i]};
        for (float* value : row) {
            if (!stoppedAt.empty()) continue;
            const std::string next = in.describeNext();
            if (!in.readFloat(*value)) {
                stoppedAt = next;
                continue;
            }
            // A point at infinity or NaN would carry ball 1 out of every later computation.
            if (!std::isfinite(*value)) {
                char text[32];
                std::snprintf(text, sizeof text, "%g", static_cast<double>(*value));
                reportFatal(shownPath(trajectoryFileName) + ": number " + std::to_string(numbersRead + 1) +
                            " (point " + std::to_string(i) + ") must be a finite number, not " + text);
                return false;
            }
            ++numbersRead;
        }
    }
    in.close();
    if (numbersRead < 3 * trajectoryPointCount)
        reportWarning(shownPath(trajectoryFileName) + ": only " + std::to_string(numbersRead) + " of " +
                      std::to_string(3 * trajectoryPointCount) + " numbers (" + std::to_string(numbersRead / 3) +
                      " of " + std::to_string(trajectoryPointCount) + " points) read, stopped at " + stoppedAt +
                      "; the rest keep 0");
    for (int i = 0; i < trajectoryPointCount; ++i) {
        trajY[i] = static_cast<float>(static_cast<double>(trajY[i]) / 55.0 - 4.0);
        trajX[i] = static_cast<float>((static_cast<double>(trajX[i]) + 10000.0) / 500.0 - 30.0);
        trajZ[i] = static_cast<float>((static_cast<double>(trajZ[i]) + 10000.0) / 500.0 + 50.0);
    }
    return true;
}

Vec3 trajectoryPoint(int index) { return {trajX[index], trajY[index], trajZ[index]}; }
