#pragma once

#include <cstdint>
#include <memory>

#include "device/graphics_device.h"

// The graphics object and the one device every drawing part shares.
extern std::unique_ptr<GraphicsSystem> graphicsSystem;
extern std::unique_ptr<GraphicsDevice> graphicsDevice;
extern uint32_t backBufferFormat;
extern float aspectRatio;
inline constexpr uint32_t clearColor = 0xFF64CCFF;
inline constexpr const char* logFileName = "protokoll.txt";
