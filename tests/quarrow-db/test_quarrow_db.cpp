// quarrow-db predicts from the module's own rules; these runs hold it to what the module
// then does: the records a load keeps, and the names a recovery gives.
#include <optional>
#include <regex>
#include <set>

#include "tests/e2e/e2e.h"

namespace {

using namespace e2e;

const std::string kDb = "/ProgramFiles/Settings/Zorvane/Quarrow.db";
const std::string kLog = "/ProgramFiles/Settings/Zorvane/Quarrow.log";

class QuarrowDbTest : public ::testing::Test {
 protected:
  Tapsim Sim() const {
    Tapsim t;
    t.disk = disk_;
    t.console = root_ + "/console.txt";
    return t;
  }
  // A later start that runs the scan: Quarrow.db then knows every recording.
  void Scan() { ASSERT_EQ(Sim().Start("600", 4100).status, 0); }

  testfiles::TempDir dir_{"quarrow-dbtool-"};
  std::string root_ = dir_.path(), disk_ = root_ + "/disk";
};

using testfiles::Word;
using testdb::Le64;

// A name as the tool must write it in JSON: bytes as ISO 8859-1, escaped beyond ASCII.
std::string JsonName(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\u%04x", c);
    out += (c < 0x20 || c >= 0x7f) ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return out;
}

TEST_F(QuarrowDbTest, ShowJsonAgreesWithTheBytesTheModuleWrote) {
  MakeRecordings(disk_, {{"Film.rec", true, true}, {"Fr\xfchst\xfc" "ck.rec", true, false},
                         {"sub/Film.rec", false, true}, {"Nachrichten.rec", false, false}});
  Scan();
  const std::string db = ReadFile(disk_ + kDb);
  ASSERT_GE(db.size(), 12u);
  Result r = QuarrowDb("show " + Quote(disk_ + kDb) + " --json");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("\"version\": " + std::to_string(Word(db, 0)) + ", \"capacity\": " +
                          std::to_string(Word(db, 4)) + ", \"count\": " + std::to_string(Word(db, 8))),
            std::string::npos)
      << r.output;
  const uint32_t count = Word(db, 8);
  ASSERT_EQ(count, 4u);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 12 + 176 * i;
    std::string row = "{\"index\": " + std::to_string(i) + ", \"name\": \"" + JsonName(db.c_str() + at + 48) +
                      "\", \"rec_inode\": " + std::to_string(Le64(db, at)) + ", \"rec_sample\": " +
                      std::to_string(Word(db, at + 8)) + ", \"inf_inode\": " + std::to_string(Le64(db, at + 16)) +
                      ", \"inf_sample\": " + std::to_string(Word(db, at + 24)) + ", \"nav_inode\": " +
                      std::to_string(Le64(db, at + 32)) + ", \"nav_sample\": " + std::to_string(Word(db, at + 40)) +
                      ", \"damaged\": false, \"kept\": true}";
    EXPECT_NE(r.output.find(row), std::string::npos) << "record " << i << ": " << row << "\n" << r.output;
  }
  EXPECT_NE(r.output.find("Fr\\u00fchst\\u00fcck.rec"), std::string::npos) << r.output;
  // The unused capacity is not shown as entries.
  EXPECT_EQ(r.output.find("\"index\": 4"), std::string::npos) << r.output;
}

// Damaged copies of a database the module wrote: check tells them from the sound one, and
// the number it says a load keeps is the number the module's load then logs.
TEST_F(QuarrowDbTest, CheckTellsSoundFromDamagedAsTheModuleLoadsThem) {
  MakeRecordings(disk_, {{"A.rec", true, true}, {"B.rec", false, false}, {"C.rec", true, false}});
  Scan();
  const std::string good = ReadFile(disk_ + kDb);
  ASSERT_EQ(good.size(), 12u + 176 * 10);
  Result sound = QuarrowDb("check " + Quote(disk_ + kDb));
  EXPECT_EQ(sound.status, 0) << sound.output;

  auto withWord = [&](size_t at, uint32_t v) {
    std::string b = good;
    std::memcpy(b.data() + at, &v, 4);
    return b;
  };
  std::string random = Content(12 + 176 * 3 + 5, 77);
  struct Case {
    const char *what;
    std::string bytes;
    const char *says;
  } cases[] = {
      {"count above capacity", withWord(8, 11), "header not valid"},
      {"count 0 before three records", withWord(8, 0), "beyond the count"},
      {"cut in a record", good.substr(0, 12 + 176 * 2 + 100), "cut short"},
      {"shorter than the header", good.substr(0, 7), "shorter than its 12-byte header"},
      {"random bytes", random, "damaged"},
      {"version 2", withWord(0, 2), "unexpected DB version 2"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(disk_ + kDb, c.bytes);
    fs::remove(disk_ + kLog);
    Result r = QuarrowDb("check " + Quote(disk_ + kDb));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    // The module's own verdict on the same file: a later start's load logs it.
    ASSERT_EQ(Sim().Start("600", 4100).status, 0);
    const std::string log = ReadFile(disk_ + kLog);
    std::smatch m;
    if (std::regex_search(log, m, std::regex("damaged DB, kept ([0-9]+) entries"))) {
      EXPECT_NE(r.output.find("keeps " + m[1].str() + " entries"), std::string::npos) << r.output << log;
    } else {
      EXPECT_NE(log.find("unexpected DB version"), std::string::npos) << log;
      EXPECT_NE(r.output.find("keeps no entry"), std::string::npos) << r.output;
    }
  }

  EXPECT_EQ(QuarrowDb("check " + Quote(root_ + "/none.db")).status, 2);
  EXPECT_EQ(QuarrowDb("check " + Quote(root_)).status, 2);
  EXPECT_EQ(QuarrowDb("check").status, 2);
  EXPECT_EQ(QuarrowDb("frobnicate x").status, 2);
}

// Every entry of the disk: path, inode, kind, size and contents.
std::map<std::string, std::string> Snapshot(const std::string &disk) {
  std::map<std::string, std::string> out;
  for (const auto &e : fs::recursive_directory_iterator(disk)) {
    std::string p = e.path().string();
    std::string what = std::to_string(Inode(p)) + (e.is_directory() ? " dir" : " file ");
    if (e.is_regular_file()) what += ReadFile(p);
    out[p.substr(disk.size())] = what;
  }
  return out;
}

TEST_F(QuarrowDbTest, PlanPredictsTheRecoveryAndChangesNothing) {
  MakeRecordings(disk_, {{"Film.rec", true, true}, {"sub/Film.rec", true, false},
                         {"Fr\xfch.rec", false, true}, {"Wetter.rec", true, true}});
  Scan();
  // What the file-system check does: every file but Wetter.rec's into /Quarrow as
  // #<inode>, and one file that was never a recording.
  fs::create_directories(disk_ + "/Quarrow");
  std::map<std::string, uint64_t> orphans;  // name in /Quarrow -> inode
  for (const char *f : {"Film.rec", "Film.rec.inf", "Film.rec.nav", "sub/Film.rec", "sub/Film.rec.inf",
                        "Fr\xfch.rec", "Fr\xfch.rec.nav"}) {
    std::string from = disk_ + "/DataFiles/" + f;
    uint64_t ino = Inode(from);
    std::string name = "#" + std::to_string(ino);
    fs::rename(from, disk_ + "/Quarrow/" + name);
    orphans[name] = ino;
  }
  WriteFile(disk_ + "/Quarrow/stray", "never a recording\n");
  const std::string stray = "#" + std::to_string(Inode(disk_ + "/Quarrow/stray"));
  orphans[stray] = Inode(disk_ + "/Quarrow/stray");
  fs::rename(disk_ + "/Quarrow/stray", disk_ + "/Quarrow/" + stray);
  // Names already taken in the recovery folder: a recording's, and one orphan's own.
  WriteFile(disk_ + "/DataFiles/Zorvane/Film.rec", "someone else's\n");
  const std::string takenOrphan = orphans.begin()->first;
  WriteFile(disk_ + "/DataFiles/Zorvane/" + takenOrphan, "in the way\n");

  const auto before = Snapshot(disk_);
  Result r = QuarrowDb("plan --disk " + Quote(disk_) + " --json");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Snapshot(disk_), before) << "plan changed the disk";
  Result table = QuarrowDb("plan --disk " + Quote(disk_));
  EXPECT_EQ(table.status, 0) << table.output;
  EXPECT_EQ(Snapshot(disk_), before) << "plan changed the disk";

  const auto plan = ParsePlan(r.output);
  ASSERT_EQ(plan.size(), orphans.size() + 2) << r.output;
  EXPECT_EQ(plan.at("Quarrow/" + takenOrphan).movedAs, takenOrphan + " (2)") << r.output;
  // Files already in the recovery folder are not on the list and keep their names.
  EXPECT_EQ(plan.at("DataFiles/Zorvane/Film.rec").newName, "Film.rec") << r.output;
  EXPECT_EQ(plan.at("DataFiles/Zorvane/" + takenOrphan).newName, takenOrphan) << r.output;

  ASSERT_EQ(Sim().Start("600", 500).status, 0);
  const std::string zor = disk_ + "/DataFiles/Zorvane/";
  std::map<uint64_t, std::string> after;
  for (const auto &e : fs::directory_iterator(zor)) after[Inode(e.path().string())] = e.path().filename().string();
  std::set<std::string> given;
  for (const auto &[name, ino] : orphans) {
    SCOPED_TRACE(name);
    const Planned &p = plan.at("Quarrow/" + name);
    ASSERT_TRUE(after.count(ino)) << "not in the recovery folder";
    EXPECT_EQ(after[ino], p.newName ? *p.newName : *p.movedAs) << r.output;
    if (p.newName) given.insert(*p.newName);
  }
  // Which Film.rec comes back as (2) follows the listing order; both are numbered.
  EXPECT_EQ(given.size(), 7u) << r.output;
  EXPECT_TRUE(given.count("Film (2).rec") && given.count("Film (3).rec") && given.count("Fr\xfch.rec.nav")) << r.output;
  EXPECT_FALSE(plan.at("Quarrow/" + stray).newName.has_value()) << "the stray file is unknown";
}

TEST_F(QuarrowDbTest, PlanRefusesWhatIsNotADisk) {
  EXPECT_EQ(QuarrowDb("plan --disk " + Quote(root_ + "/none")).status, 2);
  EXPECT_EQ(QuarrowDb("plan").status, 2);
}

}  // namespace
