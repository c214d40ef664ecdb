// Buffers, offsets and indexed draws on the OpenGL device, and several runs of one index buffer
// handed to the driver in one call.

#include "gl_device_fixture.h"

TEST_F(GlDeviceTest, BufferUpdatesStreamOffsetsAndIndexedDraws)
{
    std::vector<ScreenVertex> vertices = rectVertices(0, 0, 10, 10, 0xFFFF0000);
    for (const ScreenVertex& v : rectVertices(20, 0, 30, 10, 0xFF00FF00)) vertices.push_back(v);
    VertexBuffer* buffer = vertexBuffer(screenFvf, vertices);
    const uint32_t stride = sizeof(ScreenVertex);
    device->setFVF(screenFvf);
    device->setStreamSource(0, buffer, 4 * stride, stride);
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 5, 5), black));
    EXPECT_TRUE(near(at(image, 25, 5), green));

    // A partial lock uploads its range; a discarding lock a whole new store.
    auto* locked = reinterpret_cast<ScreenVertex*>(buffer->lock(4 * stride, 4 * stride, 0));
    for (int i = 0; i < 4; ++i) locked[i].diffuse = 0xFF0000FF;
    buffer->unlock();
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), blue));
    locked = reinterpret_cast<ScreenVertex*>(buffer->lock(0, 0, D3DLOCK_DISCARD));
    for (int i = 4; i < 8; ++i) locked[i].diffuse = 0xFFFFFFFF;
    buffer->unlock();
    device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), white));

    // Indices 6..11 name the quad's corners 0..3; base vertex 4 moves them to the second quad.
    device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    auto indices = device->createIndexBuffer(24, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    const uint16_t list[12] = {3, 3, 3, 3, 3, 3, 0, 1, 2, 1, 3, 2};
    std::memcpy(indices->lock(0, 0, 0), list, sizeof list);
    indices->unlock();
    device->setIndices(indices.get());
    device->setStreamSource(0, buffer, 0, stride);
    device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 6, 2);
    image = frame();
    EXPECT_TRUE(near(at(image, 5, 5), black));
    EXPECT_TRUE(near(at(image, 25, 5), white));

    // Indices that name vertices past the buffer's end skip the draw; rewritten to valid ones,
    // the same run is drawn.
    auto later = device->createIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    const uint16_t beyond[6] = {8, 9, 10, 9, 11, 10};
    std::memcpy(later->lock(0, 0, 0), beyond, sizeof beyond);
    later->unlock();
    device->setIndices(later.get());
    device->clear(D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), black));
    std::memcpy(later->lock(0, 0, 0), list + 6, 12);
    later->unlock();
    device->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2);
    EXPECT_TRUE(near(at(frame(), 25, 5), white));
    device->setIndices(nullptr);
}

TEST_F(GlDeviceTest, IndexRangesDrawAsSingleDrawsWouldAndSkipRunsPastTheEnd)
{
    // Three quads side by side; the runs draw the first and the last, and one run past the
    // buffer's end is left out while the others are still drawn.
    std::vector<ScreenVertex> vertices;
    for (int q = 0; q < 3; ++q)
        for (const ScreenVertex& v : rectVertices(float(20 * q), 0, float(20 * q + 10), 10, 0xFF00FF00)) vertices.push_back(v);
    device->setStreamSource(0, vertexBuffer(screenFvf, vertices), 0, sizeof(ScreenVertex));
    device->setFVF(screenFvf);
    std::vector<uint16_t> list;
    for (uint16_t q = 0; q < 3; ++q)
        for (uint16_t corner : {0, 1, 2, 1, 3, 2}) list.push_back(uint16_t(4 * q + corner));
    auto indices = device->createIndexBuffer(uint32_t(list.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    std::memcpy(indices->lock(0, 0, 0), list.data(), list.size() * 2);
    indices->unlock();
    device->setIndices(indices.get());
    const IndexRange runs[3] = {{0, 2}, {12, 2}, {14, 4}};
    device->drawIndexedRanges(D3DPT_TRIANGLELIST, 0, 0, 12, runs, 3);
    const RgbaImage image = frame();
    EXPECT_TRUE(near(at(image, 5, 5), green));
    EXPECT_TRUE(near(at(image, 25, 5), black));
    EXPECT_TRUE(near(at(image, 45, 5), green));
    device->setIndices(nullptr);
}

