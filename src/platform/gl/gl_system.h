#pragma once

#include <memory>
#include <string>

#include <SDL2/SDL.h>

#include "device/graphics_device.h"

// The graphics object on OpenGL: adapter queries through SDL, and device creation on one
// OpenGL 3.3 core context made on the application's window.

// Asks SDL for the context the device needs; call before creating the window.
void setGlWindowAttributes();

class GlSystem : public GraphicsSystem {
public:
    GlSystem(SDL_Window* window, bool headless) : window_(window), headless_(headless) {}
    ~GlSystem() override;
    GlSystem(const GlSystem&) = delete;
    GlSystem& operator=(const GlSystem&) = delete;

    bool adapterDisplayMode(DisplayMode& mode) override;
    bool checkDeviceType(uint32_t deviceType, uint32_t adapterFormat, uint32_t backBufferFormat, bool windowed) override;
    // The context is made at the first attempt and kept for the next when a mode is refused:
    // a software renderer accepts only software vertex processing.
    std::unique_ptr<GraphicsDevice> createDevice(uint32_t deviceType, void* focusWindow, uint32_t behaviorFlags,
                                                 PresentParameters& parameters) override;
    std::string lastError() const override { return lastError_; }

private:
    SDL_Window* window_;
    bool headless_;
    SDL_GLContext context_ = nullptr;
    std::string lastError_;
};

std::unique_ptr<GraphicsSystem> createGlGraphicsSystem(SDL_Window* window, bool headless);
