// The InformUser setting in Quarrow.ini and the program log, against the simulated disk.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/quarrow.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/ini.h"
#include "tests/common/sim_disk.h"

namespace {

const std::string kIni = "/ProgramFiles/Settings/Zorvane/Quarrow.ini";
const std::string kLog = "/ProgramFiles/Settings/Zorvane/Quarrow.log";
constexpr const char *kChildDisk = "QUARROW_SETTINGS_CHILD_DISK";

namespace fs = std::filesystem;

class SettingsTest : public ModuleDiskTest {
 protected:
  SettingsTest() : ModuleDiskTest("quarrow-settings-", true) {}
};

TEST_F(SettingsTest, WithoutAFileTheFlagIsClearAndAFileIsWritten) {
  InformUser = 1;
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  Settings_Read();
  EXPECT_EQ(InformUser, 0);
  EXPECT_EQ(Read(kIni), "InformUser=0\r\n");
  EXPECT_EQ(sim::current_dir(), kSettings);
}

TEST_F(SettingsTest, ReadingTheFlag) {
  struct Case {
    std::string text;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"InformUser=1\r\n", 1}, {"InformUser=0\r\n", 0},  {"Other=0\r\n", 1},   {"InformUser=5\r\n", 1},
      {"InformUser=-3\r\n", 0}, {"InformUser=word\r\n", 1}, {"InformUser=0", 0}, {"", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Write(kIni, c.text);
    InformUser = 1 - c.expected;
    Settings_Read();
    EXPECT_EQ(InformUser, c.expected);
    EXPECT_EQ(Read(kIni), c.text);  // reading does not rewrite an existing file
    EXPECT_EQ(sim::current_dir(), kSettings);
  }
}

TEST_F(SettingsTest, WritingKeepsTheRestOfTheFile) {
  Write(kIni, "# mine\r\nOther=x\nInformUser=0\r\nLast=1");
  InformUser = 1;
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  Settings_Write();
  EXPECT_EQ(Read(kIni), "# mine\r\nOther=x\nInformUser=1\r\nLast=1\r\n");
  EXPECT_EQ(sim::current_dir(), kSettings);
  InformUser = 7;  // anything but 0 is stored as 1
  Settings_Write();
  InformUser = 0;
  Settings_Read();
  EXPECT_EQ(InformUser, 1);
  InformUser = 0;
  Settings_Write();
  EXPECT_EQ(Read(kIni), "# mine\r\nOther=x\nInformUser=0\r\nLast=1\r\n");
  EXPECT_EQ(Listing(kSettings), "Quarrow.ini\n");
}

TEST_F(SettingsTest, TheFlagSurvivesAReload) {
  for (int32_t value : {1, 0, 1}) {
    SCOPED_TRACE(value);
    InformUser = value;
    Settings_Write();
    // What a reload resets: the module's globals, the store's buffers.
    InformUser = 1 - value;
    ASSERT_EQ(INIBuffer, nullptr);
    ASSERT_EQ(BufferSize, 0u);
    Settings_Read();
    EXPECT_EQ(InformUser, value);
  }
}

// Run only as the child of the test below, in a fresh process on the parent's disk.
TEST(SettingsChild, DISABLED_ReadsTheFlagInAFreshProcess) {
  const char *disk = std::getenv(kChildDisk);
  ASSERT_NE(disk, nullptr);
  sim::reset();
  sim::set_disk(disk);
  sim::set_console_path(std::string(disk) + ".console");
  ASSERT_EQ(InformUser, 0);  // as loaded
  Settings_Read();
  testfiles::WriteFile(std::string(disk) + "/child-read.txt", std::to_string(InformUser));
}

TEST_F(SettingsTest, TheFlagSurvivesARestartInAFreshProcess) {
  InformUser = 1;
  Settings_Write();
  ASSERT_EQ(Read(kIni), "InformUser=1\r\n");

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(kChildDisk, root_.c_str(), 1);
    execl("/proc/self/exe", "settings_tests", "--gtest_also_run_disabled_tests",
          "--gtest_filter=SettingsChild.DISABLED_ReadsTheFlagInAFreshProcess", static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Read("/child-read.txt"), "1");
  fs::remove(Real("/child-read.txt"));
}

TEST_F(SettingsTest, AMissingSettingsFolderGetsNoFileElsewhere) {
  fs::remove_all(Real("/ProgramFiles/Settings"));
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  InformUser = 1;
  Settings_Write();
  Settings_Read();
  EXPECT_EQ(InformUser, 0);
  EXPECT_FALSE(Exists("/ProgramFiles/Settings"));
  EXPECT_FALSE(Exists("/DataFiles/Quarrow.ini"));
  EXPECT_FALSE(Exists("/ProgramFiles/Quarrow.ini"));
}

TEST_F(SettingsTest, OutOfMemoryWhileStoringTheFlag) {
  Write(kIni, "Other=x\r\nInformUser=0\r\n");
  InformUser = 1;
  uint64_t before = sim::calls(sim::Call::TAP_MemAlloc);
  Settings_Write();
  uint64_t calls = sim::calls(sim::Call::TAP_MemAlloc) - before;
  ASSERT_GE(calls, 2u);  // the loaded text, and its rebuilt copy
  for (uint64_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE(n);
    Write(kIni, "Other=x\r\nInformUser=0\r\n");
    sim::fault(sim::Call::TAP_MemAlloc).nth(n);
    Settings_Write();
    sim::clear_faults();
    EXPECT_EQ(sim::outstanding_blocks(), 0);
    std::string text = Read(kIni);
    EXPECT_TRUE(text == "Other=x\r\nInformUser=0\r\n" || text == "Other=x\r\nInformUser=1\r\n") << text;
  }
}

TEST_F(SettingsTest, WriteLogAppendsAndLeavesTheFolderAlone) {
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  WriteLog("first");
  sim::set_clock(2026, 12, 7, 12, 0, 9);
  WriteLog("100%s done %n %d");  // never used as a format
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  EXPECT_EQ(Read(kLog), "2026-12-07 12:00:00 first\r\n2026-12-07 12:00:09 100%s done %n %d\r\n");
  EXPECT_NE(sim::console_text().find("Quarrow: first\n"), std::string::npos);
  EXPECT_EQ(TAPDirStackDepth, -1);
  EXPECT_FALSE(Exists("/DataFiles/Quarrow.log"));
}

TEST_F(SettingsTest, WriteLogThatCannotReachItsFolderOnlyEchoes) {
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));

  // Folder stack full: the caller's folder could not be restored, so it is not left.
  for (int i = 0; i < HDD_DIRSTACK_SLOTS; ++i) ASSERT_TRUE(HDD_TAP_PushDir());
  WriteLog("stack full");
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  EXPECT_EQ(TAPDirStackDepth, HDD_DIRSTACK_SLOTS - 1);
  for (int i = 0; i < HDD_DIRSTACK_SLOTS; ++i) HDD_TAP_PopDir();
  EXPECT_EQ(LogCount("stack full"), 0);
  EXPECT_NE(sim::console_text().find("Quarrow: stack full"), std::string::npos);

  // Settings folder gone: no log file in whatever folder the module happens to be in.
  fs::remove_all(Real(kSettings));
  WriteLog("no folder");
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  EXPECT_FALSE(Exists("/DataFiles/Quarrow.log"));
  EXPECT_FALSE(Exists("/ProgramFiles/Quarrow.log"));
  EXPECT_NE(sim::console_text().find("Quarrow: no folder"), std::string::npos);
}

}  // namespace
