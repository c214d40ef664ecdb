// Per-frame cost of the head-up display: GameWorld::drawHud (three formatted lines through the
// "Arial" 20 bold font) measured on the CPU alone and on the OpenGL device off screen.
//
//   build/hud_bench [frames]
//
// CPU: drawHud against a device that keeps state in memory and draws nothing (formatting, state
// blocks, vertex writes). GL: frames of clear + drawHud + glFinish against frames of clear +
// glFinish on the same off-screen 800 x 600 device; the difference is what the text costs. Three
// one-glyph lines show how much of it is per call rather than per glyph.

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/fatal_error.h"
#include "app/graphics.h"
#include "state/settings.h"
#include "platform/gl/gl_system.h"
#include "platform/glyphs/freetype_rasterizer.h"
#include "world/game_world.h"

namespace {

// Keeps state and buffers in memory; drawing does nothing.
class NullDevice : public GraphicsDevice {
public:
    uint64_t triangles = 0;
    std::unique_ptr<VertexBuffer> makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) override
    {
        return std::make_unique<VertexBuffer>(length, usage, fvf, pool);
    }
    std::unique_ptr<IndexBuffer> makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool) override
    {
        return std::make_unique<IndexBuffer>(length, usage, format, pool);
    }
    std::unique_ptr<Texture> makeTexture(uint32_t w, uint32_t h, uint32_t levels, uint32_t usage, uint32_t format,
                                           uint32_t pool) override
    {
        return std::make_unique<Texture>(w, h, levels, usage, format, pool);
    }
    int maxTextureWidth() const override { return 4096; }
    void issueClear(uint32_t, uint32_t, float, uint32_t) override {}
    void beginScene() override {}
    void endScene() override {}
    void present() override {}
    bool readBackBuffer(RgbaImage&) override { return false; }
    void issueDrawPrimitive(uint32_t, uint32_t, uint32_t primitiveCount) override { triangles += primitiveCount; }
    void issueDrawIndexedPrimitive(uint32_t, int, uint32_t, uint32_t, uint32_t, uint32_t) override {}
};

double microsecondsPerFrame(int frames, const std::function<void()>& frame)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) frame();
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / frames;
}

// The two kinds of frame in alternating blocks, so load from elsewhere on the machine hits both
// alike; the fastest block of each kind counts.
void compare(int frames, const std::function<void()>& a, const std::function<void()>& b, double& bestA, double& bestB)
{
    bestA = bestB = 1e300;
    for (int round = 0; round < 10; ++round) {
        bestA = std::min(bestA, microsecondsPerFrame(frames, a));
        bestB = std::min(bestB, microsecondsPerFrame(frames, b));
    }
}

// A 1 x 1 black 24-bit BMP, so the world's balls find their pictures.
void writeTinyBmp(const std::filesystem::path& path)
{
    const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0,
                                   24, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                   0, 0, 0, 0};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bmp), sizeof bmp);
}

bool prepareFont(GraphicsDevice& device)
{
    hudFont = std::make_unique<BitmapFont>("Arial", 20, BitmapFont::Bold);
    return hudFont->createGlyphTexture(&device) == S_OK && hudFont->createDrawResources() == S_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    appSettings.screenWidth = 800;
    appSettings.screenHeight = 600;
    setGlyphRasterizerFactory(createFreeTypeRasterizer);

    // The world reads its files from the working directory: an empty terrain will do.
    const auto dir = std::filesystem::temp_directory_path() / "zentrix-hud-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::ofstream("TerrainTextures.txt") << "Base 0\nDetail 0\nHeightMaps 0\n";
    std::filesystem::create_directories("Graphic");
    writeTinyBmp("Graphic/Billardkugel1.bmp");
    writeTinyBmp("Graphic/Billardkugel3.bmp");
    GameWorld* world = nullptr;

    {
        auto device = std::make_unique<NullDevice>();
        NullDevice* null = device.get();
        graphicsDevice = std::move(device);
        if (!prepareFont(*graphicsDevice)) {
            std::fprintf(stderr, "hud_bench: the font cannot be made\n");
            return 1;
        }
        world = new GameWorld();
        clearFatalError();  // drawHud needs no terrain
        double cpu = 1e300;
        for (int round = 0; round < 10; ++round) cpu = std::min(cpu, microsecondsPerFrame(frames, [&] { world->drawHud(); }));
        null->triangles = 0;
        world->drawHud();
        std::printf("CPU  drawHud, no drawing:            %8.2f us/frame (best of 10 x %d frames; %llu triangles, 3 draws)\n",
                    cpu, frames, static_cast<unsigned long long>(null->triangles));
        delete world;
        hudFont.reset();
        graphicsDevice.reset();
    }

    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "hud_bench: no video: %s\n", SDL_GetError());
        return 1;
    }
    setGlWindowAttributes();
    SDL_Window* window = SDL_CreateWindow("hud bench", 0, 0, 800, 600, SDL_WINDOW_OPENGL);
    if (!window) {
        std::fprintf(stderr, "hud_bench: no window: %s\n", SDL_GetError());
        return 1;
    }
    {
        auto system = createGlGraphicsSystem(window, true);
        PresentParameters p{};
        p.windowed = 1;
        p.enableAutoDepthStencil = 1;
        graphicsDevice = system->createDevice(D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p);
        if (!graphicsDevice || !prepareFont(*graphicsDevice)) {
            std::fprintf(stderr, "hud_bench: no OpenGL device or font: %s\n", system->lastError().c_str());
            return 1;
        }
        world = new GameWorld();
        clearFatalError();
        GraphicsDevice& d = *graphicsDevice;
        const int glFrames = std::max(1, frames / 20);
        double bare = 0, withHud = 0;
        compare(
            glFrames,
            [&] {
                d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
                glFinish();
            },
            [&] {
                d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
                world->drawHud();
                glFinish();
            },
            bare, withHud);
        std::printf("GL   clear + glFinish:               %8.2f us/frame (best of 10 x %d frames, %s)\n", bare, glFrames,
                    reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
        std::printf("GL   clear + drawHud + glFinish:     %8.2f us/frame\n", withHud);
        std::printf("GL   head-up display share:          %8.2f us/frame\n", withHud - bare);
        // The fixed part of the three text draws, for comparison: three lines of one glyph each.
        double bareAgain = 0, oneGlyph = 0;
        compare(
            glFrames,
            [&] {
                d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
                glFinish();
            },
            [&] {
                d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
                for (int i = 0; i < 3; ++i)
                    hudFont->drawText(-0.97f, -0.97f + 0.05f * float(i), 0.9f, 0.03f, 0.02f, 0xFF646464, "T",
                                      BitmapFont::LinearFilter);
                glFinish();
            },
            bareAgain, oneGlyph);
        std::printf("GL   three one-glyph lines:          %8.2f us/frame over clear + glFinish\n", oneGlyph - bareAgain);
        delete world;
        hudFont.reset();
        graphicsDevice.reset();
    }
    SDL_DestroyWindow(window);
    SDL_Quit();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}
