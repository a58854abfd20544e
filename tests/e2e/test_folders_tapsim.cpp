// RestoreFolders=1 in the simulated recorder: a first start notes where each recording
// lies, the file-system check orphans files, the next start returns each one into its own
// folder under its name, or leaves it in /DataFiles/Zorvane where that folder cannot take it.
#include "e2e.h"

namespace {

namespace fs = std::filesystem;
using e2e::Tapsim;
using testfiles::Content;
using testfiles::ReadFile;
using testfiles::WriteFile;

constexpr const char *kSettings = "/ProgramFiles/Settings/Zorvane/";
constexpr const char *kOn = "InformUser=0\r\nRestoreFolders=1\r\n";

struct FolderDisk {
  testfiles::TempDir dir{"quarrow-folders-"};
  Tapsim sim;
  std::map<std::string, std::string> files;   // path below the disk -> bytes
  std::map<std::string, std::string> orphans;  // "#<inode>" -> path

  explicit FolderDisk(const char *ini) {
    sim.disk = dir.path() + "/disk";
    sim.console = dir.path() + "/console.txt";
    WriteFile(sim.disk + kSettings + "Quarrow.ini", ini);
  }
  ~FolderDisk() {
    if (::testing::Test::HasFailure()) dir.Keep();
  }
  std::string Real(const std::string &path) const { return sim.disk + path; }
  void Recording(const std::string &path, uint32_t seed) {
    for (const char *suffix : {"", ".inf", ".nav"}) {
      files[path + suffix] = Content(3000 + seed % 97, seed * 3 + static_cast<uint32_t>(std::strlen(suffix)));
      WriteFile(Real(path + suffix), files[path + suffix]);
    }
  }
  // A first start, long enough for the first scan.
  void Fingerprint() const { ASSERT_EQ(sim.Start("35.27", 12100).status, 0); }
  void Orphan(const std::string &path) {
    fs::create_directories(Real("/Quarrow"));
    const std::string hash = "#" + std::to_string(testfiles::Inode(Real(path)));
    fs::rename(Real(path), Real("/Quarrow/" + hash));
    orphans[hash] = path;
  }
  void Recover() const {
    const testfiles::Result r = sim.Start("600", 200);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string Log() const { return ReadFile(Real(std::string(kSettings) + "Quarrow.log")); }
};

// 200 recordings of 10 names in 20 folders three deep, every file orphaned: each comes back
// into its own folder under its own name, none stays behind. The same disk without the
// setting gets the same database and scan log, and no folder file.
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
}

// Where the folder cannot take its files (gone, a name there taken, itself or a folder on
// its way a link), they stay in /DataFiles/Zorvane under their names, logged with the
// reason; nothing is made, followed or replaced. A companion orphaned alone goes back
// beside its recording.
TEST(FoldersTapsim, FilesStayInTheRecoveryFolderWhereTheirFolderCannotTakeThem) {
  FolderDisk run(kOn);
  run.Recording("/DataFiles/Weg/Film A.rec", 1);
  run.Recording("/DataFiles/Voll/Film B.rec", 2);
  run.Recording("/DataFiles/Verweis/Tief/Film C.rec", 3);
  run.Recording("/DataFiles/Link/Film D.rec", 4);
  run.Recording("/DataFiles/Heim/Film E.rec", 5);
  run.Recording("/DataFiles/Film F.rec", 6);
  run.Recording("/DataFiles/Heim/Film G.rec", 7);
  fs::create_directories(run.Real("/DataFiles/Anders"));
  ASSERT_NO_FATAL_FAILURE(run.Fingerprint());

  for (const auto &[path, bytes] : std::map<std::string, std::string>(run.files))
    if (path.find("Film G.rec") == std::string::npos || path.ends_with(".inf")) run.Orphan(path);
  fs::remove(run.Real("/DataFiles/Weg"));
  WriteFile(run.Real("/DataFiles/Voll/Film B.rec.nav"), "the user's own file");
  fs::rename(run.Real("/DataFiles/Verweis"), run.Real("/DataFiles/Echt"));
  fs::create_directory_symlink("Echt", run.Real("/DataFiles/Verweis"));
  fs::remove(run.Real("/DataFiles/Link"));
  fs::create_directory_symlink("Anders", run.Real("/DataFiles/Link"));
  ASSERT_NO_FATAL_FAILURE(run.Recover());

  for (const char *name : {"Film A.rec", "Film B.rec", "Film C.rec", "Film D.rec"}) {
    for (const char *suffix : {"", ".inf", ".nav"}) {
      const std::string file = std::string(name) + suffix;
      const auto original = std::find_if(run.files.begin(), run.files.end(), [&](const auto &f) {
        return fs::path(f.first).filename() == file;
      });
      EXPECT_EQ(ReadFile(run.Real("/DataFiles/Zorvane/" + file)), original->second) << file;
    }
  }
  for (const std::string path : {"/DataFiles/Heim/Film E.rec", "/DataFiles/Film F.rec", "/DataFiles/Heim/Film G.rec"})
    for (const char *suffix : {"", ".inf", ".nav"}) EXPECT_EQ(ReadFile(run.Real(path + suffix)), run.files[path + suffix]);
  EXPECT_FALSE(fs::exists(run.Real("/DataFiles/Weg")));
  EXPECT_EQ(ReadFile(run.Real("/DataFiles/Voll/Film B.rec.nav")), "the user's own file");
  EXPECT_EQ(testfiles::Listing(run.Real("/DataFiles/Voll")), "Film B.rec.nav\n");
  EXPECT_EQ(testfiles::Listing(run.Real("/DataFiles/Echt/Tief")), "");
  EXPECT_EQ(testfiles::Listing(run.Real("/DataFiles/Anders")), "");
  EXPECT_TRUE(fs::is_symlink(run.Real("/DataFiles/Verweis")) && fs::is_symlink(run.Real("/DataFiles/Link")));

  const std::string log = run.Log();
  EXPECT_EQ(testfiles::Occurrences(log, "folder '/DataFiles/Weg' is gone, '#"), 3) << log;
  EXPECT_EQ(testfiles::Occurrences(log, "name 'Film B.rec"), 3) << log;
  EXPECT_EQ(testfiles::Occurrences(log, "taken in '/DataFiles/Voll', '#"), 3) << log;
  EXPECT_EQ(testfiles::Occurrences(log, "folder '/DataFiles/Verweis/Tief' is a link or no folder"), 3) << log;
  EXPECT_EQ(testfiles::Occurrences(log, "folder '/DataFiles/Link' is a link or no folder"), 3) << log;
  EXPECT_EQ(testfiles::Occurrences(log, "stays in /DataFiles/Zorvane"), 12) << log;
  EXPECT_EQ(testfiles::Occurrences(log, "' to 'Film G.rec.inf' in '/DataFiles/Heim'"), 1) << log;
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
