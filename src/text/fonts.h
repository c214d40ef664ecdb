#pragma once

#include <memory>

#include "text/bitmap_font.h"

// The two fonts, "Arial" 20 bold (the head-up display draws with it) and "Arial" 10 bold. They
// are constructed while the program loads, before the window exists; their device resources
// follow the device and go before it.
extern std::unique_ptr<BitmapFont> hudFont;
extern std::unique_ptr<BitmapFont> smallFont;
void createFonts();
