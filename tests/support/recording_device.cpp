#include "support/recording_device.h"

#include <cstdio>

namespace {

std::string line(const char* name, std::initializer_list<long long> args)
{
    std::string s = name;
    for (long long a : args) s += " " + std::to_string(a);
    return s;
}

std::string pointer(const void* p) { return p ? "ptr" : "null"; }

// Vertex buffers tell the device's record when a lock ends, and whether it discarded.
class RecordingVertexBuffer : public VertexBuffer {
public:
    RecordingVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool, std::vector<std::string>& calls,
                          const bool& record)
        : VertexBuffer(length, usage, fvf, pool), calls_(calls), record_(record)
    {
    }

protected:
    void onUnlock(uint32_t offset, uint32_t size, bool discard) override
    {
        if (record_) calls_.push_back(line("UnlockVertexBuffer", {offset, size, discard ? 1 : 0}));
    }

private:
    std::vector<std::string>& calls_;
    const bool& record_;
};

}  // namespace

std::unique_ptr<VertexBuffer> RecordingDevice::makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
{
    calls.push_back(line("CreateVertexBuffer", {length, usage, fvf, pool}));
    if (refuseVertexBuffers) return nullptr;
    return std::make_unique<RecordingVertexBuffer>(length, usage, fvf, pool, calls, recordUnlocks);
}

std::unique_ptr<IndexBuffer> RecordingDevice::makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
{
    calls.push_back(line("CreateIndexBuffer", {length, usage, format, pool}));
    return std::make_unique<IndexBuffer>(length, usage, format, pool);
}

std::unique_ptr<Texture> RecordingDevice::makeTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                                        uint32_t format, uint32_t pool)
{
    calls.push_back(line("CreateTexture", {width, height, levels, usage, format, pool}));
    if (refuseTextures) return nullptr;
    return std::make_unique<Texture>(width, height, levels, usage, format, pool);
}

bool RecordingDevice::keepLayerPixels(bool depth)
{
    calls.push_back(line("KeepPixels", {depth ? 1 : 0}));
    return true;
}

bool RecordingDevice::restoreLayerPixels(bool depth)
{
    if (restoreFails) return false;
    calls.push_back(line("RestorePixels", {depth ? 1 : 0}));
    return true;
}

void RecordingDevice::issueClear(uint32_t flags, uint32_t argb, float z, uint32_t stencil)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "Clear %u %08X %g %u", flags, argb, static_cast<double>(z), stencil);
    calls.push_back(buf);
}

void RecordingDevice::issueDrawPrimitive(uint32_t primitiveType, uint32_t startVertex, uint32_t primitiveCount)
{
    calls.push_back(line("DrawPrimitive", {primitiveType, startVertex, primitiveCount}));
    Draw draw{primitiveType, startVertex, primitiveCount, fvf(), streamStride(), {}};
    const VertexBuffer* buffer = streamSource();
    const uint32_t perPrimitive = primitiveType == D3DPT_TRIANGLELIST ? 3 : primitiveType == D3DPT_POINTLIST ? 1 : 0;
    if (buffer && perPrimitive) {
        const size_t begin = streamOffset() + size_t(startVertex) * streamStride();
        const size_t end = begin + size_t(primitiveCount) * perPrimitive * streamStride();
        if (end <= buffer->length()) draw.vertices.assign(buffer->data() + begin, buffer->data() + end);
    }
    draws.push_back(std::move(draw));
    recordStages();
}

void RecordingDevice::issueDrawIndexedPrimitive(uint32_t primitiveType, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                                           uint32_t startIndex, uint32_t primitiveCount)
{
    calls.push_back(line("DrawIndexedPrimitive", {primitiveType, baseVertex, minIndex, numVertices, startIndex, primitiveCount}));
    recordStages();
}

void RecordingDevice::recordStages()
{
    uint32_t bits = 0;
    for (uint32_t s = 0; s < stageCount; ++s)
        if (stageContributes(s)) bits |= 1u << s;
    drawStages.push_back(bits);
}

std::vector<std::string> RecordingDevice::callsStartingWith(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

int RecordingDevice::find(const std::string& text, size_t from) const
{
    for (size_t i = from; i < calls.size(); ++i)
        if (calls[i] == text) return static_cast<int>(i);
    return -1;
}

void RecordingDevice::onRenderState(uint32_t state, uint32_t value) { calls.push_back(line("SetRenderState", {state, value})); }
void RecordingDevice::onTextureStageState(uint32_t stage, uint32_t type, uint32_t value)
{
    calls.push_back(line("SetTextureStageState", {stage, type, value}));
}
void RecordingDevice::onSamplerState(uint32_t sampler, uint32_t type, uint32_t value)
{
    calls.push_back(line("SetSamplerState", {sampler, type, value}));
}
void RecordingDevice::onTexture(uint32_t stage, Texture* texture)
{
    calls.push_back("SetTexture " + std::to_string(stage) + " " + pointer(texture));
}
void RecordingDevice::onTransform(uint32_t type, const Matrix4&) { calls.push_back(line("SetTransform", {type})); }
void RecordingDevice::onLight(uint32_t index, const Light&) { calls.push_back(line("SetLight", {index})); }
void RecordingDevice::onLightEnable(uint32_t index, bool enable) { calls.push_back(line("LightEnable", {index, enable ? 1 : 0})); }
void RecordingDevice::onMaterial(const Material&) { calls.push_back("SetMaterial"); }
void RecordingDevice::onStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride)
{
    calls.push_back("SetStreamSource " + std::to_string(stream) + " " + pointer(buffer) + " " + std::to_string(offset) + " " +
                    std::to_string(stride));
}
void RecordingDevice::onFVF(uint32_t fvf) { calls.push_back(line("SetFVF", {fvf})); }
void RecordingDevice::onIndices(IndexBuffer* indices) { calls.push_back("SetIndices " + pointer(indices)); }
void RecordingDevice::onPixelShader(PixelShader* shader) { calls.push_back("SetPixelShader " + pointer(shader)); }

bool RecordingGraphicsSystem::adapterDisplayMode(DisplayMode& mode)
{
    mode = {1024, 768, 60, desktopFormat};
    return true;
}

bool RecordingGraphicsSystem::checkDeviceType(uint32_t, uint32_t adapterFormat, uint32_t backBufferFormat, bool)
{
    formatChecks.push_back(std::to_string(adapterFormat) + " " + std::to_string(backBufferFormat));
    return unsupportedFormats.count(backBufferFormat) == 0 && unsupportedFormats.count(adapterFormat) == 0;
}

std::unique_ptr<GraphicsDevice> RecordingGraphicsSystem::createDevice(uint32_t, void*, uint32_t behaviorFlags,
                                                                      PresentParameters& parameters)
{
    attempts.push_back(behaviorFlags);
    lastParameters = parameters;
    if (refused.count(behaviorFlags)) return nullptr;
    return std::make_unique<RecordingDevice>();
}
