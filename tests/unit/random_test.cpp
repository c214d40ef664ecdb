#include <gtest/gtest.h>

#include <algorithm>

#include "objects/random.h"

namespace {

int fixedValue = 0;
int fixedSource() { return fixedValue; }

}  // namespace

TEST(Random, FifteenBitSequenceFollowsTheSeed)
{
    seedRandom(1);
    EXPECT_EQ(randomValue(), 41);
    EXPECT_EQ(randomValue(), 18467);
    EXPECT_EQ(randomValue(), 6334);
}

TEST(Random, RangesFoldTheirTopBackToTheMinimum)
{
    setRandomSourceForTest(fixedSource);
    fixedValue = 0;
    EXPECT_EQ(randomFloat(-3.0f, 3.0f), -3.0f);
    EXPECT_EQ(randomInt(200, 255), 200);
    fixedValue = 32767;
    EXPECT_EQ(randomFloat(-3.0f, 3.0f), -3.0f);
    EXPECT_EQ(randomFloat(0.0f, 6.0f), 0.0f);
    EXPECT_EQ(randomInt(200, 255), 200);
    fixedValue = 16383;  // evaluated in double, rounded once
    EXPECT_EQ(randomFloat(-3.0f, 3.0f), static_cast<float>(16383.0 * 6.0 / 32767.0 - 3.0));

    float largestFloat = 0.0f;
    int largestInt = 0;
    for (fixedValue = 0; fixedValue <= 32767; ++fixedValue) {
        const float v = randomFloat(0.0f, 6.0f);
        ASSERT_GE(v, 0.0f);
        ASSERT_LT(v, 6.0f);
        largestFloat = std::max(largestFloat, v);
        largestInt = std::max(largestInt, randomInt(200, 255));
    }
    EXPECT_GT(largestFloat, 5.999f);
    EXPECT_EQ(largestInt, 254);

    fixedValue = 32766;  // 32767 times this span overflows 32 bits
    EXPECT_EQ(randomInt(0, 1 << 30), int(32766LL * (1 << 30) / 32767));
    setRandomSourceForTest(nullptr);
}
