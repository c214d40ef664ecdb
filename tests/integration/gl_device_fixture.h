#pragma once

// The OpenGL device drawn off screen and read back pixel by pixel: the fixture the GL device's
// tests share (states, programs, multi-draw, kept layer). Needs a GL 3.3 driver (Mesa llvmpipe is
// enough); without one every test fails with the reason.


#include <gtest/gtest.h>

#include <algorithm>

#include <SDL.h>
#include <epoxy/gl.h>
#include <stb_image.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <utility>

#include "app/graphics.h"
#include "state/settings.h"
#include "math/matrix4.h"
#include "platform/gl/fixed_function.h"
#include "platform/gl/gl_device.h"
#include "platform/gl/gl_system.h"
#include "platform/glyphs/freetype_rasterizer.h"
#include "platform/image/png_writer.h"
#include "support/allocation_count.h"



inline constexpr int screenWidth = 64, screenHeight = 48;

struct Display {
    SDL_Window* window = nullptr;
    std::string error;
};

// One off-screen window for the whole run; each test makes its own system and device on it.
inline const Display& display()
{
    static const Display d = [] {
        Display made;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            made.error = std::string("SDL_Init(SDL_INIT_VIDEO) failed: ") + SDL_GetError();
            return made;
        }
        setGlWindowAttributes();
        made.window = SDL_CreateWindow("gl device test", 0, 0, screenWidth, screenHeight, SDL_WINDOW_OPENGL);
        if (!made.window) made.error = std::string("SDL_CreateWindow failed: ") + SDL_GetError();
        return made;
    }();
    return d;
}

inline PresentParameters windowedParameters()
{
    PresentParameters p{};
    p.windowed = 1;
    p.swapEffect = D3DSWAPEFFECT_DISCARD;
    p.enableAutoDepthStencil = 1;
    p.autoDepthStencilFormat = D3DFMT_D16;
    return p;
}

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u0, v0, u1, v1;
};
inline constexpr uint32_t screenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;

struct LitVertex {
    float x, y, z, nx, ny, nz;
    uint32_t diffuse;
};
inline constexpr uint32_t litFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;

struct Rgb {
    int r, g, b;
};

inline ::testing::AssertionResult near(const Rgb& got, const Rgb& want, int tolerance = 0)
{
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want (" << want.r
                                         << ", " << want.g << ", " << want.b << ") +-" << tolerance;
}

inline const Rgb black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};

class GlDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, display().window) << "no OpenGL window: " << display().error;
        system = createGlGraphicsSystem(display().window, true);
        PresentParameters p = windowedParameters();
        device = system->createDevice(D3DDEVTYPE_HAL, display().window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p);
        ASSERT_NE(nullptr, device) << system->lastError();
        device->setRenderState(D3DRS_LIGHTING, 0);
        device->setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }
    void TearDown() override
    {
        buffers.clear();
        textures.clear();
        device.reset();
    }

    template <class V>
    VertexBuffer* vertexBuffer(uint32_t fvf, const std::vector<V>& vertices)
    {
        const auto bytes = uint32_t(vertices.size() * sizeof(V));
        buffers.push_back(device->createVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED));
        std::memcpy(buffers.back()->lock(0, 0, 0), vertices.data(), bytes);
        buffers.back()->unlock();
        return buffers.back().get();
    }
    template <class V>
    void draw(uint32_t fvf, uint32_t type, uint32_t count, const std::vector<V>& vertices)
    {
        device->setStreamSource(0, vertexBuffer(fvf, vertices), 0, sizeof(V));
        device->setFVF(fvf);
        device->drawPrimitive(type, 0, count);
    }
    static std::vector<ScreenVertex> rectVertices(float x0, float y0, float x1, float y1, uint32_t argb, float z = 0.5f,
                                                  float uv = 1.0f)
    {
        // The second coordinate set stays on (0.75, 0.5) throughout.
        return {{x0, y0, z, 1, argb, 0, 0, 0.75f, 0.5f}, {x1, y0, z, 1, argb, uv, 0, 0.75f, 0.5f},
                {x0, y1, z, 1, argb, 0, uv, 0.75f, 0.5f}, {x1, y1, z, 1, argb, uv, uv, 0.75f, 0.5f}};
    }
    void rect(float x0, float y0, float x1, float y1, uint32_t argb, float z = 0.5f, float uv = 1.0f)
    {
        draw(screenFvf, D3DPT_TRIANGLESTRIP, 2, rectVertices(x0, y0, x1, y1, argb, z, uv));
    }
    // levels[i] holds level i's texels, rows top to bottom.
    template <class T>
    Texture* texture(uint32_t width, uint32_t height, uint32_t format, const std::vector<std::vector<T>>& levels)
    {
        textures.push_back(device->createTexture(width, height, uint32_t(levels.size()), 0, format, D3DPOOL_MANAGED));
        for (uint32_t i = 0; i < levels.size(); ++i) {
            std::memcpy(textures.back()->lockRect(i).bits, levels[i].data(), levels[i].size() * sizeof(T));
            textures.back()->unlockRect(i);
        }
        return textures.back().get();
    }
    RgbaImage frame()
    {
        RgbaImage image;
        EXPECT_TRUE(device->readBackBuffer(image));
        return image;
    }
    static Rgb at(const RgbaImage& image, int x, int y)
    {
        const uint8_t* p = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
        return {p[0], p[1], p[2]};
    }

    std::unique_ptr<GraphicsSystem> system;
    std::unique_ptr<GraphicsDevice> device;
    std::vector<std::unique_ptr<VertexBuffer>> buffers;
    std::vector<std::unique_ptr<Texture>> textures;
};
