#include <gtest/gtest.h>

#include <stb_image.h>
#include <stb_image_write.h>

#include <filesystem>
#include <vector>

#include "support/fixtures.h"

// Headless pixel checks of whole frames on Mesa: the sky colour, the star field, and ball 1 at
// the projection of its first trajectory point.

namespace {

struct Png {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* at(int x, int y) const { return &rgba[(size_t(y) * w + x) * 4]; }
};

Png loadPng(const std::string& path)
{
    Png p;
    int n = 0;
    if (uint8_t* data = stbi_load(path.c_str(), &p.w, &p.h, &n, 4)) {
        p.rgba.assign(data, data + size_t(p.w) * p.h * 4);
        stbi_image_free(data);
    }
    return p;
}

bool isSky(const uint8_t* p) { return p[0] == 100 && p[1] == 204 && p[2] == 255; }
bool isStar(const uint8_t* p) { return p[0] == p[1] && p[1] == p[2] && p[0] >= 200 && p[0] <= 254; }
bool isGreen(const uint8_t* p) { return p[0] < 40 && p[1] > 215 && p[2] < 40; }

// A ball picture: a coloured disc on pure black, 64 x 64.
void writeBallPicture(const std::string& path, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> px(64 * 64 * 3, 0);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const float dx = x - 31.5f, dy = y - 31.5f;
            if (dx * dx + dy * dy < 30.0f * 30.0f) {
                px[(y * 64 + x) * 3 + 0] = r;
                px[(y * 64 + x) * 3 + 1] = g;
                px[(y * 64 + x) * 3 + 2] = b;
            }
        }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    stbi_write_bmp(path.c_str(), 64, 64, 3, px.data());
}

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFixtureData(dir.path());
        // Every point at world (0, 0, 40): straight ahead of the start camera, 40 units away.
        std::string trajectory;
        for (int i = 0; i < 32; ++i) trajectory += "-15000 5000 220\n";
        writeFile(dir.file("trajectory_data.txt"), trajectory);
        writeBallPicture(dir.file("Graphic/Billardkugel1.bmp"), 0, 255, 0);
        writeBallPicture(dir.file("Graphic/Billardkugel3.bmp"), 255, 0, 0);
    }
    Png frame(const std::string& extra, const std::string& name)
    {
        const ProcessResult r = runCommand(std::string(ZENTRIX_BINARY) + " --headless --seed 5 --data " + dir.path() +
                                           " --screenshot " + dir.file(name) + " " + extra);
        EXPECT_EQ(r.exitStatus, 0) << r.output;
        output = r.output;
        return loadPng(dir.file(name));
    }
    TempDir dir;
    std::string output;
};

}  // namespace

TEST_F(Render, FirstFrameIsSkyWithThousandsOfStars)
{
    const Png p = frame("--frames 1", "first.png");
    ASSERT_EQ(p.w, 800);
    ASSERT_EQ(p.h, 600);
    int sky = 0, stars = 0;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            sky += isSky(p.at(x, y));
            stars += isStar(p.at(x, y));
        }
    EXPECT_GT(sky, p.w * p.h * 9 / 10);
    EXPECT_GT(stars, 3000);
    EXPECT_TRUE(isSky(p.at(0, 0)) || isStar(p.at(0, 0)));
}

TEST_F(Render, StarsStayPutWhileTheCameraWalks)
{
    const Png before = frame("--frames 1", "before.png");
    writeFile(dir.file("walk.txt"), "0-29 UP\n");
    const Png after = frame("--frames 30 --fixed-step 20 --keys " + dir.file("walk.txt"), "after.png");
    ASSERT_EQ(before.w, after.w);
    int stars = 0, kept = 0;
    for (int y = 0; y < before.h; ++y)
        for (int x = 0; x < before.w; ++x)
            if (isStar(before.at(x, y))) {
                ++stars;
                kept += before.at(x, y)[0] == after.at(x, y)[0] && isStar(after.at(x, y));
            }
    ASSERT_GT(stars, 3000);
    // Only the ball, which the walk brings closer, may cover some of them.
    EXPECT_GT(kept, stars * 95 / 100);
}

TEST_F(Render, BallOneShowsItsPictureCentredOnItsPoint)
{
    const Png p = frame("--frames 1", "ball.png");
    int minX = p.w, maxX = -1, minY = p.h, maxY = -1;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            if (isGreen(p.at(x, y))) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    ASSERT_GE(maxX, 0) << "ball 1 not drawn";
    // Point (0, 0, 40) projects to the middle of the screen; the 2 x 2 square spans about 36 px.
    EXPECT_NEAR((minX + maxX) / 2.0, 399.5, 1.0);
    EXPECT_NEAR((minY + maxY) / 2.0, 299.5, 1.0);
    EXPECT_NEAR(maxX - minX, 34, 3);
    // The picture's black corners are transparent: the sky or a star shows there, never black.
    for (int dx : {-16, 16})
        for (int dy : {-16, 16}) {
            const uint8_t* c = p.at(400 + dx, 300 + dy);
            EXPECT_TRUE(isSky(c) || isStar(c)) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
        }
}

TEST_F(Render, BallWithoutItsPictureIsAWhiteSquare)
{
    std::filesystem::remove(dir.file("Graphic/Billardkugel1.bmp"));
    const Png p = frame("--frames 1", "white.png");
    EXPECT_NE(output.find("Graphic/Billardkugel1.bmp"), std::string::npos) << output;
    for (int dx : {-15, 0, 15})
        for (int dy : {-15, 0, 15}) {
            const uint8_t* c = p.at(400 + dx, 300 + dy);
            EXPECT_EQ(c[0], 255);
            EXPECT_EQ(c[1], 255);
            EXPECT_EQ(c[2], 255);
        }
}
