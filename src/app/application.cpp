#include "app/application.h"

#include "app/camera.h"
#include "app/clock.h"
#include "app/fatal_error.h"
#include "app/graphics.h"
#include "app/input.h"
#include "app/settings.h"
#include "sound/sound_system.h"
#include "world/game_world.h"
#include "world/trajectory.h"

FrameClock frameClock;
int32_t programState = -1;
int64_t frameIndex = 0;
void* mainWindow = nullptr;
AppHooks appHooks;

namespace {
bool quit = false;
}

void requestClose() { quit = true; }
bool quitPosted() { return quit; }
void clearQuit() { quit = false; }

void showErrorMessageBox(const char* text)
{
    if (appHooks.messageBox) appHooks.messageBox(text);
}

bool startUp()
{
    const int inputResult = appHooks.createInput ? appHooks.createInput() : 1;
    if (inputResult != 0) {
        programState = -1000;
        requestClose();
        return false;
    }
    setUpSound(mainWindow);
    setSpatialDefaults(1.0f, 1.0f, 10.0f, 10000.0f);
    musicOn(1);
    if (!loadRenderingSettings()) return false;
    if (!loadGameSettings()) return false;
    if (!loadTrajectory()) return false;
    if (!createGraphicsDevice()) return false;
    setupCamera();
    resetTransforms();
    createWorld();
    return !fatalErrorPending();
}

void shutDown()
{
    releaseInput();
    shutDownSound();
    destroyWorld();
    releaseGraphics();
}

void loopTick()
{
    KeyboardSource* keys = keyboardSource();
    if (keys && keys->escapeDown()) requestClose();
    // The frame still runs in the pass that asked to close.
    runFrame();
}

void runFrame()
{
    if (programState != -1) return;
    frameClock.frameStartTick = tickCount();
    renderFrame();
    readMouse();
    readKeysAndApply();
    applyTurnRequests();
    if (TickSource* clock = tickSource()) clock->frameWorkDone();
    paceFrame();
    if (appHooks.afterFrame) appHooks.afterFrame();
    ++frameIndex;
}

float stepSeconds(int32_t frameMs)
{
    // The product is formed in double and rounded once: 20 ms is 0.0199999996, not the
    // 0.0200000014 that a single-precision 0.001 would give, which changes segment frame counts.
    return static_cast<float>(0.001 * static_cast<double>(frameMs));
}

void paceFrame()
{
    TickSource* clock = tickSource();
    switch (appSettings.pacingMode) {
    case 1:
        // Busy wait on the millisecond tick; the difference is taken modulo 2^32.
        for (;;) {
            frameClock.frameMs = static_cast<int32_t>(tickCount() - frameClock.frameStartTick);
            if (static_cast<float>(frameClock.frameMs) > appSettings.targetFrameMs) break;
            if (clock) clock->pacingPollMissed();
        }
        frameClock.dt = stepSeconds(frameClock.frameMs);
        break;
    case 2:
        frameClock.frameMs = static_cast<int32_t>(tickCount() - frameClock.frameStartTick);
        frameClock.dt = stepSeconds(frameClock.frameMs);
        break;
    default:
        break;  // nothing measured: dt keeps its value
    }
}
