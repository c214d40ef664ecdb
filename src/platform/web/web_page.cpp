#include "platform/web/web_page.h"

#include <emscripten/emscripten.h>

namespace {

EM_JS(void, zxTellStopped, (const char* reason, const char* message), {
    if (Module.onZentrixStopped) Module.onZentrixStopped(UTF8ToString(reason), UTF8ToString(message));
});
EM_JS(void, zxTellFirstFrame, (), { if (Module.onZentrixFirstFrame) Module.onZentrixFirstFrame(); });
EM_JS(void, zxTellKey, (), { if (Module.onZentrixKey) Module.onZentrixKey(); });

}  // namespace

// fps 0: the browser's animation frames; false: the call returns rather than never.
void runPageFrames(void (*frame)()) { emscripten_set_main_loop(frame, 0, false); }
void stopPageFrames() { emscripten_cancel_main_loop(); }

void tellPageStopped(const char* reason, const std::string& message) { zxTellStopped(reason, message.c_str()); }
void tellPageFirstFrame() { zxTellFirstFrame(); }
void tellPageKey() { zxTellKey(); }

double pageNow() { return emscripten_get_now(); }
uint32_t pageMilliseconds() { return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now())); }
