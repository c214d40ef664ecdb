#pragma once

#include "math/vec3.h"

// The negated direction of scene light 0 before normalisation: the world sets it when it sets up
// its lights, and the terrain hands it to the water drawing.
extern Vec3 lightVector;
