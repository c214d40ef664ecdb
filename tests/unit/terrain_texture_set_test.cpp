#include <gtest/gtest.h>

#include <stb_image_write.h>

#include "base/fatal_error.h"
#include "support/test_scopes.h"
#include "terrain/terrain_texture_set.h"

namespace {

// Each test runs in a scratch working directory with a recording device.
class TerrainTextures : public testing::Test {
protected:
    TerrainTextures() : cwd(dir.path()) { clearFatalError(); }
    ~TerrainTextures() override { clearFatalError(); }

    // Grey squares of different sides, so the lists can be told apart.
    void writePictures() const
    {
        for (int side : {4, 8, 16}) {
            const std::vector<uint8_t> grey(size_t(side * side * 3), 0x80);
            stbi_write_bmp((dir / (std::to_string(side) + ".bmp")).c_str(), side, side, 3, grey.data());
        }
    }
    static bool empty(const TerrainTextureSet& set)
    {
        return set.baseTextures.empty() && set.detailTextures.empty() && set.heightMaps.empty();
    }

    TempDir dir;
    DeviceScope device;
    WorkingDirectory cwd;
};

}  // namespace

TEST_F(TerrainTextures, SectionsFillTheirListsAndARepeatedNameLoadsTwice)
{
    writePictures();
    dir.writeText("TerrainTextures.txt", "Base 2\t4.bmp\n  4.bmp Detail\n1 8.bmp\n\nHeight 1 16.bmp");
    TerrainTextureSet set;
    ASSERT_FALSE(fatalErrorPending()) << fatalErrorMessage();
    ASSERT_EQ(set.baseTextures.size(), 2u);
    ASSERT_TRUE(set.baseTextures[0].texture && set.baseTextures[1].texture);
    EXPECT_NE(set.baseTextures[0].texture, set.baseTextures[1].texture);
    ASSERT_EQ(set.detailTextures.size(), 1u);
    ASSERT_EQ(set.heightMaps.size(), 1u);
    EXPECT_EQ(set.detailTextures[0].fileName, "8.bmp");
    EXPECT_EQ(set.detailTextures[0].texture->width(), 8u);
    EXPECT_EQ(set.heightMaps[0].texture->width(), 16u);

    dir.writeText("TerrainTextures.txt", "BaseTextures 0\nDetailTextures 0\nHeightMaps 0\n");
    EXPECT_TRUE(empty(TerrainTextureSet()));
    EXPECT_FALSE(fatalErrorPending());
}

TEST_F(TerrainTextures, FaultyListsAreFatalNameTheFileAndBuildNothing)
{
    writePictures();
    const char* const cases[][2] = {
        {nullptr, "cannot open TerrainTextures.txt: No such file or directory"},
        {"", "TerrainTextures.txt is a directory"},
        {"Base 3 4.bmp 4.bmp", "TerrainTextures.txt: the list of base textures ends after 2 of 3 names"},
        {"Base 1 4.bmp Detail 0 Height 2 4.bmp", "TerrainTextures.txt: the list of height maps ends after 1 of 2 names"},
        {"Base 1 4.bmp Detail", "TerrainTextures.txt: expected the number of detail textures, found the end of the file"},
        {"Base many 4.bmp",
         "TerrainTextures.txt: the number of base textures must be a whole number from 0 to 2147483647, not 'many'"},
        {"Base 99999999999 4.bmp",
         "TerrainTextures.txt: the number of base textures must be a whole number from 0 to 2147483647, not '99999999999'"},
        {"Base 1e40 4.bmp",
         "TerrainTextures.txt: the number of base textures must be a whole number from 0 to 2147483647, not '1e40'"},
        {"Base 1 4.bmp Detail 2.5 4.bmp 4.bmp",
         "TerrainTextures.txt: the number of detail textures must be a whole number from 0 to 2147483647, not '2.5'"},
        {"Base 1 4.bmp Detail -2", "TerrainTextures.txt: the number of detail textures is negative (-2)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[1]);
        clearFatalError();
        device->calls.clear();
        std::filesystem::remove_all(dir / "TerrainTextures.txt");
        if (c[0] && *c[0]) dir.writeText("TerrainTextures.txt", c[0]);
        if (c[0] && !*c[0]) std::filesystem::create_directory(dir / "TerrainTextures.txt");
        TerrainTextureSet set;
        EXPECT_EQ(fatalErrorMessage(), c[1]);
        EXPECT_TRUE(empty(set));
        EXPECT_TRUE(device->calls.empty());
    }
}
