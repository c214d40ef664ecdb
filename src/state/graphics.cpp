#include "state/graphics.h"

std::unique_ptr<GraphicsSystem> graphicsSystem;
std::unique_ptr<GraphicsDevice> graphicsDevice;
uint32_t backBufferFormat = D3DFMT_UNKNOWN;
float aspectRatio = 0.0f;
