// Fuzzes the key scripts of --keys: parsing, then asking for the keys of a few frames.

#include <string>

#include "session/scripted_keyboard.h"
#include "fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int64_t frame = 0;
    ScriptedKeyboard keys([&frame] { return frame; });
    std::string error;
    if (!keys.parse(std::string(reinterpret_cast<const char*>(data), size), "keys.txt", error)) return 0;
    uint8_t state[256];
    for (frame = 0; frame < 4; ++frame) {
        keys.read(state);
        keys.escapeDown();
    }
    keys.keysAt(INT64_MAX);
    return 0;
}
