#include "app/graphics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "app/application.h"
#include "app/data_home.h"
#include "base/fatal_error.h"
#include "state/settings.h"
#include "base/checked_file.h"
#include "base/data_folder.h"
#include "world/game_world.h"

namespace {

GraphicsSystemFactory systemFactory;

struct Attempt {
    uint32_t flags;
    const char* logLine;
};

// The vertex-processing modes tried for each setting, requested mode first.
const Attempt row0[] = {
    {D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE, "hardware VertexProcessing with PureDevice gewollt"},
    {D3DCREATE_HARDWARE_VERTEXPROCESSING, "hardware VertexProcessing ungewollt"},
    {D3DCREATE_MIXED_VERTEXPROCESSING, "mixed VertexProcessing ungewollt"},
    {D3DCREATE_SOFTWARE_VERTEXPROCESSING, "software VertexProcessing ungewollt"},
};
const Attempt row1[] = {
    {D3DCREATE_HARDWARE_VERTEXPROCESSING, "hardware VertexProcessing gewollt"},
    {D3DCREATE_MIXED_VERTEXPROCESSING, "mixed VertexProcessing ungewollt"},
    {D3DCREATE_SOFTWARE_VERTEXPROCESSING, "software VertexProcessing ungewollt"},
};
const Attempt row2[] = {
    {D3DCREATE_MIXED_VERTEXPROCESSING, "mixed VertexProcessing gewollt"},
    {D3DCREATE_SOFTWARE_VERTEXPROCESSING, "software VertexProcessing ungewollt"},
};
const Attempt row3[] = {
    {D3DCREATE_SOFTWARE_VERTEXPROCESSING, "software VertexProcessing gewollt"},
};

uint32_t chooseBackBufferFormat()
{
    struct Pair {
        uint32_t adapter, back;
    };
    static const Pair pairs16[] = {{D3DFMT_R5G6B5, D3DFMT_R5G6B5}, {D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5},
                                   {D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5}};
    static const Pair pairs32[] = {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}};
    const Pair* begin = appSettings.colorDepth == 32 ? pairs32 : pairs16;
    const Pair* end = appSettings.colorDepth == 32 ? std::end(pairs32) : std::end(pairs16);
    if (appSettings.colorDepth != 16 && appSettings.colorDepth != 32) return D3DFMT_UNKNOWN;
    for (const Pair* p = begin; p != end; ++p)
        if (graphicsSystem->checkDeviceType(D3DDEVTYPE_HAL, p->adapter, p->back, false)) return p->back;
    return D3DFMT_UNKNOWN;
}

// The presentation of the back buffer: the desktop's format in a window, the chosen full-screen
// format and size otherwise.
PresentParameters presentParameters()
{
    const bool windowed = appSettings.fullScreen == 0;
    DisplayMode desktop{};
    if (windowed) graphicsSystem->adapterDisplayMode(desktop);
    // Checked in windowed mode too, where the result goes unused.
    backBufferFormat = chooseBackBufferFormat();

    PresentParameters pp{};
    if (windowed) {
        pp.backBufferFormat = desktop.format;
        pp.swapEffect = D3DSWAPEFFECT_DISCARD;
        pp.deviceWindow = nullptr;
        pp.windowed = 1;
    } else {
        pp.backBufferWidth = static_cast<uint32_t>(appSettings.screenWidth);
        pp.backBufferHeight = static_cast<uint32_t>(appSettings.screenHeight);
        pp.backBufferFormat = backBufferFormat;
        pp.swapEffect = D3DSWAPEFFECT_FLIP;
        pp.deviceWindow = mainWindow;
        pp.windowed = 0;
    }
    pp.backBufferCount = 1;
    pp.enableAutoDepthStencil = 1;
    pp.autoDepthStencilFormat = D3DFMT_D16;
    pp.presentationInterval = D3DPRESENT_INTERVAL_ONE;
    return pp;
}

// The base states every drawing part relies on or sets back to.
void setBaseStates(GraphicsDevice& d)
{
    d.setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d.setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d.setSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d.setSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d.setTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d.setTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    d.setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d.setRenderState(D3DRS_DITHERENABLE, 1);
    d.setRenderState(D3DRS_SPECULARENABLE, 1);
    d.setRenderState(D3DRS_LIGHTING, 1);
    d.setRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
}

// The data folder may be shared or unpacked from elsewhere: a link or a pipe planted under the
// log's name must not redirect or block the write. A data folder that cannot take the log at all
// (a system-wide install, a read-only medium) leaves it to the user's state folder, said in one
// line; any other failure ends the program. False with error set.
bool openLog(OutputFile& log, std::string& error)
{
    if (log.open(dataPath(logFileName), "the log", OutputFile::Accept::RegularOnly)) return true;
    error = log.error();
    const int err = log.openErrno();
    if (err != EACCES && err != EROFS && err != EPERM) return false;
    const std::filesystem::path state = userStateFolder();
    std::string why;
    if (state.empty()) why = "no home folder is known";
    if (why.empty() && createPrivateFolders(state, why)) {
        const std::string moved = (state / logFileName).string();
        if (log.open(moved, "the log", OutputFile::Accept::RegularOnly)) {
            std::error_code ec;
            const std::filesystem::path folder = std::filesystem::absolute(dataPath("."), ec).parent_path();
            std::fprintf(stderr, "zentrix: the data folder %s cannot take the log (%s); it goes to %s\n",
                         folder.c_str(), std::strerror(err), moved.c_str());
            return true;
        }
        why = log.error();
    }
    error += "; nor can it go to the state folder: " + why;
    return false;
}

}  // namespace

void setGraphicsSystemFactory(GraphicsSystemFactory factory) { systemFactory = std::move(factory); }

bool createGraphicsDevice()
{
    graphicsSystem = systemFactory ? systemFactory() : nullptr;
    if (!graphicsSystem) {
        reportFatal("cannot start the graphics system");
        return false;
    }
    PresentParameters pp = presentParameters();

    OutputFile log;
    std::string logError;
    if (!openLog(log, logError)) {
        reportFatal(logError);
        return false;
    }

    const Attempt* attempts = nullptr;
    size_t count = 0;
    switch (appSettings.vertexProcessing) {
    case 0: attempts = row0; count = std::size(row0); break;
    case 1: attempts = row1; count = std::size(row1); break;
    case 2: attempts = row2; count = std::size(row2); break;
    case 3: attempts = row3; count = std::size(row3); break;
    default: break;
    }
    for (size_t i = 0; i < count; ++i) {
        graphicsDevice = graphicsSystem->createDevice(D3DDEVTYPE_HAL, mainWindow, attempts[i].flags, pp);
        // The last attempt's line is written whether or not it succeeded.
        if (graphicsDevice || i + 1 == count) {
            log.printf("%s\n", attempts[i].logLine);
            break;
        }
    }
    // A log that cannot be written ends the program like a missing settings file.
    if (!log.close()) {
        reportFatal(log.error());
        return false;
    }
    if (!graphicsDevice) {
        const std::string why = graphicsSystem->lastError();
        reportFatal("cannot create the graphics device" + (why.empty() ? std::string() : ": " + why));
        return false;
    }

    GraphicsDevice& d = *graphicsDevice;
    setBaseStates(d);
    aspectRatio = static_cast<float>(appSettings.screenWidth) / static_cast<float>(appSettings.screenHeight);
    // Their results are not needed: a font that could not be made draws nothing.
    for (BitmapFont* font : {hudFont.get(), smallFont.get()}) {
        if (!font) continue;
        font->createGlyphTexture(&d);
        font->createDrawResources();
    }
    return true;
}

void renderFrame()
{
    if (!graphicsDevice) return;
    GraphicsDevice& d = *graphicsDevice;
    d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
    d.beginScene();
    if (theWorld) {
        theWorld->frame();
        theWorld->drawPointBatch();
    }
    d.endScene();
    if (appHooks.beforePresent) appHooks.beforePresent();
    d.present();
}

void releaseGraphics()
{
    if (hudFont) hudFont->releaseGlyphTexture();
    if (smallFont) smallFont->releaseGlyphTexture();
    hudFont.reset();
    smallFont.reset();
    graphicsDevice.reset();
    graphicsSystem.reset();
}
