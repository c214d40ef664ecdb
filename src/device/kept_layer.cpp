// The kept layer: draws held back until it is known whether the pixels of an earlier frame can
// stand in for them, and the draw calls that pass through it.

#include <algorithm>
#include <cstring>

#include "device/graphics_device.h"

namespace {

uint64_t lastResourceVersion = 0;
// The device holding draws back, if any: resources tell it when they are about to be written.
GraphicsDevice* holdingDevice = nullptr;

constexpr uint32_t targetAndDepth = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;

}  // namespace

uint64_t newResourceVersion() { return ++lastResourceVersion; }

GraphicsDevice::~GraphicsDevice()
{
    if (holdingDevice == this) holdingDevice = nullptr;
}

void GraphicsDevice::clear(uint32_t flags, uint32_t argb, float z, uint32_t stencil)
{
    // A clear inside a layer ends it: what follows no longer starts from the layer's clear.
    if (holding_) drawHeld();
    lastClear_ = {flags, argb, z};
    drawnSinceClear_ = false;
    issueClear(flags, argb, z, stencil);
}

void GraphicsDevice::drawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount)
{
    drawnSinceClear_ = true;
    if (holding_)
        hold(DrawKind::Vertices, primitiveType, 0, 0, 0, startVertex, primitiveCount);
    else
        issueDrawPrimitive(primitiveType, startVertex, primitiveCount);
}

void GraphicsDevice::drawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex,
                                          uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount)
{
    drawnSinceClear_ = true;
    if (holding_)
        hold(DrawKind::Indexed, primitiveType, baseVertex, minIndex, numVertices, startIndex, primitiveCount);
    else
        issueDrawIndexedPrimitive(primitiveType, baseVertex, minIndex, numVertices, startIndex, primitiveCount);
}

void GraphicsDevice::drawIndexedRanges(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                                       const IndexRange* ranges, size_t rangeCount)
{
    drawnSinceClear_ = true;
    if (!holding_) {
        issueDrawIndexedRanges(primitiveType, baseVertex, minIndex, numVertices, ranges, rangeCount);
        return;
    }
    const auto first = static_cast<uint32_t>(held_.ranges.size());
    held_.ranges.insert(held_.ranges.end(), ranges, ranges + rangeCount);
    hold(DrawKind::Ranges, primitiveType, baseVertex, minIndex, numVertices, first, static_cast<uint32_t>(rangeCount));
}

void GraphicsDevice::hold(DrawKind kind, uint32_t primitiveType, int baseVertex, uint32_t minIndex,
                          uint32_t numVertices, uint32_t start, uint32_t count)
{
    HeldDraw& d = held_.draws.emplace_back(HeldDraw{state_, {}, kind, primitiveType, baseVertex, minIndex, numVertices, start, count});
    DeviceState& s = d.state;
    // What the draw cannot read is left out, so states left behind by other draws (the balls'
    // placement, the land's indices) do not make equal draws differ. Vertices without indices
    // read none; pretransformed vertices take no transform, light or material.
    if (kind == DrawKind::Vertices) s.indices = nullptr;
    if (s.fvf & D3DFVF_XYZRHW) {
        s.world = s.view = s.projection = Matrix4{};
        std::fill(std::begin(s.lights), std::end(s.lights), Light{});
        std::fill(std::begin(s.lightEnabled), std::end(s.lightEnabled), false);
        s.material = Material{};
    }
    d.versions[0] = s.streamBuffer ? s.streamBuffer->version() : 0;
    d.versions[1] = s.indices ? s.indices->version() : 0;
    d.versions[2] = s.textures[0] ? s.textures[0]->version() : 0;
    d.versions[3] = s.textures[1] ? s.textures[1]->version() : 0;
}

void GraphicsDevice::drawHeld()
{
    holding_ = false;
    holdingDevice = nullptr;
    const DeviceState current = state_;
    for (const HeldDraw& d : held_.draws) {
        state_ = d.state;
        onStateReplaced();
        switch (d.kind) {
        case DrawKind::Vertices: issueDrawPrimitive(d.primitiveType, d.start, d.count); break;
        case DrawKind::Indexed:
            issueDrawIndexedPrimitive(d.primitiveType, d.baseVertex, d.minIndex, d.numVertices, d.start, d.count);
            break;
        case DrawKind::Ranges:
            issueDrawIndexedRanges(d.primitiveType, d.baseVertex, d.minIndex, d.numVertices, held_.ranges.data() + d.start,
                                   d.count);
            break;
        }
    }
    state_ = current;
    onStateReplaced();
}

void GraphicsDevice::noteResourceWrite(const void* resource)
{
    if (!holdingDevice) return;
    GraphicsDevice& d = *holdingDevice;
    for (const HeldDraw& h : d.held_.draws) {
        const DeviceState& s = h.state;
        if (resource == s.streamBuffer || resource == s.indices || resource == s.textures[0] || resource == s.textures[1]) {
            // Drawn now, with what they read; this frame's layer is then no layer at all.
            d.drawHeld();
            d.held_.valid = false;
            d.previous_.valid = false;
            return;
        }
    }
}

void GraphicsDevice::openLayer()
{
    // Equal bytes must mean equal states.
    static_assert(sizeof(DeviceState) == 5 * sizeof(void*) + 4 * (renderStateCount + stageCount * textureStageStateCount +
                                                                  stageCount * samplerStateCount + 3) +
                                             3 * sizeof(Matrix4) + lightCount * (sizeof(Light) + 1) + sizeof(Material));
    if (!keepLayers_ || holding_ || drawnSinceClear_ || (lastClear_.flags & targetAndDepth) != targetAndDepth) return;
    held_.clear = lastClear_;
    held_.draws.clear();
    held_.ranges.clear();
    held_.valid = true;
    holding_ = true;
    holdingDevice = this;
}

void GraphicsDevice::closeLayer()
{
    lastLayerRestored_ = false;
    if (!holding_) return;
    const bool depth = held_.readsDepth();
    const bool asKept = !held_.draws.empty() && held_.sameDraws(kept_);
    if (asKept && restoreLayerPixels(depth)) {
        holding_ = false;
        holdingDevice = nullptr;
        lastLayerRestored_ = true;
        return;
    }
    drawHeld();
    // Kept once it repeats, so a camera on the move pays nothing for copies it cannot use.
    if (!asKept && !held_.draws.empty() && held_.sameDraws(previous_)) {
        kept_.valid = false;
        if (keepLayerPixels(depth)) kept_ = held_;
    }
    std::swap(previous_, held_);
}

void GraphicsDevice::setLayersKept(bool on)
{
    if (holding_) drawHeld();
    keepLayers_ = on;
    previous_.valid = kept_.valid = false;
}

bool GraphicsDevice::Layer::sameDraws(const Layer& other) const
{
    if (!valid || !other.valid || clear.flags != other.clear.flags || clear.argb != other.clear.argb ||
        std::memcmp(&clear.z, &other.clear.z, sizeof clear.z) != 0 || draws.size() != other.draws.size() ||
        ranges.size() != other.ranges.size())
        return false;
    for (size_t i = 0; i < ranges.size(); ++i)
        if (ranges[i].startIndex != other.ranges[i].startIndex || ranges[i].primitiveCount != other.ranges[i].primitiveCount)
            return false;
    for (size_t i = 0; i < draws.size(); ++i) {
        const HeldDraw& a = draws[i];
        const HeldDraw& b = other.draws[i];
        if (std::memcmp(&a.state, &b.state, sizeof a.state) != 0 || std::memcmp(a.versions, b.versions, sizeof a.versions) != 0 ||
            a.kind != b.kind || a.primitiveType != b.primitiveType || a.baseVertex != b.baseVertex ||
            a.minIndex != b.minIndex || a.numVertices != b.numVertices || a.start != b.start || a.count != b.count)
            return false;
    }
    return true;
}

bool GraphicsDevice::Layer::readsDepth() const
{
    for (const HeldDraw& d : draws)
        if (d.state.renderStates[D3DRS_ZENABLE] != D3DZB_FALSE) return true;
    return false;
}
