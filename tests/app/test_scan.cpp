// The fingerprint scan of /DataFiles.
#include <cstdio>
#include <cstring>

#include "fixture.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"

namespace {

class ScanTest : public AppTest {
 protected:
  ScanTest() : AppTest(true) {}
  void TearDown() override {
    RecDB_Destroy();
    AppTest::TearDown();
  }

  const RecDBEntry *Find(const std::string &name) const {
    for (int32_t i = 0; i < RecDBEntries; ++i)
      if (name == RecDB_At(i)->RecName) return RecDB_At(i);
    return nullptr;
  }
};

TEST_F(ScanTest, FingerprintTakesInodesAndSamplesAtTheirOffsets) {
  MakeFile("/DataFiles/Film.rec", 8192, 1);
  MakeFile("/DataFiles/Film.rec.inf", 2000, 2);
  MakeFile("/DataFiles/Film.rec.nav", 700, 3);

  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  ASSERT_EQ(RecDBEntries, 1);
  const RecDBEntry &e = RecDB[0];
  EXPECT_STREQ(e.RecName, "Film.rec");
  EXPECT_EQ(e.RecInode, Inode("/DataFiles/Film.rec"));
  EXPECT_EQ(e.RecSample, Word("/DataFiles/Film.rec", 8));
  EXPECT_EQ(e.InfInode, Inode("/DataFiles/Film.rec.inf"));
  EXPECT_EQ(e.InfSample, Word("/DataFiles/Film.rec.inf", 8));
  EXPECT_EQ(e.NavInode, Inode("/DataFiles/Film.rec.nav"));
  EXPECT_EQ(e.NavSample, Word("/DataFiles/Film.rec.nav", 12));
  EXPECT_EQ(e.Padding1 | e.Padding2 | e.Padding3, 0u);
  EXPECT_EQ(LogCount("added 'Film.rec' to the DB"), 1);
}

TEST_F(ScanTest, RecordingWithoutCompanionsHasZeroCompanionFieldsAndNoLogAboutThem) {
  MakeFile("/DataFiles/Solo.mpg", 100, 1);
  MakeFile("/DataFiles/notes.txt", 100, 2);  // not a recording

  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  ASSERT_EQ(RecDBEntries, 1);
  const RecDBEntry *e = Find("Solo.mpg");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->InfInode | e->NavInode, 0u);
  EXPECT_EQ(e->InfSample | e->NavSample, 0u);
  EXPECT_EQ(LogCount(".inf"), 0);
  EXPECT_EQ(LogCount(".nav"), 0);
}

TEST_F(ScanTest, UnchangedRescanReportsNoChangeAndARefreshDoes) {
  MakeFile("/DataFiles/A.rec", 100, 1);
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 0);
  MakeFile("/DataFiles/A.rec.inf", 100, 7);  // same recording, new companion
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_EQ(RecDBEntries, 1);
  EXPECT_EQ(RecDB[0].InfInode, Inode("/DataFiles/A.rec.inf"));
}

TEST_F(ScanTest, SubFoldersAreWalkedOnTheFirstCallOnly) {
  MakeFile("/DataFiles/Serie/Teil 1.rec", 100, 1);
  MakeFile("/DataFiles/Serie/Staffel/Teil 2.rec", 100, 2);
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_NE(Find("Teil 1.rec"), nullptr);
  EXPECT_NE(Find("Teil 2.rec"), nullptr);

  MakeFile("/DataFiles/Serie/Teil 3.rec", 100, 3);
  MakeFile("/DataFiles/Neu.rec", 100, 4);
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_EQ(Find("Teil 3.rec"), nullptr);
  EXPECT_NE(Find("Neu.rec"), nullptr);
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
}

TEST_F(ScanTest, FolderOnAnotherDeviceIsNotEntered) {
  MakeFile("/DataFiles/Stick/Fremd.rec", 100, 1);
  MakeFile("/DataFiles/Stick/Tief/Fremd2.rec", 100, 2);
  MakeFile("/DataFiles/Eigen/Heim.rec", 100, 3);
  sim::set_foreign_device("/DataFiles/Stick");

  CrossCheckDataFilesWithDB();
  EXPECT_NE(Find("Heim.rec"), nullptr);
  EXPECT_EQ(Find("Fremd.rec"), nullptr);
  EXPECT_EQ(Find("Fremd2.rec"), nullptr);
}

TEST_F(ScanTest, FolderThatCannotBeEnteredIsPassedOver) {
  MakeFile("/DataFiles/A.rec", 64, 1);
  MakeFile("/DataFiles/Bad/B.rec", 64, 2);
  MakeFile("/DataFiles/Good/C.rec", 64, 3);
  sim::fault(sim::Call::TAP_Hdd_ChangeDir).always().on("Bad");

  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_EQ(RecDBEntries, 2);
  EXPECT_NE(Find("A.rec"), nullptr);
  EXPECT_NE(Find("C.rec"), nullptr);
  // Nothing of another folder was taken for Bad's.
  EXPECT_EQ(LogCount("failed to stat"), 0);
}

TEST_F(ScanTest, QueueWithoutMemoryWalksNothingAndKeepsTheFirstCallPhase) {
  MakeFile("/DataFiles/Sub/a.rec", 64, 1);
  sim::fault(sim::Call::TAP_MemAlloc).from(1);
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 0);
  sim::clear_faults();
  EXPECT_EQ(RecDBEntries, 0);
  EXPECT_EQ(LogCount("failed to reserve memory while scanning"), 1);
  // The next call is still a first one: the sub-folder is walked.
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_NE(Find("a.rec"), nullptr);
}

TEST_F(ScanTest, QueueWhoseFirstBufferFailedStillWorks) {
  MakeFile("/DataFiles/Sub/a.rec", 64, 1);
  sim::fault(sim::Call::TAP_MemAlloc).nth(1);  // the queue's initial buffer
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_NE(Find("a.rec"), nullptr);
}

// The scan walks at most 1001 folders, /DataFiles among them. /DataFiles plus
// `subFolders` folders below it, with a recording in the one listed last.
void MakeTree(AppTest &t, int subFolders) {
  for (int i = 0; i < subFolders; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/DataFiles/d%04d", i);
    fs::create_directories(t.Real(name));
    if (i == subFolders - 1) t.MakeFile(std::string(name) + "/last.rec", 64, 1);
  }
}

TEST_F(ScanTest, ThousandAndOneFoldersAreScannedCompletely) {
  MakeTree(*this, 1000);
  CrossCheckDataFilesWithDB();
  EXPECT_NE(Find("last.rec"), nullptr);
  EXPECT_EQ(LogCount("endless loop exit while scanning"), 0);
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(ScanTest, TheThousandAndSecondFolderStopsTheScan) {
  MakeTree(*this, 1001);
  MakeFile("/DataFiles/top.rec", 64, 2);
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);  // what was added before the stop counts
  EXPECT_EQ(Find("last.rec"), nullptr);
  EXPECT_NE(Find("top.rec"), nullptr);
  EXPECT_EQ(LogCount("endless loop exit while scanning"), 1);
  EXPECT_EQ(TAPDirStackDepth, -1);
  // The stop ends the first-call phase as well: no sub-folder is entered any more.
  RecDB_Destroy();
  CrossCheckDataFilesWithDB();
  EXPECT_EQ(Find("last.rec"), nullptr);
  EXPECT_EQ(RecDBEntries, 1);
}

TEST_F(ScanTest, UnopenableRecordingIsSkippedAndUnopenableCompanionKeepsItsInode) {
  MakeFile("/DataFiles/Zu.rec", 100, 1);
  MakeFile("/DataFiles/Offen.rec", 100, 2);
  MakeFile("/DataFiles/Offen.rec.inf", 100, 3);
  MakeFile("/DataFiles/Offen.rec.nav", 100, 4);
  sim::fault(sim::Call::TAP_Hdd_Fopen).always().on("Zu.rec");
  sim::fault(sim::Call::TAP_Hdd_Fopen).always().on("Offen.rec.inf");

  CrossCheckDataFilesWithDB();
  EXPECT_EQ(Find("Zu.rec"), nullptr);
  EXPECT_EQ(LogCount("failed to open 'Zu.rec' while scanning"), 1);
  const RecDBEntry *e = Find("Offen.rec");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->InfInode, Inode("/DataFiles/Offen.rec.inf"));
  EXPECT_EQ(e->InfSample, 0u);
  EXPECT_EQ(e->NavSample, Word("/DataFiles/Offen.rec.nav", 12));
  EXPECT_EQ(LogCount("failed to open 'Offen.rec.inf' while scanning"), 1);
}

TEST_F(ScanTest, UnknownKindsAreIgnoredAndAVanishedRecordingIsLogged) {
  // A link to a recording, listed by this host with attribute 0; a recording gone by the
  // time the scan looks at it.
  ASSERT_TRUE(sim::set_host_profiles("other-kinds"));
  MakeFile("/DataFiles/Target.mpx", 64, 1);
  fs::create_symlink("Target.mpx", Real("/DataFiles/Odd.rec"));
  MakeFile("/DataFiles/Ghost.rec", 64, 2);
  sim::fault(sim::Call::lstat64).always().on("Ghost.rec");

  EXPECT_EQ(CrossCheckDataFilesWithDB(), 0);
  EXPECT_EQ(RecDBEntries, 0);
  EXPECT_EQ(LogCount("failed to stat '/mnt/hd/DataFiles/Ghost.rec' while scanning"), 1);
  EXPECT_EQ(LogCount("Odd.rec"), 0);
}

// Folders nested until their paths no longer fit the module's 512-byte buffers, and
// beyond the 200 bytes of a saved folder: the scan takes what fits (a recording's path
// with room for ".inf") and skips the rest with a line.
TEST_F(ScanTest, OverlongPathsAreSkippedWithALogLine) {
  std::string folder = "/DataFiles";
  for (int level = 1; level <= 5; ++level) {
    folder += "/" + std::string(120, static_cast<char>('a' + level));
    MakeFile(folder + "/r" + std::to_string(level) + ".rec", 64, static_cast<uint8_t>(level));
  }
  MakeFile("/DataFiles/flach.rec", 64, 9);

  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  // /mnt/hd/DataFiles + 3 x 121 + /r3.rec: 387 bytes; the fourth level needs 508 of 508.
  for (int level = 1; level <= 3; ++level) EXPECT_NE(Find("r" + std::to_string(level) + ".rec"), nullptr) << level;
  EXPECT_EQ(Find("r4.rec"), nullptr);
  EXPECT_EQ(Find("r5.rec"), nullptr);
  EXPECT_NE(Find("flach.rec"), nullptr);
  // Said from a folder too deep to return to, the line reaches the terminal only.
  EXPECT_NE(sim::console_text().find("path too long, skipped '/DataFiles/bbb"), std::string::npos);
  EXPECT_EQ(TAPDirStackDepth, -1);
}

}  // namespace
