#pragma once

// The page around the program: its animation-frame loop and the calls by which the program tells
// the page's script what happened (Module.onZentrixStopped, onZentrixFirstFrame, onZentrixKey).

#include <cstdint>
#include <string>

// frame runs once per animation frame of the page until stopPageFrames.
void runPageFrames(void (*frame)());
void stopPageFrames();

// reason: "frames", "escape" or "error" (message says which problem).
void tellPageStopped(const char* reason, const std::string& message);
void tellPageFirstFrame();
void tellPageKey();

// performance.now(): milliseconds since the page began to load; whole ones.
double pageNow();
uint32_t pageMilliseconds();
