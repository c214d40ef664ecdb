#include "text/fonts.h"

std::unique_ptr<BitmapFont> hudFont;
std::unique_ptr<BitmapFont> smallFont;

void createFonts()
{
    if (!hudFont) hudFont = std::make_unique<BitmapFont>("Arial", 20, BitmapFont::Bold);
    if (!smallFont) smallFont = std::make_unique<BitmapFont>("Arial", 10, BitmapFont::Bold);
}
