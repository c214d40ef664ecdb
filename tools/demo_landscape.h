#pragma once

#include "landscape.h"

// The generated landscape: a valley running along +z from a grassy terrace at the start down to a
// lake, framed by fractal hills. Seed 1 is the bundled landscape; other seeds vary the noise.
LandscapeSpec demoLandscape(int seed);

// Ground height of the generated landscape, in world units.
float demoLandscapeHeight(float x, float z, int seed);
