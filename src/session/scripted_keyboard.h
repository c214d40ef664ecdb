#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "state/input.h"

// A keyboard read from a script: each line "FIRST[-LAST] KEY..." holds the named keys down during
// frames FIRST to LAST (inclusive, counted from 0); every other key is up.
class ScriptedKeyboard : public KeyboardSource {
public:
    // currentFrame tells which frame is running.
    explicit ScriptedKeyboard(std::function<int64_t()> currentFrame) : currentFrame_(std::move(currentFrame)) {}

    // False with error naming the file and line for a malformed script.
    bool load(const std::string& path, std::string& error);
    bool parse(const std::string& text, const std::string& name, std::string& error);

    bool read(uint8_t state[256]) override;
    bool escapeDown() override;

    // The key codes held down in a frame.
    std::vector<uint8_t> keysAt(int64_t frame) const;

private:
    struct Span {
        int64_t first, last;
        std::vector<uint8_t> keys;
    };
    std::vector<Span> spans_;
    std::function<int64_t()> currentFrame_;
};

// The code of a key name of the script (UP, NUMPAD1, B, 1, ESCAPE, ...), or 0.
uint8_t keyCodeByName(const std::string& name);
