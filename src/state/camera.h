#pragma once

#include "math/matrix4.h"

// The walker's camera. The view matrix holds only the yaw; objects fixed in the world subtract
// cameraPos in their own world transforms.
extern Vec3 cameraPos;          // x, z: place on the map; y: eye height above the ground
extern Vec3 lookDir;            // horizontal; row 2 of cameraOrientation after the first turn
extern Vec3 upDir;
extern Matrix4 cameraOrientation;
extern Matrix4 viewMatrix;
extern Matrix4 projectionMatrix;
extern int turnLeftRequest;
extern int turnRightRequest;

// World matrices shared by the scene objects; resetTransforms makes them identity and the
// drawing code rewrites only some of their elements.
extern Matrix4 starFieldWorldMatrix;
extern Matrix4 ballScaleMatrix;
extern Matrix4 ballTranslationMatrix;

void setupCamera();
void resetTransforms();
void applyTurnRequests();
void turnCamera(float degrees);
