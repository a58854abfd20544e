// The simulated disk: folders, files, listings, rename rules and injected faults.
#include <vector>

#include "sim_fixture.h"

namespace {

std::vector<std::pair<uint32_t, std::string>> list(const char *filter) {
  std::vector<std::pair<uint32_t, std::string>> out;
  HddFolderEntry e;
  const int n = TAP_Hdd_FindFirst(&e, filter);
  for (int i = 0; i < n; ++i) {
    out.emplace_back(e.attr, e.name);
    const int more = TAP_Hdd_FindNext(&e);
    EXPECT_EQ(more != 0, i + 1 < n) << "FindNext after entry " << i;
  }
  return out;
}

}  // namespace

using DiskTest = SimTest;

TEST_F(DiskTest, ChangeDirResolvesAbsoluteRelativeAndParentAndTracksTheTaskRecord) {
  ASSERT_EQ(mkdir(sim::host_to_real("/DataFiles/Sub").c_str(), 0755), 0);
  EXPECT_EQ(sim::current_dir(), "/ProgramFiles");
  EXPECT_EQ(sim::task_path(), "/mnt/hd/ProgramFiles");

  EXPECT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  EXPECT_EQ(TAP_Hdd_ChangeDir("Sub"), 0);
  EXPECT_EQ(sim::current_dir(), "/DataFiles/Sub");
  EXPECT_EQ(sim::task_path(), "/mnt/hd/DataFiles/Sub");
  EXPECT_EQ(TAP_Hdd_ChangeDir(".."), 0);
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  EXPECT_EQ(TAP_Hdd_ChangeDir("/"), 0);
  EXPECT_EQ(sim::task_path(), "/mnt/hd/");

  // Failures leave the folder where it was.
  EXPECT_NE(TAP_Hdd_ChangeDir(".."), 0);          // above the root
  EXPECT_NE(TAP_Hdd_ChangeDir("/Nowhere"), 0);
  EXPECT_NE(TAP_Hdd_ChangeDir(""), 0);
  EXPECT_NE(TAP_Hdd_ChangeDir(nullptr), 0);
  Write("/DataFiles/file", "x");
  EXPECT_NE(TAP_Hdd_ChangeDir("/DataFiles/file"), 0);
  EXPECT_EQ(sim::current_dir(), "/");
}

TEST_F(DiskTest, ChangeDirSuccessValueIsConfigurable) {
  sim::set_chdir_success_value(1);
  EXPECT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1);
  EXPECT_NE(TAP_Hdd_ChangeDir("/Missing"), 1);
  sim::set_chdir_success_value(7);
  EXPECT_EQ(TAP_Hdd_ChangeDir("/ProgramFiles"), 7);
  EXPECT_NE(TAP_Hdd_ChangeDir("/Missing"), 7);
}

TEST_F(DiskTest, SymbolicLinksAreNotFollowedOffTheDisk) {
  const std::string outside = root_ + "/outside";
  ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  testfiles::WriteFile(outside + "/secret", "secret");
  ASSERT_EQ(symlink(outside.c_str(), sim::host_to_real("/DataFiles/link").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/secret").c_str(), sim::host_to_real("/DataFiles/flink").c_str()), 0);

  EXPECT_NE(TAP_Hdd_ChangeDir("/DataFiles/link"), 0);
  EXPECT_EQ(TAP_Hdd_Fopen("/DataFiles/link/secret"), nullptr);
  EXPECT_EQ(TAP_Hdd_Fopen("/DataFiles/flink"), nullptr);
  EXPECT_EQ(TAP_Hdd_Create("/DataFiles/link/new", ATTR_FILE), 0u);
  EXPECT_FALSE(testfiles::EntryExists(outside + "/new"));
  // Deleting the link removes the link, never what it points to.
  EXPECT_NE(TAP_Hdd_Delete("/DataFiles/flink"), 0);
  EXPECT_EQ(testfiles::ReadFile(outside + "/secret"), "secret");
  // Links are not listed as files or folders.
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  EXPECT_TRUE(list("rcn").empty());
}

TEST_F(DiskTest, CreateLeavesExistingEntriesAndFilesReadAndWriteInWholeBlocks) {
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  Write("/DataFiles/log.txt", "old line\n");
  EXPECT_NE(TAP_Hdd_Create("log.txt", ATTR_FILE), 0u);
  EXPECT_EQ(Read("/DataFiles/log.txt"), "old line\n");
  EXPECT_NE(TAP_Hdd_Create("Folder", ATTR_FOLDER), 0u);
  EXPECT_NE(TAP_Hdd_Create("Folder", ATTR_FOLDER), 0u);
  EXPECT_EQ(TAP_Hdd_Create("Folder", ATTR_FILE), 0u);  // a folder is not a file
  EXPECT_NE(TAP_Hdd_Exist("Folder"), 0);
  EXPECT_EQ(TAP_Hdd_Exist("missing"), 0);

  TYPE_File *f = TAP_Hdd_Fopen("log.txt");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(sim::open_files(), 1);
  EXPECT_EQ(TAP_Hdd_Flen(f), 9u);
  char buf[16] = {};
  EXPECT_EQ(TAP_Hdd_Fread(buf, 4, 1, f), 1u);  // read-write handle at offset 0
  EXPECT_EQ(std::string(buf, 4), "old ");
  EXPECT_EQ(TAP_Hdd_Fseek(f, 0, 2), 9u);
  EXPECT_EQ(TAP_Hdd_Fwrite("new\r\n", 5, 1, f), 1u);
  EXPECT_EQ(TAP_Hdd_Fseek(f, -5, 1), 9u);
  EXPECT_EQ(TAP_Hdd_Fseek(f, 4, 0), 4u);
  EXPECT_EQ(TAP_Hdd_Fseek(f, 0, 3), UINT32_MAX);  // unknown origin
  // Three blocks of 4 asked, 10 bytes left: two whole blocks.
  EXPECT_EQ(TAP_Hdd_Fread(buf, 4, 3, f), 2u);
  EXPECT_EQ(TAP_Hdd_Fread(buf, 4, 1, f), 0u);  // at the end
  TAP_Hdd_Fclose(f);
  EXPECT_EQ(sim::open_files(), 0);
  EXPECT_EQ(Read("/DataFiles/log.txt"), "old line\nnew\r\n");

  EXPECT_EQ(TAP_Hdd_Fopen("missing"), nullptr);
  EXPECT_EQ(TAP_Hdd_Fopen("Folder"), nullptr);
  EXPECT_EQ(sim::open_files(), 0);
}

TEST_F(DiskTest, RenameNeverOverwritesAndReportsTheOutcome) {
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  Write("/DataFiles/a", "A");
  Write("/DataFiles/b", "B");
  EXPECT_EQ(TAP_Hdd_Rename("a", "b"), 0);
  EXPECT_EQ(Read("/DataFiles/b"), "B");
  EXPECT_EQ(Read("/DataFiles/a"), "A");
  EXPECT_EQ(TAP_Hdd_Rename("a", "a"), 0);  // the new name exists: itself
  EXPECT_NE(TAP_Hdd_Rename("a", "c.rec"), 0);
  EXPECT_EQ(Read("/DataFiles/c.rec"), "A");
  EXPECT_FALSE(Exists("/DataFiles/a"));
  EXPECT_EQ(TAP_Hdd_Rename("missing", "d"), 0);
  EXPECT_EQ(TAP_Hdd_Rename("c.rec", "../../escape"), 0);  // above the root
}

TEST_F(DiskTest, ListingsAreSortedFilteredAndTyped) {
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  for (const char *name : {"zeta.REC", "alpha.rec", "movie.Mpg", "alpha.rec.inf", "notes.txt", ".hidden"})
    Write(std::string("/DataFiles/") + name, "x");
  ASSERT_EQ(mkdir(sim::host_to_real("/DataFiles/Sub.dir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(sim::host_to_real("/DataFiles/pipe.rec").c_str(), 0644), 0);

  using L = std::vector<std::pair<uint32_t, std::string>>;
  EXPECT_EQ(list("rec|mpg"), (L{{ATTR_FOLDER, "Sub.dir"}, {ATTR_FILE, "alpha.rec"}, {ATTR_FILE, "movie.Mpg"},
                                {ATTR_FILE, "zeta.REC"}}));
  EXPECT_EQ(list("rcn"), (L{{ATTR_FILE, ".hidden"}, {ATTR_FOLDER, "Sub.dir"}, {ATTR_FILE, "alpha.rec"},
                            {ATTR_FILE, "alpha.rec.inf"}, {ATTR_FILE, "movie.Mpg"}, {ATTR_FILE, "notes.txt"},
                            {ATTR_FILE, "zeta.REC"}}));
  EXPECT_EQ(list("txt"), (L{{ATTR_FOLDER, "Sub.dir"}, {ATTR_FILE, "notes.txt"}}));

  // An empty folder lists nothing and FindNext has nothing to give.
  ASSERT_EQ(TAP_Hdd_ChangeDir("Sub.dir"), 0);
  HddFolderEntry e;
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "rcn"), 0);
  EXPECT_EQ(TAP_Hdd_FindNext(&e), 0);
}

TEST_F(DiskTest, FileFaultsByCountNameAndWriteBudget) {
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  Write("/DataFiles/one", "0123456789");
  Write("/DataFiles/two", "abcdefghij");

  const uint64_t opens = sim::calls(sim::Call::TAP_Hdd_Fopen);
  sim::fault(sim::Call::TAP_Hdd_Fopen).nth(2);
  TYPE_File *f = TAP_Hdd_Fopen("one");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TAP_Hdd_Fopen("one"), nullptr);  // the second
  TYPE_File *g = TAP_Hdd_Fopen("one");       // the rule is used up
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(sim::calls(sim::Call::TAP_Hdd_Fopen), opens + 3);
  TAP_Hdd_Fclose(g);

  sim::fault(sim::Call::TAP_Hdd_Fopen).always().on("two");
  EXPECT_EQ(TAP_Hdd_Fopen("/DataFiles/two"), nullptr);
  EXPECT_EQ(TAP_Hdd_Fopen("two"), nullptr);

  sim::fault(sim::Call::TAP_Hdd_Fread).nth(1).on("one");
  char buf[4];
  EXPECT_EQ(TAP_Hdd_Fread(buf, 4, 1, f), 0u);
  EXPECT_EQ(TAP_Hdd_Fread(buf, 4, 1, f), 1u);
  EXPECT_EQ(std::string(buf, 4), "0123");  // the failed read moved nothing

  // A power cut after 6 more bytes: the second write is cut short, the third moves nothing.
  sim::cut_power_after_bytes(6);
  EXPECT_EQ(TAP_Hdd_Fseek(f, 0, 0), 0u);
  EXPECT_EQ(TAP_Hdd_Fwrite("ABCD", 4, 1, f), 1u);
  EXPECT_EQ(TAP_Hdd_Fwrite("EFGH", 4, 1, f), 0u);
  EXPECT_EQ(TAP_Hdd_Fwrite("IJKL", 1, 4, f), 0u);
  TAP_Hdd_Fclose(f);
  EXPECT_EQ(Read("/DataFiles/one"), "ABCDEF6789");

  sim::clear_faults();
  sim::fault(sim::Call::TAP_Hdd_Rename).nth(1).on("target");
  EXPECT_EQ(TAP_Hdd_Rename("one", "target"), 0);  // matched on the new name
  EXPECT_NE(TAP_Hdd_Rename("one", "target"), 0);
  sim::fault(sim::Call::TAP_Hdd_ChangeDir).nth(1);
  EXPECT_NE(TAP_Hdd_ChangeDir("/ProgramFiles"), 0);
  EXPECT_EQ(sim::current_dir(), "/DataFiles");
  sim::fault(sim::Call::TAP_Hdd_FindFirst).nth(1);
  HddFolderEntry e;
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "rcn"), 0);
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "rcn"), 2);
}

TEST_F(DiskTest, UsingAHandleThatIsNotOpenIsAModuleBug) {
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  Write("/DataFiles/one", "x");
  TYPE_File *f = TAP_Hdd_Fopen("one");
  ASSERT_NE(f, nullptr);
  TAP_Hdd_Fclose(f);
  EXPECT_DEATH(TAP_Hdd_Fclose(f), "not open");
  EXPECT_DEATH(TAP_Hdd_Flen(nullptr), "not open");
}

TEST_F(DiskTest, DeleteNeverTakesAFolderWithItsContents) {
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  ASSERT_EQ(mkdir(sim::host_to_real("/DataFiles/Full").c_str(), 0755), 0);
  Write("/DataFiles/Full/keep.rec", "keep");
  EXPECT_EQ(TAP_Hdd_Delete("Full"), 0);
  EXPECT_EQ(Read("/DataFiles/Full/keep.rec"), "keep");
  EXPECT_NE(TAP_Hdd_Delete("Full/keep.rec"), 0);
  EXPECT_NE(TAP_Hdd_Delete("Full"), 0);
  EXPECT_FALSE(Exists("/DataFiles/Full"));
  EXPECT_EQ(TAP_Hdd_Delete("Full"), 0);
  EXPECT_EQ(TAP_Hdd_Delete("/"), 0);
  EXPECT_EQ(TAP_Hdd_Create("odd", 7), 0u);  // neither file nor folder
  EXPECT_FALSE(Exists("/DataFiles/odd"));
}

TEST_F(DiskTest, LengthOfARecordingBeyondFourGigabytesSaturates) {
  const std::string real = sim::host_to_real("/DataFiles/big.rec");
  testfiles::WriteFile(real, "");
  if (truncate(real.c_str(), 5LL << 30) != 0) GTEST_SKIP() << "the temporary folder cannot hold a 5 GiB sparse file";
  TYPE_File *f = TAP_Hdd_Fopen("/DataFiles/big.rec");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TAP_Hdd_Flen(f), UINT32_MAX);
  TAP_Hdd_Fclose(f);
}
