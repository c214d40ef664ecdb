// Fuzzes the recorded flight path, "trajectory_data.txt", and its conversion to world units.

#include <cmath>
#include <cstdlib>

#include "base/fatal_error.h"
#include "fuzz/support/fuzz_support.h"
#include "world/trajectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    enterFuzzWorkDir();
    resetProgramState();
    writeInputFile(trajectoryFileName, data, size);
    // A table that is accepted must hold only finite points.
    if (loadTrajectory() && !fatalErrorPending())
        for (int i = 0; i < trajectoryPointCount; ++i)
            if (!std::isfinite(trajX[i]) || !std::isfinite(trajY[i]) || !std::isfinite(trajZ[i])) std::abort();
    return 0;
}
