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
        writeFile(dir.file("TerrainTextures.txt"),
                  "Base 3 red.bmp blue.bmp black.bmp Detail 1 grey.bmp Heights 1 black.bmp\n");
        // F held in frame 0 switches the detail stage off for frame 1.
        writeFile(dir.file("keys.txt"), "0 F\n");
    }
    // The bottom corners of the second frame: ground 20 below the eye, no ball near them.
    std::vector<Rgb> corners(const std::string& terrain)
    {
        writeFile(dir.file("Terrain.txt"), terrain);
        const ProcessResult r = runCommand(std::string(ZENTRIX_BINARY) + " --headless --seed 5 --fixed-step 20 --frames 2 --data " +
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
