// The kept layer on the OpenGL device: the pixels it keeps and puts back (the matching itself is
// tested without a GPU in tests/unit/layer_keeper_test.cpp).

#include "gl_device_fixture.h"

TEST_F(GlDeviceTest, KeptLayerPutsBackColourAndDepthOnlyWhileItsDrawsAndContentsStayTheSame)
{
    // The layer: a near red quad. After it, a larger far green quad that only the layer's depth
    // hides where they overlap.
    const std::vector<ScreenVertex> redQuad = rectVertices(0, 0, 20, 20, 0xFFFF0000, 0.2f);
    VertexBuffer* layerQuad = vertexBuffer(screenFvf, redQuad);
    VertexBuffer* farQuad = vertexBuffer(screenFvf, rectVertices(0, 0, 40, 40, 0xFF00FF00, 0.8f));
    auto drawQuad = [&](VertexBuffer* b) {
        device->setStreamSource(0, b, 0, sizeof(ScreenVertex));
        device->setFVF(screenFvf);
        device->drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    };
    auto write = [&](uint32_t argb) {
        const std::vector<ScreenVertex> v = rectVertices(0, 0, 20, 20, argb, 0.2f);
        std::memcpy(layerQuad->lock(0, 0, 0), v.data(), v.size() * sizeof(ScreenVertex));
        layerQuad->unlock();
    };
    // A write inside the layer before its draw, as the text is written: only there are the same
    // bytes known to be the same contents.
    uint32_t writeFirst = 0;
    auto runFrame = [&](const std::function<void()>& inLayer = {}) {
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->openLayer();
        if (writeFirst) write(writeFirst);
        drawQuad(layerQuad);
        if (inLayer) inLayer();
        device->closeLayer();
        drawQuad(farQuad);
        const RgbaImage image = frame();
        device->present();
        return image;
    };
    const RgbaImage first = runFrame();
    EXPECT_FALSE(device->lastLayerRestored());
    runFrame();  // repeats the first: kept
    EXPECT_FALSE(device->lastLayerRestored());
    // A frame without a layer leaves other depth behind, which the kept depth must replace.
    device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    drawQuad(farQuad);
    device->present();
    const RgbaImage restored = runFrame();
    EXPECT_TRUE(device->lastLayerRestored());
    EXPECT_TRUE(first.pixels == restored.pixels);
    EXPECT_TRUE(near(at(restored, 10, 10), red));
    EXPECT_TRUE(near(at(restored, 30, 30), green));

    writeFirst = 0xFFFF0000;  // the same bytes again: still the same contents
    runFrame();
    EXPECT_TRUE(device->lastLayerRestored());
    writeFirst = 0;
    write(0xFF0000FF);
    EXPECT_TRUE(near(at(runFrame(), 10, 10), blue));
    EXPECT_FALSE(device->lastLayerRestored());
    runFrame();
    runFrame([&] { drawQuad(farQuad); });
    EXPECT_FALSE(device->lastLayerRestored()) << "a draw more in the layer";

    // Written while a held draw reads it: the draw shows what it read.
    runFrame([&] { write(0xFFFF0000); });
    EXPECT_TRUE(near(at(runFrame([&] { write(0xFF0000FF); }), 10, 10), red));
    // Destroyed while a held draw reads it: drawn first, while it exists.
    const std::vector<ScreenVertex> side = rectVertices(50, 0, 60, 10, 0xFF00FF00);
    std::unique_ptr<VertexBuffer> doomed = device->createVertexBuffer(uint32_t(side.size() * sizeof(ScreenVertex)), 0, screenFvf, 0);
    std::memcpy(doomed->lock(0, 0, 0), side.data(), side.size() * sizeof(ScreenVertex));
    doomed->unlock();
    EXPECT_TRUE(near(at(runFrame([&] { drawQuad(doomed.get()); doomed.reset(); }), 55, 5), green));
    device->setLayersKept(false);
    for (int i = 0; i < 3; ++i) runFrame();
    EXPECT_FALSE(device->lastLayerRestored());
}

