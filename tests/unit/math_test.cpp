#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "math/matrix4.h"

namespace {

void expectIdentity(const Matrix4& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(m(r, c), r == c ? 1.0f : 0.0f) << r << "," << c;
}

}  // namespace

TEST(RotationY, SmallAngleBranchIncludesBothBounds)
{
    const Matrix4 r = rotationY(0.17f);
    EXPECT_FLOAT_EQ(r(0, 0), 0.98555f);
    EXPECT_EQ(r(2, 0), 0.17f);
    EXPECT_EQ(r(0, 2), -0.17f);
    EXPECT_EQ(r(2, 2), r(0, 0));
    const Matrix4 l = rotationY(-0.17f);
    EXPECT_FLOAT_EQ(l(0, 0), 0.98555f);
    EXPECT_EQ(l(2, 0), -0.17f);
    expectIdentity(rotationY(0.0f));
}

TEST(RotationY, SeriesBranchAboveTheBound)
{
    const Matrix4 r = rotationY(0.2f);
    EXPECT_NEAR(r(0, 0), 0.9800666f, 1e-7f);
    EXPECT_NEAR(r(2, 0), 0.1986693f, 1e-7f);
    EXPECT_EQ(r(1, 1), 1.0f);
    EXPECT_EQ(r(0, 1), 0.0f);
}

TEST(RotationY, WrapsOnceOnly)
{
    // 4.0 wraps into range, where the series is within its truncation error of the rotation
    // (unwrapped, the series at 4.0 would be off by more than 0.5).
    const Matrix4 r4 = rotationY(4.0f);
    EXPECT_NEAR(r4(0, 0), std::cos(4.0), 1e-2);
    EXPECT_NEAR(r4(2, 0), std::sin(4.0), 1e-2);
    // 10.0 wraps once, to 3.7168145, where the series is evaluated outside +-pi.
    const Matrix4 r10 = rotationY(10.0f);
    EXPECT_NEAR(r10(0, 0), -0.71389f, 1e-4f);
    EXPECT_NEAR(r10(2, 0), -0.87412f, 1e-4f);
}

TEST(LookAt, StartViewIsIdentityAndTurnedViewIsOrthonormal)
{
    expectIdentity(lookAtLH({0, 0, 0}, {0, 0, 1}, {0, 1, 0}));
    const Matrix4 m = lookAtLH({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    // Looking along +x: the view's z column is +x, its x column is -z.
    EXPECT_FLOAT_EQ(m(0, 2), 1.0f);
    EXPECT_FLOAT_EQ(m(2, 0), -1.0f);
    EXPECT_FLOAT_EQ(m(1, 1), 1.0f);
    const Matrix4 t = lookAtLH({1, 2, 3}, {1, 2, 4}, {0, 1, 0});
    EXPECT_FLOAT_EQ(t(3, 0), -1.0f);
    EXPECT_FLOAT_EQ(t(3, 1), -2.0f);
    EXPECT_FLOAT_EQ(t(3, 2), -3.0f);
}

TEST(Perspective, ValuesOfTheProgramsProjection)
{
    const float fov = std::bit_cast<float>(0x3F490FDBu);
    const Matrix4 p = perspectiveFovLH(fov, 800.0f / 600.0f, 1.0f, 500.0f);
    EXPECT_NEAR(p(1, 1), 2.4142137f, 1e-6f);
    EXPECT_NEAR(p(0, 0), 2.4142137f / 1.3333334f, 1e-6f);
    EXPECT_FLOAT_EQ(p(2, 2), 500.0f / 499.0f);
    EXPECT_EQ(p(2, 3), 1.0f);
    EXPECT_FLOAT_EQ(p(3, 2), -500.0f / 499.0f);
    EXPECT_EQ(p(3, 3), 0.0f);
    EXPECT_EQ(p(0, 1), 0.0f);
}

TEST(VectorOps, CrossIntoAnInputAndUnitOfZero)
{
    Vec3 a{1, 2, 3};
    const Vec3 b{4, 5, 6};
    const Vec3 fresh = cross(a, b);
    a = cross(a, b);
    EXPECT_EQ(a.x, fresh.x);
    EXPECT_EQ(a.y, fresh.y);
    EXPECT_EQ(a.z, fresh.z);
    EXPECT_EQ(fresh.x, -3.0f);
    EXPECT_EQ(fresh.y, 6.0f);
    EXPECT_EQ(fresh.z, -3.0f);
    const Vec3 z = unit(Vec3{0, 0, 0});
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(z.y, 0.0f);
    EXPECT_EQ(z.z, 0.0f);
    const Vec3 u = unit(Vec3{3, 0, 4});
    EXPECT_FLOAT_EQ(u.x, 0.6f);
    EXPECT_FLOAT_EQ(u.z, 0.8f);
}

TEST(MatrixOps, InverseOfTurnAndProductOrder)
{
    const Matrix4 r = rotationY(0.7f);
    const Matrix4 p = r * inverse(r);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(p(i, j), i == j ? 1.0f : 0.0f, 1e-6f);
    // A first, B second is A * B: scale then translate leaves the translation unscaled.
    Matrix4 s = identity();
    s(0, 0) = 2.0f;
    Matrix4 t = identity();
    t(3, 0) = 5.0f;
    const Vec3 q = transformPoint({1, 0, 0}, s * t);
    EXPECT_FLOAT_EQ(q.x, 7.0f);
}

TEST(Angles, DegreesToRadiansInSinglePrecision)
{
    EXPECT_EQ(degToRad(180.0f), 3.1415927f);
    EXPECT_EQ(degToRad(40.0f), 40.0f * 3.1415927f / 180.0f);
}
