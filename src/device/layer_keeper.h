#pragma once

// The kept layer: the frame's opening draws, which stay the same while the camera stands (text,
// stars, land). Opened right after a clear of target and depth, the layer holds its draws back,
// each with a copy of the device state it was given. On closing, draws equal to those of the
// layer kept from an earlier frame, on an equal clear, with every buffer and texture unwritten
// since, are dropped and the device puts the kept pixels back; other draws are drawn then, and
// kept when they repeat the previous frame's, so a moving camera pays for no copies.
//
// The device owns one keeper and talks to it through a few calls: a clear, a draw to hold, a
// resource about to be written, open and close. The keeper draws through the device's issue
// calls and keeps and restores pixels through its two hooks. A device that cannot keep pixels
// never has a layer held: its calls pass straight through, in order.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/graphics_device.h"

class LayerKeeper {
public:
    using DeviceState = GraphicsDevice::DeviceState;
    explicit LayerKeeper(GraphicsDevice& device) : device_(device) {}
    LayerKeeper(const LayerKeeper&) = delete;
    LayerKeeper& operator=(const LayerKeeper&) = delete;

    enum class DrawKind : uint32_t { Vertices, Indexed, Ranges };
    // One draw call's arguments. start, count: vertices or indices; for Ranges the runs.
    struct DrawCall {
        DrawKind kind;
        uint32_t primitiveType;
        int32_t baseVertex;
        uint32_t minIndex, numVertices, start, count;
    };

    // A clear goes to the device: a held layer is drawn first, as the clear ends it.
    void noteClear(uint32_t flags, uint32_t argb, float z);
    // True when the draw was held back; otherwise the device issues it now. ranges are copied.
    bool hold(const DrawCall& call, const IndexRange* ranges = nullptr);
    // A buffer or texture of the device is about to be written or destroyed: held draws that
    // read it are drawn first, while it still holds what they read.
    void noteWrite(const void* resource);
    // Whether draws are being held back now (a lock then keeps the old bytes to compare).
    bool holding() const { return holding_; }

    void open();
    void close();
    void setKept(bool on);
    bool lastRestored() const { return lastRestored_; }

private:
    struct HeldDraw {
        DeviceState state;
        uint64_t versions[4];  // stream, indices, both textures (0 for none)
        DrawCall call;
    };
    struct ClearRecord {
        uint32_t flags = 0, argb = 0;
        float z = 0.0f;
    };
    struct Layer {
        ClearRecord clear;
        std::vector<HeldDraw> draws;
        std::vector<IndexRange> ranges;
        bool valid = false;
        bool sameDraws(const Layer& other) const;
        bool readsDepth() const;
    };
    void drawHeld();

    GraphicsDevice& device_;
    bool keepLayers_ = true;
    bool holding_ = false;
    bool drawnSinceClear_ = true;
    bool lastRestored_ = false;
    ClearRecord lastClear_;
    Layer held_, previous_, kept_;
};
