// The fingerprint scan of /DataFiles.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "app/seenfiles.h"
#include "fixture.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"

using namespace quarrow;

namespace {

class ScanTest : public AppTest {
 protected:
  ScanTest() : AppTest(true) {}
  void TearDown() override {
    RecDB_Destroy();
    SeenFiles_Free();
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

// Later scans of this load open only what changed since a scan read it, and see every
// change: a recording rewritten in place, a companion replaced, a file that could not be
// read before.
TEST_F(ScanTest, LaterScansOpenOnlyChangedFilesAndSeeEveryChange) {
  MakeFile("/DataFiles/A.rec", 100, 1);
  MakeFile("/DataFiles/A.rec.inf", 100, 2);
  MakeFile("/DataFiles/A.rec.nav", 100, 3);
  MakeFile("/DataFiles/B.rec", 100, 4);
  MakeFile("/DataFiles/B.rec.inf", 100, 5);
  MakeFile("/DataFiles/C.rec", 100, 6);
  sim::fault(sim::Call::TAP_Hdd_Fopen).always().on("C.rec");
  // Each file opened is read once (the log, opened too, is only written).
  auto opens = [] { return sim::calls(sim::Call::TAP_Hdd_Fread); };
  auto entryOf = [this](const std::string &path) -> const RecDBEntry * {
    for (int32_t i = 0; i < RecDBEntries; ++i)
      if (RecDB_At(i)->RecInode == Inode(path)) return RecDB_At(i);
    return nullptr;
  };

  uint64_t before = opens();
  CrossCheckDataFilesWithDB();
  EXPECT_EQ(opens() - before, 5u);
  EXPECT_EQ(RecDBEntries, 2);
  EXPECT_EQ(SeenFiles_Count(), 2u) << "C.rec was never read";

  sim::clear_faults();
  before = opens();
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_EQ(opens() - before, 1u) << "only the recording that could not be read before";
  ASSERT_NE(entryOf("/DataFiles/C.rec"), nullptr);
  before = opens();
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 0);
  EXPECT_EQ(opens() - before, 0u) << "nothing changed";

  // Rewritten in place: same inode and size, other bytes.
  const uint64_t inodeA = Inode("/DataFiles/A.rec");
  MakeFile("/DataFiles/A.rec", 100, 9);
  ASSERT_EQ(Inode("/DataFiles/A.rec"), inodeA);
  // Replaced: a new file renamed over the companion.
  MakeFile("/DataFiles/new.inf", 100, 8);
  fs::rename(Real("/DataFiles/new.inf"), Real("/DataFiles/B.rec.inf"));
  before = opens();
  EXPECT_EQ(CrossCheckDataFilesWithDB(), 1);
  EXPECT_EQ(opens() - before, 2u);
  bool rewrittenSeen = false;
  for (int32_t i = 0; i < RecDBEntries; ++i)
    rewrittenSeen |= RecDB_At(i)->RecInode == inodeA && RecDB_At(i)->RecSample == Word("/DataFiles/A.rec", 8);
  EXPECT_TRUE(rewrittenSeen);
  const RecDBEntry *b = entryOf("/DataFiles/B.rec");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->InfInode, Inode("/DataFiles/B.rec.inf"));
  EXPECT_EQ(b->InfSample, Word("/DataFiles/B.rec.inf", 8));

  // A recording gone is dropped from what the scans keep.
  fs::remove(Real("/DataFiles/C.rec"));
  CrossCheckDataFilesWithDB();
  EXPECT_EQ(SeenFiles_Count(), 2u);
}

// What a later scan may take without reading: only a file whose inode, size and both
// times are all as kept. A new file on a reused inode differs at least in its change time.
TEST_F(ScanTest, AKeptFileIsUnchangedOnlyWithEveryFieldAsKept) {
  struct stat64 st {};
  st.st_ino = 41;
  st.st_size = 5000000000;  // beyond 32 bits
  st.st_mtime = 1000;
  st.st_ctime = 2000;
  st.st_ctim.tv_nsec = 300;
  uint32_t sample = 0;
  SeenFiles_BeginScan();
  EXPECT_FALSE(SeenFiles_Sample(41, kRecording, st, &sample));
  SeenFiles_Keep(41, kRecording, st, 0xABCD);
  ASSERT_TRUE(SeenFiles_Sample(41, kRecording, st, &sample));
  EXPECT_EQ(sample, 0xABCDu);
  EXPECT_FALSE(SeenFiles_Sample(41, kInf, st, &sample)) << "only the kinds kept";
  EXPECT_FALSE(SeenFiles_Sample(42, kRecording, st, &sample)) << "another recording";
  const auto differs = [&](auto change) {
    struct stat64 other = st;
    change(other);
    return !SeenFiles_Sample(41, kRecording, other, &sample);
  };
  EXPECT_TRUE(differs([](struct stat64 &o) { o.st_ino = 43; }));
  EXPECT_TRUE(differs([](struct stat64 &o) { o.st_size += 1LL << 32; }));
  EXPECT_TRUE(differs([](struct stat64 &o) { o.st_mtime += 1; }));
  EXPECT_TRUE(differs([](struct stat64 &o) { o.st_ctime += 1; }));
  EXPECT_TRUE(differs([](struct stat64 &o) { o.st_ctim.tv_nsec += 1; }));

  // Many recordings: the table grows and finds each; a scan that sees only some drops the
  // others; without memory for the table nothing is kept and nothing breaks.
  for (uint64_t ino = 100; ino < 1100; ++ino) {
    st.st_ino = ino;
    SeenFiles_Keep(ino, kRecording, st, static_cast<uint32_t>(ino));
  }
  EXPECT_EQ(SeenFiles_Count(), 1001u);
  SeenFiles_EndScan();
  SeenFiles_BeginScan();
  for (uint64_t ino = 100; ino < 1100; ino += 2) {
    st.st_ino = ino;
    ASSERT_TRUE(SeenFiles_Sample(ino, kRecording, st, &sample)) << ino;
    EXPECT_EQ(sample, ino);
  }
  SeenFiles_EndScan();
  EXPECT_EQ(SeenFiles_Count(), 500u);
  EXPECT_EQ(SeenFiles_Blocks(), 2u) << "the emptied block given back";
  EXPECT_EQ(sim::outstanding_blocks(), 2);
  st.st_ino = 101;
  EXPECT_FALSE(SeenFiles_Sample(101, kRecording, st, &sample));
  SeenFiles_Free();
  sim::fault(sim::Call::TAP_MemAlloc).always();
  SeenFiles_BeginScan();
  SeenFiles_Keep(101, kRecording, st, 1);
  EXPECT_FALSE(SeenFiles_Sample(101, kRecording, st, &sample));
  SeenFiles_EndScan();
  EXPECT_EQ(SeenFiles_Count(), 0u);
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
