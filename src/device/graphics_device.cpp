#include "device/graphics_device.h"

#include <algorithm>
#include <cstring>

#include "device/layer_keeper.h"

namespace {

uint64_t lastResourceVersion = 0;

}  // namespace

uint64_t newResourceVersion() { return ++lastResourceVersion; }

uint32_t vertexSize(uint32_t fvf)
{
    uint32_t size = 0;
    if (fvf & D3DFVF_XYZ) size += 12;
    if (fvf & D3DFVF_XYZRHW) size += 16;
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    size += 8 * ((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    return size;
}

// ---- VertexBuffer ----

VertexBuffer::VertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
    : data_(length, 0), usage_(usage), fvf_(fvf), pool_(pool)
{
}

VertexBuffer::~VertexBuffer() { noteWrite(); }
void VertexBuffer::noteWrite()
{
    if (link_ && link_->device) link_->device->resourceWritten(this);
}

uint8_t* VertexBuffer::lock(uint32_t offset, uint32_t size, uint32_t flags)
{
    if (offset > data_.size()) return nullptr;
    if (size == 0) size = length() - offset;
    if (size > length() - offset) return nullptr;
    noteWrite();
    // Inside a held layer the old bytes are kept to tell at the unlock whether they changed at
    // all: a buffer written again with the same bytes (text that stays the same) keeps its
    // version, and the layer can still be put back. Elsewhere any lock is a change.
    lockedBytesKept_ = link_ && link_->device && link_->device->holdingLayer();
    if (lockedBytesKept_) lockedBytes_.assign(data_.begin() + offset, data_.begin() + offset + size);
    locked_ = true;
    lockOffset_ = offset;
    lockSize_ = size;
    lockFlags_ = flags;
    return data_.data() + offset;
}

void VertexBuffer::unlock()
{
    if (!locked_) return;
    locked_ = false;
    if (!lockedBytesKept_ || std::memcmp(lockedBytes_.data(), data_.data() + lockOffset_, lockSize_) != 0)
        version_ = newResourceVersion();
    // Large buffers are written once; their copy is not worth holding on to.
    if (lockedBytes_.capacity() > keptLockBytes) lockedBytes_ = {};
    onUnlock(lockOffset_, lockSize_, (lockFlags_ & D3DLOCK_DISCARD) != 0);
}

// ---- IndexBuffer ----

IndexBuffer::IndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
    : data_(length, 0), usage_(usage), format_(format), pool_(pool)
{
}

IndexBuffer::~IndexBuffer() { noteWrite(); }
void IndexBuffer::noteWrite()
{
    if (link_ && link_->device) link_->device->resourceWritten(this);
}

uint8_t* IndexBuffer::lock(uint32_t offset, uint32_t size, uint32_t /*flags*/)
{
    if (offset > data_.size()) return nullptr;
    if (size == 0) size = length() - offset;
    if (size > length() - offset) return nullptr;
    noteWrite();
    version_ = newResourceVersion();
    locked_ = true;
    return data_.data() + offset;
}

void IndexBuffer::unlock()
{
    if (!locked_) return;
    locked_ = false;
    onUnlock();
}

// ---- Texture ----

Texture::Texture(uint32_t w, uint32_t h, uint32_t levels, uint32_t usage, uint32_t format, uint32_t pool)
    : width_(std::max(1u, w)), height_(std::max(1u, h)), usage_(usage), format_(format), pool_(pool)
{
    uint32_t full = 1;
    for (uint32_t lw = width_, lh = height_; lw > 1 || lh > 1; lw = std::max(1u, lw / 2), lh = std::max(1u, lh / 2)) ++full;
    const uint32_t count = (levels == 0 || levels > full) ? full : levels;
    levels_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) levels_.emplace_back(size_t(width(i)) * height(i) * bytesPerTexel());
}

Texture::~Texture() { noteWrite(); }
void Texture::noteWrite()
{
    if (link_ && link_->device) link_->device->resourceWritten(this);
}

uint32_t Texture::width(uint32_t level) const { return std::max(1u, width_ >> level); }
uint32_t Texture::height(uint32_t level) const { return std::max(1u, height_ >> level); }

uint32_t Texture::bytesPerTexel() const
{
    switch (format_) {
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
        return 2;
    default:
        return 4;
    }
}

LockedRect Texture::lockRect(uint32_t level)
{
    if (level >= levels_.size()) return {};
    noteWrite();
    version_ = newResourceVersion();
    return {static_cast<int>(width(level) * bytesPerTexel()), levels_[level].data()};
}

void Texture::unlockRect(uint32_t level)
{
    if (level < levels_.size()) onUnlock(level);
}

// ---- StateBlock ----

void StateBlock::capture()
{
    for (Entry& e : entries_) {
        switch (e.kind) {
        case Kind::Render: e.value = device_.renderState(e.type); break;
        case Kind::TextureStage: e.value = device_.textureStageState(e.index, e.type); break;
        case Kind::Sampler: e.value = device_.samplerState(e.index, e.type); break;
        case Kind::Texture: e.texture = device_.texture(e.index); break;
        }
    }
}

void StateBlock::apply()
{
    for (const Entry& e : entries_) {
        switch (e.kind) {
        case Kind::Render: device_.setRenderState(e.type, e.value); break;
        case Kind::TextureStage: device_.setTextureStageState(e.index, e.type, e.value); break;
        case Kind::Sampler: device_.setSamplerState(e.index, e.type, e.value); break;
        case Kind::Texture: device_.setTexture(e.index, e.texture); break;
        }
    }
}

// ---- GraphicsDevice ----

// Equal bytes must mean equal states: a state with padding could differ in bytes nobody set.
// Where this fires, a field was added or changed type; order the fields so none leaves a gap,
// then count it here.
static_assert(sizeof(GraphicsDevice::DeviceState) ==
                  5 * sizeof(void*) +
                      4 * (renderStateCount + GraphicsDevice::stageCount * textureStageStateCount +
                           GraphicsDevice::stageCount * samplerStateCount + 3) +
                      3 * sizeof(Matrix4) + GraphicsDevice::lightCount * (sizeof(Light) + 1) + sizeof(Material),
              "GraphicsDevice::DeviceState has padding or a field this sum does not count: see the comment above");

GraphicsDevice::~GraphicsDevice()
{
    link_->device = nullptr;
}

std::unique_ptr<VertexBuffer> GraphicsDevice::createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
{
    std::unique_ptr<VertexBuffer> buffer = makeVertexBuffer(length, usage, fvf, pool);
    if (buffer) buffer->link_ = link_;
    return buffer;
}

std::unique_ptr<IndexBuffer> GraphicsDevice::createIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
{
    std::unique_ptr<IndexBuffer> buffer = makeIndexBuffer(length, usage, format, pool);
    if (buffer) buffer->link_ = link_;
    return buffer;
}

std::unique_ptr<Texture> GraphicsDevice::createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                                       uint32_t format, uint32_t pool)
{
    std::unique_ptr<Texture> texture = makeTexture(width, height, levels, usage, format, pool);
    if (texture) texture->link_ = link_;
    return texture;
}

void GraphicsDevice::resourceWritten(const void* resource) { keeper_->noteWrite(resource); }
bool GraphicsDevice::holdingLayer() const { return keeper_->holding(); }

void GraphicsDevice::clear(uint32_t flags, uint32_t argb, float z, uint32_t stencil)
{
    keeper_->noteClear(flags, argb, z);
    issueClear(flags, argb, z, stencil);
}

void GraphicsDevice::drawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount)
{
    if (keeper_->hold({LayerKeeper::DrawKind::Vertices, primitiveType, 0, 0, 0, startVertex, primitiveCount})) return;
    issueDrawPrimitive(primitiveType, startVertex, primitiveCount);
}

void GraphicsDevice::drawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex,
                                          uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount)
{
    if (keeper_->hold({LayerKeeper::DrawKind::Indexed, primitiveType, baseVertex, minIndex, numVertices, startIndex,
                       primitiveCount}))
        return;
    issueDrawIndexedPrimitive(primitiveType, baseVertex, minIndex, numVertices, startIndex, primitiveCount);
}

void GraphicsDevice::drawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                                       const IndexRange* ranges, size_t rangeCount)
{
    if (keeper_->hold({LayerKeeper::DrawKind::Ranges, primitiveType, baseVertex, minIndex, numVertices, 0,
                       static_cast<uint32_t>(rangeCount)},
                      ranges))
        return;
    issueDrawIndexedRanges(primitiveType, baseVertex, minIndex, numVertices, ranges, rangeCount);
}

void GraphicsDevice::openLayer() { keeper_->open(); }
void GraphicsDevice::closeLayer() { keeper_->close(); }
void GraphicsDevice::setLayersKept(bool on) { keeper_->setKept(on); }
bool GraphicsDevice::lastLayerRestored() const { return keeper_->lastRestored(); }

GraphicsDevice::GraphicsDevice() : keeper_(std::make_unique<LayerKeeper>(*this))
{
    link_->device = this;
    // The start values of the design's device.
    std::fill(std::begin(state_.renderStates), std::end(state_.renderStates), 0u);
    state_.renderStates[D3DRS_ZENABLE] = D3DZB_TRUE;  // a depth buffer is always created
    state_.renderStates[D3DRS_FILLMODE] = D3DFILL_SOLID;
    state_.renderStates[D3DRS_ZWRITEENABLE] = 1;
    state_.renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    state_.renderStates[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    state_.renderStates[D3DRS_CULLMODE] = D3DCULL_CCW;
    state_.renderStates[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    state_.renderStates[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    state_.renderStates[D3DRS_CLIPPING] = 1;
    state_.renderStates[D3DRS_LIGHTING] = 1;
    state_.renderStates[D3DRS_COLORVERTEX] = 1;
    state_.renderStates[D3DRS_POINTSIZE] = 0x3F800000;  // 1.0f
    state_.renderStates[D3DRS_COLORWRITEENABLE] = 0xF;

    for (uint32_t s = 0; s < stageCount; ++s) {
        std::fill(std::begin(state_.stageStates[s]), std::end(state_.stageStates[s]), 0u);
        state_.stageStates[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        state_.stageStates[s][D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        state_.stageStates[s][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        state_.stageStates[s][D3DTSS_COLORARG2] = D3DTA_CURRENT;
        state_.stageStates[s][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        state_.stageStates[s][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        state_.stageStates[s][D3DTSS_TEXCOORDINDEX] = s;
        std::fill(std::begin(state_.samplerStates[s]), std::end(state_.samplerStates[s]), 0u);
        state_.samplerStates[s][D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        state_.samplerStates[s][D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        state_.samplerStates[s][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    }
    state_.world = state_.view = state_.projection = identity();
    std::memset(state_.lights, 0, sizeof state_.lights);
    std::fill(std::begin(state_.lightEnabled), std::end(state_.lightEnabled), false);
    std::memset(&state_.material, 0, sizeof state_.material);
}

uint32_t GraphicsDevice::textureStageState(uint32_t stage, uint32_t type) const
{
    if (stage >= stageCount || type >= textureStageStateCount) return 0;
    return state_.stageStates[stage][type];
}

namespace {

bool opReadsTexture(uint32_t op, uint32_t arg1, uint32_t arg2)
{
    const bool first = (arg1 & 7) == D3DTA_TEXTURE, second = (arg2 & 7) == D3DTA_TEXTURE;
    if (op == D3DTOP_DISABLE) return false;
    if (op == D3DTOP_SELECTARG1) return first;
    if (op == D3DTOP_SELECTARG2) return second;
    return first || second;
}

}  // namespace

bool GraphicsDevice::stageReadsTexture(uint32_t stage) const
{
    if (stage >= stageCount) return false;
    const uint32_t* s = state_.stageStates[stage];
    // A disabled colour operation ends the cascade, alpha included.
    if (s[D3DTSS_COLOROP] == D3DTOP_DISABLE) return false;
    return opReadsTexture(s[D3DTSS_COLOROP], s[D3DTSS_COLORARG1], s[D3DTSS_COLORARG2]) ||
           opReadsTexture(s[D3DTSS_ALPHAOP], s[D3DTSS_ALPHAARG1], s[D3DTSS_ALPHAARG2]);
}

bool GraphicsDevice::stageContributes(uint32_t stage) const
{
    if (stage >= stageCount) return false;
    for (uint32_t s = 0; s <= stage; ++s)
        if (state_.stageStates[s][D3DTSS_COLOROP] == D3DTOP_DISABLE) return false;
    return !stageReadsTexture(stage) || state_.textures[stage] != nullptr;
}

uint32_t GraphicsDevice::samplerState(uint32_t sampler, uint32_t type) const
{
    if (sampler >= stageCount || type >= samplerStateCount) return 0;
    return state_.samplerStates[sampler][type];
}

const Matrix4& GraphicsDevice::transform(uint32_t type) const
{
    if (type == D3DTS_VIEW) return state_.view;
    if (type == D3DTS_PROJECTION) return state_.projection;
    return state_.world;
}

void GraphicsDevice::issueDrawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t minIndex,
                                            uint32_t numVertices, const IndexRange* ranges, size_t rangeCount)
{
    for (size_t i = 0; i < rangeCount; ++i)
        issueDrawIndexedPrimitive(primitiveType, baseVertex, minIndex, numVertices, ranges[i].startIndex,
                                  ranges[i].primitiveCount);
}

void GraphicsDevice::setRenderState(uint32_t state, uint32_t value)
{
    if (state >= renderStateCount) return;
    if (recording_) {
        recording_->entries().push_back({StateBlock::Kind::Render, 0, state, value, nullptr});
        return;
    }
    state_.renderStates[state] = value;
    onRenderState(state, value);
}

void GraphicsDevice::setTextureStageState(uint32_t stage, uint32_t type, uint32_t value)
{
    if (stage >= stageCount || type >= textureStageStateCount) return;
    if (recording_) {
        recording_->entries().push_back({StateBlock::Kind::TextureStage, stage, type, value, nullptr});
        return;
    }
    state_.stageStates[stage][type] = value;
    onTextureStageState(stage, type, value);
}

void GraphicsDevice::setSamplerState(uint32_t sampler, uint32_t type, uint32_t value)
{
    if (sampler >= stageCount || type >= samplerStateCount) return;
    if (recording_) {
        recording_->entries().push_back({StateBlock::Kind::Sampler, sampler, type, value, nullptr});
        return;
    }
    state_.samplerStates[sampler][type] = value;
    onSamplerState(sampler, type, value);
}

void GraphicsDevice::setTexture(uint32_t stage, Texture* texture)
{
    if (stage >= stageCount) return;
    if (recording_) {
        recording_->entries().push_back({StateBlock::Kind::Texture, stage, 0, 0, texture});
        return;
    }
    state_.textures[stage] = texture;
    onTexture(stage, texture);
}

void GraphicsDevice::setTransform(uint32_t type, const Matrix4& m)
{
    if (type == D3DTS_VIEW)
        state_.view = m;
    else if (type == D3DTS_PROJECTION)
        state_.projection = m;
    else if (type == D3DTS_WORLD)
        state_.world = m;
    else
        return;
    onTransform(type, m);
}

void GraphicsDevice::setLight(uint32_t index, const Light& light)
{
    if (index >= lightCount) return;
    state_.lights[index] = light;
    onLight(index, light);
}

void GraphicsDevice::lightEnable(uint32_t index, bool enable)
{
    if (index >= lightCount) return;
    state_.lightEnabled[index] = enable;
    onLightEnable(index, enable);
}

void GraphicsDevice::setMaterial(const Material& material)
{
    state_.material = material;
    onMaterial(material);
}

void GraphicsDevice::setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride)
{
    if (stream != 0) return;  // one stream is all the program uses
    state_.streamBuffer = buffer;
    state_.streamOffset = offset;
    state_.streamStride = stride;
    onStreamSource(stream, buffer, offset, stride);
}

void GraphicsDevice::setFVF(uint32_t fvf)
{
    state_.fvf = fvf;
    onFVF(fvf);
}

void GraphicsDevice::setIndices(IndexBuffer* indices)
{
    state_.indices = indices;
    onIndices(indices);
}

void GraphicsDevice::setPixelShader(PixelShader* shader)
{
    state_.pixelShader = shader;
    onPixelShader(shader);
}

void GraphicsDevice::beginStateBlock()
{
    recording_ = std::make_unique<StateBlock>(*this);
}

std::unique_ptr<StateBlock> GraphicsDevice::endStateBlock()
{
    return std::move(recording_);
}
