#include "platform/gl/fixed_function.h"

#include <cstdio>
#include <cstring>

VertexLayout vertexLayout(uint32_t fvf)
{
    VertexLayout layout;
    const bool xyz = (fvf & D3DFVF_XYZ) != 0;
    const bool rhw = (fvf & D3DFVF_XYZRHW) != 0;
    if (xyz == rhw) return layout;
    layout.valid = true;
    layout.pretransformed = rhw;
    layout.positionSize = rhw ? 4 : 3;
    // Components follow each other in this fixed order, each present or absent.
    int offset = layout.positionSize * 4;
    if (fvf & D3DFVF_NORMAL) {
        layout.normal = offset;
        offset += 12;
    }
    if (fvf & D3DFVF_DIFFUSE) {
        layout.diffuse = offset;
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        layout.specular = offset;
        offset += 4;
    }
    layout.texCoordCount = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (layout.texCoordCount > 8) layout.texCoordCount = 8;
    for (int i = 0; i < layout.texCoordCount; ++i) {
        layout.texCoord[i] = offset;
        offset += 8;
    }
    return layout;
}

uint32_t verticesForPrimitives(uint32_t primitiveType, uint32_t primitiveCount)
{
    if (primitiveCount == 0) return 0;
    switch (primitiveType) {
    case D3DPT_POINTLIST: return primitiveCount;
    case D3DPT_LINELIST: return primitiveCount * 2;
    case D3DPT_LINESTRIP: return primitiveCount + 1;
    case D3DPT_TRIANGLELIST: return primitiveCount * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitiveCount + 2;
    default: return 0;
    }
}

bool isSoftwareRenderer(const std::string& rendererName)
{
    for (const char* name : {"llvmpipe", "softpipe", "Software Rasterizer"})
        if (rendererName.find(name) != std::string::npos) return true;
    return false;
}

std::string vertexProcessingRefusal(uint32_t behaviorFlags, const std::string& rendererName)
{
    const uint32_t modes = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                            D3DCREATE_MIXED_VERTEXPROCESSING);
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%X", behaviorFlags);
    if (modes == 0) return std::string("no vertex-processing mode requested (behaviour flags ") + flags + ")";
    if ((modes & (modes - 1)) != 0)
        return std::string("more than one vertex-processing mode requested (behaviour flags ") + flags + ")";
    if (modes != D3DCREATE_SOFTWARE_VERTEXPROCESSING && isSoftwareRenderer(rendererName))
        return "the OpenGL renderer \"" + rendererName +
               "\" rasterises in software and offers only software vertex processing, not the " +
               (modes == D3DCREATE_HARDWARE_VERTEXPROCESSING ? "hardware" : "mixed") + " mode (behaviour flags " +
               flags + ")";
    return {};
}

uint32_t displayFormatForDepth(int bitsPerPixel)
{
    if (bitsPerPixel >= 24) return D3DFMT_X8R8G8B8;
    if (bitsPerPixel == 15) return D3DFMT_X1R5G5B5;
    return D3DFMT_R5G6B5;
}

namespace {

int formatFamily(uint32_t format)
{
    switch (format) {
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8: return 32;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return 16;
    default: return 0;
    }
}

void unpackArgb(uint32_t argb, float out[4])
{
    out[0] = static_cast<float>((argb >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((argb >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(argb & 0xFF) / 255.0f;
    out[3] = static_cast<float>(argb >> 24) / 255.0f;
}

void copyColor(const ColorValue& c, float out[4])
{
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

}  // namespace

bool formatsCompatible(uint32_t adapterFormat, uint32_t backBufferFormat)
{
    // Within one depth the GL framebuffer converts; across depths the design's interface refuses,
    // and so do we, so the caller's fallback order stays meaningful.
    const int family = formatFamily(adapterFormat);
    return family != 0 && family == formatFamily(backBufferFormat);
}

ShaderState gatherShaderState(const GraphicsDevice& device, float viewportWidth, float viewportHeight,
                              const bool hasTexture[2])
{
    ShaderState s;
    std::memset(&s, 0, sizeof s);
    std::memcpy(s.world, device.transform(D3DTS_WORLD).m, sizeof s.world);
    std::memcpy(s.view, device.transform(D3DTS_VIEW).m, sizeof s.view);
    std::memcpy(s.projection, device.transform(D3DTS_PROJECTION).m, sizeof s.projection);
    s.viewport[0] = viewportWidth;
    s.viewport[1] = viewportHeight;

    const VertexLayout layout = vertexLayout(device.fvf());
    s.vertexMode[0] = layout.pretransformed;
    s.vertexMode[1] = !layout.pretransformed && device.renderState(D3DRS_LIGHTING) != 0;
    s.vertexMode[2] = layout.diffuse >= 0;
    s.vertexMode[3] = device.renderState(D3DRS_COLORVERTEX) != 0;
    s.pixelMode[0] = device.renderState(D3DRS_SPECULARENABLE) != 0;
    s.pixelMode[1] = layout.specular >= 0;
    s.pixelMode[2] = device.renderState(D3DRS_ALPHATESTENABLE) != 0;
    s.pixelMode[3] = static_cast<int32_t>(device.renderState(D3DRS_ALPHAFUNC));
    s.alphaReference[0] = static_cast<float>(device.renderState(D3DRS_ALPHAREF) & 0xFF);
    unpackArgb(device.renderState(D3DRS_AMBIENT), s.ambient);

    const Material& m = device.material();
    copyColor(m.diffuse, s.materialDiffuse);
    copyColor(m.ambient, s.materialAmbient);
    copyColor(m.specular, s.materialSpecular);
    copyColor(m.emissive, s.materialEmissive);
    s.materialPower[0] = m.power;
    // Lit, the specular colour is light specular times material specular: a material without
    // one adds nothing, so the per-vertex highlight and its per-pixel sum are skipped.
    if (s.vertexMode[1] && m.specular.r == 0.0f && m.specular.g == 0.0f && m.specular.b == 0.0f) s.pixelMode[0] = 0;

    // Only directional lights are emulated; enabled ones are packed to the front.
    int count = 0;
    for (uint32_t i = 0; i < GraphicsDevice::lightCount; ++i) {
        const Light& light = device.light(i);
        if (!device.lightEnabled(i) || light.type != D3DLIGHT_DIRECTIONAL) continue;
        const Vec3 d = unit(light.direction);
        s.lightDirection[count][0] = d.x;
        s.lightDirection[count][1] = d.y;
        s.lightDirection[count][2] = d.z;
        copyColor(light.diffuse, s.lightDiffuse[count]);
        copyColor(light.ambient, s.lightAmbient[count]);
        copyColor(light.specular, s.lightSpecular[count]);
        ++count;
    }
    s.lightCount[0] = count;

    for (uint32_t stage = 0; stage < 2; ++stage) {
        s.stageColor[stage][0] = static_cast<int32_t>(device.textureStageState(stage, D3DTSS_COLOROP));
        s.stageColor[stage][1] = static_cast<int32_t>(device.textureStageState(stage, D3DTSS_COLORARG1));
        s.stageColor[stage][2] = static_cast<int32_t>(device.textureStageState(stage, D3DTSS_COLORARG2));
        s.stageColor[stage][3] = hasTexture[stage];
        s.stageAlpha[stage][0] = static_cast<int32_t>(device.textureStageState(stage, D3DTSS_ALPHAOP));
        s.stageAlpha[stage][1] = static_cast<int32_t>(device.textureStageState(stage, D3DTSS_ALPHAARG1));
        s.stageAlpha[stage][2] = static_cast<int32_t>(device.textureStageState(stage, D3DTSS_ALPHAARG2));
        // A stage that reads a texture it does not have contributes nothing: it passes the
        // current colour and alpha on (reading white would wash ADD and ADDSIGNED stages out).
        if (!hasTexture[stage] && device.stageReadsTexture(stage)) {
            const int32_t pass[4] = {int32_t(D3DTOP_SELECTARG1), int32_t(D3DTA_CURRENT), int32_t(D3DTA_CURRENT), 0};
            std::memcpy(s.stageColor[stage], pass, sizeof pass);
            std::memcpy(s.stageAlpha[stage], pass, sizeof pass);
        }
    }
    return s;
}

ProgramKey programKey(const ShaderState& state)
{
    ProgramKey key;
    std::memcpy(key.vertexMode, state.vertexMode, sizeof key.vertexMode);
    std::memcpy(key.pixelMode, state.pixelMode, sizeof key.pixelMode);
    key.lightCount = state.lightCount[0];
    std::memcpy(key.stageColor, state.stageColor, sizeof key.stageColor);
    std::memcpy(key.stageAlpha, state.stageAlpha, sizeof key.stageAlpha);
    // States the shader does not read on the path the others choose are left out, so leftovers
    // of earlier draws do not multiply the programs: the comparison without alpha test, the
    // lights and colour source without lighting, every stage from the first disabled one on.
    if (!key.pixelMode[2]) key.pixelMode[3] = 0;
    if (!key.vertexMode[1]) key.vertexMode[3] = key.lightCount = 0;
    for (int stage = 0; stage < 2; ++stage)
        if (key.stageColor[stage][0] == int32_t(D3DTOP_DISABLE)) {
            for (int later = stage; later < 2; ++later)
                for (int i = 1; i < 4; ++i) key.stageColor[later][i] = key.stageAlpha[later][i - 1] = 0;
            for (int later = stage + 1; later < 2; ++later) key.stageColor[later][0] = int32_t(D3DTOP_DISABLE);
            break;
        }
    return key;
}

size_t ProgramKeyHash::operator()(const ProgramKey& key) const
{
    // FNV-1a over the members; the key has no padding (int32 members only).
    static_assert(sizeof(ProgramKey) == sizeof(int32_t) * 26);
    unsigned char bytes[sizeof(ProgramKey)];
    std::memcpy(bytes, &key, sizeof bytes);
    uint64_t h = 1469598103934665603ull;
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    return static_cast<size_t>(h);
}
