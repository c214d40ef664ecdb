// Fuzzes the session files of --replay: parsing, then replaying the clock and the keys of each
// frame the way a run asks for them, with a few reads too many or too few.

#include <algorithm>
#include <string>

#include "session/session_run.h"
#include "fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SessionReplayer replay;
    std::string error;
    if (!replay.loadText(std::string(reinterpret_cast<const char*>(data), size), "s.txt", error)) return 0;
    const Session& s = replay.session();
    for (const SessionDataFile& f : s.dataFiles) sessionDataLine(f);
    auto clock = replay.makeClock();
    auto keyboard = replay.makeKeyboard(nullptr);
    auto readTicks = [&](size_t first, size_t count, int extra) {
        uint64_t recorded = 0;
        for (size_t i = first; i < first + count; ++i) recorded += s.tickRuns[i].count;
        const uint64_t reads = std::min<uint64_t>(recorded, 2000) + uint64_t(extra);
        for (uint64_t i = 0; i < reads; ++i) clock->now();
        clock->peek();
    };
    readTicks(0, s.startRuns, 0);
    replay.startUpDone();
    int extra = 0;
    for (const SessionFrame& frame : s.frames) {
        uint8_t state[256];
        keyboard->escapeDown();
        keyboard->read(state);
        readTicks(frame.firstRun, frame.runCount, extra);
        extra = (extra + 1) % 3;
        replay.frameDone();
    }
    // Past the last frame: shut-down's reads.
    uint8_t state[256];
    clock->now();
    keyboard->read(state);
    keyboard->escapeDown();
    return 0;
}
