#include "platform/web/web_input.h"

#include <cstring>

#include <emscripten/html5.h>

uint8_t keyCodeForEventCode(const char* code)
{
    static const struct {
        const char* name;
        uint8_t key;
    } table[] = {
        {"Escape", DIK_ESCAPE},  {"Digit1", DIK_1},       {"Digit2", DIK_2},         {"KeyW", DIK_W},
        {"KeyE", DIK_E},         {"KeyA", DIK_A},         {"KeyF", DIK_F},           {"KeyV", DIK_V},
        {"KeyB", DIK_B},         {"KeyN", DIK_N},         {"KeyM", DIK_M},           {"Numpad1", DIK_NUMPAD1},
        {"Numpad3", DIK_NUMPAD3}, {"PageUp", DIK_NUMPAD1}, {"PageDown", DIK_NUMPAD3}, {"ArrowUp", DIK_UP},
        {"ArrowLeft", DIK_LEFT}, {"ArrowRight", DIK_RIGHT}, {"ArrowDown", DIK_DOWN},
    };
    if (!code) return 0;
    for (const auto& entry : table)
        if (std::strcmp(code, entry.name) == 0) return entry.key;
    return 0;
}

namespace {

EM_BOOL onKeyEvent(int type, const EmscriptenKeyboardEvent* event, void* user)
{
    auto* keyboard = static_cast<WebKeyboard*>(user);
    if (type == EMSCRIPTEN_EVENT_KEYDOWN) keyboard->keyEvent();
    const uint8_t key = keyCodeForEventCode(event->code);
    if (key == 0) return EM_FALSE;  // the browser's own keys (F5, F11, Tab) keep working
    keyboard->press(key, type == EMSCRIPTEN_EVENT_KEYDOWN);
    return EM_TRUE;  // no scrolling by the arrows
}

EM_BOOL onBlur(int, const EmscriptenFocusEvent*, void* user)
{
    // Keys let go while the page had no focus would stay down.
    static_cast<WebKeyboard*>(user)->releaseAll();
    return EM_FALSE;
}

}  // namespace

WebKeyboard::WebKeyboard(std::function<void()> onKey) : onKey_(std::move(onKey))
{
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, this, EM_TRUE, onKeyEvent);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, this, EM_TRUE, onKeyEvent);
    emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, this, EM_TRUE, onBlur);
}

WebKeyboard::~WebKeyboard()
{
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
    emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
}

void WebKeyboard::press(uint8_t code, bool down)
{
    keys_[code] = down ? 0x80 : 0;
    if (down && code == DIK_ESCAPE) escape_ = true;
}

void WebKeyboard::releaseAll() { std::memset(keys_, 0, sizeof keys_); }

bool WebKeyboard::read(uint8_t state[256])
{
    std::memcpy(state, keys_, sizeof keys_);
    return true;
}

WebClock::WebClock() : origin_(emscripten_get_now()) {}

uint32_t WebClock::now()
{
    if (holding_) {
        holding_ = false;
        return heldStart_;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now() - origin_));
}
