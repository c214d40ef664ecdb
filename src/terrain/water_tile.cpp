#include "terrain/water_tile.h"

#include <cstring>

#include "state/camera.h"
#include "state/clock.h"
#include "state/graphics.h"
#include "state/input.h"
#include "objects/random.h"

void WaterTile::build(int instanceTotal, int frames, int periodMs, const Vec3* positions, int columnCount, int rowCount,
                      float detailRepeatU, float detailRepeatV, float tileWidth, float tileDepth, float amplitudeX,
                      float waveHeight, float amplitudeZ, int baseIndex, int detailIndex)
{
    instanceCount = instanceTotal;
    instances.assign(size_t(instanceCount), Instance{});
    lastFrameChange = tickCount();
    framePeriod = periodMs;
    currentFrame = 0;
    frameCount = frames;
    frameBuffers.clear();
    frameBuffers.resize(size_t(frameCount));
    for (int i = 0; i < instanceCount; ++i) instances[size_t(i)].position = positions[i];
    instanceWorld = identity();

    baseTexture = baseIndex;
    detailTexture = detailIndex;
    setGrid(columnCount, rowCount, tileWidth, tileDepth);

    for (Instance& in : instances) {
        in.minX = in.position.x - halfWidth;
        in.maxX = in.position.x + halfWidth;
        in.minZ = in.position.z - halfDepth;
        in.maxZ = in.position.z + halfDepth;
        in.corners[0] = Vec3(in.minX, 0.0f, in.maxZ);
        in.corners[1] = Vec3(in.minX, 0.0f, in.minZ);
        in.corners[2] = Vec3(in.maxX, 0.0f, in.maxZ);
        in.corners[3] = Vec3(in.maxX, 0.0f, in.minZ);
    }

    vertexCount = columns * rows;
    quadCount = (columns - 1) * (rows - 1);
    triangleCount = 2 * quadCount;
    indexCount = 3 * triangleCount;
    indexBuffer = createIndexBuffer(gridIndices(columns, rows));

    // Per-vertex wave parameters, drawn row by row in this order.
    struct Wave {
        float amplitude;
        int frequencyX, frequencyY, frequencyZ;
    };
    std::vector<Wave> waves(static_cast<size_t>(vertexCount));
    for (Wave& w : waves) {
        w.amplitude = randomFloat(-waveHeight, waveHeight);
        w.frequencyX = 2 * randomInt(1, 4);
        w.frequencyY = 2 * randomInt(1, 4);
        w.frequencyZ = 2 * randomInt(1, 4);
    }

    std::vector<Vec3> positionsOfFrame(static_cast<size_t>(vertexCount));
    std::vector<TerrainVertex> vertices(static_cast<size_t>(vertexCount));
    for (int k = 0; k < frameCount; ++k) {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const size_t i = size_t(r) * size_t(columns) + size_t(c);
                const Wave& w = waves[i];
                const float x0 = float(c) * cellWidth - halfWidth;
                const float z0 = halfDepth - float(r) * cellDepth;
                // Every frequency is even, so frame F would equal frame 0: the loop is seamless.
                const float ax = float(w.frequencyX) * piF * float(k) / float(frameCount);
                const float ay = float(w.frequencyY) * piF * float(k) / float(frameCount);
                const float az = float(w.frequencyZ) * piF * float(k) / float(frameCount);
                const Vec3 p(floatCos(ax) * amplitudeX + x0, floatCos(ay) * w.amplitude, floatSin(az) * amplitudeZ + z0);
                vertices[i] = {p.x, p.y, p.z, 0.0f, 1.0f, 0.0f, float(c) * columnStep, float(r) * rowStep,
                               float(c) * detailRepeatU * columnStep, float(r) * detailRepeatV * rowStep};
                positionsOfFrame[i] = p;
            }
        gridNormals(positionsOfFrame, columns, rows, vertices.data());
        if (k == 0)
            segments = gridSegments(positionsOfFrame, columns, rows);
        else
            widen(segments, gridSegments(positionsOfFrame, columns, rows));
        if (!graphicsDevice) continue;
        std::unique_ptr<VertexBuffer> buffer = graphicsDevice->createVertexBuffer(
            uint32_t(vertexCount) * 40, D3DUSAGE_WRITEONLY, terrainFvf, D3DPOOL_MANAGED);
        if (buffer) {
            if (uint8_t* data = buffer->lock(0, 0, 0)) std::memcpy(data, vertices.data(), vertices.size() * 40);
            buffer->unlock();
        }
        frameBuffers[size_t(k)] = std::move(buffer);
    }
}

bool WaterTile::findInstance(const Vec3& p)
{
    for (Instance& in : instances) {
        in.cameraOver = 1;
        if (p.x > in.maxX || p.x < in.minX) in.cameraOver = 0;
        if (p.z > in.maxZ || p.z < in.minZ) in.cameraOver = 0;
        if (in.cameraOver == 1) return true;
    }
    return false;
}

float WaterTile::instanceLevel() const
{
    for (const Instance& in : instances)
        if (in.cameraOver == 1) return in.position.y;
    return 0.0f;
}

void WaterTile::cull()
{
    for (Instance& in : instances) {
        in.visible = 0;
        if (in.cameraOver == 1) {
            in.visible = 1;
            continue;
        }
        if (pointInView(in.position.x, in.position.z) || pointInView(in.minX, in.maxZ) ||
            pointInView(in.maxX, in.maxZ) || pointInView(in.minX, in.minZ) || pointInView(in.maxX, in.minZ))
            in.visible = 1;
    }
}

void WaterTile::draw(const Vec3& light, bool segmented)
{
    GraphicsDevice* d = graphicsDevice.get();
    const float w = dot(light, lookDir);
    const float h = terrainFrame.groundHeight();
    for (Instance& in : instances) {
        if (in.visible == 0) {
            in.cameraOver = 0;
            continue;
        }
        // At most one frame per drawn instance; the unsigned difference survives the tick wrap.
        if (int64_t(uint32_t(tickCount() - lastFrameChange)) > int64_t(framePeriod)) {
            if (++currentFrame >= frameCount) currentFrame = 0;
            lastFrameChange = tickCount();
        }
        in.cameraOver = 0;
        if (!d) continue;

        instanceWorld(3, 0) = in.position.x - cameraPos.x;
        instanceWorld(3, 1) = in.position.y - cameraPos.y - h;
        instanceWorld(3, 2) = in.position.z - cameraPos.z;
        d->setTransform(D3DTS_WORLD, instanceWorld);

        Material material;
        std::memset(&material, 0, sizeof material);
        material.diffuse = {0.2f * w, 2.5f * w, 2.5f * w, 0.7f};
        d->setMaterial(material);
        d->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
        d->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        setTerrainMipFilter();
        d->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
        d->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->setTexture(0, baseTextureAt(baseTexture));
        if (detailTextureSwitch == 1) {
            d->setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
            d->setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            d->setTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
            d->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSIGNED);
            d->setTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            d->setTexture(1, detailTextureAt(detailTexture));
        }
        d->setRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        d->setStreamSource(0, frameBuffers.empty() ? nullptr : frameBuffers[size_t(currentFrame)].get(), 0, 40);
        d->setFVF(terrainFvf);
        d->setIndices(indexBuffer.get());
        if (segmented) {
            // Blended, so the grid order stays; only what lies wholly outside the view is left out.
            double deepest = 0.0;
            visibleRuns(segments, ViewVolume(instanceWorld, d->transform(D3DTS_VIEW), d->transform(D3DTS_PROJECTION)),
                        visibleSegments, runs, deepest);
            d->drawIndexedRanges(D3DPT_TRIANGLELIST, 0, 0, uint32_t(vertexCount), runs.data(), runs.size());
        } else {
            d->drawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, uint32_t(vertexCount), 0, uint32_t(triangleCount));
        }

        d->setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        d->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        d->setTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        d->setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        d->setSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        d->setSamplerState(1, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        d->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->setTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d->setTexture(0, nullptr);
        d->setTexture(1, nullptr);
    }
}
