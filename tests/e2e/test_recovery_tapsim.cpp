// The whole job in the simulated recorder: a first start fingerprints the disk, the
// file-system check orphans files into /Quarrow, the next start gives them their names back.
#include <algorithm>

#include "e2e.h"

namespace {

using namespace e2e;

class TapsimRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarrow-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    sim_.disk = root_ + "/disk";
    sim_.console = root_ + "/console.txt";
    fs::create_directories(sim_.disk + "/DataFiles");
  }
  void TearDown() override {
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(root_, ec);
  }
  std::string Settings(const std::string &name) const {
    return sim_.disk + "/ProgramFiles/Settings/Zorvane/" + name;
  }

  std::string root_;
  Tapsim sim_;
};

TEST_F(TapsimRecovery, OrphanedFilesGetTheirNamesBack) {
  const std::vector<Recording> recs = {
      {"Krimi.rec", true, true},
      {"Kinderstunde am Morgen.rec", true, true},
      {"K\xE4se und M\xFC\x64igkeit.rec", true, false},  // ISO 8859-1 letters, no .nav
      {"Serien/Folge 1.rec", true, true},
      {"Serien/Folge 2.rec", false, false},
  };
  auto files = MakeRecordings(sim_.disk, recs);

  // First start after power-on, run past the first scan (12000 ticks) but not the intake.
  Result first = sim_.Start("35.27", 12100);
  ASSERT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("loaded: Quarrow V2.0"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("stopped at tick 12100"), std::string::npos) << first.output;
  std::vector<std::string> names = DatabaseNames(Settings("Quarrow.db"));
  ASSERT_EQ(names.size(), recs.size());
  for (const Recording &r : recs) {
    std::string name = fs::path(r.path).filename();
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
  std::string log = ReadFile(Settings("Quarrow.log"));
  EXPECT_NE(log.find("2026-12-07 20:02:00 added 'Krimi.rec' to the DB\r\n"), std::string::npos) << log;

  // The check: every file but one companion ends in /Quarrow as #<inode>; one file is unknown.
  fs::create_directories(sim_.disk + "/Quarrow");
  std::map<std::string, std::string> orphans;  // #inode -> original path
  for (const auto &[path, bytes] : files) {
    if (path == "/DataFiles/Krimi.rec.nav") continue;  // stays where it is
    std::string hash = "#" + std::to_string(Inode(sim_.disk + path));
    fs::rename(sim_.disk + path, sim_.disk + "/Quarrow/" + hash);
    orphans[hash] = path;
  }
  WriteFile(sim_.disk + "/Quarrow/#999999", "not a recording at all, twenty-seven bytes");
  std::string unknown = ReadFile(sim_.disk + "/Quarrow/#999999");

  // Next start, later than two minutes after power-on: intake after 100 ticks.
  Result second = sim_.Start("600", 200);
  ASSERT_EQ(second.status, 0) << second.output;
  EXPECT_TRUE(fs::is_empty(sim_.disk + "/Quarrow"));
  const std::string z = sim_.disk + "/DataFiles/Zorvane/";
  for (const auto &[hash, path] : orphans) {
    std::string name = fs::path(path).filename();
    SCOPED_TRACE(hash + " " + path);
    EXPECT_FALSE(fs::exists(z + hash));
    EXPECT_EQ(ReadFile(z + name), files.at(path));
  }
  EXPECT_EQ(ReadFile(z + "#999999"), unknown);
  EXPECT_EQ(ReadFile(sim_.disk + "/DataFiles/Krimi.rec.nav"), files.at("/DataFiles/Krimi.rec.nav"));

  log = ReadFile(Settings("Quarrow.log"));
  EXPECT_NE(log.find("2026-12-07 20:00:01 found " + std::to_string(orphans.size() + 1) +
                     " new files in the Quarrow folder\r\n"),
            std::string::npos)
      << log;
  for (const auto &[hash, path] : orphans) {
    std::string line = "2026-12-07 20:00:01 recovered '" + hash + "' to '" +
                       std::string(fs::path(path).filename()) + "'\r\n";
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(log.find("#999999"), std::string::npos);
  EXPECT_NE(ReadFile(sim_.console).find("Quarrow: found"), std::string::npos);
  EXPECT_NE(ReadFile(Settings("Quarrow.ini")).find("InformUser=1"), std::string::npos);

  // Start once more: the message is still owed; the OK key acknowledges it.
  Result third = sim_.Start("600", 400, "--key 0x1001E@300 --key 0x1001E@350");
  ASSERT_EQ(third.status, 0) << third.output;
  std::string out = third.output;
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_NE(out.find("tick 300: key 0x1001e -> 0x0\n"), std::string::npos) << third.output;
  EXPECT_NE(out.find("tick 350: key 0x1001e -> 0x1001e\n"), std::string::npos) << third.output;
  EXPECT_NE(ReadFile(Settings("Quarrow.ini")).find("InformUser=0"), std::string::npos);
  log = ReadFile(Settings("Quarrow.log"));
  EXPECT_NE(log.find("2026-12-07 20:00:03 Dialog ack'd by user\r\n"), std::string::npos) << log;
  // Nothing new in /Quarrow: nothing found again.
  size_t found = 0;
  for (size_t at = log.find(" found "); at != std::string::npos; at = log.find(" found ", at + 1)) ++found;
  EXPECT_EQ(found, 1u);
}

TEST_F(TapsimRecovery, InfoShowsTheHeader) {
  Result info = Shell(Quote(sim_.exe) + " --info " + Quote(sim_.module));
  ASSERT_EQ(info.status, 0) << info.output;
  for (const char *field : {"Quarrow V2.0", "V2.0", "Tamorbel", "Move Quarrow files into DataFiles"})
    EXPECT_NE(info.output.find(field), std::string::npos) << field;
}

}  // namespace
