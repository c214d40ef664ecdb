#pragma once

// The page's canvas as the program's window: its WebGL 2 context, the graphics object that makes
// the GL device on it, and the canvas's size.

#include <memory>
#include <string>

#include "device/graphics_device.h"

// Sets the canvas's drawing buffer to width x height pixels (CSS may scale what it shows).
void setCanvasSize(int width, int height);

// Makes the WebGL 2 context on the canvas at device creation and the GL device on it. The
// context is the only one the page makes; a page without WebGL 2 gets no device (lastError says
// why).
std::unique_ptr<GraphicsSystem> createWebGraphicsSystem();
