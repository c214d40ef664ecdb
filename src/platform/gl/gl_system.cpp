#include "platform/gl/gl_system.h"

#include <epoxy/gl.h>

#include "platform/gl/fixed_function.h"
#include "platform/gl/gl_device.h"
#include "platform/quiet_stderr.h"

void setGlWindowAttributes()
{
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_FORWARD_COMPATIBLE_FLAG);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    // A minimum: drivers without a 16-bit depth buffer hand out 24 bits.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

GlSystem::~GlSystem()
{
    if (context_) SDL_GL_DeleteContext(context_);
}

bool GlSystem::adapterDisplayMode(DisplayMode& mode)
{
    const int display = window_ ? SDL_GetWindowDisplayIndex(window_) : 0;
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(display < 0 ? 0 : display, &desktop) != 0) {
        lastError_ = std::string("no desktop display mode: ") + SDL_GetError();
        return false;
    }
    mode.width = static_cast<uint32_t>(desktop.w);
    mode.height = static_cast<uint32_t>(desktop.h);
    mode.refreshRate = static_cast<uint32_t>(desktop.refresh_rate);
    mode.format = displayFormatForDepth(static_cast<int>(SDL_BITSPERPIXEL(desktop.format)));
    return true;
}

bool GlSystem::checkDeviceType(uint32_t deviceType, uint32_t adapterFormat, uint32_t backBufferFormat, bool windowed)
{
    // Windowed, an unknown back-buffer format means "the desktop's".
    if (windowed && backBufferFormat == D3DFMT_UNKNOWN) backBufferFormat = adapterFormat;
    return deviceType == D3DDEVTYPE_HAL && formatsCompatible(adapterFormat, backBufferFormat);
}

std::unique_ptr<GraphicsDevice> GlSystem::createDevice(uint32_t /*deviceType*/, void* /*focusWindow*/,
                                                       uint32_t behaviorFlags, PresentParameters& parameters)
{
    lastError_.clear();
    if (!context_) {
        {
            QuietStderr quiet;
            context_ = SDL_GL_CreateContext(window_);
        }
        if (!context_) {
            lastError_ = std::string("cannot create an OpenGL 3.3 core context: SDL_GL_CreateContext failed: ") +
                         SDL_GetError();
            return nullptr;
        }
    }
    if (SDL_GL_MakeCurrent(window_, context_) != 0) {
        lastError_ = std::string("cannot make the OpenGL context current: ") + SDL_GetError();
        return nullptr;
    }

    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    lastError_ = vertexProcessingRefusal(behaviorFlags, renderer ? renderer : "");
    if (!lastError_.empty()) return nullptr;

    // Off screen nothing is shown, so presenting must not wait for a refresh that never comes.
    SDL_GL_SetSwapInterval(headless_ ? 0 : 1);

    // A window's back buffer is its client area (0 x 0); full screen names its size.
    auto device = GlDevice::create(window_, context_, static_cast<int>(parameters.backBufferWidth),
                                   static_cast<int>(parameters.backBufferHeight), lastError_);
    if (!device) return nullptr;
    context_ = nullptr;  // the device owns it now

    parameters.backBufferWidth = static_cast<uint32_t>(device->backBufferWidth());
    parameters.backBufferHeight = static_cast<uint32_t>(device->backBufferHeight());
    if (parameters.backBufferFormat == D3DFMT_UNKNOWN) parameters.backBufferFormat = D3DFMT_X8R8G8B8;
    return device;
}

std::unique_ptr<GraphicsSystem> createGlGraphicsSystem(SDL_Window* window, bool headless)
{
    return std::make_unique<GlSystem>(window, headless);
}
