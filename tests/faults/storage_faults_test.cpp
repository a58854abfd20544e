// Damaged and unreadable stored files: what a failing disk leaves must never be replaced
// by less than it held, and nothing is kept in memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/quarrow.h"
#include "app/recoverylist.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/ini.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace {

namespace fs = std::filesystem;
constexpr const char *kFolder = "/ProgramFiles/Settings/Zorvane";

class StoredFiles : public SimDiskTest {
 protected:
  StoredFiles() : SimDiskTest("quarrow-stored-") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    sim::set_console_pts(-1);
    fs::create_directories(root_ + kFolder);
    ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  }
  void TearDown() override {
    INICloseFile();
    RecDB_Destroy();
    EXPECT_EQ(sim::outstanding_blocks(), 0);
    EXPECT_EQ(sim::open_files(), 0);
    EXPECT_TRUE(RemoveRoot()) << root_;
  }
  std::string Path(const std::string &name) const { return root_ + kFolder + "/" + name; }
  // Files of the settings folder, by name.
  void Write(const std::string &name, const std::string &bytes) const {
    SimDiskTest::Write(std::string(kFolder) + "/" + name, bytes);
  }
  std::string Read(const std::string &name) const { return SimDiskTest::Read(std::string(kFolder) + "/" + name); }
  // A database file whose header announces more entries than its capacity: damaged.
  static std::string DamagedDatabase(bool blankRecords) {
    std::string file(12 + 176 * 3, '\0');
    const int32_t header[3] = {1, 3, 7};
    std::memcpy(file.data(), header, 12);
    if (!blankRecords) {
      RecDBEntry e{};
      e.RecInode = 11;
      e.RecSample = 22;
      std::strcpy(e.RecName, "Krimi.rec");
      std::memcpy(file.data() + 12, &e, sizeof e);
    }
    return file;
  }
  static RecDBEntry Entry(uint64_t inode, const char *name) {
    RecDBEntry e{};
    e.RecInode = inode;
    std::strcpy(e.RecName, name);
    return e;
  }
};

TEST_F(StoredFiles, DamagedDatabaseThatCannotBeReadIsNeverReplaced) {
  const std::string file = DamagedDatabase(false);
  Write("Quarrow.db", file);
  sim::fault(sim::Call::TAP_Hdd_Fread).nth(2).on("Quarrow.db");  // the header reads, the records do not
  RecDB_Load();
  sim::clear_faults();
  EXPECT_EQ(RecDB, nullptr);
  EXPECT_EQ(LogCount("failed to load the DB"), 1);
  EXPECT_EQ(sim::current_dir(), "/DataFiles");

  // What the scan adds now must not take the place of the entries that were not read.
  RecDBEntry e = Entry(99, "Neu.rec");
  EXPECT_EQ(RecDB_Add(&e), 1);
  RecDB_Save();
  EXPECT_EQ(LogCount("failed to save the DB"), 1);
  EXPECT_EQ(Read("Quarrow.db"), file);
}

// A failed look at a file's length gives 0 on this host: the file must not pass for an
// empty or a cut-short one, or the next save replaces it with less.
TEST_F(StoredFiles, ALengthThatComesBackWrongNeverPassesForAShortFile) {
  const std::string ini = "; kept by the user\r\nInformUser=0\r\nOther=keep me\r\n";
  Write("Quarrow.ini", ini);
  sim::fault(sim::Call::TAP_Hdd_Flen).on("Quarrow.ini").returns(0);
  Settings_Read();
  EXPECT_EQ(InformUser, 1) << "the flag stays pending";
  EXPECT_EQ(LogCount("failed to read the settings"), 1);
  EXPECT_EQ(Read("Quarrow.ini"), ini);
  // Read whole this time: every other line stays, the flag is stored pending.
  Settings_Write();
  EXPECT_EQ(Read("Quarrow.ini"), "; kept by the user\r\nInformUser=1\r\nOther=keep me\r\n");

  std::string db(12 + 176 * 10, '\0');
  const int32_t header[3] = {1, 10, 1};
  std::memcpy(db.data(), header, 12);
  const RecDBEntry known = Entry(11, "Krimi.rec");
  std::memcpy(db.data() + 12, &known, sizeof known);
  Write("Quarrow.db", db);
  sim::fault(sim::Call::TAP_Hdd_Flen).on("Quarrow.db").returns(0);
  RecDB_Load();
  EXPECT_EQ(LogCount("failed to load the DB"), 1);
  RecDBEntry e = Entry(99, "Neu.rec");
  RecDB_Add(&e);
  RecDB_Save();
  EXPECT_EQ(Read("Quarrow.db"), db);
  EXPECT_FALSE(fs::exists(Path("Quarrow.db.bad"))) << "a sound file is not damaged";

  std::string list = std::string("QRL1") + std::string("\1\0\0\0", 4) + std::string("\x2a\0\0\0\0\0\0\0", 8) +
                     std::string("\3#42\0", 5) + std::string("\3#42\0", 5);
  Write("Quarrow.pending", list);
  sim::fault(sim::Call::TAP_Hdd_Flen).on("Quarrow.pending").returns(0);
  quarrow::RecoveryList pending;
  EXPECT_FALSE(quarrow::RecoveryList_Load(&pending));
  quarrow::RecoveryList_Free(&pending);
  EXPECT_EQ(LogCount("failed to read the recovery list"), 1);
  EXPECT_EQ(Read("Quarrow.pending"), list);
  EXPECT_FALSE(fs::exists(Path("Quarrow.pending.bad")));
}

TEST_F(StoredFiles, DamagedDatabaseIsKeptAsideWhenItIsReplaced) {
  for (bool blank : {false, true}) {
    SCOPED_TRACE(blank);
    const std::string file = DamagedDatabase(blank);
    Write("Quarrow.db", file);
    fs::remove(Path("Quarrow.db.bad"));
    RecDB_Load();
    EXPECT_EQ(RecDBEntries, blank ? 0 : 1);
    EXPECT_EQ(LogCount(blank ? "damaged DB, kept 0 entries" : "damaged DB, kept 1 entries"), 1);
    RecDBEntry e = Entry(99, "Neu.rec");
    EXPECT_EQ(RecDB_Add(&e), 1);
    RecDB_Save();
    RecDB_Destroy();
    // The damaged file stays next to the new one, which loads cleanly.
    EXPECT_EQ(Read("Quarrow.db.bad"), file);
    RecDB_Load();
    EXPECT_EQ(RecDBEntries, blank ? 1 : 2);
    RecDB_Destroy();
    fs::remove(Path("Quarrow.log"));
  }
}

TEST_F(StoredFiles, SettingsStoreRefusesNamesWithoutRoomForItsSiblingsAndNeverLeaks) {
  ASSERT_TRUE(HDD_ChangeDir(kFolder));
  // The replace needs NAME.tmp and NAME.bak beside the file.
  const std::string longName(253, 'n');
  EXPECT_EQ(INIOpenFile(longName.c_str(), "Quarrow"), INIPlace_New);
  INISetInt("InformUser", 1);
  EXPECT_FALSE(INISaveFile(longName.c_str(), INIPlace_CurrentDir, ""));
  // A second open without a close releases the first text.
  EXPECT_EQ(INIOpenFile("Quarrow.ini", "Quarrow"), INIPlace_New);
  INICloseFile();
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  EXPECT_FALSE(fs::exists(Path(longName)));
}

}  // namespace
