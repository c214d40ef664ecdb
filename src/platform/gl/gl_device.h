#pragma once

// The graphics device on OpenGL 3.3 core (OpenGL ES 3.0, WebGL 2, in the browser build): a shader program emulates the fixed-function subset
// the game uses, fed at every draw from the state the base class keeps. Each combination of
// branch-deciding states gets a program of its own, built from the same source on first use;
// GL state is cached so only changes reach the driver.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gl/gl_api.h"
#include "platform/gl/gl_surface.h"

#include "device/graphics_device.h"
#include "platform/gl/fixed_function.h"

// Shared by a device and its resources: resources outliving the device must not touch GL.
struct GlContextLife {
    bool alive = true;
    // A resource bound a texture for its upload, so the device's record of the units is stale.
    bool textureBindingsStale = false;
    // An index buffer was uploaded with no vertex array bound (ES: see GlIndexBuffer), so the
    // device's record of the bound array is stale.
    bool vertexArrayUnbound = false;
};

class GlDevice : public GraphicsDevice {
public:
    // Takes over context (current on window) only when it returns a device; otherwise null and
    // error says why. width x height: the back buffer asked for; 0 x 0 follows the window's size.
    // When the window's drawable differs from the size asked for (a full-screen mode the display
    // could not switch to), frames are drawn at that size off screen and scaled onto the window.
    static std::unique_ptr<GlDevice> create(GlWindow* window, GlContext context, int width, int height,
                                            std::string& error);
    ~GlDevice() override;

    std::unique_ptr<VertexBuffer> makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) override;
    std::unique_ptr<IndexBuffer> makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool) override;
    std::unique_ptr<Texture> makeTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                           uint32_t format, uint32_t pool) override;
    int maxTextureWidth() const override { return maxTextureSize_; }

    void beginScene() override;
    void endScene() override {}
    void present() override;
    bool readBackBuffer(RgbaImage& out) override;

    int backBufferWidth() const { return width_; }
    int backBufferHeight() const { return height_; }

    // Off, every draw uses the general program; for comparing the two paths.
    void setSpecialisedPrograms(bool on) { specialise_ = on; }
    // Specialised programs built so far, and whether the last draw used one.
    size_t specialisedProgramCount() const { return programs_.size(); }
    bool lastDrawSpecialised() const { return lastDrawSpecialised_; }

    // At most this many specialised programs are built; later combinations use the general one.
    static constexpr size_t maxSpecialisedPrograms = 64;

protected:
    void issueClear(uint32_t flags, uint32_t argb, float z, uint32_t stencil) override;
    void issueDrawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount) override;
    void issueDrawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                                   uint32_t startIndex, uint32_t primitiveCount) override;
    void issueDrawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                                const IndexRange* ranges, size_t rangeCount) override;
    // WebGL cannot blit depth between the canvas and a texture, so the browser keeps no layers.
    bool canKeepLayerPixels() const override { return !glesDevice; }
    bool keepLayerPixels(bool depth) override;
    bool restoreLayerPixels(bool depth) override;
    void onStateReplaced() override { pipelineDirty_ = samplersDirty_ = true; }
    void onRenderState(uint32_t, uint32_t) override { pipelineDirty_ = true; }
    void onSamplerState(uint32_t, uint32_t, uint32_t) override { samplersDirty_ = true; }

private:
    GlDevice(GlWindow* window, GlContext context, int width, int height);
    bool initialize(std::string& error);
    void updateViewport();
    // The off-screen target of the size asked for, made on first need; false when the driver
    // cannot make it (frames are then drawn at the window's size).
    bool makeSceneTarget();
    // Scales the off-screen frame onto the window, its aspect kept, the rest black.
    void showScaledFrame();
    // The sized format of the default framebuffer's depth buffer, 0 when it has none that a
    // texture or renderbuffer can match; its pixel type in type. Asked with framebuffer 0 bound.
    static GLenum defaultDepthFormat(GLenum& type);
    // Brings GL in line with the device state; false when the current state cannot draw the
    // vertices [firstVertex, firstVertex + vertexCount) of the stream.
    bool prepareDraw(int64_t firstVertex, int64_t vertexCount, uint32_t primitiveType);
    // prepareDraw for the indices [lowest, highest] of an indexed draw from baseVertex on.
    bool prepareIndexedDraw(int baseVertex, uint16_t lowest, uint16_t highest, uint32_t primitiveType);
    void applyPipelineState();
    void clearPendingColor();
    void clearPendingDepth();
    void applySamplers();
    void bindVertexInput(const VertexLayout& layout, uint64_t serial, GLuint buffer);
    void useProgramFor(const ShaderState& state, bool points);
    void uploadShaderState(const ShaderState& state);
    void bindStageTextures(const GLuint names[2]);
    void bindIndexBuffer(GLuint name, uint64_t serial);
    void setColorMask(uint32_t mask);
    void setDepthMask(bool on);
    void setCapability(GLenum capability, int& cached, bool on);
    // The textures a kept layer's pixels are copied into, made to the back buffer's size and
    // depth format (copies of depth need the same format); false when they cannot be.
    bool makeLayerTarget(bool depth);
    bool copyLayer(bool toKept, bool depth);

    // Waits until the GPU has finished the frame presented before, so that at most one frame is
    // in flight behind the one being recorded: off screen nothing throttles presenting, and a
    // software renderer would otherwise queue frame after frame in memory.
    void waitForPresentedFrame();

    GlWindow* window_;
    GlContext context_;
    GLsync presentedFrame_ = nullptr;
    std::shared_ptr<GlContextLife> life_;
    GLuint generalProgram_ = 0, currentProgram_ = 0;
    GLuint drawStateBuffer_ = 0, frameStateBuffer_ = 0;
    GLuint samplers_[2] = {0, 0};
    int width_ = 0, height_ = 0;  // the back buffer the frame is drawn into
    int requestedWidth_ = 0, requestedHeight_ = 0;
    int drawableWidth_ = 0, drawableHeight_ = 0;
    int maxTextureSize_ = 0;
    GLenum depthFormat_ = 0, depthType_ = GL_NONE;

    // The frame's framebuffer: 0 (the window's) or sceneFramebuffer_.
    GLuint frameFramebuffer_ = 0;
    GLuint sceneFramebuffer_ = 0, sceneColor_ = 0, sceneDepth_ = 0;
    bool sceneTargetFailed_ = false;

    // Programs by key; 0 marks a key whose program the driver refused, which then draws with the
    // general program.
    std::unordered_map<ProgramKey, GLuint, ProgramKeyHash> programs_;
    bool specialise_ = true;
    bool lastDrawSpecialised_ = false;

    ShaderState uploaded_{};
    bool uploadedValid_ = false;
    bool pipelineDirty_ = true;
    bool colorClearPending_ = false;
    uint32_t pendingClearColor_ = 0;
    bool depthClearPending_ = false;
    float pendingClearDepth_ = 1.0f;
    bool samplersDirty_ = true;

    // What GL holds now, so a state already in force costs no call; -1 / 0 for not yet known.
    struct GlStateCache {
        int cullFace = -1, depthTest = -1, blend = -1;
        GLenum frontFace = 0, depthFunc = 0, blendSource = 0, blendDestination = 0, polygonMode = 0;
        int depthMask = -1;
        int colorMask = -1;
        GLint samplerMag[2] = {-1, -1}, samplerMin[2] = {-1, -1};
        GLuint texture[2] = {0, 0};
        bool texturesKnown = false;
        GLenum activeUnit = 0;
    } gl_;

    // One vertex array per vertex input: buffer (by serial number, as GL recycles object names),
    // offset, stride, format and coordinate sets. The index buffer binding lives in the array too.
    struct VertexInputKey {
        uint64_t buffer = 0;
        uint32_t offset = 0, stride = 0, fvf = 0, texCoordIndex[2] = {0, 0};
        bool operator==(const VertexInputKey&) const = default;
    };
    struct VertexInputKeyHash {
        size_t operator()(const VertexInputKey& key) const;
    };
    struct VertexArray {
        GLuint name = 0;
        uint64_t indexSerial = 0;
    };
    std::unordered_map<VertexInputKey, VertexArray, VertexInputKeyHash> vertexArrays_;
    VertexArray* boundArray_ = nullptr;
    static constexpr size_t maxVertexArrays = 512;

    // The arrays a multi-draw hands to GL, kept so drawing allocates nothing per frame.
    std::vector<GLsizei> rangeCounts_;
    std::vector<const void*> rangeOffsets_;
    std::vector<GLint> rangeBaseVertices_;
    // Bytes added to the attribute pointers of the draw being prepared (ES's base vertex).
    int64_t vertexShift_ = 0;

    GLuint layerFramebuffer_ = 0, layerColor_ = 0, layerDepth_ = 0;
    int layerWidth_ = 0, layerHeight_ = 0;
    bool layerTargetFailed_ = false;
};
