#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "demo_picture.h"

struct BilliardBallStyle {
    uint8_t red, green, blue;  // the ball's own colour
    char digit;                // '0' .. '9'
};

// A lit ball with a white disc and its number, anti-aliased, on exact black (the colour key).
// Nothing inside the ball is exact black, so only the background turns transparent.
RgbPicture drawBilliardBall(const BilliardBallStyle& style, int size);

// Graphic/Billardkugel1.bmp (yellow, 1) and Graphic/Billardkugel3.bmp (red, 3) under outDir.
bool writeBilliardBalls(OutputSet& set, const std::filesystem::path& outDir, Existing existing, std::string& error);
