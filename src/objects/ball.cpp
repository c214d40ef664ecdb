#include "objects/ball.h"

#include <cstring>

#include "state/camera.h"
#include "state/graphics.h"

namespace {

constexpr uint32_t ballFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr uint32_t ballStride = 24;

struct QuadVertex {
    float x, y, z;
    uint32_t color;
    float u, v;
};

// A strip: top left, bottom left, top right, bottom right.
constexpr QuadVertex quadVertices[4] = {
    {-1.0f, 1.0f, 0.0f, 0xFFFFFFFF, 0.0f, 0.0f},
    {-1.0f, -1.0f, 0.0f, 0xFFFFFFFF, 0.0f, 1.0f},
    {1.0f, 1.0f, 0.0f, 0xFFFFFFFF, 1.0f, 0.0f},
    {1.0f, -1.0f, 0.0f, 0xFFFFFFFF, 1.0f, 1.0f},
};

}  // namespace

Ball::Ball(const std::string& textureFileName)
{
    texture = std::make_unique<TextureFile>();
    texture->fileName = textureFileName;
    texture->load();

    if (!graphicsDevice) return;
    quad = graphicsDevice->createVertexBuffer(4 * ballStride, D3DUSAGE_WRITEONLY, ballFvf, D3DPOOL_MANAGED);
    if (!quad) return;
    uint8_t* out = quad->lock(0, 0, 0);
    if (!out) return;
    for (size_t i = 0; i < 4; ++i) {
        const QuadVertex& q = quadVertices[i];
        uint8_t* v = out + i * ballStride;
        std::memcpy(v, &q.x, 4);
        std::memcpy(v + 4, &q.y, 4);
        std::memcpy(v + 8, &q.z, 4);
        std::memcpy(v + 12, &q.color, 4);
        std::memcpy(v + 16, &q.u, 4);
        std::memcpy(v + 20, &q.v, 4);
    }
    quad->unlock();
}

Ball::~Ball()
{
    // Texture first, then the quad, as the design releases them.
    texture.reset();
    quad.reset();
}

void Ball::draw(const Vec3& p)
{
    if (!graphicsDevice || !quad) return;
    GraphicsDevice& device = *graphicsDevice;

    const float scale = 1.0f;
    ballScaleMatrix(0, 0) = scale;
    ballScaleMatrix(1, 1) = scale;
    // The objects' frame has its origin where the camera starts, (0, 20, -20).
    ballTranslationMatrix(3, 0) = p.x - (cameraPos.x - 0.0f);
    ballTranslationMatrix(3, 1) = p.y - (cameraPos.y - 20.0f);
    ballTranslationMatrix(3, 2) = p.z - (cameraPos.z + 20.0f);
    // The camera's orientation turns the square to face the viewer.
    const Matrix4 world = ballScaleMatrix * cameraOrientation * ballTranslationMatrix;
    device.setTransform(D3DTS_WORLD, world);

    device.setRenderState(D3DRS_LIGHTING, 0);
    device.setRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device.setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device.setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device.setTexture(0, texture ? texture->texture.get() : nullptr);
    device.setStreamSource(0, quad.get(), 0, ballStride);
    device.setFVF(ballFvf);
    device.drawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device.setTexture(0, nullptr);
    device.setRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device.setRenderState(D3DRS_LIGHTING, 1);
    device.setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
}
