#include "app/camera.h"

Vec3 cameraPos{0, 20, -20};
Vec3 lookDir{0, 0, 1};
Vec3 upDir{0, 1, 0};
Matrix4 cameraOrientation = identity();
Matrix4 viewMatrix = identity();
Matrix4 projectionMatrix = identity();
int turnLeftRequest = 0, turnRightRequest = 0;
Matrix4 starFieldWorldMatrix = identity(), ballScaleMatrix = identity(), ballTranslationMatrix = identity();
