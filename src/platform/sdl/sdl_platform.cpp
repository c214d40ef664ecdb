#include "platform/sdl/sdl_platform.h"

#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <cstring>

#include "platform/quiet_stderr.h"

namespace {

// Escape and F12 pressed since they were last asked about. The key state says only whether a key
// is down now, and a tap shorter than a frame is over before the frame looks: the press event,
// seen as SDL takes it from the display, is kept until read.
std::atomic<bool> escapePressed{false};
std::atomic<bool> screenshotPressed{false};

int notePress(void*, SDL_Event* event)
{
    if (event->type == SDL_KEYDOWN && !event->key.repeat) {
        if (event->key.keysym.scancode == SDL_SCANCODE_ESCAPE) escapePressed = true;
        if (event->key.keysym.scancode == SDL_SCANCODE_F12) screenshotPressed = true;
    }
    return 1;
}

bool keyDown(SDL_Scancode scancode)
{
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    return keys && scancode < count && keys[scancode];
}

}  // namespace

SdlVideo::~SdlVideo()
{
    if (!started_) return;
    SDL_DelEventWatch(notePress, nullptr);
    SDL_Quit();
}

bool SdlVideo::start(bool headless, std::string& error)
{
    if (headless) SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    int status = 0;
    {
        QuietStderr quiet;
        status = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    }
    if (status != 0) {
        error = std::string("cannot open a window: ") + SDL_GetError() +
                (headless ? "" : " (no display? run with --headless to render off-screen)");
        return false;
    }
    started_ = true;
    escapePressed = false;
    screenshotPressed = false;
    SDL_AddEventWatch(notePress, nullptr);
    // SDL falls back to its off-screen drivers when no display is reachable; a visible window was
    // asked for, so say so rather than run unseen.
    const char* driver = SDL_GetCurrentVideoDriver();
    const std::string name = driver ? driver : "";
    if (!headless && (name == "offscreen" || name == "dummy")) {
        error = "cannot open a window: no display found (DISPLAY and WAYLAND_DISPLAY are unset or unreachable); "
                "run with --headless to render off-screen";
        return false;
    }
    return true;
}

SdlWindow::~SdlWindow()
{
    if (window_) SDL_DestroyWindow(window_);
}

namespace {

// The display a window at (0, 0) of this size opens on: the one holding its centre.
int displayAt(int width, int height)
{
    const SDL_Point centre{width / 2, height / 2};
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(i, &bounds) == 0 && SDL_PointInRect(&centre, &bounds)) return i;
    }
    return 0;
}

}  // namespace

bool SdlWindow::create(const char* title, int width, int height, bool fullScreen, bool headless, std::string& error)
{
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN;
    if (fullScreen && !headless) {
        // Full screen switches the display to the asked size where it has that mode. Where it
        // has not (a fixed-mode or virtual screen), the window covers the screen at the
        // desktop's size and the device scales the frame into it: SDL would otherwise take the
        // nearest larger mode, or none, and the frame would fill only a corner of the screen.
        const int display = displayAt(width, height);
        SDL_DisplayMode want{}, closest{}, desktop{};
        want.w = width;
        want.h = height;
        if (SDL_GetClosestDisplayMode(display, &want, &closest) && closest.w == width && closest.h == height) {
            flags |= SDL_WINDOW_FULLSCREEN;
        } else if (SDL_GetDesktopDisplayMode(display, &desktop) == 0) {
            flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
            width = desktop.w;
            height = desktop.h;
        } else {
            flags |= SDL_WINDOW_FULLSCREEN;
        }
    }
    {
        QuietStderr quiet;
        window_ = SDL_CreateWindow(title, 0, 0, width, height, flags);
    }
    if (!window_) {
        error = std::string("cannot create the window: ") + SDL_GetError();
        return false;
    }
    // Once the graphics library has resolved its entry points it holds EGL (where the window
    // uses EGL) until the process ends, and EGL's own exit handler frees its displays. A run
    // refused before that point would have SDL unload EGL with the window, its display record
    // left unreachable; held from the window on, every run ends alike.
    static void* const heldEgl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_NOLOAD);
    (void)heldEgl;
    return true;
}

bool SdlWindow::hasInputFocus() const
{
    return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

bool pollOneEvent()
{
    // The mouse is the program's alone while its window is in front, so the window hears nothing
    // of it: its events are dropped before the one event of the frame is taken, or a moving mouse
    // would hold a close request behind thousands of them. The relative motion and the buttons
    // are still tracked for the mouse reads.
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_MOUSEMOTION, SDL_MOUSEWHEEL);
    SDL_FlushEvents(SDL_FINGERDOWN, SDL_MULTIGESTURE);
    SDL_Event event;
    if (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1) return false;
    if (event.type == SDL_QUIT) return true;
    return event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE;
}

uint8_t keyCodeForScancode(SDL_Scancode s)
{
    switch (s) {
    case SDL_SCANCODE_ESCAPE: return DIK_ESCAPE;
    case SDL_SCANCODE_1: return DIK_1;
    case SDL_SCANCODE_2: return DIK_2;
    case SDL_SCANCODE_W: return DIK_W;
    case SDL_SCANCODE_E: return DIK_E;
    case SDL_SCANCODE_A: return DIK_A;
    case SDL_SCANCODE_F: return DIK_F;
    case SDL_SCANCODE_V: return DIK_V;
    case SDL_SCANCODE_B: return DIK_B;
    case SDL_SCANCODE_N: return DIK_N;
    case SDL_SCANCODE_M: return DIK_M;
    case SDL_SCANCODE_KP_1: return DIK_NUMPAD1;
    case SDL_SCANCODE_KP_3: return DIK_NUMPAD3;
    case SDL_SCANCODE_UP: return DIK_UP;
    case SDL_SCANCODE_LEFT: return DIK_LEFT;
    case SDL_SCANCODE_RIGHT: return DIK_RIGHT;
    case SDL_SCANCODE_DOWN: return DIK_DOWN;
    default: return 0;
    }
}

bool SdlKeyboard::read(uint8_t state[256])
{
    // Like a foreground keyboard: no reading while another window has the focus.
    if (!window_.hasInputFocus()) return false;
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    std::memset(state, 0, 256);
    for (int s = 0; s < count; ++s) {
        if (!keys[s]) continue;
        const uint8_t code = keyCodeForScancode(static_cast<SDL_Scancode>(s));
        if (code) state[code] = 0x80;
    }
    return true;
}

bool SdlKeyboard::escapeDown()
{
    // Both are asked, so that a press held over several frames is not taken again later.
    const bool pressed = escapePressed.exchange(false);
    return keyDown(SDL_SCANCODE_ESCAPE) || pressed;
}

bool screenshotKeyDown()
{
    const bool pressed = screenshotPressed.exchange(false);
    return keyDown(SDL_SCANCODE_F12) || pressed;
}

bool SdlMouse::read(int32_t& dx, int32_t& dy, int32_t& wheel, uint8_t buttons[8])
{
    // The mouse belongs to the program while its window is in front: relative mode hides the
    // cursor. Nothing reads the values.
    if (!window_.hasInputFocus()) {
        if (SDL_GetRelativeMouseMode()) SDL_SetRelativeMouseMode(SDL_FALSE);
        return false;
    }
    if (!SDL_GetRelativeMouseMode()) SDL_SetRelativeMouseMode(SDL_TRUE);
    int x = 0, y = 0;
    const Uint32 state = SDL_GetRelativeMouseState(&x, &y);
    dx = x;
    dy = y;
    wheel = 0;
    for (int i = 0; i < 8; ++i) buttons[i] = (state & SDL_BUTTON(i + 1)) ? 0x80 : 0;
    return true;
}

void showSdlMessageBox(SDL_Window* window, const char* text)
{
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "", text, window);
}

uint32_t bootMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
