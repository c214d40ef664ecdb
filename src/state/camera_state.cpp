#include "state/camera.h"

Vec3 cameraPos{0.0f, 20.0f, -20.0f};
Vec3 lookDir{0.0f, 0.0f, 1.0f};
Vec3 upDir{0.0f, 1.0f, 0.0f};
Matrix4 cameraOrientation = identity();
Matrix4 viewMatrix = identity();
Matrix4 projectionMatrix = identity();
int turnLeftRequest = 0;
int turnRightRequest = 0;
Matrix4 starFieldWorldMatrix = identity();
Matrix4 ballScaleMatrix = identity();
Matrix4 ballTranslationMatrix = identity();
