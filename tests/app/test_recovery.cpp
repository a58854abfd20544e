// Matching of the files moved into /DataFiles/Zorvane against the fingerprints.
#include <cstring>

#include "app/recoverylist.h"
#include "fixture.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "tests/common/dbfile.h"

namespace {

constexpr const char *kZ = "/DataFiles/Zorvane";

class RecoveryTest : public AppTest {
 protected:
  RecoveryTest() : AppTest(true) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(AppTest::SetUp());
    fs::create_directories(Real(kZ));
  }
  void TearDown() override {
    RecDB_Destroy();
    AppTest::TearDown();
  }

  // An in-memory database holding `entries`, as a load would leave it.
  void UseDatabase(const std::vector<RecDBEntry> &entries) {
    RecDB_Destroy();
    int32_t size = static_cast<int32_t>((entries.size() + 9) / 10 * 10);
    if (size == 0) return;
    RecDB = static_cast<RecDBEntry *>(TAP_MemAlloc(size * sizeof(RecDBEntry)));
    ASSERT_NE(RecDB, nullptr);
    std::memset(RecDB, 0, size * sizeof(RecDBEntry));
    for (size_t i = 0; i < entries.size(); ++i) RecDB[i] = entries[i];
    RecDBSize = size;
    RecDBEntries = static_cast<int32_t>(entries.size());
    // Through the file, as the recovery only trusts a database that was read.
    RecDB_Save();
    RecDB_Destroy();
    RecDB_Load();
  }

  static RecDBEntry Entry(const char *name) { return testdb::Entry(name); }

  std::string Z(const std::string &name) const { return std::string(kZ) + "/" + name; }

  // The "#..." entries of kZ (or `only`) on the recovery list, as an intake would have
  // moved them.
  void List(const std::string &only = "") {
    quarrow::RecoveryList list;
    for (const auto &e : fs::directory_iterator(Real(kZ))) {
      const std::string name = e.path().filename().string();
      if (only.empty() ? name[0] != '#' : name != only) continue;
      EXPECT_TRUE(quarrow::RecoveryList_Add(&list, Inode(Z(name)), name.c_str(), name.c_str()));
    }
    EXPECT_TRUE(quarrow::RecoveryList_Save(&list));
    quarrow::RecoveryList_Free(&list);
  }

  int Recover() {
    List();
    return CrossCheckLostAndFoundWithDB();
  }

  // `e` with the .inf or .nav fingerprint of `file` in kZ.
  void WithInf(RecDBEntry &e, const std::string &file) const {
    e.InfInode = Inode(Z(file));
    e.InfSample = Word(Z(file), 8);
  }
  void WithNav(RecDBEntry &e, const std::string &file) const {
    e.NavInode = Inode(Z(file));
    e.NavSample = Word(Z(file), 12);
  }

  // The entry of recording `name` whose fingerprint is that of `file` in kZ.
  RecDBEntry RecordingOf(const char *name, const std::string &file) const {
    RecDBEntry e = Entry(name);
    e.RecInode = Inode(Z(file));
    e.RecSample = Word(Z(file), 8);
    return e;
  }
};

TEST_F(RecoveryTest, EachRuleGivesItsNameAndUsesItsSampleOffset) {
  MakeFile(Z("#11"), 4096, 1);
  MakeFile(Z("#12"), 300, 2);
  MakeFile(Z("#13"), 900, 3);
  RecDBEntry e = RecordingOf("Krimi am Abend.rec", "#11");
  WithInf(e, "#12");
  WithNav(e, "#13");
  std::string rec = Read(Z("#11")), inf = Read(Z("#12")), nav = Read(Z("#13"));
  UseDatabase({e});

  EXPECT_EQ(Recover(), 1);

  EXPECT_EQ(Read(Z("Krimi am Abend.rec")), rec);
  EXPECT_EQ(Read(Z("Krimi am Abend.rec.inf")), inf);
  EXPECT_EQ(Read(Z("Krimi am Abend.rec.nav")), nav);
  EXPECT_FALSE(Exists(Z("#11")));
  EXPECT_EQ(LogCount("recovered '#11' to 'Krimi am Abend.rec'"), 1);
  EXPECT_EQ(LogCount("recovered '#12' to 'Krimi am Abend.rec.inf'"), 1);
  EXPECT_EQ(LogCount("recovered '#13' to 'Krimi am Abend.rec.nav'"), 1);
  EXPECT_EQ(sim::current_dir(), kZ);
}

TEST_F(RecoveryTest, SampleAtTheWrongOffsetDoesNotMatch) {
  MakeFile(Z("#20"), 64, 9);
  RecDBEntry nav = Entry("a.rec");
  nav.NavInode = Inode(Z("#20"));
  nav.NavSample = Word(Z("#20"), 8);  // a .nav is compared on bytes 12 to 15
  RecDBEntry rec = Entry("b.rec");
  rec.RecInode = Inode(Z("#20"));
  rec.RecSample = Word(Z("#20"), 12);  // a recording on bytes 8 to 11
  UseDatabase({nav, rec});

  EXPECT_EQ(Recover(), 0);
  EXPECT_TRUE(Exists(Z("#20")));
  EXPECT_EQ(LogCount("recovered"), 0);
}

TEST_F(RecoveryTest, FirstEntryWinsAndRecordingBeatsInfBeatsNav) {
  MakeFile(Z("#30"), 64, 4);
  uint64_t ino = Inode(Z("#30"));
  uint32_t first = Word(Z("#30"), 8), second = Word(Z("#30"), 12);

  // Entry 0 claims it as .inf and .nav, entry 1 as the recording: entry 0 wins, by .inf.
  RecDBEntry e0 = Entry("early.rec");
  e0.NavInode = ino;
  e0.NavSample = second;
  e0.InfInode = ino;
  e0.InfSample = first;
  RecDBEntry e1 = Entry("late.rec");
  e1.RecInode = ino;
  e1.RecSample = first;
  UseDatabase({e0, e1});
  EXPECT_EQ(Recover(), 1);
  EXPECT_TRUE(Exists(Z("early.rec.inf")));
  RecDB_Destroy();

  // Within one entry the recording rule comes first.
  MakeFile(Z("#31"), 64, 5);
  RecDBEntry all = Entry("one.rec");
  all.NavInode = all.InfInode = all.RecInode = Inode(Z("#31"));
  all.RecSample = all.InfSample = Word(Z("#31"), 8);
  all.NavSample = Word(Z("#31"), 12);
  UseDatabase({all});
  EXPECT_EQ(Recover(), 1);
  EXPECT_TRUE(Exists(Z("one.rec")));
  EXPECT_FALSE(Exists(Z("one.rec.inf")));
}

TEST_F(RecoveryTest, FoldersAndUnknownFilesAreLeftAlone) {
  fs::create_directories(Real(Z("#40")));
  MakeFile(Z("#40/inside"), 64, 1);
  MakeFile(Z("#41"), 64, 2);
  RecDBEntry e = Entry("folder.rec");
  e.RecInode = Inode(Z("#40"));  // a folder's inode, sample 0
  RecDBEntry empty = Entry("zero.rec");  // all inodes 0: matches no real file
  UseDatabase({e, empty});

  EXPECT_EQ(Recover(), 0);
  EXPECT_TRUE(Exists(Z("#40/inside")));
  EXPECT_TRUE(Exists(Z("#41")));
  EXPECT_EQ(Log(), "");
}

TEST_F(RecoveryTest, EmptyDatabaseOrEmptyFolderRenamesNothing) {
  EXPECT_EQ(Recover(), 0);
  MakeFile(Z("#50"), 64, 1);
  EXPECT_EQ(Recover(), 0);
  EXPECT_TRUE(Exists(Z("#50")));
  EXPECT_EQ(Log(), "");
  // A list with no entries (not one this module writes) is done with, and goes.
  const std::string list = "/ProgramFiles/Settings/Zorvane/Quarrow.pending";
  Write(list, std::string("QRL1\0\0\0\0", 8));
  EXPECT_EQ(CrossCheckLostAndFoundWithDB(), 0);
  EXPECT_FALSE(Exists(list));
}

TEST_F(RecoveryTest, ATakenNameIsNeverOverwrittenTheFileGetsTheNextFreeNumberedName) {
  MakeFile(Z("#60"), 64, 1);
  MakeFile(Z("#61"), 64, 2);
  MakeFile(Z("#62"), 64, 3);
  MakeFile(Z("taken.rec"), 10, 3);  // the name the first file would get is in use
  MakeFile(Z("taken (2).rec.nav"), 10, 4);  // so is a companion name of the next stem
  RecDBEntry taken = RecordingOf("taken.rec", "#60");
  WithInf(taken, "#62");
  RecDBEntry free_ = RecordingOf("free.rec", "#61");
  std::string takenBefore = Read(Z("taken.rec"));
  UseDatabase({taken, free_});

  EXPECT_EQ(Recover(), 1);
  EXPECT_EQ(Read(Z("taken.rec")), takenBefore);
  // The recording and its .inf share the stem, so the recorder still pairs them.
  EXPECT_TRUE(Exists(Z("taken (3).rec")));
  EXPECT_TRUE(Exists(Z("taken (3).rec.inf")));
  EXPECT_EQ(LogCount("recovered '#60' to 'taken (3).rec'"), 1);
  EXPECT_EQ(LogCount("recovered '#62' to 'taken (3).rec.inf'"), 1);
  EXPECT_TRUE(Exists(Z("free.rec")));
  EXPECT_EQ(LogCount("recovered '#61' to 'free.rec'"), 1);
  EXPECT_FALSE(quarrow::RecoveryList_Pending());
}

TEST_F(RecoveryTest, TwoRecordingsOfOneNameBothComeBackWithTheirCompanions) {
  MakeFile(Z("#1"), 64, 1);
  MakeFile(Z("#2"), 64, 2);
  MakeFile(Z("#3"), 64, 3);
  MakeFile(Z("#4"), 64, 4);
  RecDBEntry a = RecordingOf("Tatort.rec", "#1");
  WithNav(a, "#2");
  RecDBEntry b = RecordingOf("Tatort.rec", "#3");
  WithNav(b, "#4");
  std::string recB = Read(Z("#3")), navB = Read(Z("#4"));
  UseDatabase({a, b});

  EXPECT_EQ(Recover(), 1);
  EXPECT_TRUE(Exists(Z("Tatort.rec")));
  EXPECT_TRUE(Exists(Z("Tatort.rec.nav")));
  EXPECT_EQ(Read(Z("Tatort (2).rec")), recB);
  EXPECT_EQ(Read(Z("Tatort (2).rec.nav")), navB);
}

TEST_F(RecoveryTest, NamesThatWouldLeaveTheFolderArePassedOver) {
  MakeFile(Z("#7"), 64, 1);
  RecDBEntry up = RecordingOf("../../ProgramFiles/evil.tap", "#7");
  RecDBEntry dots = RecordingOf("..", "#7");
  RecDBEntry good = RecordingOf("good.rec", "#7");
  UseDatabase({up, dots, good});

  EXPECT_EQ(Recover(), 1);
  EXPECT_FALSE(Exists("/ProgramFiles/evil.tap"));
  EXPECT_TRUE(Exists(Z("good.rec")));
  EXPECT_EQ(LogCount("unusable name '../../ProgramFiles/evil.tap' in the DB, passed over"), 1);
  EXPECT_EQ(LogCount("unusable name '..' in the DB, passed over"), 1);
}

// Failures the module can see leave the file on the recovery list: the next pass, at the
// next start, finishes it.
TEST_F(RecoveryTest, ARenameOpenOrReadThatFailsIsLoggedAndFinishedByTheNextPass) {
  MakeFile(Z("#70"), 64, 1);
  MakeFile(Z("#71"), 64, 2);
  MakeFile(Z("#72"), 64, 3);
  UseDatabase({RecordingOf("x.rec", "#70"), RecordingOf("y.rec", "#71"), RecordingOf("z.rec", "#72")});
  List();
  sim::fault(sim::Call::TAP_Hdd_Rename).nth(1);
  sim::fault(sim::Call::TAP_Hdd_Fopen).nth(1).on("#71");
  sim::fault(sim::Call::TAP_Hdd_Fread).nth(1).on("#72");

  EXPECT_EQ(CrossCheckLostAndFoundWithDB(), 0);
  EXPECT_TRUE(Exists(Z("#70")));
  EXPECT_FALSE(Exists(Z("x.rec")));
  EXPECT_EQ(LogCount("failed to rename '#70' to 'x.rec'"), 1);
  EXPECT_EQ(LogCount("failed to open '#71' while recovering"), 1);
  EXPECT_EQ(LogCount("failed to read '#72' while recovering"), 1);
  EXPECT_TRUE(quarrow::RecoveryList_Pending());

  EXPECT_EQ(CrossCheckLostAndFoundWithDB(), 1);
  EXPECT_TRUE(Exists(Z("x.rec")));
  EXPECT_TRUE(Exists(Z("y.rec")));
  EXPECT_TRUE(Exists(Z("z.rec")));
  EXPECT_FALSE(quarrow::RecoveryList_Pending());
  EXPECT_EQ(LogCount("recovered"), 3);
}

TEST_F(RecoveryTest, AHostRenameThatReportsSuccessButDidNothingIsAFailure) {
  MakeFile(Z("#73"), 64, 1);
  UseDatabase({RecordingOf("x.rec", "#73")});
  List();
  sim::fault(sim::Call::TAP_Hdd_Rename).always().returns(1);
  EXPECT_EQ(CrossCheckLostAndFoundWithDB(), 0);
  sim::clear_faults();
  EXPECT_EQ(LogCount("failed to rename '#73' to 'x.rec'"), 1);
  EXPECT_EQ(LogCount("recovered"), 0);
  EXPECT_TRUE(quarrow::RecoveryList_Pending());
}

TEST_F(RecoveryTest, ADatabaseThatCouldNotBeReadKeepsTheWholeListPending) {
  MakeFile(Z("#74"), 64, 1);
  UseDatabase({RecordingOf("x.rec", "#74")});
  RecDB_Destroy();
  Write("/ProgramFiles/Settings/Zorvane/Quarrow.db", std::string(12 + 176, '\1'));
  sim::fault(sim::Call::TAP_Hdd_Fopen).nth(1).on("Quarrow.db");
  RecDB_Load();
  EXPECT_EQ(Recover(), 0);
  EXPECT_TRUE(Exists(Z("#74")));
  EXPECT_TRUE(quarrow::RecoveryList_Pending());
}

TEST_F(RecoveryTest, FileAlreadyUnderItsNameIsNotTouched) {
  MakeFile(Z("back.rec"), 64, 1);
  RecDBEntry e = RecordingOf("back.rec", "back.rec");
  UseDatabase({e});
  List("back.rec");

  EXPECT_EQ(CrossCheckLostAndFoundWithDB(), 0);
  EXPECT_FALSE(quarrow::RecoveryList_Pending());
  EXPECT_TRUE(Exists(Z("back.rec")));
  EXPECT_EQ(Log(), "");
}

TEST_F(RecoveryTest, ShortFileIsComparedWithZerosForMissingBytes) {
  MakeFile(Z("#90"), 10, 6);  // bytes 8 and 9 exist, 10 to 15 do not
  RecDBEntry e = RecordingOf("short.rec", "#90");  // high bytes zero
  ASSERT_EQ(e.RecSample >> 16, 0u);
  UseDatabase({e});

  EXPECT_EQ(Recover(), 1);
  EXPECT_TRUE(Exists(Z("short.rec")));
}

TEST_F(RecoveryTest, NothingIsRenamedWhenTheFolderCannotBeEntered) {
  // Same name in the folder we are in and in the recovery folder: listing the wrong
  // folder would pair one file's inode with the other's bytes and rename the wrong file.
  MakeFile(Z("#5"), 64, 1);
  MakeFile("/DataFiles/Other/#5", 64, 2);
  RecDBEntry e = Entry("wrong.rec");
  e.RecInode = Inode(Z("#5"));
  e.RecSample = Word("/DataFiles/Other/#5", 8);
  UseDatabase({e});
  List();
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles/Other"));
  sim::fault(sim::Call::TAP_Hdd_ChangeDir).always().on("Zorvane");

  EXPECT_EQ(CrossCheckLostAndFoundWithDB(), 0);
  EXPECT_TRUE(Exists("/DataFiles/Other/#5"));
  EXPECT_TRUE(Exists(Z("#5")));
  EXPECT_FALSE(Exists("/DataFiles/Other/wrong.rec"));
}

}  // namespace
