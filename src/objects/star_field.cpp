#include "objects/star_field.h"

#include <cstring>

#include "state/camera.h"
#include "state/graphics.h"
#include "objects/random.h"

namespace {
constexpr uint32_t starFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
constexpr uint32_t starStride = 16;
}  // namespace

StarField::StarField()
{
    pointCount = 5000;
    if (graphicsDevice)
        points = graphicsDevice->createVertexBuffer(uint32_t(pointCount) * starStride, D3DUSAGE_WRITEONLY, starFvf,
                                                    D3DPOOL_MANAGED);
    uint8_t* out = points ? points->lock(0, 0, 0) : nullptr;
    // The random numbers are drawn even without a buffer, so what follows sees the same sequence.
    for (int i = 0; i < pointCount; ++i) {
        const float y = randomFloat(-2.5f, 2.5f);
        const float x = randomFloat(-3.0f, 3.0f);
        const float z = 5.0f;
        shade = randomInt(200, 255);
        const uint32_t g = uint32_t(shade) & 0xFF;
        const uint32_t color = 0xFF000000u | g << 16 | g << 8 | g;
        if (!out) continue;
        uint8_t* v = out + size_t(i) * starStride;
        std::memcpy(v, &x, 4);
        std::memcpy(v + 4, &y, 4);
        std::memcpy(v + 8, &z, 4);
        std::memcpy(v + 12, &color, 4);
    }
    if (out) points->unlock();
}

void StarField::draw()
{
    if (!graphicsDevice || !points) return;
    GraphicsDevice& device = *graphicsDevice;
    device.setTransform(D3DTS_WORLD, starFieldWorldMatrix);
    device.setRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device.setRenderState(D3DRS_LIGHTING, 0);
    device.setFVF(starFvf);
    device.setStreamSource(0, points.get(), 0, starStride);
    device.drawPrimitive(D3DPT_POINTLIST, 0, uint32_t(pointCount));
    device.setRenderState(D3DRS_LIGHTING, 1);
    device.setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
}
