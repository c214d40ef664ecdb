#include <gtest/gtest.h>

#include <filesystem>

#include "app/screenshot_key.h"
#include "support/fixtures.h"

// F12 pictures are named in full, since the data folder they land in is often not where the user
// started the program; numbers already taken are skipped, never overwritten.
TEST(ScreenshotKey, SavesUnderTheNextFreeNumberAndNamesTheAbsolutePath)
{
    TempDir dir;
    const RgbaImage image{1, 1, {10, 20, 30, 255}};
    writeFile(dir.file("screenshots/zentrix-0001.png"), "kept");
    std::string saved, why;
    ASSERT_TRUE(ScreenshotKey::save("", image, saved, why)) << why;
    EXPECT_EQ(saved, dir.file("screenshots/zentrix-0002.png"));
    EXPECT_EQ(readFile(saved).substr(1, 3), "PNG");
    EXPECT_EQ(readFile(dir.file("screenshots/zentrix-0001.png")), "kept");
}
