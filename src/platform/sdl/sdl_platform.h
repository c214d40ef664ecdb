#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <SDL2/SDL.h>

#include "state/clock.h"
#include "state/input.h"

// SDL stand-ins for the window, message loop, tick count, keyboard, mouse and message box.

class SdlVideo {
public:
    ~SdlVideo();
    // headless selects the off-screen video driver. False with error when no video is available.
    bool start(bool headless, std::string& error);

private:
    bool started_ = false;
};

class SdlWindow {
public:
    ~SdlWindow();
    // A borderless window at (0, 0); full screen when asked and not headless.
    bool create(const char* title, int width, int height, bool fullScreen, bool headless, std::string& error);
    SDL_Window* handle() const { return window_; }
    bool hasInputFocus() const;

private:
    SDL_Window* window_ = nullptr;
};

// Takes at most one pending event; true when it was a request to close the window.
bool pollOneEvent();

// Milliseconds since boot (CLOCK_MONOTONIC), truncated to 32 bits: differs from run to run,
// unlike the SDL tick, which starts at SDL_Init.
uint32_t bootMilliseconds();

class SystemClock : public TickSource {
public:
    uint32_t now() override { return static_cast<uint32_t>(SDL_GetTicks()); }
    void sleep(uint32_t ms) override { SDL_Delay(ms); }
};

class SdlKeyboard : public KeyboardSource {
public:
    explicit SdlKeyboard(const SdlWindow& window) : window_(window) {}
    bool read(uint8_t state[256]) override;
    bool escapeDown() override;

private:
    const SdlWindow& window_;
};

class SdlMouse : public MouseSource {
public:
    explicit SdlMouse(const SdlWindow& window) : window_(window) {}
    bool read(int32_t& dx, int32_t& dy, int32_t& wheel, uint8_t buttons[8]) override;

private:
    const SdlWindow& window_;
};

// F12, the screenshot key: not one of the game's keys, so not in the keyboard state it reads.
bool screenshotKeyDown();

// The key code for an SDL scan code, or 0 when the program has no use for it.
uint8_t keyCodeForScancode(SDL_Scancode scancode);

void showSdlMessageBox(SDL_Window* window, const char* text);
