#include "demo_trajectory.h"

#include <cmath>
#include <cstdio>

std::string demoTrajectoryText()
{
    const double pi = 3.14159265358979323846;
    std::string text;
    for (int i = 0; i < 32; ++i) {
        // World position on the lap: an ellipse 40 wide and 30 deep, 60 ahead, rising and
        // dipping twice per lap.
        const double theta = 2.0 * pi * (i - 1) / 30.0;
        const double x = 20.0 * std::sin(theta);
        const double z = 60.0 + 15.0 * std::cos(theta);
        const double y = 5.0 + 5.0 * std::sin(2.0 * theta);
        // Back into the recording's units (inverse of the program's conversion).
        const double rawZ = (z - 50.0) * 500.0 - 10000.0;
        const double rawX = (x + 30.0) * 500.0 - 10000.0;
        const double rawHeight = (y + 4.0) * 55.0;
        char row[96];
        std::snprintf(row, sizeof row, "%.2f %.2f %.2f\n", rawZ, rawX, rawHeight);
        text += row;
    }
    return text;
}

bool writeDemoTrajectory(OutputSet& set, const std::filesystem::path& outDir, Existing existing, std::string& error)
{
    return set.writeText(outDir / "trajectory_data.txt", existing, demoTrajectoryText(), error);
}
