#pragma once

// The graphics device on OpenGL 3.3 core: one shader program emulates the fixed-function subset
// the game uses, fed at every draw from the state the base class keeps.

#include <memory>
#include <string>

#include <SDL.h>
#include <epoxy/gl.h>

#include "device/graphics_device.h"
#include "platform/gl/fixed_function.h"

// Shared by a device and its resources: resources outliving the device must not touch GL.
struct GlContextLife {
    bool alive = true;
};

class GlDevice : public GraphicsDevice {
public:
    // Takes over context (current on window) only when it returns a device; otherwise null and
    // error says why.
    static std::unique_ptr<GlDevice> create(SDL_Window* window, SDL_GLContext context, std::string& error);
    ~GlDevice() override;

    std::unique_ptr<VertexBuffer> createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) override;
    std::unique_ptr<IndexBuffer> createIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool) override;
    std::unique_ptr<Texture> createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                           uint32_t format, uint32_t pool) override;
    int maxTextureWidth() const override { return maxTextureSize_; }

    void clear(uint32_t flags, uint32_t argb, float z, uint32_t stencil) override;
    void beginScene() override;
    void endScene() override {}
    void present() override;
    bool readBackBuffer(RgbaImage& out) override;

    void drawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount) override;
    void drawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                              uint32_t startIndex, uint32_t primitiveCount) override;

    int backBufferWidth() const { return width_; }
    int backBufferHeight() const { return height_; }

protected:
    void onRenderState(uint32_t, uint32_t) override { pipelineDirty_ = true; }
    void onSamplerState(uint32_t, uint32_t, uint32_t) override { samplersDirty_ = true; }

private:
    GlDevice(SDL_Window* window, SDL_GLContext context);
    bool initialize(std::string& error);
    void updateViewport();
    // Brings GL in line with the device state; false when the current state cannot draw the
    // vertices [firstVertex, firstVertex + vertexCount) of the stream.
    bool prepareDraw(int64_t firstVertex, int64_t vertexCount);
    void applyPipelineState();
    void applySamplers();
    void bindVertexInput(const VertexLayout& layout, uint64_t serial, GLuint buffer);

    // Waits until the GPU has finished the frame presented before, so that at most one frame is
    // in flight behind the one being recorded: off screen nothing throttles presenting, and a
    // software renderer would otherwise queue frame after frame in memory.
    void waitForPresentedFrame();

    SDL_Window* window_;
    SDL_GLContext context_;
    GLsync presentedFrame_ = nullptr;
    std::shared_ptr<GlContextLife> life_;
    GLuint program_ = 0, vertexArray_ = 0, stateBuffer_ = 0;
    GLuint samplers_[2] = {0, 0};
    int width_ = 0, height_ = 0;
    int maxTextureSize_ = 0;

    ShaderState uploaded_{};
    bool uploadedValid_ = false;
    bool pipelineDirty_ = true;
    bool samplersDirty_ = true;

    // What the vertex array was last set up for; buffers are named by serial number, as GL
    // recycles object names.
    struct VertexInputKey {
        uint64_t buffer = 0;
        uint32_t offset = 0, stride = 0, fvf = 0, texCoordIndex[2] = {0, 0};
        bool operator==(const VertexInputKey&) const = default;
    } vertexInputKey_;
    uint64_t boundIndexSerial_ = 0;
};
