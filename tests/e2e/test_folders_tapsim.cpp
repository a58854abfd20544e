// RestoreFolders=1 in the simulated recorder: a first start notes where each recording
// lies, the file-system check orphans files, the next start returns each one into its own
// folder under its name, or leaves it in /DataFiles/Zorvane where that folder cannot take it.
#include "tests/e2e/folders.h"

namespace {

namespace fs = std::filesystem;
using e2e::Tapsim;
using e2e::folders::FolderDisk;
using e2e::folders::kOn;
using e2e::folders::kSettings;
using testfiles::ReadFile;
using testfiles::WriteFile;

// 200 recordings of 10 names in 20 folders three deep, every file orphaned: each comes back
// into its own folder under its own name, none stays behind. The same disk without the
// setting gets the same database and scan log, and no folder file; turned on only after
// that, it changes nothing for fingerprints whose folder was never seen.
TEST(FoldersTapsim, TwoHundredRecordingsInTwentyFoldersAllGoBackIntoTheirFolders) {
  FolderDisk on(kOn);
  uint32_t seed = 1;
  for (int a = 1; a <= 2; ++a)
    for (int b = 1; b <= 2; ++b)
      for (int c = 1; c <= 5; ++c)
        for (int n = 1; n <= 10; ++n)
          on.Recording("/DataFiles/Serie " + std::to_string(a) + "/Staffel " + std::to_string(b) + "/Teil " +
                           std::to_string(c) + "/Folge " + std::to_string(n) + ".rec",
                       seed++);
  FolderDisk off("InformUser=0\r\n");
  ASSERT_EQ(testfiles::CopyDisk(on.sim.disk, off.sim.disk), "");
  WriteFile(off.Real(std::string(kSettings) + "Quarrow.ini"), "InformUser=0\r\n");

  ASSERT_NO_FATAL_FAILURE(on.Fingerprint());
  ASSERT_NO_FATAL_FAILURE(off.Fingerprint());
  const std::string db = std::string(kSettings) + "Quarrow.db";
  EXPECT_EQ(ReadFile(on.Real(db)), ReadFile(off.Real(db))) << "the setting changed Quarrow.db";
  EXPECT_EQ(on.Log(), off.Log());
  EXPECT_TRUE(fs::exists(on.Real(std::string(kSettings) + "Quarrow.folders")));
  EXPECT_FALSE(fs::exists(off.Real(std::string(kSettings) + "Quarrow.folders")));

  for (const auto &[path, bytes] : std::map<std::string, std::string>(on.files)) on.Orphan(path);
  ASSERT_NO_FATAL_FAILURE(on.Recover());
  for (const auto &[path, bytes] : on.files) EXPECT_EQ(ReadFile(on.Real(path)), bytes) << path;
  EXPECT_EQ(testfiles::Listing(on.Real("/DataFiles/Zorvane")), "");
  EXPECT_EQ(testfiles::Listing(on.Real("/Quarrow")), "");
  const std::string log = on.Log();
  EXPECT_EQ(testfiles::Occurrences(log, "' in '/DataFiles/Serie "), 600) << log;
  EXPECT_NE(log.find("found 600 new files in the Quarrow folder"), std::string::npos);
  EXPECT_EQ(testfiles::Occurrences(log, "stays in"), 0);
  EXPECT_NE(ReadFile(on.Real(std::string(kSettings) + "Quarrow.ini")).find("RestoreFolders=1\r\n"), std::string::npos);

  // The setting turned on after the fingerprints were taken: no folder is known, and the
  // recovery names everything in /DataFiles/Zorvane as it always did.
  WriteFile(off.Real(std::string(kSettings) + "Quarrow.ini"), kOn);
  for (const auto &[path, bytes] : on.files) off.Orphan(path);
  ASSERT_NO_FATAL_FAILURE(off.Recover());
  size_t inZorvane = 0;
  for (const auto &e : fs::directory_iterator(off.Real("/DataFiles/Zorvane"))) inZorvane += e.is_regular_file();
  EXPECT_EQ(inZorvane, 600u);
  EXPECT_EQ(testfiles::Occurrences(off.Log(), "recovered '#"), 600);
  EXPECT_EQ(testfiles::Occurrences(off.Log(), "' in '"), 0);
  EXPECT_EQ(testfiles::Occurrences(off.Log(), "stays in"), 0);
}

TEST(FoldersTapsim, FilesStayInTheRecoveryFolderWhereTheirFolderCannotTakeThem) {
  e2e::folders::ExpectFolderCases(Tapsim{}, "");
}

// The folder is where the last start saw the recording; a start that sees it in
// /DataFiles/Zorvane (left there when its folder was gone) keeps the folder it knew.
TEST(FoldersTapsim, ARecordingGoesBackWhereTheLastStartSawIt) {
  FolderDisk run(kOn);
  run.Recording("/DataFiles/Alt/Film.rec", 1);
  run.Recording("/DataFiles/Weg/Doku.rec", 2);
  ASSERT_NO_FATAL_FAILURE(run.Fingerprint());
  fs::create_directories(run.Real("/DataFiles/Neu"));
  for (const char *suffix : {"", ".inf", ".nav"})
    fs::rename(run.Real(std::string("/DataFiles/Alt/Film.rec") + suffix),
               run.Real(std::string("/DataFiles/Neu/Film.rec") + suffix));
  ASSERT_NO_FATAL_FAILURE(run.Fingerprint());

  for (const char *suffix : {"", ".inf", ".nav"}) {
    run.Orphan(std::string("/DataFiles/Neu/Film.rec") + suffix);
    run.Orphan(std::string("/DataFiles/Weg/Doku.rec") + suffix);
  }
  fs::remove(run.Real("/DataFiles/Weg"));
  ASSERT_NO_FATAL_FAILURE(run.Recover());
  EXPECT_EQ(testfiles::Listing(run.Real("/DataFiles/Neu")), "Film.rec\nFilm.rec.inf\nFilm.rec.nav\n");
  EXPECT_EQ(testfiles::Listing(run.Real("/DataFiles/Alt")), "");
  EXPECT_EQ(testfiles::Listing(run.Real("/DataFiles/Zorvane")), "Doku.rec\nDoku.rec.inf\nDoku.rec.nav\n");

  ASSERT_NO_FATAL_FAILURE(run.Fingerprint());
  fs::create_directories(run.Real("/DataFiles/Weg"));
  for (const char *suffix : {"", ".inf", ".nav"}) run.Orphan(std::string("/DataFiles/Zorvane/Doku.rec") + suffix);
  ASSERT_NO_FATAL_FAILURE(run.Recover());
  for (const char *suffix : {"", ".inf", ".nav"}) {
    const std::string name = std::string("Doku.rec") + suffix;
    EXPECT_EQ(ReadFile(run.Real("/DataFiles/Weg/" + name)), run.files["/DataFiles/Weg/" + name]) << name;
  }
}

}  // namespace
