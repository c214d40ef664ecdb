#include "app/graphics.h"

std::unique_ptr<GraphicsSystem> graphicsSystem;
std::unique_ptr<GraphicsDevice> graphicsDevice;
uint32_t backBufferFormat = 0;
float aspectRatio = 0;
