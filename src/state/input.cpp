#include "state/input.h"

InputState inputState;

int32_t mipFilterMode = 2;
int32_t detailTextureSwitch = 1;
float timeFactor = 0.2f;
float speedSetting = 29.0f;
float angleSetting = 60.0f;
int32_t soundSwitch = 1;

void resetKeyValues()
{
    inputState = InputState{};
    mipFilterMode = 2;
    detailTextureSwitch = 1;
    timeFactor = 0.2f;
    speedSetting = 29.0f;
    angleSetting = 60.0f;
    soundSwitch = 1;
}
