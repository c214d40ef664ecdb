#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "device/graphics_device.h"
#include "terrain/grid_segments.h"
#include "terrain/terrain_mesh.h"

// An animated water grid drawn at several instance positions. The waves are baked at start-up
// into one vertex buffer per animation frame; drawing only picks the frame.
class WaterTile : public TileGrid {
public:
    WaterTile() = default;
    WaterTile(const WaterTile&) = delete;
    WaterTile& operator=(const WaterTile&) = delete;

    void build(int instances, int frames, int periodMs, const Vec3* positions, int columns, int rows,
               float detailRepeatU, float detailRepeatV, float width, float depth, float amplitudeX, float waveHeight,
               float amplitudeZ, int baseTexture, int detailTexture);

    // The first instance, in order, whose rectangle holds p (edges included); marks it.
    bool findInstance(const Vec3& p);
    // The base y of the first marked instance; 0 when none is marked.
    float instanceLevel() const;
    void cull();
    // light: the negated direction of the scene light that shades the water. Segmented, each
    // instance draws only the segments whose boxes (around every animation frame) reach into
    // the view, in grid order; otherwise the whole grid.
    void draw(const Vec3& light, bool segmented = false);

    int instanceCount = 0;
    int frameCount = 0;
    int framePeriod = 0;
    int currentFrame = 0;
    uint32_t lastFrameChange = 0;
    int baseTexture = 0, detailTexture = 0;
    int vertexCount = 0, triangleCount = 0, quadCount = 0, indexCount = 0;

    struct Instance {
        float minX = 0, maxX = 0, minZ = 0, maxZ = 0;
        int cameraOver = 0;
        int visible = 0;
        Vec3 position{0, 0, 0};
        Vec3 corners[4] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    };
    std::vector<Instance> instances;
    std::vector<std::unique_ptr<VertexBuffer>> frameBuffers;
    Matrix4 instanceWorld{};
    std::unique_ptr<IndexBuffer> indexBuffer;
    GridSegments segments;
    std::vector<uint8_t> visibleSegments;
    std::vector<IndexRange> runs;
};
