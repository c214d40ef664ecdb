#pragma once

// The page's keyboard and clock as the program's: key events into the key state the frame reads,
// and performance.now() as the millisecond tick.

#include <cstdint>
#include <functional>

#include "state/clock.h"
#include "state/input.h"

// The design's key code for a KeyboardEvent.code ("ArrowUp", "Numpad1", "KeyB", ...), 0 for a key
// the program does not read. PageUp and PageDown stand in for Numpad 1 and 3 on keyboards
// without a numeric pad.
uint8_t keyCodeForEventCode(const char* code);

// Listens to the window's key events from construction to destruction; one at a time.
class WebKeyboard : public KeyboardSource {
public:
    // onKey runs at every key press the program reads or not (the page starts sound on it).
    explicit WebKeyboard(std::function<void()> onKey = {});
    ~WebKeyboard() override;
    WebKeyboard(const WebKeyboard&) = delete;
    WebKeyboard& operator=(const WebKeyboard&) = delete;

    bool read(uint8_t state[256]) override;
    // Escape went down in this run, even if it is up again: a tap between two frames counts.
    bool escapeDown() override { return escape_ || (keys_[DIK_ESCAPE] & 0x80) != 0; }

    // For the event handlers.
    void press(uint8_t code, bool down);
    void releaseAll();
    void keyEvent() const
    {
        if (onKey_) onKey_();
    }

private:
    uint8_t keys_[256] = {};
    bool escape_ = false;
    std::function<void()> onKey_;
};

// performance.now() in whole milliseconds since construction. The browser shows a frame and
// calls the next when it chooses; that wait belongs to the frame that follows, as a swap's wait
// does in the program's window: startFrameAt(t) makes the next reading t, the end of the last
// frame's own reading.
class WebClock : public TickSource {
public:
    WebClock();
    uint32_t now() override;
    void startFrameAt(uint32_t tick)
    {
        heldStart_ = tick;
        holding_ = true;
    }

private:
    double origin_;
    uint32_t heldStart_ = 0;
    bool holding_ = false;
};
