#pragma once

#include "app/command_line.h"

// The whole program after the command line: platform set-up, start-up, main loop, shut-down.
// Returns the exit status: 0 normal end, 1 a data, configuration or platform problem.
int runApplication(const RunOptions& options);
