#include "worker/BaseName.h"

#include <gtest/gtest.h>

TEST(BaseName, CutsFolderAndExtensionAndTrims)
{
    EXPECT_EQ(BaseName("/home/u/VORN Download/KEL_V12 Full.zip"), "KEL_V12 Full");
    EXPECT_EQ(BaseName("KEL_V57 Full.zip"), "KEL_V57 Full");
    EXPECT_EQ(BaseName("KEL_V12.1.zip"), "KEL_V12.1");
    EXPECT_EQ(BaseName("README"), "README");
    EXPECT_EQ(BaseName(" \tREADME \r\n"), "README");
    EXPECT_EQ(BaseName(".zip"), "");
    EXPECT_EQ(BaseName("KEL_V3 .zip"), "KEL_V3");
    EXPECT_EQ(BaseName(""), "");
    EXPECT_EQ(BaseName("   "), "");
}

TEST(BaseName, OnlyTheLastSlashCountsAndALeadingOneStays)
{
    EXPECT_EQ(BaseName("a/b/c.zip"), "c");
    EXPECT_EQ(BaseName("/c.zip"), "/c");          // a separator in the first position is kept
    EXPECT_EQ(BaseName("dir.v2/file"), "file");   // the dot of a folder is not an extension
    EXPECT_EQ(BaseName("a\\b.zip"), "a\\b");      // a backslash is an ordinary character here
}
