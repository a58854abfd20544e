// Recoveries with RestoreFolders=1 in a simulated recorder (this build's tapsim, or the
// recorder's build under qemu): the disk and the cases where a folder cannot take its files.
#pragma once

#include "tests/e2e/e2e.h"

namespace e2e {

namespace folders {

using testfiles::Content;
using testfiles::ReadFile;
using testfiles::WriteFile;

constexpr const char *kSettings = "/ProgramFiles/Settings/Zorvane/";
constexpr const char *kOn = "InformUser=0\r\nRestoreFolders=1\r\n";

// A disk of its own for `sim` (this build's tapsim by default) with Quarrow.ini holding
// `ini`; `host` is passed to every start ("--host strict").
struct FolderDisk {
  testfiles::TempDir dir{"quarrow-folders-"};
  Tapsim sim;
  std::string host;
  std::map<std::string, std::string> files;   // path below the disk -> bytes
  std::map<std::string, std::string> orphans;  // "#<inode>" -> path

  explicit FolderDisk(const char *ini, Tapsim loader = {}, std::string hostFlags = "")
      : sim(std::move(loader)), host(std::move(hostFlags)) {
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
  void Fingerprint() const {
    const testfiles::Result r = sim.Start("35.27", 12100, host);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  void Orphan(const std::string &path) {
    fs::create_directories(Real("/Quarrow"));
    const std::string hash = "#" + std::to_string(testfiles::Inode(Real(path)));
    fs::rename(Real(path), Real("/Quarrow/" + hash));
    orphans[hash] = path;
  }
  void Recover() const {
    const testfiles::Result r = sim.Start("600", 200, host);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string Log() const { return ReadFile(Real(std::string(kSettings) + "Quarrow.log")); }
};

// What the user did meanwhile to the folders of the cases' recordings A to D: /DataFiles/Weg
// deleted, a name taken in /DataFiles/Voll, /DataFiles/Verweis (on the way to Tief) and
// /DataFiles/Link replaced by links to real folders.
inline void UnfitFolders(const FolderDisk &run) {
  fs::remove(run.Real("/DataFiles/Weg"));
  WriteFile(run.Real("/DataFiles/Voll/Film B.rec.nav"), "the user's own file");
  fs::rename(run.Real("/DataFiles/Verweis"), run.Real("/DataFiles/Echt"));
  fs::create_directory_symlink("Echt", run.Real("/DataFiles/Verweis"));
  fs::remove(run.Real("/DataFiles/Link"));
  fs::create_directory_symlink("Anders", run.Real("/DataFiles/Link"));
}

// Where the folder cannot take its files (gone, a name there taken, itself or a folder on
// its way a link), they stay in /DataFiles/Zorvane under their names, logged with the
// reason; nothing is made, followed or replaced. A companion orphaned alone goes back
// beside its recording.
inline void ExpectFolderCases(const Tapsim &loader, const std::string &host) {
  FolderDisk run(kOn, loader, host);
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
  UnfitFolders(run);
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

}  // namespace folders

}  // namespace e2e
