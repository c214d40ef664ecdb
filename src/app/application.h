#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "state/clock.h"

// -1 running; -1000 start-up stopped because an input device is missing.
extern int32_t programState;
// The platform window: target of close requests and the device's focus window.
extern void* mainWindow;
// Frames run so far; the frame now running has this index.
extern int64_t frameIndex;

// What the lifecycle needs from the platform, so tests can drive it without a window.
struct AppHooks {
    std::function<int()> createInput;             // 0 success, 1 a device is missing
    std::function<void(const char*)> messageBox;  // an error message box
    std::function<void()> afterFrame;             // after pacing: trace rows, frame limits
    std::function<void()> beforePresent;          // screenshots
};
extern AppHooks appHooks;

// Start-up in its fixed order. False when a step failed: either an input device is missing
// (programState is then -1000 and the window is closing) or a fatal error was reported.
bool startUp();
// Releases whatever exists, in the fixed order; safe at any point of start-up.
void shutDown();
void loopTick();
void runFrame();
// The time step in seconds of a frame that lasted frameMs milliseconds.
float stepSeconds(int32_t frameMs);
// The frame-end wait and measurement by pacing mode.
void paceFrame();
// Pacing mode 1 polls the tick only over the last pacingSpinMs before the frame's end, as a sleep
// can overrun by a scheduler slice; pacingSleepMs is how long it may sleep after elapsedMs.
inline constexpr int32_t pacingSpinMs = 2;
uint32_t pacingSleepMs(int32_t elapsedMs, float targetMs);

// A close request: the window goes away and the main loop ends on its next pass.
void requestClose();
bool quitPosted();
void clearQuit();

void showErrorMessageBox(const char* text);
