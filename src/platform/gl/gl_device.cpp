#include "platform/gl/gl_device.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gl/gl_shaders.h"

namespace {

uint64_t nextSerial()
{
    static uint64_t serial = 0;
    return ++serial;
}

GLenum bufferUsage(uint32_t usage) { return (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW; }

// Buffers are uploaded through the copy-write target so the vertex array's bindings stay put, and
// only when a draw first reads them: the contents written before then go up in one piece.
class GlVertexBuffer : public VertexBuffer {
public:
    GlVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool, std::shared_ptr<GlContextLife> life)
        : VertexBuffer(length, usage, fvf, pool), life_(std::move(life))
    {
        glGenBuffers(1, &name_);
    }
    ~GlVertexBuffer() override
    {
        // Held draws that read it are drawn while it still exists.
        noteWrite();
        if (life_->alive) glDeleteBuffers(1, &name_);
    }
    GLuint drawableName()
    {
        if (!uploaded_) {
            glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
            glBufferData(GL_COPY_WRITE_BUFFER, length(), data(), bufferUsage(usage()));
            uploaded_ = true;
        }
        return name_;
    }
    uint64_t serial() const { return serial_; }

protected:
    void onUnlock(uint32_t offset, uint32_t size, bool discard) override
    {
        if (!life_->alive || !uploaded_) return;
        glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
        if (discard)  // a fresh store, so draws still reading the old one need not finish first
            glBufferData(GL_COPY_WRITE_BUFFER, length(), data(), bufferUsage(usage()));
        else
            glBufferSubData(GL_COPY_WRITE_BUFFER, offset, size, data() + offset);
    }

private:
    std::shared_ptr<GlContextLife> life_;
    GLuint name_ = 0;
    uint64_t serial_ = nextSerial();
    bool uploaded_ = false;
};

class GlIndexBuffer : public IndexBuffer {
public:
    GlIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool, std::shared_ptr<GlContextLife> life)
        : IndexBuffer(length, usage, format, pool), life_(std::move(life)), usage_(bufferUsage(usage))
    {
        glGenBuffers(1, &name_);
    }
    ~GlIndexBuffer() override
    {
        // Held draws that read it are drawn while it still exists.
        noteWrite();
        if (life_->alive) glDeleteBuffers(1, &name_);
    }
    GLuint drawableName()
    {
        if (!uploaded_) {
            upload();
            uploaded_ = true;
        }
        return name_;
    }
    uint64_t serial() const { return serial_; }

    // The lowest and highest index of a run, remembered until the next unlock: a static mesh is
    // drawn with the same run every frame, and scanning it each time would cost one read per index.
    void indexRange(uint32_t start, uint32_t count, uint16_t& lowest, uint16_t& highest)
    {
        scan(lastRun_, start, count, lowest, highest);
    }
    // The same for the whole buffer, which bounds every run of it.
    void wholeRange(uint16_t& lowest, uint16_t& highest) { scan(whole_, 0, length() / 2, lowest, highest); }

protected:
    void onUnlock() override
    {
        lastRun_.valid = whole_.valid = false;
        if (!life_->alive || !uploaded_) return;
        upload();
    }

private:
    void upload()
    {
        if (glesDevice) {
            // WebGL lets an index buffer be bound only as one, and that binding belongs to the
            // bound vertex array: it goes up with none bound.
            glBindVertexArray(0);
            life_->vertexArrayUnbound = true;
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name_);
            glBufferData(GL_ELEMENT_ARRAY_BUFFER, length(), data(), usage_);
            return;
        }
        glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
        glBufferData(GL_COPY_WRITE_BUFFER, length(), data(), usage_);
    }

    struct ScannedRun {
        bool valid = false;
        uint32_t start = 0, count = 0;
        uint16_t lowest = 0, highest = 0;
    };

    void scan(ScannedRun& run, uint32_t start, uint32_t count, uint16_t& lowest, uint16_t& highest)
    {
        if (!run.valid || run.start != start || run.count != count) {
            const uint8_t* first = data() + size_t(start) * 2;
            run = {true, start, count, 0xFFFF, 0};
            for (uint32_t i = 0; i < count; ++i) {
                uint16_t index;
                std::memcpy(&index, first + size_t(i) * 2, 2);
                run.lowest = std::min(run.lowest, index);
                run.highest = std::max(run.highest, index);
            }
        }
        lowest = run.lowest;
        highest = run.highest;
    }

    std::shared_ptr<GlContextLife> life_;
    GLenum usage_;
    GLuint name_ = 0;
    uint64_t serial_ = nextSerial();
    ScannedRun lastRun_, whole_;
    bool uploaded_ = false;
};

struct GlPixelFormat {
    GLenum format, type;
    bool opaque;  // the format has no alpha: read it as 1
};

bool glPixelFormat(uint32_t format, GlPixelFormat& out)
{
    // 32-bit ARGB words are B, G, R, A in memory; the packed 16-bit ones hold B in the low bits.
    switch (format) {
    case D3DFMT_A8R8G8B8: out = {GL_BGRA, GL_UNSIGNED_BYTE, false}; return true;
    case D3DFMT_X8R8G8B8: out = {GL_BGRA, GL_UNSIGNED_BYTE, true}; return true;
    case D3DFMT_A4R4G4B4: out = {GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false}; return true;
    case D3DFMT_R5G6B5: out = {GL_RGB, GL_UNSIGNED_SHORT_5_6_5, true}; return true;
    case D3DFMT_X1R5G5B5: out = {GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true}; return true;
    case D3DFMT_A1R5G5B5: out = {GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false}; return true;
    default: return false;
    }
}

// ES takes neither BGRA nor the reversed packed formats, nor a swizzle for opaque ones: there the
// texels go up converted to R, G, B, A bytes (format changed to say so). Desktop GL takes them as
// they are. Channels widen as GL widens them, c * 255 / (2^bits - 1) rounded.
const void* uploadTexels(GlPixelFormat& pixels, const uint8_t* data, size_t texelCount)
{
    if (!glesDevice) return data;
    static std::vector<uint8_t> converted;
    converted.resize(texelCount * 4);
    auto widen = [](uint32_t value, uint32_t bits) {
        const uint32_t top = (1u << bits) - 1;
        return static_cast<uint8_t>((value * 255u * 2u + top) / (2u * top));
    };
    for (size_t i = 0; i < texelCount; ++i) {
        uint8_t* out = converted.data() + i * 4;
        if (pixels.type == GL_UNSIGNED_BYTE) {
            const uint8_t* in = data + i * 4;
            out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
        } else {
            uint16_t w;
            std::memcpy(&w, data + i * 2, 2);
            if (pixels.type == GL_UNSIGNED_SHORT_4_4_4_4_REV)
                out[0] = widen((w >> 8) & 15, 4), out[1] = widen((w >> 4) & 15, 4), out[2] = widen(w & 15, 4),
                out[3] = widen(w >> 12, 4);
            else if (pixels.type == GL_UNSIGNED_SHORT_1_5_5_5_REV)
                out[0] = widen((w >> 10) & 31, 5), out[1] = widen((w >> 5) & 31, 5), out[2] = widen(w & 31, 5),
                out[3] = (w >> 15) ? 255 : 0;
            else  // 5_6_5, red in the high bits
                out[0] = widen(w >> 11, 5), out[1] = widen((w >> 5) & 63, 6), out[2] = widen(w & 31, 5), out[3] = 255;
        }
        if (pixels.opaque) out[3] = 255;
    }
    pixels.format = GL_RGBA;
    pixels.type = GL_UNSIGNED_BYTE;
    return converted.data();
}

// The GL texture is filled when a draw first samples it: until then every write stays in the CPU
// copy. Textures that are only read back (height maps) never reach the driver at all, and the
// others are uploaded once with their real texels instead of once empty and again filled.
class GlTexture : public Texture {
public:
    GlTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format, uint32_t pool,
              const GlPixelFormat& pixels, std::shared_ptr<GlContextLife> life)
        : Texture(width, height, levels, usage, format, pool), life_(std::move(life)), pixels_(pixels)
    {
        glGenTextures(1, &name_);
    }
    ~GlTexture() override
    {
        // Held draws that read it are drawn while it still exists.
        noteWrite();
        if (!life_->alive) return;
        life_->textureBindingsStale = true;  // GL unbinds a deleted texture from every unit
        glDeleteTextures(1, &name_);
    }
    // The name to bind for drawing, uploading the texels first if no draw has used it yet.
    GLuint drawableName()
    {
        if (uploaded_) return name_;
        life_->textureBindingsStale = true;
        glBindTexture(GL_TEXTURE_2D, name_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levelCount()) - 1);
        // ES gets opaque texels instead (uploadTexels).
        if (pixels_.opaque && !glesDevice) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
        // Every level exists from the start, so mip filters always find a complete texture.
        for (uint32_t level = 0; level < levelCount(); ++level) {
            GlPixelFormat sent = pixels_;
            const void* texels = uploadTexels(sent, levelData(level).data(), size_t(this->width(level)) * this->height(level));
            glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_RGBA8, static_cast<GLsizei>(this->width(level)),
                         static_cast<GLsizei>(this->height(level)), 0, sent.format, sent.type, texels);
        }
        uploaded_ = true;
        return name_;
    }

protected:
    void onUnlock(uint32_t level) override
    {
        if (!life_->alive || !uploaded_) return;
        life_->textureBindingsStale = true;
        glBindTexture(GL_TEXTURE_2D, name_);
        GlPixelFormat sent = pixels_;
        const void* texels = uploadTexels(sent, levelData(level).data(), size_t(width(level)) * height(level));
        glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(width(level)),
                        static_cast<GLsizei>(height(level)), sent.format, sent.type, texels);
    }

private:
    std::shared_ptr<GlContextLife> life_;
    GlPixelFormat pixels_;
    GLuint name_ = 0;
    bool uploaded_ = false;
};

GLenum primitiveMode(uint32_t primitiveType)
{
    switch (primitiveType) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
    }
}

GLenum compareFunction(uint32_t func)
{
    // The interface numbers its comparisons in GL's order, from NEVER = 1 to ALWAYS = 8.
    if (func < D3DCMP_NEVER || func > D3DCMP_ALWAYS) return GL_LEQUAL;
    return GL_NEVER + (func - D3DCMP_NEVER);
}

GLenum blendFactor(uint32_t blend)
{
    static const GLenum factors[] = {GL_ZERO,      GL_ONE,       GL_SRC_COLOR,           GL_ONE_MINUS_SRC_COLOR,
                                     GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA,
                                     GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR, GL_SRC_ALPHA_SATURATE};
    if (blend < D3DBLEND_ZERO || blend > std::size(factors)) return GL_ONE;
    return factors[blend - D3DBLEND_ZERO];
}

GLenum minFilter(uint32_t min, uint32_t mip)
{
    const bool linear = min >= D3DTEXF_LINEAR;
    if (mip == D3DTEXF_NONE) return linear ? GL_LINEAR : GL_NEAREST;
    if (mip == D3DTEXF_POINT) return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
}

const void* byteOffset(uint64_t offset) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(offset)); }

}  // namespace

// ---- Life cycle ----

GlDevice::GlDevice(GlWindow* window, GlContext context, int width, int height)
    : window_(window), context_(context), life_(std::make_shared<GlContextLife>()), requestedWidth_(width),
      requestedHeight_(height)
{
}

std::unique_ptr<GlDevice> GlDevice::create(GlWindow* window, GlContext context, int width, int height,
                                           std::string& error)
{
    std::unique_ptr<GlDevice> device(new GlDevice(window, context, width, height));
    if (!device->initialize(error)) {
        device->context_ = nullptr;  // stays with the caller
        return nullptr;
    }
    return device;
}

GlDevice::~GlDevice()
{
    if (context_) glSurfaceMakeCurrent(window_, context_);
    if (presentedFrame_) glDeleteSync(presentedFrame_);
    glDeleteSamplers(2, samplers_);
    glDeleteBuffers(1, &drawStateBuffer_);
    glDeleteBuffers(1, &frameStateBuffer_);
    for (const auto& [key, array] : vertexArrays_) glDeleteVertexArrays(1, &array.name);
    for (const auto& [key, program] : programs_)
        if (program) glDeleteProgram(program);
    glDeleteProgram(generalProgram_);
    glDeleteFramebuffers(1, &layerFramebuffer_);
    glDeleteTextures(1, &layerColor_);
    glDeleteTextures(1, &layerDepth_);
    glDeleteFramebuffers(1, &sceneFramebuffer_);
    glDeleteRenderbuffers(1, &sceneColor_);
    glDeleteRenderbuffers(1, &sceneDepth_);
    life_->alive = false;
    if (context_) glSurfaceDeleteContext(context_);
}

bool GlDevice::initialize(std::string& error)
{
    if (glContextVersion() < 33) {
        const int v = glContextVersion();
        error = "the OpenGL context offers version " + std::to_string(v / 10) + "." + std::to_string(v % 10) +
                ", 3.3 is needed";
        return false;
    }
    generalProgram_ = buildFixedFunctionProgram(error);
    if (!generalProgram_) return false;
    currentProgram_ = generalProgram_;  // left in use by the build
    // A debugging switch: the general program for every draw.
    if (const char* general = glSurfaceSetting("ZENTRIX_GENERAL_SHADER")) specialise_ = general[0] == '\0' || general[0] == '0';
    // And one that draws every layer instead of putting kept pixels back.
    if (const char* redraw = glSurfaceSetting("ZENTRIX_REDRAW_LAYERS")) setLayersKept(redraw[0] == '\0' || redraw[0] == '0');

    glGenBuffers(1, &drawStateBuffer_);
    glBindBuffer(GL_UNIFORM_BUFFER, drawStateBuffer_);
    glBufferData(GL_UNIFORM_BUFFER, drawStateBytes, nullptr, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, drawStateBinding, drawStateBuffer_);
    glGenBuffers(1, &frameStateBuffer_);
    glBindBuffer(GL_UNIFORM_BUFFER, frameStateBuffer_);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(ShaderState) - drawStateBytes, nullptr, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, frameStateBinding, frameStateBuffer_);
    glGenSamplers(2, samplers_);
    for (GLuint s = 0; s < 2; ++s) glBindSampler(static_cast<GLuint>(stageTextureUnit[s]), samplers_[s]);

    // Texture rows and read-back rows are packed without padding.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPointSize(1.0f);
    // Components a vertex format lacks read these constants: no normal, a white diffuse colour,
    // no specular. They are context state, not part of the vertex arrays, so set once.
    glVertexAttrib4f(attributeDiffuse, 1.0f, 1.0f, 1.0f, 1.0f);
    glVertexAttrib4f(attributeSpecular, 0.0f, 0.0f, 0.0f, 0.0f);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize_);
    depthFormat_ = defaultDepthFormat(depthType_);
    updateViewport();
    applyPipelineState();
    applySamplers();

    const GLenum glError = glGetError();
    if (glError != GL_NO_ERROR) {
        error = "OpenGL error " + std::to_string(glError) + " while setting up the device";
        return false;
    }
    return true;
}

void GlDevice::updateViewport()
{
    glSurfaceDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    // A full-screen window on a display that kept its mode covers the whole screen: the frame is
    // drawn at the size asked for and scaled onto it, so the picture stays whole.
    const bool scaled = requestedWidth_ > 0 && requestedHeight_ > 0 &&
                        (drawableWidth_ != requestedWidth_ || drawableHeight_ != requestedHeight_) && makeSceneTarget();
    const GLuint target = scaled ? sceneFramebuffer_ : 0;
    if (target != frameFramebuffer_) {
        glBindFramebuffer(GL_FRAMEBUFFER, target);
        frameFramebuffer_ = target;
    }
    width_ = scaled ? requestedWidth_ : drawableWidth_;
    height_ = scaled ? requestedHeight_ : drawableHeight_;
    glViewport(0, 0, width_, height_);
}

bool GlDevice::makeSceneTarget()
{
    if (sceneFramebuffer_) return true;
    if (sceneTargetFailed_) return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    // Colour as the window's, 8 bits a channel; depth in the window's format, since kept layers
    // copy depth only between equal formats.
    glGenRenderbuffers(1, &sceneColor_);
    glBindRenderbuffer(GL_RENDERBUFFER, sceneColor_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, requestedWidth_, requestedHeight_);
    glGenRenderbuffers(1, &sceneDepth_);
    glBindRenderbuffer(GL_RENDERBUFFER, sceneDepth_);
    glRenderbufferStorage(GL_RENDERBUFFER, depthFormat_ ? depthFormat_ : GL_DEPTH_COMPONENT24, requestedWidth_,
                          requestedHeight_);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &sceneFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, sceneFramebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, sceneColor_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, sceneDepth_);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, frameFramebuffer_);
    // A driver that cannot make it will not make it next frame either.
    sceneTargetFailed_ = !complete || glGetError() != GL_NO_ERROR;
    if (sceneTargetFailed_) {
        glDeleteFramebuffers(1, &sceneFramebuffer_);
        glDeleteRenderbuffers(1, &sceneColor_);
        glDeleteRenderbuffers(1, &sceneDepth_);
        sceneFramebuffer_ = sceneColor_ = sceneDepth_ = 0;
    }
    return !sceneTargetFailed_;
}

void GlDevice::showScaledFrame()
{
    // The largest copy of the frame that fits, centred, in whole pixels.
    const double scale = std::min(double(drawableWidth_) / double(width_), double(drawableHeight_) / double(height_));
    const int w = std::max(1, int(std::lround(double(width_) * scale)));
    const int h = std::max(1, int(std::lround(double(height_) * scale)));
    const int x = (drawableWidth_ - w) / 2, y = (drawableHeight_ - h) / 2;
    setColorMask(0xF);
    pipelineDirty_ = true;  // the colour write mask again as the render states say
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glBlitFramebuffer(0, 0, width_, height_, x, y, x + w, y + h, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, frameFramebuffer_);
}

// ---- Resources ----

std::unique_ptr<VertexBuffer> GlDevice::makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
{
    return std::make_unique<GlVertexBuffer>(length, usage, fvf, pool, life_);
}

std::unique_ptr<IndexBuffer> GlDevice::makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
{
    if (format != D3DFMT_INDEX16) return nullptr;
    return std::make_unique<GlIndexBuffer>(length, usage, format, pool, life_);
}

std::unique_ptr<Texture> GlDevice::makeTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                                 uint32_t format, uint32_t pool)
{
    GlPixelFormat pixels;
    if (!glPixelFormat(format, pixels)) return nullptr;
    const uint32_t limit = static_cast<uint32_t>(maxTextureSize_);
    if (width == 0 || height == 0 || width > limit || height > limit) return nullptr;
    return std::make_unique<GlTexture>(width, height, levels, usage, format, pool, pixels, life_);
}

// ---- Frame ----

void GlDevice::issueClear(uint32_t flags, uint32_t argb, float z, uint32_t /*stencil*/)
{
    // Both are held back: depth until a draw tests it, so a frame whose draws all leave the depth
    // buffer alone (no terrain) never pays for clearing it; colour until anything draws or reads
    // the target, so a kept layer put back over the whole target replaces it. Nothing can see
    // the difference.
    if (flags & D3DCLEAR_TARGET) {
        colorClearPending_ = true;
        pendingClearColor_ = argb;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        depthClearPending_ = true;
        pendingClearDepth_ = std::clamp(z, 0.0f, 1.0f);
    }
}

void GlDevice::clearPendingColor()
{
    if (!colorClearPending_) return;
    const uint32_t argb = pendingClearColor_;
    setColorMask(0xF);
    glClearColor(static_cast<float>((argb >> 16) & 0xFF) / 255.0f, static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
                 static_cast<float>(argb & 0xFF) / 255.0f, static_cast<float>(argb >> 24) / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    colorClearPending_ = false;
    pipelineDirty_ = true;  // the colour write mask again as the render states say
}

void GlDevice::clearPendingDepth()
{
    setDepthMask(true);
    glClearDepth(pendingClearDepth_);
    glClear(GL_DEPTH_BUFFER_BIT);
    depthClearPending_ = false;
    pipelineDirty_ = true;  // the depth write mask again as the render states say
}

void GlDevice::beginScene()
{
    updateViewport();  // the window may have been resized since the last frame
}

void GlDevice::present()
{
    clearPendingColor();
    if (frameFramebuffer_) showScaledFrame();
    glSurfaceSwap(window_);
    // The browser paces frames itself, and WebGL cannot wait on a fence.
    if (glesDevice) return;
    // The previous frame must be done before this one is queued behind it: the rasteriser works
    // on one frame while the next is recorded, never on more. glFinish here would serialise both.
    waitForPresentedFrame();
    presentedFrame_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
}

void GlDevice::waitForPresentedFrame()
{
    if (!presentedFrame_) return;
    for (;;) {
        const GLenum r = glClientWaitSync(presentedFrame_, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000u);
        if (r != GL_TIMEOUT_EXPIRED) break;  // signalled, or an error that no wait would mend
    }
    glDeleteSync(presentedFrame_);
    presentedFrame_ = nullptr;
}

bool GlDevice::readBackBuffer(RgbaImage& out)
{
    if (width_ <= 0 || height_ <= 0) return false;
    clearPendingColor();
    std::vector<uint8_t> bottomUp(size_t(width_) * size_t(height_) * 4);
    glReadBuffer(frameFramebuffer_ ? GL_COLOR_ATTACHMENT0 : GL_BACK);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    if (glGetError() != GL_NO_ERROR) return false;
    out.width = width_;
    out.height = height_;
    out.pixels.resize(bottomUp.size());
    const size_t row = size_t(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::memcpy(out.pixels.data() + size_t(y) * row, bottomUp.data() + size_t(height_ - 1 - y) * row, row);
    // The back buffer is X8R8G8B8 to the game: whatever blending left in alpha is not picture.
    for (size_t i = 3; i < out.pixels.size(); i += 4) out.pixels[i] = 255;
    return true;
}

// ---- State ----

void GlDevice::setCapability(GLenum capability, int& cached, bool on)
{
    if (cached == int(on)) return;
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
    cached = on;
}

void GlDevice::setColorMask(uint32_t mask)
{
    mask &= 0xF;
    if (gl_.colorMask == int(mask)) return;
    glColorMask((mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, (mask & 8) != 0);
    gl_.colorMask = int(mask);
}

void GlDevice::setDepthMask(bool on)
{
    if (gl_.depthMask == int(on)) return;
    glDepthMask(on ? GL_TRUE : GL_FALSE);
    gl_.depthMask = on;
}

void GlDevice::applyPipelineState()
{
    const uint32_t cull = renderState(D3DRS_CULLMODE);
    const bool culling = cull == D3DCULL_CW || cull == D3DCULL_CCW;
    setCapability(GL_CULL_FACE, gl_.cullFace, culling);
    if (culling) {
        // Winding is judged as seen on screen. GL's window y points up, but the picture is the
        // same, so screen-clockwise is GL-clockwise: culling CW keeps counter-clockwise fronts.
        // (The cull face itself stays GL_BACK, GL's default.)
        const GLenum front = cull == D3DCULL_CW ? GL_CCW : GL_CW;
        if (gl_.frontFace != front) glFrontFace(front);
        gl_.frontFace = front;
    }

    setCapability(GL_DEPTH_TEST, gl_.depthTest, renderState(D3DRS_ZENABLE) != D3DZB_FALSE);
    const GLenum depthFunc = compareFunction(renderState(D3DRS_ZFUNC));
    if (gl_.depthFunc != depthFunc) glDepthFunc(depthFunc);
    gl_.depthFunc = depthFunc;
    setDepthMask(renderState(D3DRS_ZWRITEENABLE) != 0);

    setCapability(GL_BLEND, gl_.blend, renderState(D3DRS_ALPHABLENDENABLE) != 0);
    const GLenum source = blendFactor(renderState(D3DRS_SRCBLEND));
    const GLenum destination = blendFactor(renderState(D3DRS_DESTBLEND));
    if (gl_.blendSource != source || gl_.blendDestination != destination) glBlendFunc(source, destination);
    gl_.blendSource = source;
    gl_.blendDestination = destination;

    setColorMask(renderState(D3DRS_COLORWRITEENABLE));

    const uint32_t fill = renderState(D3DRS_FILLMODE);
    const GLenum polygonMode = fill == 1 ? GL_POINT : fill == 2 ? GL_LINE : GL_FILL;
    if (gl_.polygonMode != polygonMode) glPolygonMode(GL_FRONT_AND_BACK, polygonMode);
    gl_.polygonMode = polygonMode;
    pipelineDirty_ = false;
}

void GlDevice::applySamplers()
{
    for (uint32_t s = 0; s < 2; ++s) {
        const GLint mag = samplerState(s, D3DSAMP_MAGFILTER) >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
        const GLint min = static_cast<GLint>(
            minFilter(samplerState(s, D3DSAMP_MINFILTER), samplerState(s, D3DSAMP_MIPFILTER)));
        if (gl_.samplerMag[s] != mag) glSamplerParameteri(samplers_[s], GL_TEXTURE_MAG_FILTER, mag);
        if (gl_.samplerMin[s] != min) glSamplerParameteri(samplers_[s], GL_TEXTURE_MIN_FILTER, min);
        gl_.samplerMag[s] = mag;
        gl_.samplerMin[s] = min;
    }
    samplersDirty_ = false;
}

size_t GlDevice::VertexInputKeyHash::operator()(const VertexInputKey& key) const
{
    uint64_t h = key.buffer * 0x9E3779B97F4A7C15ull;
    for (uint32_t v : {key.offset, key.stride, key.fvf, key.texCoordIndex[0], key.texCoordIndex[1]})
        h = (h ^ v) * 1099511628211ull;
    return static_cast<size_t>(h ^ (h >> 29));
}

void GlDevice::bindVertexInput(const VertexLayout& layout, uint64_t serial, GLuint buffer)
{
    VertexInputKey key;
    key.buffer = serial;
    key.offset = static_cast<uint32_t>(int64_t(streamOffset()) + vertexShift_);
    key.stride = streamStride();
    key.fvf = fvf();
    key.texCoordIndex[0] = textureStageState(0, D3DTSS_TEXCOORDINDEX) & 0xFFFF;  // high bits: generation modes
    key.texCoordIndex[1] = textureStageState(1, D3DTSS_TEXCOORDINDEX) & 0xFFFF;

    if (life_->vertexArrayUnbound) {
        boundArray_ = nullptr;
        life_->vertexArrayUnbound = false;
    }
    auto found = vertexArrays_.find(key);
    if (found != vertexArrays_.end()) {
        if (boundArray_ != &found->second) glBindVertexArray(found->second.name);
        boundArray_ = &found->second;
        return;
    }
    // Arrays of buffers long gone pile up only in odd programs; start afresh rather than grow.
    if (vertexArrays_.size() >= maxVertexArrays) {
        glBindVertexArray(0);
        for (const auto& [k, array] : vertexArrays_) glDeleteVertexArrays(1, &array.name);
        vertexArrays_.clear();
    }
    VertexArray array;
    glGenVertexArrays(1, &array.name);
    glBindVertexArray(array.name);
    boundArray_ = &vertexArrays_.emplace(key, array).first->second;

    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    const GLsizei stride = static_cast<GLsizei>(key.stride);
    auto attribute = [&](GLuint location, int offset, GLint size, GLenum type, GLboolean normalized) {
        if (offset < 0) return false;  // arrays start disabled
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, size, type, normalized, stride, byteOffset(uint64_t(key.offset) + uint64_t(offset)));
        return true;
    };
    attribute(attributePosition, 0, layout.positionSize, GL_FLOAT, GL_FALSE);
    attribute(attributeNormal, layout.normal, 3, GL_FLOAT, GL_FALSE);
    attribute(attributeDiffuse, layout.diffuse, colorAttributeSize, GL_UNSIGNED_BYTE, GL_TRUE);
    attribute(attributeSpecular, layout.specular, colorAttributeSize, GL_UNSIGNED_BYTE, GL_TRUE);
    for (uint32_t s = 0; s < 2; ++s) {
        const uint32_t set = key.texCoordIndex[s];
        const int offset = set < uint32_t(layout.texCoordCount) ? layout.texCoord[set] : -1;
        attribute(attributeTexCoord0 + s, offset, 2, GL_FLOAT, GL_FALSE);
    }
}

void GlDevice::bindStageTextures(const GLuint names[2])
{
    if (life_->textureBindingsStale) {
        gl_.texturesKnown = false;
        life_->textureBindingsStale = false;
    }
    for (uint32_t s = 0; s < 2; ++s) {
        if (gl_.texturesKnown && gl_.texture[s] == names[s]) continue;
        const GLenum unit = GL_TEXTURE0 + static_cast<GLenum>(stageTextureUnit[s]);
        if (gl_.activeUnit != unit) glActiveTexture(unit);
        gl_.activeUnit = unit;
        glBindTexture(GL_TEXTURE_2D, names[s]);
        gl_.texture[s] = names[s];
    }
    gl_.texturesKnown = true;
}

void GlDevice::useProgramFor(const ShaderState& state, bool points)
{
    GLuint program = generalProgram_;
    if (specialise_) {
        ProgramKey key = programKey(state);
        key.flatInputs = points ? 1 : 0;
        const auto found = programs_.find(key);
        if (found != programs_.end()) {
            if (found->second) program = found->second;
        } else if (programs_.size() < maxSpecialisedPrograms) {
            // Built on first use. A refusal is remembered so it is not retried every draw; the
            // general program renders the same, only slower.
            std::string error;
            const GLuint built = buildFixedFunctionProgram(error, &key);
            programs_.emplace(key, built);
            if (built) program = currentProgram_ = built;  // the build leaves it in use
        }
    }
    lastDrawSpecialised_ = program != generalProgram_;
    if (currentProgram_ != program) glUseProgram(program);
    currentProgram_ = program;
}

void GlDevice::uploadShaderState(const ShaderState& state)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&state);
    const auto* held = reinterpret_cast<const unsigned char*>(&uploaded_);
    const bool drawChanged = !uploadedValid_ || std::memcmp(bytes, held, drawStateBytes) != 0;
    const bool frameChanged =
        !uploadedValid_ || std::memcmp(bytes + drawStateBytes, held + drawStateBytes, sizeof state - drawStateBytes) != 0;
    if (drawChanged) {
        glBindBuffer(GL_UNIFORM_BUFFER, drawStateBuffer_);
        glBufferSubData(GL_UNIFORM_BUFFER, 0, drawStateBytes, bytes);
    }
    if (frameChanged) {
        glBindBuffer(GL_UNIFORM_BUFFER, frameStateBuffer_);
        glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof state - drawStateBytes, bytes + drawStateBytes);
    }
    uploaded_ = state;
    uploadedValid_ = true;
}

bool GlDevice::prepareDraw(int64_t firstVertex, int64_t vertexCount, uint32_t primitiveType)
{
    auto* buffer = dynamic_cast<GlVertexBuffer*>(streamSource());
    const VertexLayout layout = vertexLayout(fvf());
    if (!buffer || !layout.valid || streamStride() == 0 || firstVertex < 0 || vertexCount <= 0) return false;
    // GL does not check reads past a buffer's end; such a draw is dropped instead.
    const int64_t end = int64_t(streamOffset()) + (firstVertex + vertexCount - 1) * int64_t(streamStride()) +
                        int64_t(vertexSize(fvf()));
    if (end > int64_t(buffer->length())) return false;

    clearPendingColor();
    // Only a draw with the depth test reads or writes depth.
    if (depthClearPending_ && renderState(D3DRS_ZENABLE) != D3DZB_FALSE) clearPendingDepth();
    if (pipelineDirty_) applyPipelineState();
    if (samplersDirty_) applySamplers();
    bool hasTexture[2];
    GLuint textureNames[2];
    for (uint32_t s = 0; s < 2; ++s) {
        auto* t = dynamic_cast<GlTexture*>(texture(s));
        hasTexture[s] = t != nullptr;
        textureNames[s] = t ? t->drawableName() : 0;
    }
    bindStageTextures(textureNames);
    const ShaderState state = gatherShaderState(*this, static_cast<float>(width_), static_cast<float>(height_), hasTexture);
    useProgramFor(state, primitiveType == D3DPT_POINTLIST);
    uploadShaderState(state);
    bindVertexInput(layout, buffer->serial(), buffer->drawableName());
    return true;
}

bool GlDevice::prepareIndexedDraw(int baseVertex, uint16_t lowest, uint16_t highest, uint32_t primitiveType)
{
    // Without base-vertex draws (ES) the attribute pointers start baseVertex vertices later
    // instead; a shift before the buffer's start cannot be expressed and the draw is dropped.
    vertexShift_ = glesDevice ? int64_t(baseVertex) * int64_t(streamStride()) : 0;
    const bool ok = int64_t(streamOffset()) + vertexShift_ >= 0 &&
                    prepareDraw(int64_t(baseVertex) + lowest, int64_t(highest) - lowest + 1, primitiveType);
    vertexShift_ = 0;
    return ok;
}

// ---- Drawing ----

void GlDevice::issueDrawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount)
{
    const uint32_t count = verticesForPrimitives(primitiveType, primitiveCount);
    if (count == 0 || !prepareDraw(startVertex, count, primitiveType)) return;
    glDrawArrays(primitiveMode(primitiveType), static_cast<GLint>(startVertex), static_cast<GLsizei>(count));
}

void GlDevice::bindIndexBuffer(GLuint name, uint64_t serial)
{
    // The index binding belongs to the vertex array bound by prepareDraw.
    if (boundArray_->indexSerial != serial) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name);
        boundArray_->indexSerial = serial;
    }
}

void GlDevice::issueDrawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t /*minIndex*/,
                                         uint32_t /*numVertices*/, uint32_t startIndex, uint32_t primitiveCount)
{
    auto* indexBuffer = dynamic_cast<GlIndexBuffer*>(indices());
    const uint32_t count = verticesForPrimitives(primitiveType, primitiveCount);
    if (!indexBuffer || count == 0 || (uint64_t(startIndex) + count) * 2 > indexBuffer->length()) return;
    // The vertex range comes from the indices themselves rather than the caller's hint, so a
    // wrong hint cannot make GL read outside the buffer.
    uint16_t lowest = 0, highest = 0;
    indexBuffer->indexRange(startIndex, count, lowest, highest);
    // Uploaded first: on ES the upload unbinds the vertex array prepareDraw binds.
    const GLuint indexName = indexBuffer->drawableName();
    if (!prepareIndexedDraw(baseVertex, lowest, highest, primitiveType)) return;
    bindIndexBuffer(indexName, indexBuffer->serial());
    glDrawElementsBaseVertex(primitiveMode(primitiveType), static_cast<GLsizei>(count), GL_UNSIGNED_SHORT,
                             byteOffset(uint64_t(startIndex) * 2), baseVertex);
}

void GlDevice::issueDrawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t /*minIndex*/,
                                      uint32_t /*numVertices*/, const IndexRange* ranges, size_t rangeCount)
{
    auto* indexBuffer = dynamic_cast<GlIndexBuffer*>(indices());
    if (!indexBuffer || rangeCount == 0) return;
    rangeCounts_.clear();
    rangeOffsets_.clear();
    for (size_t i = 0; i < rangeCount; ++i) {
        const uint32_t count = verticesForPrimitives(primitiveType, ranges[i].primitiveCount);
        // Runs past the buffer's end are dropped, as single draws are.
        if (count == 0 || (uint64_t(ranges[i].startIndex) + count) * 2 > indexBuffer->length()) continue;
        // ES draws each run on its own, and a draw call costs far more in a browser than a run
        // of a multi-draw: a run that starts where the last one ended joins it (the same
        // triangles in the same order).
        if (glesDevice && !rangeCounts_.empty() &&
            rangeOffsets_.back() == byteOffset((uint64_t(ranges[i].startIndex) - uint64_t(rangeCounts_.back())) * 2) &&
            ranges[i].startIndex >= uint32_t(rangeCounts_.back())) {
            rangeCounts_.back() += static_cast<GLsizei>(count);
            continue;
        }
        rangeCounts_.push_back(static_cast<GLsizei>(count));
        rangeOffsets_.push_back(byteOffset(uint64_t(ranges[i].startIndex) * 2));
    }
    if (rangeCounts_.empty()) return;
    // Every run lies within the buffer, so the buffer's own index range bounds the vertices read.
    uint16_t lowest = 0, highest = 0;
    indexBuffer->wholeRange(lowest, highest);
    const GLuint indexName = indexBuffer->drawableName();
    if (!prepareIndexedDraw(baseVertex, lowest, highest, primitiveType)) return;
    bindIndexBuffer(indexName, indexBuffer->serial());
    rangeBaseVertices_.assign(rangeCounts_.size(), baseVertex);
    glMultiDrawElementsBaseVertex(primitiveMode(primitiveType), rangeCounts_.data(), GL_UNSIGNED_SHORT,
                                  rangeOffsets_.data(), static_cast<GLsizei>(rangeCounts_.size()),
                                  rangeBaseVertices_.data());
}
