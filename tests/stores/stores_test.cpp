// The files the module stores. Both that it writes by the safe whole-file replace, the
// settings file (through the settings store) and the database, go through the same saves
// that fail or are cut off: after each, a fresh load finds the old file or the new one,
// whole, and a later save works. Then what a failing disk leaves must never be replaced
// by less than it held.
#include <string>
#include <vector>

#include "app/quarrow.h"
#include "app/recoverylist.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/ini.h"
#include "tests/common/dbfile.h"
#include "tests/common/sim_disk.h"

namespace {

namespace fs = std::filesystem;

enum class Store { Settings, Database };

const std::string kIni = std::string(testfiles::DiskFiles::kSettings) + "/Quarrow.ini";
const std::string kDb = std::string(testfiles::DiskFiles::kSettings) + "/Quarrow.db";
const std::string kIniOld = "; hand-made\r\nOther=abc\nInformUser=1\r\nTail=x\r";
const std::string kIniNew = "; hand-made\r\nOther=abc\nInformUser=0\r\nTail=x\r";

// The database holds the first `n` of these, the old file 3, the new one 4.
std::vector<RecDBEntry> DbEntries(int n) {
  std::vector<RecDBEntry> v;
  for (int i = 0; i < n; ++i) {
    RecDBEntry e = testdb::Entry(("Recording " + std::to_string(i) + ".rec").c_str(), 0x100000000ull + i,
                                 0xA0000000u | static_cast<uint32_t>(i));
    e.InfInode = 2000 + i;
    e.InfSample = 0xB0000000u | static_cast<uint32_t>(i);
    v.push_back(e);
  }
  return v;
}

class ReplaceSweep : public ModuleDiskTest, public ::testing::WithParamInterface<Store> {
 protected:
  ReplaceSweep() : ModuleDiskTest("quarrow-replace-", true) {}
  void TearDown() override {
    INICloseFile();
    RecDB_Destroy();
    ModuleDiskTest::TearDown();
  }

  bool Ini() const { return GetParam() == Store::Settings; }
  const std::string &Path() const { return Ini() ? kIni : kDb; }
  std::string Old() const { return Ini() ? kIniOld : testdb::File(1, 10, 3, DbEntries(3), 10); }
  std::string New() const { return Ini() ? kIniNew : testdb::File(1, 10, 4, DbEntries(4), 10); }

  // The old file alone in the settings folder.
  void Restore() {
    RecDB_Destroy();
    fs::remove_all(Real(kSettings));
    fs::create_directories(Real(kSettings));
    Write(Path(), Old());
  }
  // What comes before the save, never faulted: the settings opened and changed, or the
  // database loaded and one fingerprint added (its log line would take from a budget).
  void Prepare() {
    if (Ini()) {
      EXPECT_TRUE(HDD_ChangeDir(kSettings));
      EXPECT_EQ(INIOpenFile("Quarrow.ini", "Quarrow"), INIPlace_CurrentDir);
      INISetInt("InformUser", 0);
      return;
    }
    RecDB_Destroy();
    RecDB_Load();
    const RecDBEntry added = DbEntries(4)[3];
    RecDB_Add(&added);
  }
  // The save, where the faults strike; whether it said it succeeded (the database says a
  // failure in its log, whose echo reaches the terminal even when the disk does not).
  bool Save() {
    if (Ini()) {
      const bool saved = INISaveFile("Quarrow.ini", INIPlace_CurrentDir, "");
      INICloseFile();
      return saved;
    }
    const int failures = testfiles::Occurrences(sim::console_text(), "failed to save the DB");
    RecDB_Save();
    RecDB_Destroy();
    return testfiles::Occurrences(sim::console_text(), "failed to save the DB") == failures;
  }
  // A fresh load: 0 when it finds the old contents, 1 the new ones, -1 anything else (or
  // a database it takes for damaged). The file then holds what was found, byte for byte.
  int Found() {
    int found = -1;
    if (Ini()) {
      EXPECT_TRUE(HDD_ChangeDir(kSettings));
      EXPECT_EQ(INIOpenFile("Quarrow.ini", "Quarrow"), INIPlace_CurrentDir);
      const std::string text = INIBuffer ? INIBuffer : "";
      INICloseFile();
      found = text == kIniOld ? 0 : text == kIniNew ? 1 : -1;
    } else {
      RecDB_Destroy();
      RecDB_Load();
      std::vector<std::string> records;
      for (int32_t i = 0; i < RecDBEntries; ++i) records.push_back(testdb::Record(*RecDB_At(i)));
      RecDB_Destroy();
      auto encoded = [](int n) {
        std::vector<std::string> out;
        for (const RecDBEntry &e : DbEntries(n)) out.push_back(testdb::Record(e));
        return out;
      };
      if (LogCount("damaged") == 0 && LogCount("failed to load") == 0)
        found = records == encoded(3) ? 0 : records == encoded(4) ? 1 : -1;
    }
    if (found >= 0) {
      EXPECT_EQ(Read(Path()), found == 0 ? Old() : New());
    }
    return found;
  }
  // Saves once more without faults: what the failure left must not stand in the way.
  void ExpectLaterSaveWorks() {
    Prepare();
    EXPECT_TRUE(Save());
    EXPECT_EQ(Found(), 1);
    EXPECT_EQ(Listing(kSettings), Ini() ? "Quarrow.ini\n" : "Quarrow.db\nQuarrow.log\n");
  }
};

TEST_P(ReplaceSweep, EveryFailingFileCallKeepsACompleteFile) {
  for (int i = 0; i < sim::CALL_COUNT; ++i) {
    const auto op = static_cast<sim::Call>(i);
    if (!sim::on_disk(op)) continue;
    // How often the save makes this call, then each of those calls failing in turn.
    Restore();
    Prepare();
    const uint64_t before = sim::calls(op);
    ASSERT_TRUE(Save());
    const uint64_t calls = sim::calls(op) - before;
    for (uint64_t n = 1; n <= calls + 1; ++n) {
      SCOPED_TRACE(std::string(sim::call_name(op)) + " call " + std::to_string(n));
      Restore();
      Prepare();
      sim::fault(op).nth(n);
      const bool saved = Save();
      sim::clear_faults();
      // A save that says it worked has the new file in place, one that says it failed
      // the old one.
      EXPECT_EQ(Found(), saved ? 1 : 0);
      ExpectLaterSaveWorks();
    }
  }
}

TEST_P(ReplaceSweep, WritesThatReportSuccessButNeverLandAreCaught) {
  Restore();
  Prepare();
  sim::fault(sim::Call::TAP_Hdd_Fwrite).always().returns(1);
  const bool saved = Save();
  sim::clear_faults();
  EXPECT_FALSE(saved);
  EXPECT_EQ(Found(), 0);
  ExpectLaterSaveWorks();
}

TEST_P(ReplaceSweep, PowerCutAfterAnyByteKeepsACompleteFile) {
  const long long total = static_cast<long long>(New().size());
  for (long long budget = 0; budget <= total; ++budget) {
    SCOPED_TRACE("bytes written: " + std::to_string(budget));
    Restore();
    Prepare();
    sim::cut_power_after_bytes(budget);
    const bool saved = Save();
    sim::clear_faults();
    EXPECT_EQ(saved, budget == total);
    EXPECT_EQ(Found(), budget == total ? 1 : 0);
  }
  ExpectLaterSaveWorks();
}

TEST_P(ReplaceSweep, PowerCutAtAnyStepKeepsACompleteFile) {
  Restore();
  Prepare();
  const long before = DiskChanges();
  ASSERT_TRUE(Save());
  const long steps = DiskChanges() - before;
  ASSERT_GT(steps, 3);
  bool saw[2] = {false, false};
  for (long n = 0; n <= steps; ++n) {
    SCOPED_TRACE("steps before the cut: " + std::to_string(n));
    Restore();
    Prepare();
    sim::cut_power_after_changes(static_cast<uint64_t>(n));
    Save();
    sim::clear_faults();
    // After the restart: the file's name holds a whole file.
    const int found = Found();
    ASSERT_NE(found, -1);
    saw[found] = true;
    if (n == steps) {
      EXPECT_EQ(found, 1);
    }
    ExpectLaterSaveWorks();
  }
  EXPECT_TRUE(saw[0] && saw[1]);
}

TEST_P(ReplaceSweep, APreviousFileLeftAsBackupIsFoundAgain) {
  // Cut between the two renames: no file, the old one under the backup name and the new
  // one, cut short, under the temporary name.
  Restore();
  fs::rename(Real(Path()), Real(Path() + ".bak"));
  Write(Path() + ".tmp", New().substr(0, New().size() / 2));
  EXPECT_EQ(Found(), 0);
  ExpectLaterSaveWorks();
}

INSTANTIATE_TEST_SUITE_P(Stores, ReplaceSweep, ::testing::Values(Store::Settings, Store::Database),
                         [](const ::testing::TestParamInfo<Store> &info) {
                           return info.param == Store::Settings ? "Settings" : "Database";
                         });

class StoredFiles : public ModuleDiskTest {
 protected:
  StoredFiles() : ModuleDiskTest("quarrow-stored-", true) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ModuleDiskTest::SetUp());
    ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  }
  void TearDown() override {
    RecDB_Destroy();
    ModuleDiskTest::TearDown();
  }
};

// A failed look at a file's length gives 0 on this host: the file must not pass for an
// empty or a cut-short one, or the next save replaces it with less.
TEST_F(StoredFiles, ALengthThatComesBackWrongNeverPassesForAShortFile) {
  const std::string ini = "; kept by the user\r\nInformUser=0\r\nOther=keep me\r\n";
  Write(kIni, ini);
  sim::fault(sim::Call::TAP_Hdd_Flen).on("Quarrow.ini").returns(0);
  Settings_Read();
  EXPECT_EQ(InformUser, 1) << "the flag stays pending";
  EXPECT_EQ(LogCount("failed to read the settings"), 1);
  EXPECT_EQ(Read(kIni), ini);
  // Read whole this time: every other line stays, the flag is stored pending.
  Settings_Write();
  EXPECT_EQ(Read(kIni), "; kept by the user\r\nInformUser=1\r\nOther=keep me\r\n");

  const std::string db = testdb::File(1, 10, 1, {testdb::Entry("Krimi.rec", 11)}, 10);
  Write(kDb, db);
  sim::fault(sim::Call::TAP_Hdd_Flen).on("Quarrow.db").returns(0);
  RecDB_Load();
  EXPECT_EQ(LogCount("failed to load the DB"), 1);
  const RecDBEntry e = testdb::Entry("Neu.rec", 99);
  RecDB_Add(&e);
  RecDB_Save();
  EXPECT_EQ(Read(kDb), db);
  EXPECT_FALSE(Exists(kDb + ".bad")) << "a sound file is not damaged";

  const std::string pending = std::string(kSettings) + "/Quarrow.pending";
  const std::string list = std::string("QRL1") + std::string("\1\0\0\0", 4) + std::string("\x2a\0\0\0\0\0\0\0", 8) +
                           std::string("\3#42\0", 5) + std::string("\3#42\0", 5);
  Write(pending, list);
  sim::fault(sim::Call::TAP_Hdd_Flen).on("Quarrow.pending").returns(0);
  quarrow::RecoveryList loaded;
  EXPECT_FALSE(quarrow::RecoveryList_Load(&loaded));
  quarrow::RecoveryList_Free(&loaded);
  EXPECT_EQ(LogCount("failed to read the recovery list"), 1);
  EXPECT_EQ(Read(pending), list);
  EXPECT_FALSE(Exists(pending + ".bad"));
}

}  // namespace
