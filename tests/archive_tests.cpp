// Archive layer: directory reading, extraction, renaming and appending, byte for byte.
#include "Archive.h"
#include "FileSystem.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tessera;
using namespace tessera::test;

TEST(ReadDirectory, CountsRecordsAndKeepsOrder)
{
    TempDir dir;
    WriteFile(dir / "a.dir", Concat({Record(1, 2, "car.dff"), Record(-3, -4, "ab\0cd", '\0')}));
    modArchive archive;
    archive.ReadDirectory(dir / "a");
    ASSERT_EQ(archive.colImgFiles.Count(), 2u);
    EXPECT_EQ(archive.colImgFiles[0]->sName(), "car.dff" + std::string(17, ' '));
    EXPECT_EQ(archive.colImgFiles[0]->sId(), "0");
    EXPECT_EQ(archive.colImgFiles[1]->lOffset(), -3);
    EXPECT_EQ(archive.colImgFiles[1]->lSize(), -4);
    EXPECT_EQ(archive.sArchiveBase, dir / "a");
}
