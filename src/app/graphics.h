#pragma once

#include <functional>
#include <memory>

#include "device/graphics_device.h"
#include "state/graphics.h"
#include "text/fonts.h"

// Makes the graphics object (the OpenGL one in the program, a recording one in tests).
using GraphicsSystemFactory = std::function<std::unique_ptr<GraphicsSystem>()>;
void setGraphicsSystemFactory(GraphicsSystemFactory factory);

// False when the program cannot go on (the reason is reported as a fatal error).
bool createGraphicsDevice();
void renderFrame();
void releaseGraphics();
