#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "device/graphics_device.h"

// The graphics object and the one device every drawing part shares.
extern std::unique_ptr<GraphicsSystem> graphicsSystem;
extern std::unique_ptr<GraphicsDevice> graphicsDevice;
extern uint32_t backBufferFormat;
extern float aspectRatio;
inline constexpr uint32_t clearColor = 0xFF64CCFF;
inline constexpr const char* logFileName = "protokoll.txt";

// Makes the graphics object (the OpenGL one in the program, a recording one in tests).
using GraphicsSystemFactory = std::function<std::unique_ptr<GraphicsSystem>()>;
void setGraphicsSystemFactory(GraphicsSystemFactory factory);

// False when the program cannot go on (the reason is reported as a fatal error).
bool createGraphicsDevice();
void renderFrame();
void releaseGraphics();
