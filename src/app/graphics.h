#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "device/graphics_device.h"
#include "text/bitmap_font.h"

// The graphics object and the one device every drawing part shares.
extern std::unique_ptr<GraphicsSystem> graphicsSystem;
extern std::unique_ptr<GraphicsDevice> graphicsDevice;
extern uint32_t backBufferFormat;
extern float aspectRatio;
inline constexpr uint32_t clearColor = 0xFF64CCFF;
inline constexpr const char* logFileName = "protokoll.txt";

// The two fonts, "Arial" 20 bold (the head-up display draws with it) and "Arial" 10 bold. They
// are constructed while the program loads, before the window exists; their device resources
// follow the device and go before it.
extern std::unique_ptr<BitmapFont> hudFont;
extern std::unique_ptr<BitmapFont> smallFont;
void createFonts();

// Makes the graphics object (the OpenGL one in the program, a recording one in tests).
using GraphicsSystemFactory = std::function<std::unique_ptr<GraphicsSystem>()>;
void setGraphicsSystemFactory(GraphicsSystemFactory factory);

// False when the program cannot go on (the reason is reported as a fatal error).
bool createGraphicsDevice();
void renderFrame();
void releaseGraphics();
