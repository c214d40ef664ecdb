// Processor time per frame of our own code on the main thread, outside the graphics driver: the
// real start-up and frames on a data set, drawn into a device that keeps every state like the
// OpenGL one and does its per-draw bookkeeping (shader inputs gathered, program key looked up,
// uniform bytes compared) but calls no driver. Timed with the thread's own processor clock over
// blocks of frames; prints microseconds per frame, minimum / median / maximum over the blocks.
//
// Usage: own_cpu DATA_DIR [--blocks N] [--frames N]

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/application.h"
#include "state/clock.h"
#include "base/fatal_error.h"
#include "app/graphics.h"
#include "platform/gl/fixed_function.h"
#include "platform/image/image_loader.h"

namespace {

class NullDevice : public GraphicsDevice {
public:
    std::unique_ptr<VertexBuffer> makeVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) override
    {
        return std::make_unique<VertexBuffer>(length, usage, fvf, pool);
    }
    std::unique_ptr<IndexBuffer> makeIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool) override
    {
        return std::make_unique<IndexBuffer>(length, usage, format, pool);
    }
    std::unique_ptr<Texture> makeTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                           uint32_t format, uint32_t pool) override
    {
        return std::make_unique<Texture>(width, height, levels, usage, format, pool);
    }
    int maxTextureWidth() const override { return 8192; }
    void issueClear(uint32_t, uint32_t, float, uint32_t) override {}
    void beginScene() override {}
    void endScene() override {}
    void present() override {}
    bool readBackBuffer(RgbaImage&) override { return false; }
    void issueDrawPrimitive(uint32_t, uint32_t, uint32_t) override { bookkeeping(); }
    void issueDrawIndexedPrimitive(uint32_t, int, uint32_t, uint32_t, uint32_t, uint32_t count) override
    {
        bookkeeping();
        indexedTriangles += count;
    }
    // One multi-draw, as the OpenGL device issues it.
    void issueDrawIndexedRanges(uint32_t, int, uint32_t, uint32_t, const IndexRange* ranges, size_t count) override
    {
        bookkeeping();
        for (size_t i = 0; i < count; ++i) indexedTriangles += ranges[i].primitiveCount;
    }

    long draws = 0;
    uint64_t indexedTriangles = 0;  // land and water triangles handed to the driver

private:
    // What the OpenGL device computes per draw before it reaches the driver.
    void bookkeeping()
    {
        ++draws;
        const bool hasTexture[2] = {texture(0) != nullptr, texture(1) != nullptr};
        const VertexLayout layout = vertexLayout(fvf());
        if (!layout.valid) return;
        const ShaderState state = gatherShaderState(*this, 800.0f, 600.0f, hasTexture);
        const ProgramKey key = programKey(state);
        if (programs_.find(key) == programs_.end()) programs_.emplace(key, programs_.size());
        if (std::memcmp(&state, &last_, sizeof state) != 0) last_ = state;
    }
    std::unordered_map<ProgramKey, size_t, ProgramKeyHash> programs_;
    ShaderState last_{};
};

class NullSystem : public GraphicsSystem {
public:
    bool adapterDisplayMode(DisplayMode& mode) override
    {
        mode = {800, 600, 60, D3DFMT_X8R8G8B8};
        return true;
    }
    bool checkDeviceType(uint32_t, uint32_t, uint32_t, bool) override { return true; }
    std::unique_ptr<GraphicsDevice> createDevice(uint32_t, void*, uint32_t, PresentParameters& p) override
    {
        p.backBufferWidth = 800;
        p.backBufferHeight = 600;
        auto device = std::make_unique<NullDevice>();
        lastDevice = device.get();
        return device;
    }
    NullDevice* lastDevice = nullptr;
};

double threadCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

}  // namespace

int main(int argc, char** argv)
{
    // Pictures load through the platform's decoder, as in the program.
    ImageFileReader pictureFiles;
    setPictureReader(&pictureFiles);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA_DIR [--blocks N] [--frames N]\n", argv[0]);
        return 2;
    }
    int blocks = 7, frames = 200;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (v <= 0 || (a != "--blocks" && a != "--frames")) {
            std::fprintf(stderr, "bad option %s %s\n", argv[i], argv[i + 1]);
            return 2;
        }
        (a == "--blocks" ? blocks : frames) = v;
    }
    if (chdir(argv[1]) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", argv[1]);
        return 1;
    }

    VirtualClock clock(20);
    setTickSource(&clock);
    NullSystem* system = nullptr;
    setGraphicsSystemFactory([&system] {
        auto made = std::make_unique<NullSystem>();
        system = made.get();
        return made;
    });
    appHooks.createInput = [] { return 0; };  // no keyboard or mouse: nothing is pressed
    if (!startUp()) {
        std::fprintf(stderr, "start-up failed: %s\n", fatalErrorPending() ? fatalErrorMessage().c_str() : "input");
        shutDown();
        return 1;
    }
    for (int i = 0; i < 20; ++i) runFrame();  // warm-up: first-use work is not per-frame work

    std::vector<double> perFrame;
    const long drawsBefore = system && system->lastDevice ? system->lastDevice->draws : 0;
    const uint64_t trianglesBefore = system && system->lastDevice ? system->lastDevice->indexedTriangles : 0;
    for (int b = 0; b < blocks; ++b) {
        const double start = threadCpuUs();
        for (int i = 0; i < frames; ++i) runFrame();
        perFrame.push_back((threadCpuUs() - start) / frames);
    }
    const long draws = system && system->lastDevice ? system->lastDevice->draws - drawsBefore : 0;
    const uint64_t triangles = system && system->lastDevice ? system->lastDevice->indexedTriangles - trianglesBefore : 0;
    shutDown();
    setTickSource(nullptr);

    std::sort(perFrame.begin(), perFrame.end());
    std::printf("own code on the main thread, outside the driver (%d blocks of %d frames, %.1f draws a frame):\n",
                blocks, frames, double(draws) / (double(blocks) * frames));
    std::printf("  %-34s %9.1f %9.1f %9.1f  us\n", "CPU per frame (min, median, max)", perFrame.front(),
                perFrame[perFrame.size() / 2], perFrame.back());
    std::printf("  %-34s %9.0f\n", "terrain triangles drawn a frame", double(triangles) / (double(blocks) * frames));
    return 0;
}
