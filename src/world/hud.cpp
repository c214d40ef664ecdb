// The three head-up display lines: the values the keys adjust, each with its two keys.

#include <cstdio>
#include <cstring>

#include "state/graphics.h"
#include "text/fonts.h"
#include "state/input.h"
#include "state/settings.h"
#include "world/game_world.h"

void GameWorld::drawHud()
{
    // The live settings, not the world's copies, so a key press shows from the next frame on.
    struct Line {
        const char* format;
        float value;
        float y;
    };
    const Line lines[3] = {
        {"TimeFactor vb       %0.1f", timeFactor, -0.97f},
        {"Velocity nm          %0.1f", speedSetting, -0.92f},
        {"Anstellwinkel we  %0.1f", angleSetting, -0.87f},
    };
    char texts[3][textBufferSize];
    BitmapFont::Line drawn[3];
    for (int i = 0; i < 3; ++i) {
        // Bounded: an absurd value is cut short rather than written past the buffer.
        std::snprintf(textBuffer, textBufferSize, lines[i].format, static_cast<double>(lines[i].value));
        std::memcpy(texts[i], textBuffer, textBufferSize);
        drawn[i] = {-0.97f, lines[i].y, texts[i]};
    }
    // One switch of the font's states for all three lines.
    if (hudFont) hudFont->drawLines(drawn, 3, 0.9f, 0.03f, 0.02f, 0xFF646464, BitmapFont::LinearFilter);
}
