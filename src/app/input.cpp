#include "app/input.h"

#include <cstring>

#include "app/application.h"
#include "state/camera.h"
#include "sound/sound_system.h"

namespace {

std::unique_ptr<KeyboardSource> keyboard;
std::unique_ptr<MouseSource> mouse;

bool down(uint8_t code) { return (inputState.keyState[code] & 0x80) != 0; }

// Runs the action once per press: the latch re-arms when the key is seen up.
template <typename Action>
void onPress(uint8_t code, int32_t& latch, Action action)
{
    if (!down(code)) {
        latch = 0;
        return;
    }
    if (latch == 0) {
        action();
        latch = 1;
    }
}

}  // namespace

int createInput(std::unique_ptr<KeyboardSource> keyboardIn, std::unique_ptr<MouseSource> mouseIn)
{
    if (!keyboardIn) {
        showErrorMessageBox("keine Tastatur gefunden");
        return 1;
    }
    keyboard = std::move(keyboardIn);
    if (!mouseIn) {
        showErrorMessageBox("keine Maus gefunden");
        return 1;
    }
    mouse = std::move(mouseIn);
    return 0;
}

KeyboardSource* keyboardSource() { return keyboard.get(); }

void readMouse()
{
    std::memset(inputState.mouseState, 0, sizeof inputState.mouseState);
    if (!mouse) return;
    int32_t xyz[3] = {0, 0, 0};
    uint8_t buttons[8] = {};
    if (mouse->read(xyz[0], xyz[1], xyz[2], buttons)) {
        std::memcpy(inputState.mouseState, xyz, sizeof xyz);
        std::memcpy(inputState.mouseState + 12, buttons, sizeof buttons);
    }
}

void readKeysAndApply()
{
    // A failed read leaves the last successful state in force.
    if (keyboard) {
        uint8_t fresh[256];
        if (keyboard->read(fresh)) std::memcpy(inputState.keyState, fresh, sizeof fresh);
    }
    InputState& s = inputState;
    const float dt = frameClock.dt;

    onPress(DIK_1, s.latch1, [] { mipFilterMode = 1; });
    onPress(DIK_2, s.latch2, [] { mipFilterMode = 2; });
    onPress(DIK_F, s.latchF, [] {
        if (detailTextureSwitch == 1)
            detailTextureSwitch = 0;
        else if (detailTextureSwitch == 0)
            detailTextureSwitch = 1;
    });

    if (down(DIK_UP))
        cameraPos += lookDir * (40.0f * dt);
    else if (down(DIK_DOWN))
        cameraPos -= lookDir * (40.0f * dt);

    if (down(DIK_NUMPAD1)) {
        if (cameraPos.y <= 30.0f) cameraPos.y += 0.1f;
    } else if (down(DIK_NUMPAD3)) {
        if (cameraPos.y >= 20.0f) cameraPos.y -= 0.1f;
    }

    if (down(DIK_LEFT))
        turnLeftRequest = 1;
    else if (down(DIK_RIGHT))
        turnRightRequest = 1;

    onPress(DIK_B, s.latchB, [] { if (timeFactor < 1.1f) timeFactor += 0.1f; });
    onPress(DIK_V, s.latchV, [] { if (timeFactor >= 0.2f) timeFactor -= 0.1f; });
    onPress(DIK_M, s.latchM, [] { if (speedSetting < 60.0f) speedSetting += 1.0f; });
    onPress(DIK_N, s.latchN, [] { if (speedSetting > 14.0f) speedSetting -= 1.0f; });
    onPress(DIK_E, s.latchE, [] { if (angleSetting < 90.0f) angleSetting += 5.0f; });
    onPress(DIK_W, s.latchW, [] { if (angleSetting > 10.0f) angleSetting -= 5.0f; });
    onPress(DIK_A, s.latchA, [] {
        if (soundSwitch == 0) {
            soundSwitch = 1;
            musicOn(1);
        } else if (soundSwitch == 1) {
            soundSwitch = 0;
            musicOff(1);
        }
    });
}

void releaseInput()
{
    keyboard.reset();
    mouse.reset();
}
