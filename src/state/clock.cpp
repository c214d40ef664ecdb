#include "state/clock.h"

FrameClock frameClock;

namespace {
TickSource* current = nullptr;
}

void setTickSource(TickSource* source) { current = source; }
TickSource* tickSource() { return current; }
uint32_t tickCount() { return current ? current->now() : 0u; }
uint32_t outputTickCount() { return current ? current->peek() : 0u; }
