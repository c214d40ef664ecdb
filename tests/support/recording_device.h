#pragma once

// A graphics device that keeps everything in memory and records every call as one line of text,
// e.g. "SetRenderState 137 0", "DrawPrimitive 5 0 2". Tests assert the sequences.

#include <set>
#include <string>
#include <vector>

#include "device/graphics_device.h"

class RecordingDevice : public GraphicsDevice {
public:
    std::vector<std::string> calls;
    int maxWidth = 4096;
    bool refuseTextures = false;       // createTexture answers null
    bool refuseVertexBuffers = false;  // createVertexBuffer answers null
    // Also record "UnlockVertexBuffer offset size discard" lines (off by default, as most tests
    // compare whole call lists that predate it).
    bool recordUnlocks = false;
    // Keep layers as a device that can copy pixels would: "KeepPixels depth" and
    // "RestorePixels depth" lines stand for the copies (off by default: then no layer is held and
    // every call is recorded as it comes). restoreFails makes the copy back fail, as a resized
    // target does.
    bool keepsPixels = false;
    bool restoreFails = false;

    // What one drawPrimitive read: the stream's bytes for its vertices, copied at the draw, since
    // a dynamic buffer is overwritten by the next discarding lock.
    struct Draw {
        uint32_t primitiveType, startVertex, primitiveCount, fvf, stride;
        std::vector<uint8_t> vertices;
    };
    std::vector<Draw> draws;
    // One entry per draw call of either kind: bit s set when stage s contributes to it.
    std::vector<uint32_t> drawStages;

    std::unique_ptr<VertexBuffer> makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) override;
    std::unique_ptr<IndexBuffer> makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool) override;
    std::unique_ptr<Texture> makeTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                           uint32_t format, uint32_t pool) override;
    int maxTextureWidth() const override { return maxWidth; }

    void issueClear(uint32_t flags, uint32_t argb, float z, uint32_t stencil) override;
    void beginScene() override { calls.push_back("BeginScene"); }
    void endScene() override { calls.push_back("EndScene"); }
    void present() override { calls.push_back("Present"); }
    bool readBackBuffer(RgbaImage&) override { return false; }

    void issueDrawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount) override;
    void issueDrawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                              uint32_t startIndex, uint32_t primitiveCount) override;

    // The recorded lines that start with the given prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;
    // Index of the first recorded line equal to text at or after from, or -1.
    int find(const std::string& text, size_t from = 0) const;

protected:
    bool canKeepLayerPixels() const override { return keepsPixels; }
    bool keepLayerPixels(bool depth) override;
    bool restoreLayerPixels(bool depth) override;
    void recordStages();
    void onRenderState(uint32_t state, uint32_t value) override;
    void onTextureStageState(uint32_t stage, uint32_t type, uint32_t value) override;
    void onSamplerState(uint32_t sampler, uint32_t type, uint32_t value) override;
    void onTexture(uint32_t stage, Texture* texture) override;
    void onTransform(uint32_t type, const Matrix4& m) override;
    void onLight(uint32_t index, const Light& light) override;
    void onLightEnable(uint32_t index, bool enable) override;
    void onMaterial(const Material& material) override;
    void onStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) override;
    void onFVF(uint32_t fvf) override;
    void onIndices(IndexBuffer* indices) override;
    void onPixelShader(PixelShader* shader) override;
};

// A graphics system whose devices are RecordingDevices and that refuses the vertex-processing
// modes named in refused (D3DCREATE_* flag sets, compared whole).
class RecordingGraphicsSystem : public GraphicsSystem {
public:
    std::set<uint32_t> refused;
    std::vector<uint32_t> attempts;           // behaviour flags of every createDevice call
    std::vector<std::string> formatChecks;    // "adapterFormat backBufferFormat"
    std::set<uint32_t> unsupportedFormats;    // back-buffer formats checkDeviceType refuses
    uint32_t desktopFormat = D3DFMT_X8R8G8B8;
    PresentParameters lastParameters{};

    bool adapterDisplayMode(DisplayMode& mode) override;
    bool checkDeviceType(uint32_t deviceType, uint32_t adapterFormat, uint32_t backBufferFormat, bool windowed) override;
    std::unique_ptr<GraphicsDevice> createDevice(uint32_t deviceType, void* focusWindow, uint32_t behaviorFlags,
                                                 PresentParameters& parameters) override;
};
