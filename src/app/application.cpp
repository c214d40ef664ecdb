#include "app/application.h"

#include <cmath>

#include "state/camera.h"
#include "state/clock.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "app/input.h"
#include "state/settings.h"
#include "sound/sound_system.h"
#include "world/game_world.h"
#include "world/trajectory.h"

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

uint32_t pacingSleepMs(int32_t elapsedMs, float targetMs)
{
    // The wait ends at the first whole tick past the target. Written so a NaN target never
    // sleeps; very long targets sleep in slices of a second.
    const float endTick = std::floor(targetMs) + 1.0f;
    const float spare = endTick - static_cast<float>(elapsedMs) - static_cast<float>(pacingSpinMs);
    if (!(spare >= 1.0f)) return 0;
    return spare >= 1000.0f ? 1000u : static_cast<uint32_t>(spare);
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
        // Wait on the millisecond tick; the difference is taken modulo 2^32. A pure busy wait
        // would take a whole core from the rasteriser, so the wait sleeps until about
        // pacingSpinMs before the target and only polls the last stretch: the frame still
        // ends at the first tick past the target.
        for (;;) {
            frameClock.frameMs = static_cast<int32_t>(tickCount() - frameClock.frameStartTick);
            if (static_cast<float>(frameClock.frameMs) > appSettings.targetFrameMs) break;
            if (clock) {
                clock->pacingPollMissed();
                const uint32_t nap = pacingSleepMs(frameClock.frameMs, appSettings.targetFrameMs);
                if (nap > 0) clock->sleep(nap);
            }
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
