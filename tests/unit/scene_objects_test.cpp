#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <cmath>
#include <cstring>

#include "state/camera.h"
#include "objects/ball.h"
#include "objects/random.h"
#include "objects/star_field.h"
#include "support/test_scopes.h"

namespace {

template <typename T>
T at(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Raw random values from a script, then zeros.
std::vector<int> script;
size_t scriptNext = 0;
int scriptSource() { return scriptNext < script.size() ? script[scriptNext++] : 0; }

void resetCamera()
{
    cameraPos = Vec3(0.0f, 20.0f, -20.0f);
    cameraOrientation = ballScaleMatrix = ballTranslationMatrix = starFieldWorldMatrix = identity();
}

}  // namespace

TEST(StarFieldTest, FillsFiveThousandGreyPointsYThenXThenShade)
{
    DeviceScope device;
    script = {0, 32766, 16383};  // the first point's y, x and shade
    scriptNext = 0;
    setRandomSourceForTest(scriptSource);
    StarField first;
    setRandomSourceForTest(nullptr);
    const uint8_t* v = first.points->data();
    EXPECT_EQ(at<float>(v), static_cast<float>(32766.0 * 6.0 / 32767.0 - 3.0));
    EXPECT_EQ(at<float>(v + 4), -2.5f);
    EXPECT_EQ(at<uint32_t>(v + 12), 0xFFE3E3E3u);  // 200 + 16383 * 55 / 32767 = 227

    seedRandom(7);
    device->calls.clear();
    StarField stars;
    EXPECT_EQ(device->calls, (std::vector<std::string>{"CreateVertexBuffer 80000 8 66 1"}));
    ASSERT_TRUE(stars.points);
    EXPECT_FALSE(stars.points->locked());
    for (int i = 0; i < 5000; ++i) {
        v = stars.points->data() + i * 16;
        ASSERT_TRUE(at<float>(v) >= -3.0f && at<float>(v) < 3.0f) << i;
        ASSERT_TRUE(at<float>(v + 4) >= -2.5f && at<float>(v + 4) < 2.5f) << i;
        ASSERT_EQ(at<float>(v + 8), 5.0f);
        const uint32_t grey = at<uint32_t>(v + 12) & 0xFF;
        ASSERT_EQ(at<uint32_t>(v + 12), 0xFF000000u | grey * 0x010101u) << i;
        ASSERT_TRUE(grey >= 200 && grey <= 254) << i;
    }
}

TEST(StarFieldTest, DrawSetsStateDrawsAllPointsAndRestores)
{
    DeviceScope device;
    resetCamera();
    starFieldWorldMatrix(3, 1) = 4.0f;
    StarField stars;
    device->calls.clear();
    stars.draw();
    EXPECT_EQ(device->calls, (std::vector<std::string>{"SetTransform 256", "SetRenderState 7 0", "SetRenderState 137 0",
                                                       "SetFVF 66", "SetStreamSource 0 ptr 0 16", "DrawPrimitive 1 0 5000",
                                                       "SetRenderState 137 1", "SetRenderState 7 1"}));
    EXPECT_EQ(device->transform(D3DTS_WORLD)(3, 1), 4.0f);
    resetCamera();
}

namespace {

// A ball textured with a small white square.
class BallTest : public testing::Test {
protected:
    BallTest()
    {
        resetCamera();
        const std::vector<uint8_t> white(4 * 4 * 3, 0xFF);
        stbi_write_bmp(picture.c_str(), 4, 4, 3, white.data());
    }
    ~BallTest() override { resetCamera(); }

    TempDir dir;
    std::string picture = (dir / "ball.bmp").string();
    DeviceScope device;
};

}  // namespace

TEST_F(BallTest, QuadIsAWhiteStripAndDrawBlendsItAndRestoresState)
{
    Ball ball(picture);
    EXPECT_EQ(device->calls, (std::vector<std::string>{"CreateTexture 4 4 0 0 21 1", "CreateVertexBuffer 96 8 322 1"}));
    ASSERT_TRUE(ball.texture->texture && ball.quad);
    const struct {
        float x, y, z;
        uint32_t color;
        float u, v;
    } strip[4] = {{-1, 1, 0, ~0u, 0, 0}, {-1, -1, 0, ~0u, 0, 1}, {1, 1, 0, ~0u, 1, 0}, {1, -1, 0, ~0u, 1, 1}};
    static_assert(sizeof strip == 96);
    EXPECT_EQ(std::memcmp(ball.quad->data(), strip, 96), 0);

    testing::internal::CaptureStderr();
    Ball bare((dir / "none.bmp").string());
    testing::internal::GetCapturedStderr();
    for (Ball* b : {&ball, &bare}) {
        device->calls.clear();
        b->draw(Vec3(1.0f, 2.0f, 3.0f));
        EXPECT_EQ(device->calls,
                  (std::vector<std::string>{"SetTransform 256", "SetRenderState 137 0", "SetRenderState 7 0",
                                            "SetRenderState 27 1", "SetRenderState 19 5", "SetRenderState 20 6",
                                            b == &ball ? "SetTexture 0 ptr" : "SetTexture 0 null",
                                            "SetStreamSource 0 ptr 0 24", "SetFVF 322", "DrawPrimitive 5 0 2",
                                            "SetTexture 0 null", "SetRenderState 27 0", "SetRenderState 137 1",
                                            "SetRenderState 7 1"}));
    }
}

TEST_F(BallTest, WorldMatrixPlacesTheQuadRelativeToTheCameraAndTurnsItWithTheCamera)
{
    Ball ball(picture);
    ballScaleMatrix(0, 0) = 3.0f;  // left over from elsewhere: balls draw at size 1
    ball.draw(Vec3(1.5f, -2.0f, 7.0f));
    Matrix4 expected = identity();
    expected(3, 0) = 1.5f, expected(3, 1) = -2.0f, expected(3, 2) = 7.0f;
    EXPECT_EQ(std::memcmp(&device->transform(D3DTS_WORLD), &expected, sizeof expected), 0);

    cameraPos = Vec3(3.0f, 25.0f, -10.0f);
    cameraOrientation = rotationY(0.5f);
    ball.draw(Vec3(1.0f, 2.0f, 3.0f));
    const Matrix4& w = device->transform(D3DTS_WORLD);
    const Vec3 centre = transformPoint(Vec3(0.0f, 0.0f, 0.0f), w);
    EXPECT_EQ(centre.x, -2.0f);
    EXPECT_EQ(centre.y, -3.0f);
    EXPECT_EQ(centre.z, -7.0f);
    const Vec3 right = transformDirection(Vec3(1.0f, 0.0f, 0.0f), w);
    EXPECT_FLOAT_EQ(right.x, cameraOrientation(0, 0));
    EXPECT_FLOAT_EQ(right.z, cameraOrientation(0, 2));
    EXPECT_GT(std::abs(right.z), 0.4f);
}
