// Folder navigation: the first change, the learned success value, the UTF-8 retry, the
// current folder from the firmware's task table, and the folder stack.
#include <cstdlib>
#include <cstring>

#include "host/firmware.h"
#include "host/fis.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "tests/common/sim_disk.h"

namespace fs = std::filesystem;

namespace {

class Hdd : public SimDiskTest {
 protected:
  Hdd() : SimDiskTest("quarrow-hdd-") {}
  void makeFolder(const std::string &hostPath) { fs::create_directories(sim::host_to_real(hostPath)); }
  uint64_t chdirCalls() { return sim::calls(sim::Call::TAP_Hdd_ChangeDir); }

  // The running module's record in the simulated firmware's task table.
  TapTaskRecord &taskRecord() {
    auto *table = static_cast<TapTaskRecord *>(FIS_vTAPTable());
    auto *current = static_cast<int32_t *>(FIS_vCurTapTask());
    EXPECT_NE(table, nullptr);
    EXPECT_NE(current, nullptr);
    return table[*current];
  }

};

// ---- HDD_ChangeDir ---------------------------------------------------------

TEST_F(Hdd, FirstChangeStartsFromProgramFiles) {
  makeFolder("/ProgramFiles/Settings");
  makeFolder("/DataFiles/Settings");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  // Later calls are relative to wherever the module is.
  EXPECT_TRUE(HDD_ChangeDir("Settings"));
  EXPECT_EQ(sim::current_dir(), "/DataFiles/Settings");
}

TEST_F(Hdd, RelativeNameOnTheFirstCallIsLookedUpInProgramFiles) {
  makeFolder("/ProgramFiles/Settings");
  makeFolder("/DataFiles/Other");
  // Even when the host stands elsewhere, the first call goes through /ProgramFiles.
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  EXPECT_TRUE(HDD_ChangeDir("Settings"));
  EXPECT_EQ(sim::current_dir(), "/ProgramFiles/Settings");
  EXPECT_FALSE(HDD_ChangeDir("Other"));
}

TEST_F(Hdd, SuccessValueIsLearnedFromTheHost) {
  sim::set_chdir_success_value(3);
  makeFolder("/DataFiles/A");
  EXPECT_TRUE(HDD_ChangeDir("/DataFiles/A"));
  EXPECT_FALSE(HDD_ChangeDir("/DataFiles/Missing"));
  EXPECT_EQ(sim::current_dir(), "/DataFiles/A");
}

TEST_F(Hdd, LearningHappensOnceAndFailureIsRetriedOnce) {
  uint64_t before = chdirCalls();
  EXPECT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_EQ(chdirCalls() - before, 2u);  // learning + the change
  before = chdirCalls();
  EXPECT_FALSE(HDD_ChangeDir("/NoSuchFolder"));
  EXPECT_EQ(chdirCalls() - before, 2u);  // the plain form, then the converted one
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
}

TEST_F(Hdd, SingleByteNameIsRetriedInUTF8) {
  makeFolder("/DataFiles/Gr\xC3\xBCn");
  EXPECT_TRUE(HDD_ChangeDir("/DataFiles/Gr\xFCn"));
  EXPECT_EQ(sim::current_dir(), "/DataFiles/Gr\xC3\xBCn");
}

TEST_F(Hdd, TheUTF8RetryNeverEntersAFolderNamedByPartOfThePath) {
  // "…/b\xFC\xFC" in UTF-8 is 257 bytes; its first 255 name another folder that exists.
  const std::string parent = "/DataFiles/" + std::string(240, 'a');
  makeFolder(parent + "/b\xC3\xBC");
  makeFolder(parent + "/b\xC3\xBC\xC3\xBC");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_TRUE(HDD_ChangeDir((parent + "/b\xFC\xFC").c_str()));
  EXPECT_EQ(sim::current_dir(), parent + "/b\xC3\xBC\xC3\xBC");
  fs::remove(sim::host_to_real(parent + "/b\xC3\xBC\xC3\xBC"));
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_FALSE(HDD_ChangeDir((parent + "/b\xFC\xFC").c_str()));
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
}

TEST_F(Hdd, OverlongPathIsRejectedWithoutOverrun) {
  std::string longPath = "/DataFiles/" + std::string(400, '\xE9');
  EXPECT_FALSE(HDD_ChangeDir(longPath.c_str()));
  EXPECT_FALSE(HDD_ChangeDir(nullptr));
}

// ---- HDD_TAP_GetCurrentDir -------------------------------------------------

TEST_F(Hdd, CurrentDirComesFromTheTaskTableWithoutTheMountPrefix) {
  makeFolder("/ProgramFiles/Settings");
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles/Settings"));
  char buffer[HDD_DIRSTACK_SLOT_SIZE];
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), 0);
  EXPECT_STREQ(buffer, "/ProgramFiles/Settings");
  EXPECT_EQ(HDD_TAP_GetCurrentDir(nullptr), 0);
}

TEST_F(Hdd, MissingFirmwareTablesGiveMinusThreeAndAnEmptyBuffer) {
  sim::fault(sim::Call::dlopen).always();  // the running program cannot be opened
  char buffer[HDD_DIRSTACK_SLOT_SIZE] = "stale";
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), -3);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(HDD_TAP_GetCurrentDir(nullptr), -3);
  EXPECT_FALSE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(Hdd, RecordWithoutPathLeavesTheBufferAsItWas) {
  TapTaskRecord &record = taskRecord();
  TapDirRecord *saved = record.dir;
  char buffer[HDD_DIRSTACK_SLOT_SIZE] = "kept";

  record.dir = nullptr;
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), 0);
  EXPECT_STREQ(buffer, "kept");

  TapDirRecord noPath{};
  record.dir = &noPath;
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), 0);
  EXPECT_STREQ(buffer, "kept");
  // Nothing to go back to: a push fails rather than save what the slot held before.
  std::strcpy(TAPDirStack[0], "/DataFiles/Stale");
  EXPECT_FALSE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, -1);
  record.dir = saved;
}

TEST_F(Hdd, FirmwarePathIsCopiedOnlyWhenItFitsTheSlot) {
  TapTaskRecord &record = taskRecord();
  TapDirRecord *saved = record.dir;
  std::string fits = "/mnt/hd/" + std::string(HDD_DIRSTACK_SLOT_SIZE - 2, 'a');  // 199 + NUL
  std::string tooLong = fits + "b";
  TapDirRecord mine{};
  record.dir = &mine;

  auto *buffer = static_cast<char *>(malloc(HDD_DIRSTACK_SLOT_SIZE));  // exact size: overruns show
  mine.path = fits.c_str();
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), 0);
  EXPECT_EQ(std::string(buffer), fits.substr(7));

  mine.path = tooLong.c_str();
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), -3);
  EXPECT_STREQ(buffer, "");

  // Paths no longer than the mount prefix: the root, and no reading past the end.
  mine.path = "/mnt/hd";
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), 0);
  EXPECT_STREQ(buffer, "/");
  mine.path = "/mnt";
  EXPECT_EQ(HDD_TAP_GetCurrentDir(buffer), 0);
  EXPECT_STREQ(buffer, "/");
  free(buffer);
  record.dir = saved;
}

// ---- the folder stack ------------------------------------------------------

TEST_F(Hdd, PushAndPopReturnToTheSavedFolder) {
  makeFolder("/ProgramFiles/Settings/Zorvane");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_TRUE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, 0);
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles/Settings"));
  EXPECT_TRUE(HDD_TAP_PushDir());
  ASSERT_TRUE(HDD_ChangeDir("Zorvane"));

  EXPECT_TRUE(HDD_TAP_PopDir());
  EXPECT_EQ(sim::current_dir(), "/ProgramFiles/Settings");
  EXPECT_TRUE(HDD_TAP_PopDir());
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(Hdd, StackHoldsSixteenFolders) {
  for (int i = 0; i < HDD_DIRSTACK_SLOTS; ++i) EXPECT_TRUE(HDD_TAP_PushDir()) << i;
  EXPECT_EQ(TAPDirStackDepth, 15);
  EXPECT_FALSE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, 15);
  for (int i = 0; i < HDD_DIRSTACK_SLOTS; ++i) EXPECT_TRUE(HDD_TAP_PopDir()) << i;
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(Hdd, PopOnAnEmptyStackDoesNothing) {
  uint64_t before = chdirCalls();
  EXPECT_FALSE(HDD_TAP_PopDir());
  EXPECT_EQ(chdirCalls(), before);
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(Hdd, PopRemovesTheSlotEvenWhenTheFolderIsGone) {
  makeFolder("/DataFiles/Gone");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles/Gone"));
  ASSERT_TRUE(HDD_TAP_PushDir());
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  fs::remove(sim::host_to_real("/DataFiles/Gone"));
  EXPECT_FALSE(HDD_TAP_PopDir());
  EXPECT_EQ(TAPDirStackDepth, -1);
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
}

}  // namespace
