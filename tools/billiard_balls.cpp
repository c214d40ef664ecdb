#include "billiard_balls.h"

#include <algorithm>
#include <cmath>

namespace {

// Digits of a 5 x 7 bitmap font, top row first; '#' is ink.
const char* const digitGlyphs[10][7] = {
    {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "},
    {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "},
    {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"},
    {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "},
    {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "},
    {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "},
    {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "},
    {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "},
    {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "},
    {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "},
};

// The number is printed in a very dark grey: exact black is the colour key and would cut a hole.
constexpr float inkLevel = 24.0f;

struct Rgb {
    float r, g, b;
};

bool glyphInk(char digit, float gx, float gy)
{
    if (digit < '0' || digit > '9' || gx < 0.0f || gy < 0.0f || gx >= 5.0f || gy >= 7.0f) return false;
    return digitGlyphs[digit - '0'][int(gy)][int(gx)] == '#';
}

// The lit colour of the ball surface at (dx, dy) from the centre, y down, inside radius r.
Rgb shadeSample(const BilliardBallStyle& style, float dx, float dy, float radius)
{
    // Light from the upper left, a little in front.
    const float lx = -0.45f, ly = 0.55f, lz = 0.70f;
    const float lLength = std::sqrt(lx * lx + ly * ly + lz * lz);
    const float nx = dx / radius, ny = -dy / radius;
    const float nz = std::sqrt(std::max(0.0f, 1.0f - nx * nx - ny * ny));
    const float diffuse = std::max(0.0f, (nx * lx + ny * ly + nz * lz) / lLength);
    // Blinn highlight with the viewer on +z.
    float hx = lx / lLength, hy = ly / lLength, hz = lz / lLength + 1.0f;
    const float hLength = std::sqrt(hx * hx + hy * hy + hz * hz);
    hx /= hLength, hy /= hLength, hz /= hLength;
    const float specular = 200.0f * std::pow(std::max(0.0f, nx * hx + ny * hy + nz * hz), 30.0f);

    Rgb surface{float(style.red), float(style.green), float(style.blue)};
    const float discRadius = radius * 0.48f;
    if (dx * dx + dy * dy < discRadius * discRadius) {
        // The number: a 5 x 7 glyph centred in the white disc.
        const float cell = radius * 0.085f;
        const bool ink = glyphInk(style.digit, dx / cell + 2.5f, dy / cell + 3.5f);
        const float level = ink ? inkLevel : 255.0f;
        surface = {level, level, level};
    }
    const float light = 0.35f + 0.65f * diffuse;
    return {surface.r * light + specular, surface.g * light + specular, surface.b * light + specular};
}

uint8_t toByte(float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 255.0f))); }

}  // namespace

RgbPicture drawBilliardBall(const BilliardBallStyle& style, int size)
{
    RgbPicture picture(size, size);
    const float centre = float(size) * 0.5f;
    const float radius = float(size) * 0.47f;
    constexpr int grid = 4;  // 4 x 4 samples per pixel smooth the edges
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            Rgb sum{0.0f, 0.0f, 0.0f};
            int covered = 0;
            for (int sy = 0; sy < grid; ++sy)
                for (int sx = 0; sx < grid; ++sx) {
                    const float dx = float(x) + (float(sx) + 0.5f) / grid - centre;
                    const float dy = float(y) + (float(sy) + 0.5f) / grid - centre;
                    if (dx * dx + dy * dy >= radius * radius) continue;  // background adds black
                    const Rgb c = shadeSample(style, dx, dy, radius);
                    sum.r += c.r, sum.g += c.g, sum.b += c.b;
                    ++covered;
                }
            if (covered == 0) continue;  // exact black: the colour key
            constexpr float samples = grid * grid;
            uint8_t* p = picture.pixel(x, y);
            p[0] = toByte(sum.r / samples);
            p[1] = toByte(sum.g / samples);
            p[2] = toByte(sum.b / samples);
            // A faint edge pixel must not round to the key colour.
            if (p[0] == 0 && p[1] == 0 && p[2] == 0) p[0] = p[1] = p[2] = 1;
        }
    return picture;
}

bool writeBilliardBalls(OutputSet& set, const std::filesystem::path& outDir, Existing existing, std::string& error)
{
    struct Entry {
        const char* fileName;
        BilliardBallStyle style;
    };
    // 100 pixels: not a power of two, so the loader's scaling is part of every run.
    static const Entry balls[] = {
        {"Billardkugel1.bmp", {250, 200, 20, '1'}},
        {"Billardkugel3.bmp", {220, 30, 25, '3'}},
    };
    const std::filesystem::path folder = outDir / "Graphic";
    if (!set.makeFolder(folder, error)) return false;
    for (const Entry& ball : balls)
        if (!writeBmp24(set, folder / ball.fileName, drawBilliardBall(ball.style, 100), error, existing)) return false;
    return true;
}
