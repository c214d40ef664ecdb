#include "state/camera.h"

#include "state/clock.h"
#include "state/graphics.h"
#include "state/settings.h"

namespace {
void sendView()
{
    if (graphicsDevice) graphicsDevice->setTransform(D3DTS_VIEW, viewMatrix);
}
}  // namespace

void setupCamera()
{
    const Vec3 eye = zeroVector;
    cameraPos = Vec3(0.0f, 20.0f, -20.0f);
    lookDir = Vec3(0.0f, 0.0f, 1.0f);
    upDir = Vec3(0.0f, 1.0f, 0.0f);
    // The eye is the origin, so the look direction serves as the target point.
    viewMatrix = lookAtLH(eye, lookDir, upDir);
    sendView();
    // pi / 4 in single precision (0x3F490FDB).
    projectionMatrix = perspectiveFovLH(0.78539816f, aspectRatio, 1.0f, appSettings.viewDistance);
    if (graphicsDevice) graphicsDevice->setTransform(D3DTS_PROJECTION, projectionMatrix);
}

void resetTransforms()
{
    cameraOrientation = identity();
    starFieldWorldMatrix = identity();
    ballScaleMatrix = identity();
    ballTranslationMatrix = identity();
}

void applyTurnRequests()
{
    const float dt = frameClock.dt;
    if (turnRightRequest == 1)
        turnCamera(40.0f * dt);
    else if (turnLeftRequest == 1)
        turnCamera(-40.0f * dt);
    turnLeftRequest = 0;
    turnRightRequest = 0;
}

void turnCamera(float degrees)
{
    const float a = degrees * 3.1415927f / 180.0f;
    cameraOrientation = rotationY(a) * cameraOrientation;
    lookDir = Vec3(cameraOrientation(2, 0), cameraOrientation(2, 1), cameraOrientation(2, 2));
    viewMatrix = lookAtLH(zeroVector, lookDir, upDir);
    sendView();
}
