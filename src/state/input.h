#pragma once

#include <cstdint>
#include <memory>

// Key codes of the keyboard state array (the design's scan-code numbering).
inline constexpr uint8_t DIK_ESCAPE = 0x01;
inline constexpr uint8_t DIK_1 = 0x02;
inline constexpr uint8_t DIK_2 = 0x03;
inline constexpr uint8_t DIK_W = 0x11;
inline constexpr uint8_t DIK_E = 0x12;
inline constexpr uint8_t DIK_A = 0x1E;
inline constexpr uint8_t DIK_F = 0x21;
inline constexpr uint8_t DIK_V = 0x2F;
inline constexpr uint8_t DIK_B = 0x30;
inline constexpr uint8_t DIK_N = 0x31;
inline constexpr uint8_t DIK_M = 0x32;
inline constexpr uint8_t DIK_NUMPAD1 = 0x4F;
inline constexpr uint8_t DIK_NUMPAD3 = 0x51;
inline constexpr uint8_t DIK_UP = 0xC8;
inline constexpr uint8_t DIK_LEFT = 0xCB;
inline constexpr uint8_t DIK_RIGHT = 0xCD;
inline constexpr uint8_t DIK_DOWN = 0xD0;

// Where the key states come from: the real keyboard, or a script for reproducible runs.
class KeyboardSource {
public:
    virtual ~KeyboardSource() = default;
    // Fills all 256 entries (bit 7 set = down). False when the state cannot be read now (the
    // window lacks focus); the caller then keeps its last state.
    virtual bool read(uint8_t state[256]) = 0;
    // The Escape test of the main loop, independent of focus.
    virtual bool escapeDown() = 0;
};

// The mouse is only taken (relative mode hides the cursor); nothing reads its values.
class MouseSource {
public:
    virtual ~MouseSource() = default;
    virtual bool read(int32_t& dx, int32_t& dy, int32_t& wheel, uint8_t buttons[8]) = 0;
};

struct InputState {
    uint8_t keyState[256] = {};
    uint8_t mouseState[20] = {};
    // Press-triggered keys fire once per press: 1 while fired and not yet seen up.
    int32_t latch1 = 0, latch2 = 0, latchF = 0, latchB = 0, latchV = 0, latchM = 0, latchN = 0, latchE = 0,
            latchW = 0, latchA = 0;
};

extern InputState inputState;

// Key-controlled values.
extern int32_t mipFilterMode;
extern int32_t detailTextureSwitch;
extern float timeFactor;
extern float speedSetting;
extern float angleSetting;
extern int32_t soundSwitch;

// Sets the values above back to their start values (for tests and a fresh start).
void resetKeyValues();
