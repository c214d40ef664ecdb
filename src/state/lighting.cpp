#include "state/lighting.h"

Vec3 lightVector{0.0f, 0.0f, 0.0f};
