#include "platform/web/web_canvas.h"

#include <cstdint>
#include <cstdlib>

#include <emscripten/html5.h>

#include "platform/gl/fixed_function.h"
#include "platform/gl/gl_device.h"

namespace {

constexpr const char* canvasSelector = "#canvas";

EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handleOf(GlContext context)
{
    return static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context));
}

class WebGraphicsSystem : public GraphicsSystem {
public:
    ~WebGraphicsSystem() override
    {
        if (context_) emscripten_webgl_destroy_context(context_);
    }

    bool adapterDisplayMode(DisplayMode& mode) override
    {
        // The page is the desktop: its canvas, 32 bits a pixel.
        int width = 0, height = 0;
        emscripten_get_canvas_element_size(canvasSelector, &width, &height);
        mode.width = static_cast<uint32_t>(width);
        mode.height = static_cast<uint32_t>(height);
        mode.refreshRate = 60;
        mode.format = displayFormatForDepth(32);
        return true;
    }

    bool checkDeviceType(uint32_t deviceType, uint32_t adapterFormat, uint32_t backBufferFormat, bool windowed) override
    {
        if (windowed && backBufferFormat == D3DFMT_UNKNOWN) backBufferFormat = adapterFormat;
        return deviceType == D3DDEVTYPE_HAL && formatsCompatible(adapterFormat, backBufferFormat);
    }

    std::unique_ptr<GraphicsDevice> createDevice(uint32_t, void*, uint32_t behaviorFlags,
                                                 PresentParameters& parameters) override
    {
        lastError_.clear();
        if (!context_) {
            EmscriptenWebGLContextAttributes attributes;
            emscripten_webgl_init_context_attributes(&attributes);
            attributes.majorVersion = 2;
            attributes.minorVersion = 0;
            attributes.alpha = false;  // the back buffer is X8R8G8B8: nothing shows through
            attributes.depth = true;
            attributes.stencil = false;
            attributes.antialias = false;
            attributes.premultipliedAlpha = false;
            attributes.preserveDrawingBuffer = false;
            context_ = emscripten_webgl_create_context(canvasSelector, &attributes);
            if (context_ <= 0) {
                context_ = 0;
                lastError_ = "this browser offers no WebGL 2 on the page's canvas";
                return nullptr;
            }
        }
        emscripten_webgl_make_context_current(context_);
        // The browser names no renderer it rasterises with, so every mode is accepted.
        lastError_ = vertexProcessingRefusal(behaviorFlags, "");
        if (!lastError_.empty()) return nullptr;
        auto device = GlDevice::create(nullptr, reinterpret_cast<GlContext>(static_cast<intptr_t>(context_)),
                                       static_cast<int>(parameters.backBufferWidth),
                                       static_cast<int>(parameters.backBufferHeight), lastError_);
        if (!device) return nullptr;
        context_ = 0;  // the device owns it now
        parameters.backBufferWidth = static_cast<uint32_t>(device->backBufferWidth());
        parameters.backBufferHeight = static_cast<uint32_t>(device->backBufferHeight());
        if (parameters.backBufferFormat == D3DFMT_UNKNOWN) parameters.backBufferFormat = D3DFMT_X8R8G8B8;
        return device;
    }

    std::string lastError() const override { return lastError_; }

private:
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context_ = 0;
    std::string lastError_;
};

}  // namespace

void glSurfaceMakeCurrent(GlWindow*, GlContext context) { emscripten_webgl_make_context_current(handleOf(context)); }

void glSurfaceDeleteContext(GlContext context) { emscripten_webgl_destroy_context(handleOf(context)); }

void glSurfaceDrawableSize(GlWindow*, int* width, int* height)
{
    emscripten_get_canvas_element_size(canvasSelector, width, height);
}

const char* glSurfaceSetting(const char* name) { return std::getenv(name); }

void setCanvasSize(int width, int height) { emscripten_set_canvas_element_size(canvasSelector, width, height); }

std::unique_ptr<GraphicsSystem> createWebGraphicsSystem() { return std::make_unique<WebGraphicsSystem>(); }
