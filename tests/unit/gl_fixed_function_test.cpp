#include <gtest/gtest.h>

#include "platform/gl/fixed_function.h"
#include "support/recording_device.h"

TEST(VertexLayoutTest, ComponentsFollowTheFixedOrder)
{
    const uint32_t fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2;
    const VertexLayout l = vertexLayout(fvf);
    ASSERT_TRUE(l.valid);
    EXPECT_FALSE(l.pretransformed);
    EXPECT_EQ(3, l.positionSize);
    EXPECT_EQ(12, l.normal);
    EXPECT_EQ(24, l.diffuse);
    EXPECT_EQ(28, l.specular);
    EXPECT_EQ(2, l.texCoordCount);
    EXPECT_EQ(32, l.texCoord[0]);
    EXPECT_EQ(40, l.texCoord[1]);
    EXPECT_EQ(vertexSize(fvf), uint32_t(l.texCoord[1] + 8));

    const VertexLayout screen = vertexLayout(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    ASSERT_TRUE(screen.valid);
    EXPECT_TRUE(screen.pretransformed);
    EXPECT_EQ(4, screen.positionSize);
    EXPECT_EQ(-1, screen.normal);
    EXPECT_EQ(16, screen.diffuse);
    EXPECT_EQ(-1, screen.specular);
    EXPECT_EQ(20, screen.texCoord[0]);

    EXPECT_FALSE(vertexLayout(D3DFVF_DIFFUSE).valid);
    EXPECT_FALSE(vertexLayout(D3DFVF_XYZ | D3DFVF_XYZRHW).valid);
}

TEST(DeviceCreationPolicyTest, SoftwareRenderersOfferOnlySoftwareVertexProcessing)
{
    const std::string software = "llvmpipe (LLVM 15.0.6, 256 bits)";
    EXPECT_TRUE(isSoftwareRenderer(software));
    EXPECT_TRUE(isSoftwareRenderer("Mesa softpipe"));
    EXPECT_TRUE(isSoftwareRenderer("Software Rasterizer"));
    EXPECT_FALSE(isSoftwareRenderer("Example GPU (hardware rasteriser)"));

    EXPECT_EQ("", vertexProcessingRefusal(D3DCREATE_SOFTWARE_VERTEXPROCESSING, software));
    const std::string refusal = vertexProcessingRefusal(D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE, software);
    EXPECT_NE(std::string::npos, refusal.find("llvmpipe")) << refusal;
    EXPECT_NE(std::string::npos, refusal.find("hardware")) << refusal;
    EXPECT_NE("", vertexProcessingRefusal(D3DCREATE_MIXED_VERTEXPROCESSING, software));

    const std::string hardware = "NV166";
    for (uint32_t mode : {D3DCREATE_SOFTWARE_VERTEXPROCESSING, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                          D3DCREATE_MIXED_VERTEXPROCESSING, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE})
        EXPECT_EQ("", vertexProcessingRefusal(mode, hardware)) << mode;
    // No mode, or two at once, is a malformed request on any renderer.
    EXPECT_NE("", vertexProcessingRefusal(D3DCREATE_PUREDEVICE, hardware));
    EXPECT_NE("", vertexProcessingRefusal(D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING, hardware));
}

TEST(ShaderStateTest, PacksEnabledDirectionalLightsAndUnpacksAmbient)
{
    RecordingDevice device;
    Light directional{};
    directional.type = D3DLIGHT_DIRECTIONAL;
    directional.direction = {0.0f, 0.0f, 2.0f};
    directional.diffuse = {0.5f, 0.25f, 1.0f, 1.0f};
    Light point = directional;
    point.type = 1;
    device.setLight(0, directional);  // left disabled
    device.setLight(1, point);
    device.lightEnable(1, true);
    device.setLight(3, directional);
    device.lightEnable(3, true);
    device.setRenderState(D3DRS_AMBIENT, 0x80FF4000);
    device.setFVF(D3DFVF_XYZ | D3DFVF_NORMAL);

    const bool textures[2] = {true, false};
    const ShaderState s = gatherShaderState(device, 64.0f, 48.0f, textures);
    EXPECT_EQ(1, s.lightCount[0]);
    EXPECT_FLOAT_EQ(1.0f, s.lightDirection[0][2]);  // normalised
    EXPECT_FLOAT_EQ(0.25f, s.lightDiffuse[0][1]);
    EXPECT_FLOAT_EQ(1.0f, s.ambient[0]);
    EXPECT_FLOAT_EQ(64.0f / 255.0f, s.ambient[1]);
    EXPECT_FLOAT_EQ(0.0f, s.ambient[2]);
    EXPECT_FLOAT_EQ(128.0f / 255.0f, s.ambient[3]);
    EXPECT_EQ(1, s.vertexMode[1]);
    EXPECT_EQ(1, s.stageColor[0][3]);
    EXPECT_EQ(0, s.stageColor[1][3]);

    // Screen-space vertices are never lit, whatever the lighting state says.
    device.setFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    const ShaderState screen = gatherShaderState(device, 64.0f, 48.0f, textures);
    EXPECT_EQ(1, screen.vertexMode[0]);
    EXPECT_EQ(0, screen.vertexMode[1]);
}

TEST(ProgramKeyTest, LeftoverStatesOffThePathShareAProgramAndStatesOnItDoNot)
{
    RecordingDevice device;
    device.setFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    device.setRenderState(D3DRS_LIGHTING, 0);
    const bool textured[2] = {true, false};
    const ProgramKey base = programKey(gatherShaderState(device, 64, 48, textured));

    // Not read: the comparison without alpha test, lights without lighting, disabled stages.
    device.setRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    Light light{};
    light.type = D3DLIGHT_DIRECTIONAL;
    light.direction = {0, -1, 0};
    device.setLight(0, light);
    device.lightEnable(0, true);
    device.setTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device.setTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    EXPECT_EQ(base, programKey(gatherShaderState(device, 64, 48, textured)));
    const bool bothTextured[2] = {true, true};
    EXPECT_EQ(base, programKey(gatherShaderState(device, 64, 48, bothTextured)));

    // Read: each of these picks another program.
    const auto differs = [&](auto change, auto undo) {
        change();
        const bool other = !(base == programKey(gatherShaderState(device, 64, 48, textured)));
        undo();
        return other;
    };
    EXPECT_TRUE(differs([&] { device.setRenderState(D3DRS_ALPHATESTENABLE, 1); },
                        [&] { device.setRenderState(D3DRS_ALPHATESTENABLE, 0); }));
    EXPECT_TRUE(differs([&] { device.setRenderState(D3DRS_LIGHTING, 1); }, [&] { device.setRenderState(D3DRS_LIGHTING, 0); }));
    EXPECT_TRUE(differs([&] { device.setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD); },
                        [&] { device.setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE); }));
    EXPECT_TRUE(differs([&] { device.setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSIGNED); },
                        [&] { device.setTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE); }));
    EXPECT_TRUE(differs([&] { device.setFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1); },
                        [&] { device.setFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1); }));
    const bool untextured[2] = {false, false};
    EXPECT_FALSE(base == programKey(gatherShaderState(device, 64, 48, untextured)));
    EXPECT_EQ(ProgramKeyHash{}(base), ProgramKeyHash{}(programKey(gatherShaderState(device, 64, 48, textured))));
}

TEST(ShaderStateTest, LitSpecularOnlyWhereTheMaterialHasOne)
{
    RecordingDevice device;
    device.setFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    device.setRenderState(D3DRS_SPECULARENABLE, 1);
    const bool none[2] = {false, false};
    Material material{};
    material.diffuse = {1, 1, 1, 1};
    device.setMaterial(material);
    EXPECT_EQ(0, gatherShaderState(device, 64, 48, none).pixelMode[0]);  // lit, nothing to add
    material.specular = {0, 0, 0.25f, 0};
    device.setMaterial(material);
    EXPECT_EQ(1, gatherShaderState(device, 64, 48, none).pixelMode[0]);
    // Unlit, the vertex's own specular colour counts, whatever the material.
    material.specular = {0, 0, 0, 0};
    device.setMaterial(material);
    device.setRenderState(D3DRS_LIGHTING, 0);
    device.setFVF(D3DFVF_XYZ | D3DFVF_SPECULAR);
    EXPECT_EQ(1, gatherShaderState(device, 64, 48, none).pixelMode[0]);
}
