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

TEST_F(IntakeTest, EveryEntryThatMovesIsCountedFoldersIncluded) {
  MakeFile("/Quarrow/.hidden", 10, 2);
  EXPECT_EQ(isNewLostAndFound(), 0) << "a name that stays is no news";
  MakeFile("/Quarrow/#12", 10, 1);
  EXPECT_EQ(isNewLostAndFound(), 1);
  EXPECT_EQ(LogCount("found 1 new files in the Quarrow folder"), 1);

  fs::create_directories(Real("/Quarrow/#99"));
  EXPECT_EQ(isNewLostAndFound(), 1);
  EXPECT_EQ(LogCount("found 2 new files in the Quarrow folder"), 1);
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
  // The shell's * does not match names that begin with a dot: they stay, and are not
  // announced again.
  EXPECT_TRUE(Exists("/Quarrow/.hidden"));
  EXPECT_EQ(isNewLostAndFound(), 0);
}

TEST_F(IntakeTest, MoveIntoAnExistingFolderKeepsWhatIsThere) {
  MakeFile("/DataFiles/Zorvane/Alt.rec", 10, 1);
  MakeFile("/Quarrow/#20", 10, 2);
  MoveAllLostAndFoundFiles();
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/Alt.rec"));
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#20"));
}

TEST_F(IntakeTest, ATakenNameIsNeverOverwrittenAndTheEntryMovesUnderAFreeOne) {
  MakeFile("/DataFiles/Zorvane/#20", 10, 1);
  MakeFile("/DataFiles/Zorvane/#20 (2)", 10, 2);
  MakeFile("/Quarrow/#20", 10, 3);
  const std::string there = Read("/DataFiles/Zorvane/#20"), moved = Read("/Quarrow/#20");
  EXPECT_EQ(MoveAllLostAndFoundFiles(), 0);
  EXPECT_EQ(Read("/DataFiles/Zorvane/#20"), there);
  EXPECT_EQ(Read("/DataFiles/Zorvane/#20 (3)"), moved);
  EXPECT_EQ(LogCount("'#20' is taken in /DataFiles/Zorvane, moved as '#20 (3)'"), 1);
}

// More names than the shortest shell command line of 128 KiB would take.
TEST_F(IntakeTest, EveryEntryMovesHoweverManyThereAre) {
  const std::string pad(40, 'x');
  for (int i = 0; i < 4000; ++i) MakeFile("/Quarrow/#" + std::to_string(100000 + i) + pad, 1, 1);
  EXPECT_EQ(MoveAllLostAndFoundFiles(), 0);
  EXPECT_TRUE(fs::is_empty(Real("/Quarrow")));
  size_t moved = 0;
  for (const auto &e : fs::directory_iterator(Real("/DataFiles/Zorvane"))) moved += e.is_regular_file();
  EXPECT_EQ(moved, 4000u);
}

TEST_F(IntakeTest, AnEntryThatCannotMoveIsLoggedAndStaysAndTheOthersMove) {
  MakeFile("/Quarrow/#30", 10, 1);
  MakeFile("/Quarrow/#31", 10, 2);
  sim::fault(sim::Call::rename).nth(1).on("#30");
  EXPECT_EQ(MoveAllLostAndFoundFiles(), -1);
  EXPECT_TRUE(Exists("/Quarrow/#30"));
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#31"));
  EXPECT_EQ(LogCount("failed to move '#30' out of the Quarrow folder"), 1);
  // Listed before anything moved: a later start finishes the move.
  EXPECT_EQ(MoveAllLostAndFoundFiles(), 0);
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#30"));
}

TEST_F(IntakeTest, NothingMovesWhenTheRecoveryListCannotBeSaved) {
  MakeFile("/Quarrow/#40", 10, 1);
  sim::fault(sim::Call::TAP_Hdd_Create).always().on("Quarrow.pending.tmp");
  EXPECT_EQ(MoveAllLostAndFoundFiles(), -1);
  EXPECT_TRUE(Exists("/Quarrow/#40"));
  EXPECT_EQ(LogCount("failed to save the recovery list, nothing moved"), 1);
}

}  // namespace
