#include <gtest/gtest.h>

#include <stb_image.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>
#include <vector>

#include "support/fixtures.h"

// The head-up display as the program draws it off screen on Mesa: three grey lines of text in
// the top-left corner, placed and sized in fractions of the screen.

namespace {

struct Shot {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* at(int x, int y) const { return &rgba[(size_t(y) * w + x) * 4]; }
};

// Text is grey 100 blended over the sky (100, 204, 255): red stays 100, blue drops with coverage.
bool isInk(const uint8_t* p) { return std::abs(p[0] - 100) <= 1 && p[2] < 250 && p[1] < 204; }
bool isSolidInk(const uint8_t* p) { return std::abs(p[0] - 100) <= 1 && std::abs(p[1] - 100) <= 1 && std::abs(p[2] - 100) <= 1; }

struct Band {
    int top = 1 << 30, bottom = -1, left = 1 << 30, right = -1, solid = 0;
};

class HudRender : public ::testing::Test {
protected:
    Shot run(int displayMode)
    {
        writeFixtureData(dir.path());
        writeFile(dir.file("Resolutions.txt"), "Display mode 1 2 3 4 " + std::to_string(displayMode) + "\nFullScreen 0\n");
        // Ball 1 straight ahead in the middle of the screen, away from the text.
        std::string trajectory;
        for (int i = 0; i < 32; ++i) trajectory += "-15000 5000 220\n";
        writeFile(dir.file("trajectory_data.txt"), trajectory);
        const std::string png = dir.file("hud.png");
        const ProcessResult r = runCommand(std::string(ZENTRIX_BINARY) + " --headless --seed 5 --frames 1 --data " +
                                           dir.path() + " --screenshot " + png);
        EXPECT_EQ(r.exitStatus, 0) << r.output;
        EXPECT_EQ(r.output.find("no font"), std::string::npos) << r.output;
        Shot s;
        int n = 0;
        if (uint8_t* data = stbi_load(png.c_str(), &s.w, &s.h, &n, 4)) {
            s.rgba.assign(data, data + size_t(s.w) * s.h * 4);
            stbi_image_free(data);
        }
        return s;
    }
    // Ink in the top-left corner, sorted into the three lines' bands; ink outside them counted.
    std::vector<Band> bands(const Shot& s, const float tops[3], float lineHeight, int& stray)
    {
        std::vector<Band> out(3);
        stray = 0;
        for (int y = 0; y < s.h / 6; ++y)
            for (int x = 0; x < s.w / 2; ++x) {
                if (!isInk(s.at(x, y))) continue;
                int line = -1;
                for (int i = 0; i < 3; ++i)
                    if (y >= int(std::floor(tops[i])) && y < int(std::ceil(tops[i] + lineHeight))) line = i;
                if (line < 0) {
                    ++stray;
                    continue;
                }
                Band& b = out[size_t(line)];
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.solid += isSolidInk(s.at(x, y));
            }
        return out;
    }
    TempDir dir;
};

}  // namespace

TEST_F(HudRender, ThreeGreyLinesAtTheirPlacesAt800x600)
{
    const Shot s = run(2);
    ASSERT_EQ(s.w, 800);
    ASSERT_EQ(s.h, 600);
    const float tops[3] = {9, 24, 39};
    int stray = 0;
    const std::vector<Band> b = bands(s, tops, 12, stray);
    EXPECT_EQ(stray, 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        // Capitals start a little below the cell's top and the baseline sits above its bottom.
        EXPECT_GE(b[size_t(i)].top, int(tops[i]));
        EXPECT_LE(b[size_t(i)].top, int(tops[i]) + 4);
        EXPECT_LE(b[size_t(i)].bottom, int(tops[i]) + 11);
        EXPECT_GE(b[size_t(i)].bottom, int(tops[i]) + 7);
        EXPECT_GE(b[size_t(i)].left, 11);
        EXPECT_LE(b[size_t(i)].left, 15);
        EXPECT_GT(b[size_t(i)].solid, 60);  // full coverage shows the text colour itself
        EXPECT_GT(b[size_t(i)].right, 150);
        EXPECT_LT(b[size_t(i)].right, 330);
    }
}

TEST_F(HudRender, LinesScaleWithTheScreenAt1024x768)
{
    const Shot small = run(2);
    int stray = 0;
    const float smallTops[3] = {9, 24, 39};
    const std::vector<Band> a = bands(small, smallTops, 12, stray);

    const Shot s = run(4);
    ASSERT_EQ(s.w, 1024);
    ASSERT_EQ(s.h, 768);
    const float tops[3] = {0.015f * 768, 0.04f * 768, 0.065f * 768};
    const std::vector<Band> b = bands(s, tops, 0.02f * 768, stray);
    EXPECT_EQ(stray, 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        EXPECT_GE(b[size_t(i)].top, int(tops[i]));
        EXPECT_LE(b[size_t(i)].top, int(tops[i]) + 5);
        EXPECT_GE(b[size_t(i)].left, 14);
        EXPECT_LE(b[size_t(i)].left, 19);
        // Widths grow with the screen height: 768 / 600 = 1.28.
        const float ratio = float(b[size_t(i)].right - b[size_t(i)].left) / float(a[size_t(i)].right - a[size_t(i)].left);
        EXPECT_NEAR(ratio, 1.28f, 0.05f);
        EXPECT_GT(b[size_t(i)].solid, 80);
    }
}

TEST(HudWithoutFonts, NoFontAtAllIsOneWarningLine)
{
    // A font configuration that knows no font: both fonts fail, and the fault is told once.
    TempDir dir;
    writeFixtureData(dir.path());
    writeFile(dir.file("fonts.conf"), "<?xml version=\"1.0\"?>\n<fontconfig><cachedir>" + dir.file("cache") +
                                          "</cachedir></fontconfig>\n");
    const ProcessResult r = runCommand("FONTCONFIG_FILE=" + dir.file("fonts.conf") + " " + ZENTRIX_BINARY +
                                       " --headless --frames 2 --data " + dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    std::istringstream lines(r.output);
    int aboutFonts = 0;
    for (std::string line; std::getline(lines, line);) {
        std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (line.find("font") != std::string::npos) ++aboutFonts;
    }
    EXPECT_EQ(aboutFonts, 1) << r.output;
    EXPECT_NE(r.output.find("zentrix: warning: no font for the face \"Arial\""), std::string::npos) << r.output;
}
