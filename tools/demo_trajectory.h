#pragma once

#include <filesystem>
#include <string>

#include "output_files.h"

// The default recorded flight path: 32 rows "z x height" in the recording's raw units, a smooth
// lap in front of the start camera. Point 0 leads into the lap; points 1 and 31 coincide, so the
// jump from the last point back to point 1 is seamless.
std::string demoTrajectoryText();

// Writes it as OUTDIR/trajectory_data.txt.
bool writeDemoTrajectory(OutputSet& set, const std::filesystem::path& outDir, Existing existing, std::string& error);
