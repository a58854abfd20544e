// Findings of the fuzzers, kept as plain tests next to the inputs that found them
// (corpus/ini/nul-inside, corpus/recdb/garbage-unused-slots).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/quarrow.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/ini.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace {

namespace fs = std::filesystem;

class FuzzFinding : public SimDiskTest {
 protected:
  FuzzFinding() : SimDiskTest("quarrow-fuzzfind-") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    sim::set_console_pts(-1);
    fs::create_directories(root_ + kFolder);
    ASSERT_TRUE(HDD_ChangeDir(kFolder));
  }
  void TearDown() override {
    INICloseFile();
    RecDB_Destroy();
    EXPECT_EQ(sim::outstanding_blocks(), 0);
    EXPECT_TRUE(RemoveRoot()) << root_;
  }
  void Write(const char *name, const std::string &bytes) {
    std::ofstream(root_ + kFolder + "/" + name, std::ios::binary) << bytes;
  }
  static constexpr const char *kFolder = "/ProgramFiles/Settings/Zorvane";
};

// A NUL ends the settings text; the line end added after it must not pull in what follows.
TEST_F(FuzzFinding, SettingsTextEndsAtANulInTheFile) {
  for (const std::string &file : {std::string("InformUser=0\0rest=1\r\n", 21), std::string("\0xyz=5\r\n", 8)}) {
    Write("Quarrow.ini", file);
    EXPECT_EQ(INIOpenFile("Quarrow.ini", "Quarrow"), INIPlace_CurrentDir);
    const std::string expected = file[0] == '\0' ? "\r\n" : "InformUser=0\r\n";
    EXPECT_EQ(std::string(INIBuffer), expected);
    EXPECT_EQ(INIGetInt("est", 7, 0, 9), 7);
    EXPECT_EQ(INIGetInt("xyz", 7, 0, 9), 7);
    INICloseFile();
  }
}

// Slots past the count of a database file are not in use: they come back as zeros and
// are saved as zeros, whatever the file held there.
TEST_F(FuzzFinding, UnusedDatabaseSlotsAreHeldAsZeros) {
  RecDBEntry used{};
  used.RecInode = 5;
  used.RecSample = 7;
  std::strcpy(used.RecName, "Krimi.rec");
  std::string file(12 + 176 * 10, '\xA5');
  const int32_t header[3] = {1, 10, 1};
  std::memcpy(file.data(), header, 12);
  std::memcpy(file.data() + 12, &used, sizeof used);
  Write("Quarrow.db", file);

  RecDB_Load();
  ASSERT_EQ(RecDBEntries, 1);
  ASSERT_EQ(RecDBSize, 10);
  const RecDBEntry zero{};
  for (int i = 1; i < RecDBSize; ++i) EXPECT_EQ(std::memcmp(&RecDB[i], &zero, sizeof zero), 0) << i;
  EXPECT_EQ(std::string(RecDB[0].RecName), "Krimi.rec");
}

}  // namespace
