// Noticing entries in the recovery folder and moving them into /DataFiles/Zorvane.
#include "fixture.h"

namespace {

using IntakeTest = AppTest;

TEST_F(IntakeTest, MissingOrEmptyFolderIsNothingNew) {
  EXPECT_EQ(isNewLostAndFound(), 0);
  fs::create_directories(Real("/Quarrow"));
  EXPECT_EQ(isNewLostAndFound(), 0);
  EXPECT_EQ(Log(), "");
}

TEST_F(IntakeTest, EveryEntryIsCountedDotFilesAndFoldersIncluded) {
  MakeFile("/Quarrow/#12", 10, 1);
  EXPECT_EQ(isNewLostAndFound(), 1);
  EXPECT_EQ(LogCount("found 1 new files in the Quarrow folder"), 1);

  MakeFile("/Quarrow/.hidden", 10, 2);
  fs::create_directories(Real("/Quarrow/#99"));
  EXPECT_EQ(isNewLostAndFound(), 1);
  EXPECT_EQ(LogCount("found 3 new files in the Quarrow folder"), 1);
}

TEST_F(IntakeTest, MoveKeepsInodesAndContentAndLeavesDotFiles) {
  MakeFile("/Quarrow/#12", 5000, 1);
  MakeFile("/Quarrow/#13 with blank", 10, 2);
  MakeFile("/Quarrow/#14/inner", 10, 3);
  MakeFile("/Quarrow/.hidden", 10, 4);
  uint64_t ino12 = Inode("/Quarrow/#12"), ino14 = Inode("/Quarrow/#14");
  std::string content = Read("/Quarrow/#12");

  EXPECT_EQ(MoveAllLostAndFoundFiles(), 0);

  EXPECT_EQ(Inode("/DataFiles/Zorvane/#12"), ino12);
  EXPECT_EQ(Read("/DataFiles/Zorvane/#12"), content);
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#13 with blank"));
  EXPECT_EQ(Inode("/DataFiles/Zorvane/#14"), ino14);
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#14/inner"));
  EXPECT_FALSE(Exists("/Quarrow/#12"));
  // The shell's * does not match names that begin with a dot: they stay, and count again.
  EXPECT_TRUE(Exists("/Quarrow/.hidden"));
  EXPECT_EQ(isNewLostAndFound(), 1);
}

TEST_F(IntakeTest, MoveIntoAnExistingFolderKeepsWhatIsThere) {
  MakeFile("/DataFiles/Zorvane/Alt.rec", 10, 1);
  MakeFile("/Quarrow/#20", 10, 2);
  MoveAllLostAndFoundFiles();
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/Alt.rec"));
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#20"));
}

}  // namespace
