#include <gtest/gtest.h>

#include <stb_image.h>
#include <stb_image_write.h>

#include <vector>

#include "support/fixtures.h"

// Whole frames of flat terrain on Mesa: the lit land colour and the water's blend with the sky.

namespace {

void writeSolidBmp(const std::string& path, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> px(8 * 8 * 3);
    for (size_t i = 0; i < px.size(); i += 3) {
        px[i] = r;
        px[i + 1] = g;
        px[i + 2] = b;
    }
    stbi_write_bmp(path.c_str(), 8, 8, 3, px.data());
}

struct Rgb {
    int r, g, b;
};

class TerrainRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFixtureData(dir.path());
        writeSolidBmp(dir.file("red.bmp"), 255, 0, 0);
        writeSolidBmp(dir.file("blue.bmp"), 0, 0, 255);
        writeSolidBmp(dir.file("black.bmp"), 0, 0, 0);
        writeSolidBmp(dir.file("grey.bmp"), 128, 128, 128);
        writeSolidBmp(dir.file("dark.bmp"), 64, 64, 64);
        writeSolidBmp(dir.file("nearblack.bmp"), 1, 1, 1);
        // Base 3 and detail 2 name pictures that do not exist.
        writeFile(dir.file("TerrainTextures.txt"), "Base 5 red.bmp blue.bmp black.bmp missing.bmp nearblack.bmp "
                                                   "Detail 3 grey.bmp dark.bmp missing.bmp Heights 1 black.bmp\n");
        // F held in frame 0 switches the detail stage off for frame 1.
        writeFile(dir.file("keys.txt"), "0 F\n");
    }
    // The bottom corners of the second frame: ground 20 below the eye, no ball near them.
    // keys replaces the script, frames and step the run's length and clock step.
    std::vector<Rgb> corners(const std::string& terrain, const char* keys = nullptr, int frames = 2, int step = 20)
    {
        writeFile(dir.file("Terrain.txt"), terrain);
        if (keys) writeFile(dir.file("keys.txt"), keys);
        const ProcessResult r = runCommand(std::string(ZENTRIX_BINARY) + " --headless --seed 5 --fixed-step " +
                                           std::to_string(step) + " --frames " + std::to_string(frames) + " --data " +
                                           dir.path() + " --keys " + dir.file("keys.txt") + " --screenshot " +
                                           dir.file("shot.png"));
        EXPECT_EQ(r.exitStatus, 0) << r.output;
        int w = 0, h = 0, n = 0;
        std::vector<Rgb> out;
        if (uint8_t* data = stbi_load(dir.file("shot.png").c_str(), &w, &h, &n, 3)) {
            for (int x : {10, w - 10}) {
                const uint8_t* p = data + (size_t(h - 10) * size_t(w) + size_t(x)) * 3;
                out.push_back({p[0], p[1], p[2]});
            }
            stbi_image_free(data);
        }
        EXPECT_EQ(out.size(), 2u);
        return out;
    }
    TempDir dir;
};

::testing::AssertionResult near(const Rgb& got, const Rgb& want)
{
    if (std::abs(got.r - want.r) <= 1 && std::abs(got.g - want.g) <= 1 && std::abs(got.b - want.b) <= 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want (" << want.r
                                         << ", " << want.g << ", " << want.b << ")";
}

}  // namespace

TEST_F(TerrainRender, FlatRedLandUnderTheSceneLightsIsHalfRed)
{
    // Material 5.0 x the downward light's 0.1 = 0.5; the horizontal light grazes flat ground.
    for (const Rgb& c : corners("Land 1 Water 0\nL X 0 Y 0 Z 0 C 3 R 3 U 4 V 4 W 1000 D 1000 S 1 B 0 D 0 H 0\n"))
        EXPECT_TRUE(near(c, {128, 0, 0}));
}

TEST_F(TerrainRender, WaterBlendsSeventyPercentOverTheSkyAndKeyedTexelsVanish)
{
    // Facing +z the light comes from behind: the water's lit colour is zero and it shows its
    // texture at alpha 0.7 over the sky colour (100, 204, 255).
    const std::string water = "Land 0 Water 1\nW N 1 X 0 Y 0 Z 0 C 2 R 2 U 1 V 1 W 1000 D 1000 Res 0 Wave 0 Sway 0 B ";
    for (const Rgb& c : corners(water + "1 D 0 F 1 P 100\n")) EXPECT_TRUE(near(c, {30, 61, 255}));
    for (const Rgb& c : corners(water + "2 D 0 F 1 P 100\n")) EXPECT_TRUE(near(c, {100, 204, 255}));
}

TEST_F(TerrainRender, APictureThatDidNotLoadLeavesItsStageOut)
{
    // Missing detail on land: exactly the tile with detail off, not washed out by a white detail.
    const std::string land = "Land 1 Water 0\nL X 0 Y 0 Z 0 C 3 R 3 U 4 V 4 W 1000 D 1000 S 1 B 0 D ";
    const std::vector<Rgb> off = corners(land + "0 H 0\n");
    const std::vector<Rgb> missing = corners(land + "2 H 0\n", "");
    ASSERT_EQ(missing.size(), off.size());
    for (size_t i = 0; i < off.size(); ++i) {
        EXPECT_TRUE(near(off[i], {128, 0, 0}));
        EXPECT_TRUE(near(missing[i], off[i]));
    }

    // Missing water base: the lit material colour at alpha 0.7, the same as a base that adds
    // (almost) nothing. Turned towards the light (30 frames of 4 degrees) so that colour shows;
    // with detail on, the dark detail stage still darkens it.
    const std::string water = "Land 0 Water 1\nW N 1 X 0 Y 0 Z 0 C 2 R 2 U 1 V 1 W 1000 D 1000 Res 0 Wave 0 Sway 0 B ";
    int green[2] = {0, 0};
    for (int on : {0, 1}) {
        const char* keys = on ? "0-29 RIGHT\n" : "0-29 RIGHT\n0 F\n";
        const std::vector<Rgb> lit = corners(water + "3 D 1 F 1 P 100\n", keys, 31, 100);
        const std::vector<Rgb> nearBlack = corners(water + "4 D 1 F 1 P 100\n", keys, 31, 100);
        ASSERT_EQ(lit.size(), 2u);
        ASSERT_EQ(nearBlack.size(), 2u);
        for (size_t i = 0; i < lit.size(); ++i) {
            EXPECT_TRUE(near(lit[i], nearBlack[i])) << "detail " << on;
            // No white added: a white base would lift red above the sky's 100.
            EXPECT_LT(lit[i].r, 100) << "detail " << on;
        }
        green[on] = lit[0].g;
    }
    // The lit green shows over the sky's share (0.3 x 204 = 61), and the dark detail stage still
    // takes it down.
    EXPECT_GT(green[0], 61 + 30);
    EXPECT_LT(green[1], green[0] - 20);
}
