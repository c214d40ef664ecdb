#pragma once

// The graphics device the game draws through. It keeps the fixed-function model, state names
// and numeric values of the platform interface the game was designed against, so the calling
// code reads like the design; src/platform/gl implements it on OpenGL and tests/support records
// it in memory.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "math/matrix4.h"
#include "device/page_block.h"

// ---- Constants (names and values of the design's graphics interface) ----

// Render states and their values.
inline constexpr uint32_t D3DRS_ZENABLE = 7;
inline constexpr uint32_t D3DRS_FILLMODE = 8;
inline constexpr uint32_t D3DRS_ZWRITEENABLE = 14;
inline constexpr uint32_t D3DRS_ALPHATESTENABLE = 15;
inline constexpr uint32_t D3DRS_SRCBLEND = 19;
inline constexpr uint32_t D3DRS_DESTBLEND = 20;
inline constexpr uint32_t D3DRS_CULLMODE = 22;
inline constexpr uint32_t D3DRS_ZFUNC = 23;
inline constexpr uint32_t D3DRS_ALPHAREF = 24;
inline constexpr uint32_t D3DRS_ALPHAFUNC = 25;
inline constexpr uint32_t D3DRS_DITHERENABLE = 26;
inline constexpr uint32_t D3DRS_ALPHABLENDENABLE = 27;
inline constexpr uint32_t D3DRS_FOGENABLE = 28;
inline constexpr uint32_t D3DRS_SPECULARENABLE = 29;
inline constexpr uint32_t D3DRS_STENCILENABLE = 52;
inline constexpr uint32_t D3DRS_CLIPPING = 136;
inline constexpr uint32_t D3DRS_LIGHTING = 137;
inline constexpr uint32_t D3DRS_AMBIENT = 139;
inline constexpr uint32_t D3DRS_COLORVERTEX = 141;
inline constexpr uint32_t D3DRS_VERTEXBLEND = 151;
inline constexpr uint32_t D3DRS_CLIPPLANEENABLE = 152;
inline constexpr uint32_t D3DRS_POINTSIZE = 154;
inline constexpr uint32_t D3DRS_INDEXEDVERTEXBLENDENABLE = 167;
inline constexpr uint32_t D3DRS_COLORWRITEENABLE = 168;
inline constexpr uint32_t renderStateCount = 256;

inline constexpr uint32_t D3DZB_FALSE = 0;
inline constexpr uint32_t D3DZB_TRUE = 1;
inline constexpr uint32_t D3DFILL_SOLID = 3;
inline constexpr uint32_t D3DCULL_NONE = 1;
inline constexpr uint32_t D3DCULL_CW = 2;
inline constexpr uint32_t D3DCULL_CCW = 3;
inline constexpr uint32_t D3DBLEND_ZERO = 1;
inline constexpr uint32_t D3DBLEND_ONE = 2;
inline constexpr uint32_t D3DBLEND_SRCALPHA = 5;
inline constexpr uint32_t D3DBLEND_INVSRCALPHA = 6;
inline constexpr uint32_t D3DCMP_NEVER = 1;
inline constexpr uint32_t D3DCMP_LESS = 2;
inline constexpr uint32_t D3DCMP_EQUAL = 3;
inline constexpr uint32_t D3DCMP_LESSEQUAL = 4;
inline constexpr uint32_t D3DCMP_GREATER = 5;
inline constexpr uint32_t D3DCMP_NOTEQUAL = 6;
inline constexpr uint32_t D3DCMP_GREATEREQUAL = 7;
inline constexpr uint32_t D3DCMP_ALWAYS = 8;
inline constexpr uint32_t D3DVBF_DISABLE = 0;

// Texture-stage states and their values.
inline constexpr uint32_t D3DTSS_COLOROP = 1;
inline constexpr uint32_t D3DTSS_COLORARG1 = 2;
inline constexpr uint32_t D3DTSS_COLORARG2 = 3;
inline constexpr uint32_t D3DTSS_ALPHAOP = 4;
inline constexpr uint32_t D3DTSS_ALPHAARG1 = 5;
inline constexpr uint32_t D3DTSS_ALPHAARG2 = 6;
inline constexpr uint32_t D3DTSS_TEXCOORDINDEX = 11;
inline constexpr uint32_t D3DTSS_TEXTURETRANSFORMFLAGS = 24;
inline constexpr uint32_t textureStageStateCount = 33;

inline constexpr uint32_t D3DTOP_DISABLE = 1;
inline constexpr uint32_t D3DTOP_SELECTARG1 = 2;
inline constexpr uint32_t D3DTOP_SELECTARG2 = 3;
inline constexpr uint32_t D3DTOP_MODULATE = 4;
inline constexpr uint32_t D3DTOP_ADD = 7;
inline constexpr uint32_t D3DTOP_ADDSIGNED = 8;
inline constexpr uint32_t D3DTA_DIFFUSE = 0;
inline constexpr uint32_t D3DTA_CURRENT = 1;
inline constexpr uint32_t D3DTA_TEXTURE = 2;
inline constexpr uint32_t D3DTTFF_DISABLE = 0;

// Sampler states and filters.
inline constexpr uint32_t D3DSAMP_MAGFILTER = 5;
inline constexpr uint32_t D3DSAMP_MINFILTER = 6;
inline constexpr uint32_t D3DSAMP_MIPFILTER = 7;
inline constexpr uint32_t samplerStateCount = 14;
inline constexpr uint32_t D3DTEXF_NONE = 0;
inline constexpr uint32_t D3DTEXF_POINT = 1;
inline constexpr uint32_t D3DTEXF_LINEAR = 2;

// Transforms.
inline constexpr uint32_t D3DTS_VIEW = 2;
inline constexpr uint32_t D3DTS_PROJECTION = 3;
inline constexpr uint32_t D3DTS_WORLD = 256;

// Flexible vertex format bits.
inline constexpr uint32_t D3DFVF_XYZ = 0x002;
inline constexpr uint32_t D3DFVF_XYZRHW = 0x004;
inline constexpr uint32_t D3DFVF_NORMAL = 0x010;
inline constexpr uint32_t D3DFVF_DIFFUSE = 0x040;
inline constexpr uint32_t D3DFVF_SPECULAR = 0x080;
inline constexpr uint32_t D3DFVF_TEX1 = 0x100;
inline constexpr uint32_t D3DFVF_TEX2 = 0x200;
inline constexpr uint32_t D3DFVF_TEXCOUNT_MASK = 0xF00;
inline constexpr uint32_t D3DFVF_TEXCOUNT_SHIFT = 8;

// Primitive types.
inline constexpr uint32_t D3DPT_POINTLIST = 1;
inline constexpr uint32_t D3DPT_LINELIST = 2;
inline constexpr uint32_t D3DPT_LINESTRIP = 3;
inline constexpr uint32_t D3DPT_TRIANGLELIST = 4;
inline constexpr uint32_t D3DPT_TRIANGLESTRIP = 5;
inline constexpr uint32_t D3DPT_TRIANGLEFAN = 6;

// Resource usage, pools, lock flags, formats.
inline constexpr uint32_t D3DUSAGE_WRITEONLY = 0x8;
inline constexpr uint32_t D3DUSAGE_DYNAMIC = 0x200;
inline constexpr uint32_t D3DPOOL_DEFAULT = 0;
inline constexpr uint32_t D3DPOOL_MANAGED = 1;
inline constexpr uint32_t D3DLOCK_DISCARD = 0x2000;
inline constexpr uint32_t D3DFMT_UNKNOWN = 0;
inline constexpr uint32_t D3DFMT_A8R8G8B8 = 21;
inline constexpr uint32_t D3DFMT_X8R8G8B8 = 22;
inline constexpr uint32_t D3DFMT_R5G6B5 = 23;
inline constexpr uint32_t D3DFMT_X1R5G5B5 = 24;
inline constexpr uint32_t D3DFMT_A1R5G5B5 = 25;
inline constexpr uint32_t D3DFMT_A4R4G4B4 = 26;
inline constexpr uint32_t D3DFMT_D16 = 80;
inline constexpr uint32_t D3DFMT_INDEX16 = 101;

// Clear flags.
inline constexpr uint32_t D3DCLEAR_TARGET = 0x1;
inline constexpr uint32_t D3DCLEAR_ZBUFFER = 0x2;

// Device creation.
inline constexpr uint32_t D3D_SDK_VERSION = 31;
inline constexpr uint32_t D3DDEVTYPE_HAL = 1;
inline constexpr uint32_t D3DCREATE_PUREDEVICE = 0x10;
inline constexpr uint32_t D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
inline constexpr uint32_t D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
inline constexpr uint32_t D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;
inline constexpr uint32_t D3DSWAPEFFECT_DISCARD = 1;
inline constexpr uint32_t D3DSWAPEFFECT_FLIP = 2;
inline constexpr uint32_t D3DPRESENT_INTERVAL_ONE = 1;

// Lights.
inline constexpr uint32_t D3DLIGHT_DIRECTIONAL = 3;

// ---- Plain records ----

struct ColorValue {
    float r, g, b, a;
};

struct Light {
    uint32_t type;
    ColorValue diffuse;
    ColorValue specular;
    ColorValue ambient;
    Vec3 position;
    Vec3 direction;
    float range, falloff, attenuation0, attenuation1, attenuation2, theta, phi;
};

struct Material {
    ColorValue diffuse;
    ColorValue ambient;
    ColorValue specular;
    ColorValue emissive;
    float power;
};

struct DisplayMode {
    uint32_t width, height, refreshRate, format;
};

struct PresentParameters {
    uint32_t backBufferWidth, backBufferHeight, backBufferFormat, backBufferCount;
    uint32_t multiSampleType, multiSampleQuality, swapEffect;
    void* deviceWindow;
    int windowed;
    int enableAutoDepthStencil;
    uint32_t autoDepthStencilFormat, flags, fullScreenRefreshRateInHz, presentationInterval;
};

// An RGBA8 picture, rows top to bottom.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Bytes per vertex of a flexible vertex format.
uint32_t vertexSize(uint32_t fvf);

// ---- Resources: the CPU copy stays, so every buffer and texture level can be locked again ----

// A number no resource has had before: each takes a new one when made and whenever a lock may
// have changed it (a vertex buffer only when its bytes did), so an equal version means the same
// contents.
uint64_t newResourceVersion();

class GraphicsDevice;

// How a resource reaches the device that made it, to say it is about to be written. The device
// clears it when it goes, so a resource that outlives its device tells nobody.
struct DeviceLink {
    GraphicsDevice* device = nullptr;
};

class VertexBuffer {
public:
    VertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool);
    virtual ~VertexBuffer();
    VertexBuffer(const VertexBuffer&) = delete;
    VertexBuffer& operator=(const VertexBuffer&) = delete;

    // size 0 locks from offset to the end. Returns null for a range outside the buffer.
    uint8_t* lock(uint32_t offset, uint32_t size, uint32_t flags);
    void unlock();

    uint32_t length() const { return static_cast<uint32_t>(data_.size()); }
    uint32_t usage() const { return usage_; }
    uint32_t fvf() const { return fvf_; }
    uint32_t pool() const { return pool_; }
    const uint8_t* data() const { return data_.data(); }
    bool locked() const { return locked_; }
    uint64_t version() const { return version_; }

protected:
    // Tells the device that made it of a write or an end to come: held draws that read it are
    // drawn first. A derived destructor that frees what draws read calls it before.
    void noteWrite();
    // The changed range after an unlock; the device uploads it.
    virtual void onUnlock(uint32_t /*offset*/, uint32_t /*size*/, bool /*discard*/) {}

private:
    friend class GraphicsDevice;
    std::shared_ptr<DeviceLink> link_;
    std::vector<uint8_t> data_;
    uint32_t usage_, fvf_, pool_;
    bool locked_ = false;
    bool lockedBytesKept_ = false;
    uint32_t lockOffset_ = 0, lockSize_ = 0, lockFlags_ = 0;
    uint64_t version_ = newResourceVersion();
    std::vector<uint8_t> lockedBytes_;  // the locked range as it was at a lock inside a held layer
    static constexpr size_t keptLockBytes = 65536;
};

class IndexBuffer {
public:
    IndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool);
    virtual ~IndexBuffer();
    IndexBuffer(const IndexBuffer&) = delete;
    IndexBuffer& operator=(const IndexBuffer&) = delete;

    uint8_t* lock(uint32_t offset, uint32_t size, uint32_t flags);
    void unlock();

    uint32_t length() const { return static_cast<uint32_t>(data_.size()); }
    uint32_t format() const { return format_; }
    const uint8_t* data() const { return data_.data(); }
    uint64_t version() const { return version_; }

protected:
    void noteWrite();  // as VertexBuffer's
    virtual void onUnlock() {}

private:
    friend class GraphicsDevice;
    std::shared_ptr<DeviceLink> link_;
    std::vector<uint8_t> data_;
    // Usage and pool are kept as the caller gave them; nothing here depends on them yet.
    [[maybe_unused]] uint32_t usage_;
    uint32_t format_;
    [[maybe_unused]] uint32_t pool_;
    bool locked_ = false;
    uint64_t version_ = newResourceVersion();
};

struct LockedRect {
    int pitch = 0;      // bytes from one row to the next
    uint8_t* bits = nullptr;
};

class Texture {
public:
    // levels 0 means the full chain down to 1 x 1.
    Texture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format, uint32_t pool);
    virtual ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    uint32_t width(uint32_t level = 0) const;
    uint32_t height(uint32_t level = 0) const;
    uint32_t levelCount() const { return static_cast<uint32_t>(levels_.size()); }
    uint32_t format() const { return format_; }
    uint32_t bytesPerTexel() const;
    uint64_t version() const { return version_; }

    // The whole level; bits is null for a level that does not exist.
    LockedRect lockRect(uint32_t level);
    void unlockRect(uint32_t level);
    std::span<const uint8_t> levelData(uint32_t level) const { return {levels_[level].data(), levels_[level].size()}; }

protected:
    void noteWrite();  // as VertexBuffer's
    virtual void onUnlock(uint32_t /*level*/) {}

private:
    friend class GraphicsDevice;
    std::shared_ptr<DeviceLink> link_;
    uint32_t width_, height_;
    [[maybe_unused]] uint32_t usage_;  // kept as given, like a buffer's
    uint32_t format_;
    [[maybe_unused]] uint32_t pool_;
    std::vector<PageBlock> levels_;  // zeroed when made
    uint64_t version_ = newResourceVersion();
};

class GraphicsDevice;

// A programmable pixel stage. The program never makes one: it only asks for none, which leaves
// the fixed-function stages in charge.
class PixelShader;

// A recorded list of state assignments. capture() copies the device's current values of exactly
// those states into the block; apply() sets them on the device.
class StateBlock {
public:
    explicit StateBlock(GraphicsDevice& device) : device_(device) {}
    void capture();
    void apply();

    enum class Kind { Render, TextureStage, Sampler, Texture };
    struct Entry {
        Kind kind;
        uint32_t index;   // stage or sampler
        uint32_t type;
        uint32_t value;
        Texture* texture;
    };
    std::vector<Entry>& entries() { return entries_; }

private:
    GraphicsDevice& device_;
    std::vector<Entry> entries_;
};

// A run of the bound index buffer: where it starts and how many primitives it holds.
struct IndexRange {
    uint32_t startIndex;
    uint32_t primitiveCount;
};

// ---- The device ----

class LayerKeeper;

class GraphicsDevice {
public:
    GraphicsDevice();
    virtual ~GraphicsDevice();
    GraphicsDevice(const GraphicsDevice&) = delete;
    GraphicsDevice& operator=(const GraphicsDevice&) = delete;

    // Resources. Null when the device cannot create one.
    std::unique_ptr<VertexBuffer> createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool);
    std::unique_ptr<IndexBuffer> createIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool);
    std::unique_ptr<Texture> createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                           uint32_t format, uint32_t pool);
    virtual int maxTextureWidth() const = 0;

    // Frame.
    void clear(uint32_t flags, uint32_t argb, float z, uint32_t stencil);
    virtual void beginScene() = 0;
    virtual void endScene() = 0;
    virtual void present() = 0;
    // The back buffer as it stands now (call before present). False when it cannot be read.
    virtual bool readBackBuffer(RgbaImage& out) = 0;

    // Drawing with the current state. While a layer is open (below) the draws are held back.
    void drawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount);
    void drawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                              uint32_t startIndex, uint32_t primitiveCount);
    // The runs in order, as drawIndexedPrimitive would draw them one after another.
    void drawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                           const IndexRange* ranges, size_t rangeCount);

    // A kept layer of the frame's opening draws (device/layer_keeper.h): opened right after a clear
    // of target and depth, closed after the draws that stay the same while the camera stands.
    void openLayer();
    void closeLayer();
    // Off, every layer is drawn; for comparing the two paths.
    void setLayersKept(bool on);
    // Whether the last closed layer put kept pixels back instead of drawing.
    bool lastLayerRestored() const;

    // State. Kept here, so every device implementation and state block sees the same values;
    // while a state block is being recorded the render, stage, sampler and texture settings go
    // into the block instead of the device.
    void setRenderState(uint32_t state, uint32_t value);
    void setTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
    void setSamplerState(uint32_t sampler, uint32_t type, uint32_t value);
    void setTexture(uint32_t stage, Texture* texture);
    void setTransform(uint32_t type, const Matrix4& m);
    void setLight(uint32_t index, const Light& light);
    void lightEnable(uint32_t index, bool enable);
    void setMaterial(const Material& material);
    void setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride);
    void setFVF(uint32_t fvf);
    void setIndices(IndexBuffer* indices);
    void setPixelShader(PixelShader* shader);
    void beginStateBlock();
    std::unique_ptr<StateBlock> endStateBlock();

    static constexpr uint32_t stageCount = 2;
    static constexpr uint32_t lightCount = 8;

    uint32_t renderState(uint32_t state) const { return state < renderStateCount ? state_.renderStates[state] : 0; }
    uint32_t textureStageState(uint32_t stage, uint32_t type) const;
    uint32_t samplerState(uint32_t sampler, uint32_t type) const;
    Texture* texture(uint32_t stage) const { return stage < stageCount ? state_.textures[stage] : nullptr; }
    const Matrix4& transform(uint32_t type) const;
    const Light& light(uint32_t index) const { return state_.lights[index % lightCount]; }
    bool lightEnabled(uint32_t index) const { return state_.lightEnabled[index % lightCount]; }
    const Material& material() const { return state_.material; }
    // Whether the stage's colour or alpha operation reads its texture (D3DTA_TEXTURE, modifiers
    // ignored), texture bound or not.
    bool stageReadsTexture(uint32_t stage) const;
    // Whether the stage changes what a draw shows: it and every stage before it are enabled, and
    // its texture is there if it reads one. A stage whose texture could not be made passes the
    // colour and alpha through unchanged, as if it were switched off for that draw.
    bool stageContributes(uint32_t stage) const;
    VertexBuffer* streamSource() const { return state_.streamBuffer; }
    uint32_t streamOffset() const { return state_.streamOffset; }
    uint32_t streamStride() const { return state_.streamStride; }
    uint32_t fvf() const { return state_.fvf; }
    IndexBuffer* indices() const { return state_.indices; }
    PixelShader* pixelShader() const { return state_.pixelShader; }

    // Everything a draw reads besides the resources' contents. No padding, so equal states
    // compare equal byte for byte.
    struct DeviceState {
        Texture* textures[stageCount] = {};
        VertexBuffer* streamBuffer = nullptr;
        IndexBuffer* indices = nullptr;
        PixelShader* pixelShader = nullptr;
        uint32_t renderStates[renderStateCount] = {};
        uint32_t stageStates[stageCount][textureStageStateCount] = {};
        uint32_t samplerStates[stageCount][samplerStateCount] = {};
        Matrix4 world{}, view{}, projection{};
        Light lights[lightCount] = {};
        Material material{};
        uint32_t streamOffset = 0, streamStride = 0, fvf = 0;
        bool lightEnabled[lightCount] = {};
    };

protected:
    // The resources of this device, made by createVertexBuffer and the like.
    virtual std::unique_ptr<VertexBuffer> makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) = 0;
    virtual std::unique_ptr<IndexBuffer> makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool) = 0;
    virtual std::unique_ptr<Texture> makeTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                                 uint32_t format, uint32_t pool) = 0;
    // What the public calls of the same names do on the device.
    virtual void issueClear(uint32_t flags, uint32_t argb, float z, uint32_t stencil) = 0;
    virtual void issueDrawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount) = 0;
    virtual void issueDrawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex,
                                           uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount) = 0;
    // A device that can hand the runs to the driver in one call does.
    virtual void issueDrawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                                        const IndexRange* ranges, size_t rangeCount);
    // The kept layer's hooks: whether the device can keep pixels at all (if not, no layer is ever
    // held and every call passes through in order); copy the render target's colour, and depth if
    // asked, aside / back over the whole target, false when that fails (the layer is then drawn).
    virtual bool canKeepLayerPixels() const { return false; }
    virtual bool keepLayerPixels(bool /*depth*/) { return false; }
    virtual bool restoreLayerPixels(bool /*depth*/) { return false; }
    // The whole state was replaced at once (held draws are drawn with the state they were given).
    virtual void onStateReplaced() {}

    // Told after a state has changed, for devices that log or cache.
    virtual void onRenderState(uint32_t /*state*/, uint32_t /*value*/) {}
    virtual void onTextureStageState(uint32_t /*stage*/, uint32_t /*type*/, uint32_t /*value*/) {}
    virtual void onSamplerState(uint32_t /*sampler*/, uint32_t /*type*/, uint32_t /*value*/) {}
    virtual void onTexture(uint32_t /*stage*/, Texture* /*texture*/) {}
    virtual void onTransform(uint32_t /*type*/, const Matrix4& /*m*/) {}
    virtual void onLight(uint32_t /*index*/, const Light& /*light*/) {}
    virtual void onLightEnable(uint32_t /*index*/, bool /*enable*/) {}
    virtual void onMaterial(const Material& /*material*/) {}
    virtual void onStreamSource(uint32_t /*stream*/, VertexBuffer* /*buffer*/, uint32_t /*offset*/, uint32_t /*stride*/) {}
    virtual void onFVF(uint32_t /*fvf*/) {}
    virtual void onIndices(IndexBuffer* /*indices*/) {}
    virtual void onPixelShader(PixelShader* /*shader*/) {}

private:
    friend class LayerKeeper;
    friend class VertexBuffer;
    friend class IndexBuffer;
    friend class Texture;
    // Told by a resource of this device about to be written or destroyed.
    void resourceWritten(const void* resource);
    // Whether a lock now happens inside a held layer, where its old bytes are compared.
    bool holdingLayer() const;

    DeviceState state_;
    std::shared_ptr<DeviceLink> link_ = std::make_shared<DeviceLink>();
    std::unique_ptr<LayerKeeper> keeper_;
    std::unique_ptr<StateBlock> recording_;
};

// The platform graphics object the device is created from: adapter queries and creation along
// the requested vertex-processing mode.
class GraphicsSystem {
public:
    virtual ~GraphicsSystem() = default;
    // Desktop display mode of the default adapter.
    virtual bool adapterDisplayMode(DisplayMode& mode) = 0;
    virtual bool checkDeviceType(uint32_t deviceType, uint32_t adapterFormat, uint32_t backBufferFormat, bool windowed) = 0;
    // Null when this mode of vertex processing is not available; lastError() then says why.
    virtual std::unique_ptr<GraphicsDevice> createDevice(uint32_t deviceType, void* focusWindow, uint32_t behaviorFlags,
                                                         PresentParameters& parameters) = 0;
    virtual std::string lastError() const { return {}; }
};
