#include "device/layer_keeper.h"

#include <algorithm>
#include <cstring>

using DeviceState = GraphicsDevice::DeviceState;

namespace {

constexpr uint32_t targetAndDepth = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;

bool sameCall(const LayerKeeper::DrawCall& a, const LayerKeeper::DrawCall& b)
{
    return a.kind == b.kind && a.primitiveType == b.primitiveType && a.baseVertex == b.baseVertex &&
           a.minIndex == b.minIndex && a.numVertices == b.numVertices && a.start == b.start && a.count == b.count;
}

}  // namespace

void LayerKeeper::noteClear(uint32_t flags, uint32_t argb, float z)
{
    // A clear inside a layer ends it: what follows no longer starts from the layer's clear.
    if (holding_) drawHeld();
    lastClear_ = {flags, argb, z};
    drawnSinceClear_ = false;
}

bool LayerKeeper::hold(const DrawCall& call, const IndexRange* ranges)
{
    drawnSinceClear_ = true;
    if (!holding_) return false;
    DrawCall held = call;
    if (call.kind == DrawKind::Ranges) {
        held.start = static_cast<uint32_t>(held_.ranges.size());
        held_.ranges.insert(held_.ranges.end(), ranges, ranges + call.count);
    }
    HeldDraw& d = held_.draws.emplace_back(HeldDraw{device_.state_, {}, held});
    DeviceState& s = d.state;
    // What the draw cannot read is left out, so states left behind by other draws (the balls'
    // placement, the land's indices) do not make equal draws differ. Vertices without indices
    // read none; pretransformed vertices take no transform, light or material.
    if (call.kind == DrawKind::Vertices) s.indices = nullptr;
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
    return true;
}

void LayerKeeper::drawHeld()
{
    holding_ = false;
    const DeviceState current = device_.state_;
    for (const HeldDraw& d : held_.draws) {
        device_.state_ = d.state;
        device_.onStateReplaced();
        const DrawCall& c = d.call;
        switch (c.kind) {
        case DrawKind::Vertices: device_.issueDrawPrimitive(c.primitiveType, c.start, c.count); break;
        case DrawKind::Indexed:
            device_.issueDrawIndexedPrimitive(c.primitiveType, c.baseVertex, c.minIndex, c.numVertices, c.start, c.count);
            break;
        case DrawKind::Ranges:
            device_.issueDrawIndexedRanges(c.primitiveType, c.baseVertex, c.minIndex, c.numVertices,
                                           held_.ranges.data() + c.start, c.count);
            break;
        }
    }
    device_.state_ = current;
    device_.onStateReplaced();
}

void LayerKeeper::noteWrite(const void* resource)
{
    if (!holding_) return;
    for (const HeldDraw& h : held_.draws) {
        const DeviceState& s = h.state;
        if (resource == s.streamBuffer || resource == s.indices || resource == s.textures[0] || resource == s.textures[1]) {
            // Drawn now, with what they read; this frame's layer is then no layer at all.
            drawHeld();
            held_.valid = false;
            previous_.valid = false;
            return;
        }
    }
}

void LayerKeeper::open()
{
    if (!keepLayers_ || holding_ || drawnSinceClear_ || (lastClear_.flags & targetAndDepth) != targetAndDepth) return;
    // A device that cannot keep pixels has nothing to gain from holding its draws.
    if (!device_.canKeepLayerPixels()) return;
    held_.clear = lastClear_;
    held_.draws.clear();
    held_.ranges.clear();
    held_.valid = true;
    holding_ = true;
}

void LayerKeeper::close()
{
    lastRestored_ = false;
    if (!holding_) return;
    const bool depth = held_.readsDepth();
    const bool asKept = !held_.draws.empty() && held_.sameDraws(kept_);
    if (asKept && device_.restoreLayerPixels(depth)) {
        holding_ = false;
        lastRestored_ = true;
        return;
    }
    drawHeld();
    // Kept once it repeats, so a camera on the move pays nothing for copies it cannot use. A kept
    // layer that could not be put back (the target changed size) is kept anew.
    if (!held_.draws.empty() && held_.sameDraws(previous_)) {
        kept_.valid = false;
        if (device_.keepLayerPixels(depth)) kept_ = held_;
    }
    std::swap(previous_, held_);
}

void LayerKeeper::setKept(bool on)
{
    if (holding_) drawHeld();
    keepLayers_ = on;
    previous_.valid = kept_.valid = false;
}

bool LayerKeeper::Layer::sameDraws(const Layer& other) const
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
            !sameCall(a.call, b.call))
            return false;
    }
    return true;
}

bool LayerKeeper::Layer::readsDepth() const
{
    for (const HeldDraw& d : draws)
        if (d.state.renderStates[D3DRS_ZENABLE] != D3DZB_FALSE) return true;
    return false;
}
