#include <gtest/gtest.h>

#include "base/data_folder.h"

// Data names resolve inside the data folder and come back by the same name, so a session lists
// what it read by plain names; a neighbour whose name merely begins like the folder stays whole.
TEST(DataFolder, NamesResolveInsideTheFolderAndComeBack)
{
    setDataFolder("/srv/land");
    EXPECT_EQ(dataPath("Terrain.txt"), "/srv/land/Terrain.txt");
    EXPECT_EQ(dataPath("Graphic/a.bmp"), "/srv/land/Graphic/a.bmp");
    EXPECT_EQ(dataPath("/etc/elsewhere.bmp"), "/etc/elsewhere.bmp");
    EXPECT_EQ(dataName(dataPath("Graphic/a.bmp")), "Graphic/a.bmp");
    EXPECT_EQ(dataName("/srv/landscape/Terrain.txt"), "/srv/landscape/Terrain.txt");
    EXPECT_EQ(dataName("/srv/land/"), "/srv/land/");
    setDataFolder("");
    EXPECT_EQ(dataPath("Terrain.txt"), "Terrain.txt");
    EXPECT_EQ(dataName("Terrain.txt"), "Terrain.txt");
}
