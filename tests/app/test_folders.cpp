// Quarrow.folders: what a damaged, foreign or unreadable file costs, and the rule that
// tells a folder a file may be returned to.
#include <cstring>
#include <map>

#include "app/folders.h"
#include "fixture.h"

using namespace quarrow;

namespace {

const std::string kFile = std::string(testfiles::DiskFiles::kSettings) + "/Quarrow.folders";

class FolderFileTest : public AppTest {
 protected:
  FolderFileTest() : AppTest(true) {}
  void TearDown() override {
    Folders_Destroy();
    AppTest::TearDown();
  }

  // 600 recordings in three folders: three blocks of records, the last one short.
  void SaveKnown() {
    Folders_Load();
    for (uint32_t i = 0; i < 600; ++i) {
      const std::string &folder = kFolders[i % 3];
      Folders_Note(1000 + i, i * 7u, folder.c_str());
      known_[i] = folder;
    }
    ASSERT_TRUE(Folders_Changed());
    Folders_Save();
    Folders_Destroy();
    saved_ = Read(kFile);
    ASSERT_EQ(saved_.size(), Folders_FileSize(TableBytes(), 600));
  }
  uint32_t TableBytes() const {
    uint32_t n = 0;
    for (const std::string &f : kFolders) n += 2 + static_cast<uint32_t>(f.size());
    return n;
  }

  // Loads the file as it is now: how many records kept; fails the test on a wrong folder.
  uint32_t LoadAndCount() {
    Folders_Load();
    uint32_t kept = 0;
    char folder[FOLDER_PATH_SIZE];
    for (const auto &[i, expected] : known_) {
      if (!Folders_Of(1000 + i, i * 7u, folder)) continue;
      ++kept;
      if (expected != folder) ADD_FAILURE() << "record " << i << " got folder " << folder;
    }
    Folders_Destroy();
    return kept;
  }

  const std::string kFolders[3] = {"/DataFiles", "/DataFiles/Filme/Krimi", "/DataFiles/Filme/Tierfilme"};
  std::map<uint32_t, std::string> known_;
  std::string saved_;
};

TEST_F(FolderFileTest, ASavedFileLoadsWhole) {
  ASSERT_NO_FATAL_FAILURE(SaveKnown());
  EXPECT_EQ(LoadAndCount(), 600u);
  EXPECT_EQ(LogCount("folder"), 0);
  // A note that changes nothing is no change.
  Folders_Load();
  Folders_Note(1000, 0, "/DataFiles");
  EXPECT_FALSE(Folders_Changed());
  // Folders no record names any more are not written again.
  for (uint32_t i = 0; i < 600; ++i) Folders_Note(1000 + i, i * 7u, "/DataFiles/Neu");
  Folders_Save();
  Folders_Destroy();
  EXPECT_EQ(Read(kFile).size(), Folders_FileSize(2 + 14, 600));
}

// Every byte of the file flipped in turn, and the file cut at every length: the load never
// gives a record a wrong folder, costs only the block a flip lies in (or everything for the
// header and the table), logs the damage, and the next save keeps the damaged file aside.
TEST_F(FolderFileTest, EveryDamageCostsFoldersButNeverGivesAWrongOne) {
  ASSERT_NO_FATAL_FAILURE(SaveKnown());
  int loads = 0;
  const size_t tableEnd = FOLDERS_HEADER_SIZE + TableBytes() + FOLDERS_CHECK_SIZE;
  for (size_t at = 0; at < saved_.size(); at += at < tableEnd ? 1 : 7) {
    std::string bytes = saved_;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    Write(kFile, bytes);
    const uint32_t kept = LoadAndCount();
    ++loads;
    if (at < tableEnd) {
      EXPECT_EQ(kept, 0u) << "flip at " << at;
    } else {
      EXPECT_TRUE(kept == 600 - 256 || kept == 600 - 88) << "flip at " << at << " kept " << kept;
    }
  }
  for (size_t length = 0; length < saved_.size(); length += length < 64 ? 1 : 61) {
    Write(kFile, saved_.substr(0, length));
    EXPECT_LE(LoadAndCount(), 600u - 88) << "cut at " << length;
    ++loads;
  }
  EXPECT_EQ(LogCount("damaged folder file, kept "), loads);
  EXPECT_EQ(LogCount("\n"), loads);

  // The last damaged file (cut short) is kept aside by the next save, which writes it anew.
  const std::string damaged = Read(kFile);
  Folders_Load();
  Folders_Note(5, 5, "/DataFiles/Filme");
  Folders_Save();
  Folders_Destroy();
  EXPECT_EQ(Read(kFile + ".bad"), damaged);
  known_ = {};
  Folders_Load();
  char folder[FOLDER_PATH_SIZE];
  EXPECT_TRUE(Folders_Of(5, 5, folder));
  EXPECT_STREQ(folder, "/DataFiles/Filme");
  Folders_Destroy();
}

// A file of a later version is nobody's to overwrite; one that cannot be read neither.
TEST_F(FolderFileTest, AnotherVersionOrAnUnreadableFileIsNeverOverwritten) {
  ASSERT_NO_FATAL_FAILURE(SaveKnown());
  std::string later = saved_;
  later[4] = 2;
  uint8_t header[FOLDERS_HEADER_SIZE];
  std::memcpy(header, later.data(), sizeof header);
  const uint32_t check = Crc32(header, 20);
  std::memcpy(&later[20], &check, sizeof check);
  Write(kFile, later);
  EXPECT_EQ(LoadAndCount(), 0u);
  EXPECT_EQ(LogCount("unexpected folder file version"), 1);
  Folders_Load();
  Folders_Note(5, 5, "/DataFiles");
  Folders_Save();
  Folders_Destroy();
  EXPECT_EQ(Read(kFile + ".bad"), later);

  Write(kFile, saved_);
  sim::fault(sim::Call::TAP_Hdd_Fread).on("Quarrow.folders");
  Folders_Load();
  EXPECT_EQ(LogCount("failed to load the folders"), 1);
  Folders_Note(5, 5, "/DataFiles/Anders");
  Folders_Save();
  Folders_Destroy();
  EXPECT_EQ(LogCount("failed to save the folders"), 1);
  EXPECT_EQ(Read(kFile), saved_);
  EXPECT_EQ(LoadAndCount(), 600u);
}

// What the store takes, and which folders the recovery may return a file to.
TEST(FolderRule, OnlyARealFolderOnTheDiskAllTheWayDownTakesFiles) {
  for (const char *bad : {"", "DataFiles", "/DataFilesX", "/DataFiles/", "/DataFiles//A", "/DataFiles/./A",
                          "/DataFiles/A/..", "/ProgramFiles", "/DataFiles/Zorvane", "/DataFiles/Zorvane/A"})
    EXPECT_EQ(Folders_Check(bad, 2050, nullptr, nullptr), FolderState::Invalid) << bad;
  EXPECT_FALSE(Folders_PathValid("/DataFiles/A\0B", 13));
  const std::string deepest = "/DataFiles/" + std::string(FOLDER_PATH_MAX - 11, 'a');
  EXPECT_TRUE(Folders_PathValid(deepest.c_str(), deepest.size()));
  EXPECT_FALSE(Folders_PathValid((deepest + "a").c_str(), deepest.size() + 1));
  EXPECT_TRUE(Folders_PathValid("/DataFiles/Zorvane2", 19));

  // A disk of host paths; each case changes one step of /DataFiles/A/B.
  struct Case {
    const char *step;
    FolderLook look;
    FolderState state;
  };
  const Case cases[] = {
      {"", {}, FolderState::Real},
      {"/DataFiles/A", {FolderLook::Missing, false, 0}, FolderState::Gone},
      {"/DataFiles/A", {FolderLook::Found, false, 2050}, FolderState::NotFolder},
      {"/DataFiles/A/B", {FolderLook::Found, true, 2049}, FolderState::OtherDisk},
      {"/DataFiles", {FolderLook::Failed, false, 0}, FolderState::Unknown},
  };
  for (const Case &c : cases) {
    std::map<std::string, FolderLook> disk = {{"/DataFiles", {FolderLook::Found, true, 2050}},
                                              {"/DataFiles/A", {FolderLook::Found, true, 2050}},
                                              {"/DataFiles/A/B", {FolderLook::Found, true, 2050}}};
    if (*c.step != '\0') disk[c.step] = c.look;
    auto look = [](const char *path, void *context) {
      auto &d = *static_cast<std::map<std::string, FolderLook> *>(context);
      const auto it = d.find(path);
      return it != d.end() ? it->second : FolderLook{FolderLook::Missing, false, 0};
    };
    EXPECT_EQ(Folders_Check("/DataFiles/A/B", 2050, look, &disk), c.state) << c.step;
    EXPECT_NE(std::strlen(Folders_Reason(c.state)) == 0, c.state != FolderState::Real);
  }
}

}  // namespace
