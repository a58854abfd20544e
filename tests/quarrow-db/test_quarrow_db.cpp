// quarrow-db predicts from the module's own rules; these runs hold it to what the module
// then does: the records a load keeps, and the names a recovery gives.
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "app/folders_format.h"
#include "tests/common/foldersfile.h"
#include "tests/e2e/e2e.h"
#include "tests/e2e/folders.h"

namespace {

using namespace e2e;

const std::string kDb = "/ProgramFiles/Settings/Zorvane/Quarrow.db";
const std::string kLog = "/ProgramFiles/Settings/Zorvane/Quarrow.log";
const std::string kIni = "/ProgramFiles/Settings/Zorvane/Quarrow.ini";
const std::string kFolders = "/ProgramFiles/Settings/Zorvane/Quarrow.folders";

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

// restore-folders writes the setting as the module's own store writes it, and the module's
// next start acts on it: the user's lines stay, a new file owes no message box.
TEST_F(QuarrowDbTest, RestoreFoldersIsStoredForTheModuleToActOn) {
  MakeRecordings(disk_, {{"Filme/Film.rec", true, true}});
  fs::create_directories(disk_ + "/ProgramFiles/Settings");
  Result r = QuarrowDb("restore-folders --disk " + Quote(disk_));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("RestoreFolders is off"), std::string::npos) << r.output;
  r = QuarrowDb("restore-folders --disk " + Quote(disk_) + " on");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("RestoreFolders is on"), std::string::npos) << r.output;
  EXPECT_EQ(ReadFile(disk_ + kIni), "InformUser=0\r\nRestoreFolders=1\r\n");
  const testfiles::Result start = Sim().Start("600", 4100);
  ASSERT_EQ(start.status, 0) << start.output;
  EXPECT_FALSE(ReadFile(disk_ + kFolders).empty()) << "the module did not take the setting";
  EXPECT_EQ(ReadFile(disk_ + kIni), "InformUser=0\r\nRestoreFolders=1\r\n");

  WriteFile(disk_ + kIni, "; mine\r\nInformUser=1\r\nRestoreFolders=1\r\nOther=x\r\n");
  ASSERT_EQ(QuarrowDb("restore-folders --disk " + Quote(disk_) + " off").status, 0);
  EXPECT_EQ(ReadFile(disk_ + kIni), "; mine\r\nInformUser=1\r\nRestoreFolders=0\r\nOther=x\r\n");
  EXPECT_EQ(QuarrowDb("restore-folders --disk " + Quote(disk_) + " maybe").status, 2);
  EXPECT_EQ(QuarrowDb("restore-folders --disk " + Quote(root_) + " on").status, 2);  // not a recorder's disk
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
                      ", \"damaged\": false, \"kept\": true, \"folder\": null}";
    EXPECT_NE(r.output.find(row), std::string::npos) << "record " << i << ": " << row << "\n" << r.output;
  }
  EXPECT_NE(r.output.find("Fr\\u00fchst\\u00fcck.rec"), std::string::npos) << r.output;
  // The unused capacity is not shown as entries.
  EXPECT_EQ(r.output.find("\"index\": 4"), std::string::npos) << r.output;
}

// Records (inode, sample, folder number) of a Quarrow.folders.
using FolderRecords = std::vector<quarrow::FolderRecord>;
using testfolders::File;

// What show --json says of the folders: the file's state, the folders kept, and each
// recording inode's folder ("" for null).
struct ShownFolders {
  std::string file;
  int kept = -1;
  std::map<uint64_t, std::string> of;
};
ShownFolders ParseShownFolders(const std::string &json) {
  ShownFolders out;
  std::smatch m;
  if (std::regex_search(json, m, std::regex("\"folders\": \\{\"file\": \"([a-z ]+)\", \"kept\": ([0-9]+)\\}"))) {
    out.file = m[1];
    out.kept = std::stoi(m[2]);
  }
  std::regex row("\"rec_inode\": ([0-9]+), [^\\n]*\"folder\": (null|\"[^\"]*\")\\}");
  for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it)
    out.of[std::stoull((*it)[1])] = (*it)[2] == "null" ? "" : (*it)[2].str().substr(1, (*it)[2].length() - 2);
  return out;
}

// The side file the module wrote, and damaged copies of it: show gives each fingerprint the
// folder the module's load keeps, and the count it says the load keeps is the count the
// module's next load logs; the database's verdict is not touched by it.
TEST_F(QuarrowDbTest, ShowGivesEachFingerprintTheFolderTheModulesLoadKeeps) {
  WriteFile(disk_ + kIni, "InformUser=0\r\nRestoreFolders=1\r\n");
  MakeRecordings(disk_,
                 {{"Film.rec", true, false}, {"Natur/Wald.rec", false, false}, {"Doku/Tier/Film.rec", false, true}});
  Scan();
  const std::string written = ReadFile(disk_ + kFolders);
  ASSERT_FALSE(written.empty()) << "the module wrote no Quarrow.folders";
  const std::vector<std::string> records = testdb::Records(ReadFile(disk_ + kDb));
  ASSERT_EQ(records.size(), 3u);
  // The fingerprints in the database's order, and where each recording is.
  std::vector<std::pair<uint64_t, uint32_t>> id;
  std::map<uint64_t, std::string> home;
  for (const std::string &r : records) id.push_back({Le64(r, 0), Word(r, 8)});
  for (const char *f : {"/DataFiles/Film.rec", "/DataFiles/Natur/Wald.rec", "/DataFiles/Doku/Tier/Film.rec"})
    home[Inode(disk_ + f)] = fs::path(f).parent_path().string();
  const std::string f0 = home[id[0].first], f1 = home[id[1].first], f2 = home[id[2].first];
  auto all = [&](std::vector<std::string> table, std::vector<uint32_t> folders) {
    FolderRecords recs;
    for (size_t i = 0; i < folders.size(); ++i) recs.push_back({id[i % 3].first, id[i % 3].second, folders[i]});
    return File(table, recs);
  };
  std::string otherVersion = written;
  const uint32_t two = 2;
  std::memcpy(otherVersion.data() + 4, &two, 4);
  const uint32_t headerCheck = quarrow::Crc32(otherVersion.data(), 20);
  std::memcpy(otherVersion.data() + 20, &headerCheck, 4);
  std::string badBlock = written;
  badBlock.back() ^= 1;
  // Two records of the first identity: the first one counts.
  const FolderRecords twice = {{id[0].first, id[0].second, 3},
                               {id[0].first, id[0].second, 0},
                               {id[1].first, id[1].second, 1},
                               {id[2].first, id[2].second, 2}};
  struct Case {
    const char *what;
    std::optional<std::string> bytes;
    std::string file;
    std::vector<std::string> folders;  // of id[0..2], "" for none
  } cases[] = {
      {"as the module wrote it", written, "sound", {f0, f1, f2}},
      {"a folder inside the recovery folder", all({f0, "/DataFiles/Zorvane/Natur", f2}, {0, 1, 2}), "damaged",
       {f0, "", f2}},
      {"a folder that leaves /DataFiles", all({"/DataFiles/../etc", f1, f2}, {0, 1, 2}), "damaged", {"", f1, f2}},
      {"two records of one identity", File({f0, f1, f2, "/DataFiles/Erst"}, twice), "damaged",
       {"/DataFiles/Erst", f1, f2}},
      {"a byte too many", written + "x", "damaged", {f0, f1, f2}},
      {"a record block that fails its check", badBlock, "damaged", {"", "", ""}},
      {"cut short", written.substr(0, written.size() - 1), "damaged", {"", "", ""}},
      {"version 2", otherVersion, "unknown version", {"", "", ""}},
      {"no file", std::nullopt, "missing", {"", "", ""}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(disk_ + kFolders);
    if (c.bytes) WriteFile(disk_ + kFolders, *c.bytes);
    fs::remove(disk_ + kLog);
    const Result r = QuarrowDb("show --json " + Quote(disk_ + kDb));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"sound\": true"), std::string::npos) << "the database's verdict\n" << r.output;
    const ShownFolders shown = ParseShownFolders(r.output);
    EXPECT_EQ(shown.file, c.file) << r.output;
    ASSERT_EQ(shown.of.size(), 3u) << r.output;
    int kept = 0;
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(shown.of.at(id[i].first), c.folders[i]) << "fingerprint " << i << "\n" << r.output;
      kept += c.folders[i].empty() ? 0 : 1;
    }
    EXPECT_EQ(shown.kept, kept) << r.output;
    if (c.file == "sound") {
      const Result text = QuarrowDb("show " + Quote(disk_ + kDb));
      EXPECT_NE(text.output.find("Quarrow.folders: sound, the folders of 3 recordings"), std::string::npos)
          << text.output;
      EXPECT_NE(text.output.find("Film.rec  in /DataFiles/Doku/Tier\n"), std::string::npos) << text.output;
    }
    // The module's own load of the same file, at its next scan.
    ASSERT_EQ(Sim().Start("600", 4100).status, 0);
    const std::string log = ReadFile(disk_ + kLog);
    std::smatch m;
    if (std::regex_search(log, m, std::regex("damaged folder file, kept ([0-9]+) folders"))) {
      EXPECT_EQ(c.file, "damaged") << log;
      EXPECT_EQ(std::stoi(m[1]), shown.kept) << log;
    } else if (log.find("unexpected folder file version") != std::string::npos) {
      EXPECT_EQ(c.file, "unknown version") << log;
    } else {
      EXPECT_TRUE(c.file == "sound" || c.file == "missing") << log;
    }
  }
  EXPECT_EQ(QuarrowDb("check " + Quote(disk_ + kDb)).status, 0) << "the folders are no part of check's verdict";
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
  // Record 2 given record 0's identity: the module's add never keeps two of one.
  std::string twice = good;
  std::memcpy(twice.data() + 12 + 176 * 2, good.data() + 12, 12);
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
      {"two records of one identity", twice, "duplicate identity: record 2 repeats record 0"},
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
    } else if (log.find("unexpected DB version") != std::string::npos) {
      EXPECT_NE(r.output.find("keeps no entry"), std::string::npos) << r.output;
    } else {
      EXPECT_NE(r.output.find("loads all 3 entries as they stand"), std::string::npos) << r.output << log;
    }
  }

  struct Refused {
    std::string args, says;
  } refused[] = {
      {"check " + Quote(root_ + "/none.db"), root_ + "/none.db: No such file or directory"},
      {"show " + Quote(root_), root_ + ": Is a directory"},
      {"check", "usage: quarrow-db check FILE"},
      {"check a b", "usage: quarrow-db check FILE"},
      {"check " + Quote(disk_ + kDb) + " --json", "usage: quarrow-db check FILE"},
      {"frobnicate x", "unknown command 'frobnicate'"},
      {"show " + Quote(disk_ + kDb) + " >/dev/full", "standard output: No space left on device"},
  };
  for (const Refused &c : refused) {
    SCOPED_TRACE(c.args);
    Result r = Shell("{ " + Quote(QUARROW_DB_PATH) + " " + c.args + "; }");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_EQ(r.output.rfind("quarrow-db: " + c.says, 0), 0u) << r.output;
    EXPECT_EQ(testfiles::Occurrences(r.output, "\n"), 1) << r.output;
  }
}

// Databases built from sound ones by random damage: whatever the damage, show's "sound"
// and check's exit status are one verdict. QUARROW_DB_CASES asks for more than the few
// of a normal run.
TEST(QuarrowDbVerdict, ShowAndCheckAgreeOnGeneratedDatabases) {
  const char *asked = std::getenv("QUARROW_DB_CASES");
  const int cases = asked != nullptr ? std::atoi(asked) : 120;
  testfiles::TempDir dir("quarrow-dbverdict-");
  const std::string file = dir.path() + "/Quarrow.db";
  std::mt19937 random(23);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  int sound = 0, damaged = 0;
  for (int n = 0; n < cases; ++n) {
    const uint32_t count = below(13), capacity = (count + 9) / 10 * 10 + 10 * below(2);
    std::vector<RecDBEntry> entries;
    for (uint32_t i = 0; i < count; ++i) {
      RecDBEntry e = testdb::Entry(("Film " + std::to_string(i) + ".rec").c_str(), 1000 + below(40), below(4));
      if (below(2)) e.InfInode = 5000 + i, e.InfSample = random();
      if (below(2)) e.NavInode = 9000 + i, e.NavSample = random();
      entries.push_back(e);
    }
    std::string bytes = testdb::File(1, static_cast<int32_t>(capacity), static_cast<int32_t>(count), entries, capacity);
    const auto record = [&](uint32_t i) { return 12 + 176 * static_cast<size_t>(i); };
    for (uint32_t k = below(4); k > 0; --k) {
      const uint32_t r = capacity == 0 ? 0 : below(capacity);
      const uint32_t word = below(8) == 0 ? random() : below(capacity + 3);
      switch (below(8)) {
        case 0: std::memcpy(bytes.data() + 4 * below(3), &word, 4); break;  // a header word
        case 1: bytes.resize(bytes.size() - std::min<size_t>(bytes.size(), below(400))); break;
        case 2: bytes += Content(1 + below(400), n); break;
        case 3:  // another record's identity
          if (capacity > 1) std::memcpy(bytes.data() + record(r), bytes.data() + record(below(capacity)), 12);
          break;
        case 4:  // a whole plausible record anywhere, beyond the count too
          if (capacity > 0) bytes.replace(record(r), 176, testdb::Record(entries.empty() ? testdb::Entry("X.rec", 7, 7) : entries[below(count)]));
          break;
        case 5: if (capacity > 0) bytes[record(r) + below(176)] = static_cast<char>(random()); break;
        case 6: if (capacity > 0) bytes.replace(record(r), 176, 176, '\0'); break;
        case 7: if (capacity > 0) bytes.replace(record(r) + 48, 128, 128, 'n'); break;  // a name without its end
      }
      if (bytes.size() < record(capacity)) break;  // cut short: the offsets above no longer hold
    }
    WriteFile(file, bytes);
    SCOPED_TRACE("database " + std::to_string(n) + ": " + std::to_string(bytes.size()) + " bytes");
    const Result show = QuarrowDb("show --json " + Quote(file));
    ASSERT_EQ(show.status, 0) << show.output;
    const bool shown = show.output.find("\"sound\": true") != std::string::npos;
    ASSERT_TRUE(shown || show.output.find("\"sound\": false") != std::string::npos) << show.output;
    const Result check = QuarrowDb("check " + Quote(file));
    ASSERT_TRUE(check.status == 0 || check.status == 1) << check.output;
    if (shown != (check.status == 0)) {
      dir.Keep();
      FAIL() << "show says " << (shown ? "sound" : "damaged") << ", check exits " << check.status << "; file kept at "
             << file << "\n" << check.output;
    }
    ++(shown ? sound : damaged);
  }
  // Both verdicts came up, or the run proved little.
  EXPECT_GT(sound, cases / 10);
  EXPECT_GT(damaged, cases / 10);
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

// Where a plan says a file of /Quarrow ends: to_folder (or the recovery folder; the key is
// there only with RestoreFolders=1) and its new name, by its inode.
std::map<uint64_t, std::string> PlannedPlaces(const std::string &json, const std::map<std::string, uint64_t> &orphans) {
  std::map<uint64_t, std::string> out;
  const std::string str = "(\"(?:[^\"\\\\]|\\\\.)*\"|null)";
  std::regex row("\\{\"file\": " + str + ", \"folder\": \"Quarrow\", \"new_name\": " + str +
                 ", \"kind\": " + str + ", \"moved_as\": " + str + ", \"note\": " + str + "(?:, \"to_folder\": " + str +
                 ")?\\}");
  for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it) {
    const auto file = e2e::Unjson((*it)[1]), name = e2e::Unjson((*it)[2]);
    const auto folder = (*it)[6].matched ? e2e::Unjson((*it)[6]) : std::nullopt;
    if (file && orphans.count(*file))
      out[orphans.at(*file)] = folder.value_or("/DataFiles/Zorvane") + "/" + name.value_or("(none)");
  }
  return out;
}

// The module's own folder cases (tests/e2e/folders.h), and a folder three deep: after the
// first scan with RestoreFolders=1 the check orphans every file (one companion alone), then
// one folder is deleted, one of a stem's names taken in its folder, one folder on a path
// and one folder itself replaced by a link. For each way the setting may read, the plan
// says where every file ends and the recorder's start puts it there; recover then leaves
// the tree the recorder leaves and counts the returns.
TEST_F(QuarrowDbTest, PlanSaysWhichFolderEachFileReturnsTo) {
  e2e::folders::FolderDisk disk(e2e::folders::kOn);
  uint32_t seed = 1;
  for (const char *path :
       {"/DataFiles/Weg/Film A.rec", "/DataFiles/Voll/Film B.rec", "/DataFiles/Verweis/Tief/Film C.rec",
        "/DataFiles/Link/Film D.rec", "/DataFiles/Heim/Film E.rec", "/DataFiles/Film F.rec", "/DataFiles/Heim/Film G.rec",
        "/DataFiles/Serien/Krimi/Staffel 2/Folge 1.rec"})
    disk.Recording(path, seed++);
  fs::create_directories(disk.Real("/DataFiles/Anders"));
  ASSERT_NO_FATAL_FAILURE(disk.Fingerprint());
  ASSERT_TRUE(fs::exists(disk.Real(kFolders)));
  std::map<std::string, uint64_t> orphans;  // name in /Quarrow -> inode
  for (const auto &[path, bytes] : std::map<std::string, std::string>(disk.files)) {
    if (path.find("Film G.rec") != std::string::npos && !path.ends_with(".inf")) continue;
    const uint64_t inode = Inode(disk.Real(path));
    disk.Orphan(path);
    orphans["#" + std::to_string(inode)] = inode;
  }
  ASSERT_EQ(orphans.size(), 22u);
  e2e::folders::UnfitFolders(disk);

  const std::string base = disk.sim.disk, copy = root_ + "/copy", copy2 = root_ + "/copy2";
  struct Setting {
    const char *ini;
    size_t returned;  // files back in their folders
  } settings[] = {
      {"InformUser=0\r\nRestoreFolders=1\r\n", 10},
      {"InformUser=0\r\nrestorefolders=7\r\n", 10},  // any case, clamped to 1
      {"InformUser=0\r\nRestoreFolders=on\r\n", 0},
      {"InformUser=0\r\n#RestoreFolders=1\r\n", 0},
  };
  for (const Setting &setting : settings) {
    SCOPED_TRACE(std::regex_replace(std::string(setting.ini), std::regex("\r\n"), " "));
    ASSERT_EQ(testfiles::CopyDisk(base, copy), "");
    WriteFile(copy + kIni, setting.ini);
    const Result plan = QuarrowDb("plan --json --disk " + Quote(copy));
    ASSERT_EQ(plan.status, 0) << plan.output;
    const auto planned = PlannedPlaces(plan.output, orphans);
    ASSERT_EQ(planned.size(), orphans.size()) << plan.output;
    size_t returned = 0;
    for (const auto &[inode, place] : planned) returned += place.rfind("/DataFiles/Zorvane/", 0) == 0 ? 0 : 1;
    EXPECT_EQ(returned, setting.returned) << plan.output;
    // Off, the rows are what they always were.
    EXPECT_EQ(plan.output.find("\"to_folder\"") != std::string::npos, setting.returned > 0) << plan.output;

    Tapsim sim = disk.sim;
    sim.disk = copy;
    ASSERT_EQ(sim.Start("600", 500).status, 0);
    std::map<uint64_t, std::string> ended;
    for (const auto &e : fs::recursive_directory_iterator(copy + "/DataFiles"))
      if (e.is_regular_file() && !e.is_symlink())
        ended[Inode(e.path().string())] = e.path().string().substr(copy.size());
    for (const auto &[inode, place] : planned)
      EXPECT_EQ(ended[inode], place) << "inode " << inode << "\n" << plan.output;
    if (setting.returned == 0) continue;

    // Why the others stay in the recovery folder, in the plan's notes.
    const Result text = QuarrowDb("plan --disk " + Quote(base));
    for (const char *why : {"folder '/DataFiles/Weg' is gone", "its name is taken in '/DataFiles/Voll'",
                            "folder '/DataFiles/Verweis/Tief' is a link or no folder",
                            "folder '/DataFiles/Link' is a link or no folder", "back into '/DataFiles/Heim'",
                            "back into '/DataFiles/Serien/Krimi/Staffel 2'"})
      EXPECT_NE(text.output.find(why), std::string::npos) << why << "\n" << text.output;
    // recover on another copy: the same tree as the recorder's start, every file counted.
    ASSERT_EQ(testfiles::CopyDisk(base, copy2), "");
    WriteFile(copy2 + kIni, setting.ini);
    const Result r = QuarrowDb("recover --yes --clock '2026-12-07 20:00:00' --disk " + Quote(copy2));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("recordings named: 7\ncompanions (.inf, .nav) named: 15\nof them back in their folders: 10\n"),
              std::string::npos) << r.output;
    EXPECT_NE(r.output.find("recovering: 100%"), std::string::npos) << r.output;
    auto tree = [](const std::string &disk) {
      std::map<std::string, std::string> t;
      for (const auto &e : fs::recursive_directory_iterator(disk + "/DataFiles"))
        t[e.path().string().substr(disk.size())] = e.is_regular_file() && !e.is_symlink() ? ReadFile(e.path().string()) : "";
      return t;
    };
    EXPECT_EQ(tree(copy2), tree(copy));
  }
}

// A failing disk, the very disk a user brings: each read the tools make fails in turn
// (strace makes the real call fail with EIO), and each ends in one line naming the file
// and exit 2, never in a signal.
TEST_F(QuarrowDbTest, EveryFailedReadEndsInOneLineAndExitTwo) {
  if (Shell("command -v strace").status != 0) GTEST_SKIP() << "strace is not installed: no read can be made to fail";
  WriteFile(disk_ + kIni, "InformUser=0\r\nRestoreFolders=1\r\n");
  MakeRecordings(disk_, {{"Film.rec", true, true}});
  Scan();
  ASSERT_TRUE(fs::exists(disk_ + kFolders));
  const std::string settings = disk_ + "/ProgramFiles/Settings/Zorvane/";
  WriteFile(settings + "Quarrow.pending", "");
  fs::create_directories(disk_ + "/Quarrow");
  const std::string orphan = disk_ + "/Quarrow/#" + std::to_string(Inode(disk_ + "/DataFiles/Film.rec"));
  fs::rename(disk_ + "/DataFiles/Film.rec", orphan);
  const std::string plan = "plan --disk " + Quote(disk_);
  ASSERT_EQ(QuarrowDb(plan).status, 0) << "the disk must plan cleanly before it fails";
  struct Case {
    std::string args, call, path;
  } cases[] = {
      {"show " + Quote(settings + "Quarrow.db"), "read", settings + "Quarrow.db"},
      {"show --json " + Quote(settings + "Quarrow.db"), "read", settings + "Quarrow.db"},
      {"check " + Quote(settings + "Quarrow.db"), "read", settings + "Quarrow.db"},
      {"check " + Quote(settings + "Quarrow.db"), "newfstatat", settings + "Quarrow.db"},
      {plan, "read", settings + "Quarrow.db"},
      {plan, "read", settings + "Quarrow.pending"},
      {plan, "read", settings + "Quarrow.ini"},
      {plan, "read", settings + "Quarrow.folders"},
      {"show " + Quote(settings + "Quarrow.db"), "read", settings + "Quarrow.folders"},
      {plan, "read", orphan},
      {plan, "newfstatat", orphan},
      {plan, "getdents64", disk_ + "/Quarrow"},
      {plan + " --json", "openat", disk_ + "/DataFiles/Zorvane"},
      {"recover --yes --disk " + Quote(disk_), "read", settings + "Quarrow.db"},
      {"recover --yes --disk " + Quote(disk_), "getdents64", disk_ + "/Quarrow"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args + ", " + c.call + " of " + c.path);
    // The leak check cannot run under a tracer.
    Result r = Shell("{ ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -P " + Quote(c.path) + " -e trace=" + c.call + " -e inject=" + c.call +
                     ":error=EIO " + Quote(QUARROW_DB_PATH) + " " + c.args + " >/dev/null; }");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_EQ(r.output, "quarrow-db: " + c.path + ": Input/output error\n");
  }
  EXPECT_TRUE(fs::exists(orphan)) << "a failed recover moved a file";
}

// The orphans of a disk the module scanned: Film.rec's three files reconnected into
// lost+found by a PC checker, Wetter.rec's left in /Quarrow by the recorder's, and one file
// that was never a recording.
class RecoverTest : public QuarrowDbTest {
 protected:
  void SetUp() override {
    files_ = MakeRecordings(disk_, {{"Film.rec", true, true}, {"Wetter.rec", true, false}, {"Sport.rec", false, false}});
    ASSERT_NO_FATAL_FAILURE(Scan());
    fs::create_directories(disk_ + "/lost+found");
    fs::create_directories(disk_ + "/Quarrow");
    for (const char *f : {"Film.rec", "Film.rec.inf", "Film.rec.nav", "Wetter.rec", "Wetter.rec.inf"}) {
      const std::string from = disk_ + "/DataFiles/" + f;
      const bool checker = std::string(f).rfind("Film", 0) == 0;
      inode_[f] = Inode(from);
      fs::rename(from, disk_ + (checker ? "/lost+found/#" : "/Quarrow/#") + std::to_string(inode_[f]));
    }
    WriteFile(disk_ + "/lost+found/#77", "never a recording\n");
  }
  std::string Recover(const std::string &args) const { return "recover --disk " + Quote(disk_) + " " + args; }

  std::map<std::string, std::string> files_;
  std::map<std::string, uint64_t> inode_;
};

TEST_F(RecoverTest, AsksFirstThenNamesEverythingTheRecorderWould) {
  const auto before = Snapshot(disk_);
  Result no = Shell("echo n | " + Quote(QUARROW_DB_PATH) + " " + Recover(""));
  EXPECT_EQ(no.status, 1) << no.output;
  EXPECT_NE(no.output.find("plan: 6 files from lost+found and /Quarrow; 2 recordings and 3 companions to be named, 1 "
                           "files unknown"),
            std::string::npos)
      << no.output;
  EXPECT_NE(no.output.find("nothing changed"), std::string::npos) << no.output;
  EXPECT_EQ(Snapshot(disk_), before) << "declined, yet the disk changed";

  Result r = QuarrowDb(Recover("--yes"));
  EXPECT_EQ(r.status, 1) << "one file stays unknown\n" << r.output;
  EXPECT_NE(r.output.find("recordings named: 2\ncompanions (.inf, .nav) named: 3\nfiles left unknown: 1,"),
            std::string::npos)
      << r.output;
  // Not a terminal: the progress as plain lines, ending with all six moved and five named.
  EXPECT_NE(r.output.find("recovering: 100% (moved 6 of 6, named 5 of 5)\n"), std::string::npos) << r.output;
  for (const auto &[name, inode] : inode_) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Inode(disk_ + "/DataFiles/Zorvane/" + name), inode);
    EXPECT_EQ(ReadFile(disk_ + "/DataFiles/Zorvane/" + name), files_.at("/DataFiles/" + name));
  }
  EXPECT_EQ(ReadFile(disk_ + "/DataFiles/Zorvane/#77"), "never a recording\n");
  EXPECT_TRUE(fs::is_empty(disk_ + "/lost+found"));
  EXPECT_TRUE(fs::is_empty(disk_ + "/Quarrow"));
  // The recorder's next start repeats nothing and owes no message box.
  const std::string settings = disk_ + "/ProgramFiles/Settings/Zorvane/";
  EXPECT_FALSE(fs::exists(settings + "Quarrow.pending"));
  EXPECT_NE(ReadFile(settings + "Quarrow.ini").find("InformUser=0"), std::string::npos) << ReadFile(settings + "Quarrow.ini");
  const std::string log = ReadFile(settings + "Quarrow.log");
  ASSERT_EQ(Sim().Start("600", 500).status, 0);
  EXPECT_EQ(ReadFile(settings + "Quarrow.log"), log);

  // Nothing left: a second run says so and changes nothing.
  const auto after = Snapshot(disk_);
  Result again = QuarrowDb(Recover("--yes"));
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_NE(again.output.find("nothing to recover"), std::string::npos) << again.output;
  EXPECT_EQ(Snapshot(disk_), after);
}

TEST_F(RecoverTest, RefusesWhatIsNotARecordersWritableDisk) {
  const auto before = Snapshot(disk_);
  fs::create_directories(root_ + "/data-only/DataFiles");
  struct Refused {
    std::string args, says;
  } refused[] = {
      {"recover --yes --disk " + Quote(root_ + "/none"), "is not a folder"},
      {"recover --yes --disk " + Quote(root_ + "/data-only"), "is not a recorder's disk"},
      {"recover --yes --disk " + Quote(disk_ + "/DataFiles"), "is not a recorder's disk"},
      {"recover --yes", "usage: quarrow-db recover"},
      {Recover("--json"), "usage: quarrow-db recover"},
  };
  for (const Refused &c : refused) {
    SCOPED_TRACE(c.args);
    Result r = QuarrowDb(c.args);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
  EXPECT_EQ(Snapshot(disk_), before);

  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount the disk read-only";
  const std::string ro = root_ + "/ro";
  fs::create_directories(ro);
  Result mount = Shell("mount --bind " + Quote(disk_) + " " + Quote(ro) + " && mount -o remount,bind,ro " + Quote(ro));
  if (mount.status != 0) {
    Shell("umount " + Quote(ro));
    GTEST_SKIP() << "cannot mount a read-only view here: " << mount.output;
  }
  Result r = QuarrowDb("recover --yes --disk " + Quote(ro));
  // The commands that only read work there as anywhere.
  Result plan = QuarrowDb("plan --disk " + Quote(ro));
  Result check = QuarrowDb("check " + Quote(ro + kDb));
  Shell("umount " + Quote(ro));
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("is mounted read-only"), std::string::npos) << r.output;
  EXPECT_EQ(plan.status, 0) << plan.output;
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(Snapshot(disk_), before);
}

// The same generated disk twice, its orphans under the same names: recover --yes on one,
// the recorder's next start (tapsim) on the other; both must leave the same tree, log,
// settings and database. QUARROW_RECOVER_DISKS asks for more disks than a normal run's.
TEST(QuarrowDbRecover, LeavesWhatTheRecorderLeavesOnGeneratedDisks) {
  const char *asked = std::getenv("QUARROW_RECOVER_DISKS");
  const int disks = asked != nullptr ? std::atoi(asked) : 6;
  const char *const pool[] = {"Film.rec", "Sport.rec", "Natur/Film.rec", "Doku/Wald.rec", "Fr\xfch.rec",
                              "Doku/Film.rec", "Wetter.mpg"};
  for (int n = 0; n < disks; ++n) {
    std::mt19937 random(static_cast<uint32_t>(n) + 1);
    std::vector<Recording> recs;
    std::set<std::string> taken;
    for (int k = 1 + static_cast<int>(random() % 6); k > 0; --k) {
      const std::string path = pool[random() % std::size(pool)];
      if (taken.insert(path).second) recs.push_back({path, random() % 2 == 0, random() % 3 != 0});
    }
    const bool stray = random() % 2 == 0, inTheWay = random() % 3 == 0;
    const uint32_t orphanMask = random();
    testfiles::TempDir dir("quarrow-recoverdiff-");
    std::map<std::string, std::string> trees[2];
    std::string databases[2];
    for (int side = 0; side < 2; ++side) {
      const std::string disk = dir.path() + (side == 0 ? "/pc" : "/recorder");
      const auto files = MakeRecordings(disk, recs);
      Tapsim sim;
      sim.disk = disk;
      sim.console = dir.path() + "/console.txt";
      ASSERT_EQ(sim.Start("600", 4100).status, 0);
      // The orphans by their place in the listing, not by inode: both disks name them alike.
      fs::create_directories(disk + "/Quarrow");
      int i = 0;
      for (const auto &[path, bytes] : files) {
        if ((orphanMask >> (i % 32) & 1) != 0) {
          char name[16];
          std::snprintf(name, sizeof name, "#%04d", i);
          fs::rename(disk + path, disk + "/Quarrow/" + name);
        }
        ++i;
      }
      if (stray) WriteFile(disk + "/Quarrow/#9999", "never a recording\n");
      if (inTheWay) WriteFile(disk + "/DataFiles/Zorvane/Film.rec", "someone else's\n");
      if (side == 0) {
        Result r = QuarrowDb("recover --yes --clock '2026-12-07 20:00:00' --disk " + Quote(disk));
        ASSERT_LE(r.status, 1) << r.output;
      } else {
        Result r = sim.Start("600", 500, "--key 0x1001E@400");
        ASSERT_EQ(r.status, 0) << r.output;
      }
      for (const auto &e : fs::recursive_directory_iterator(disk)) {
        const std::string p = e.path().string().substr(disk.size());
        if (p == kDb) databases[side] = ReadFile(e.path().string());
        else trees[side][p] = e.is_regular_file() ? ReadFile(e.path().string()) : "(folder)";
      }
    }
    SCOPED_TRACE("disk " + std::to_string(n));
    EXPECT_EQ(trees[0], trees[1]);
    // The inode numbers differ from disk to disk; all else of the database is the same.
    EXPECT_EQ(Fingerprints(databases[0]), Fingerprints(databases[1]));
    EXPECT_EQ(databases[0].size(), databases[1].size());
    if (HasFailure()) {
      dir.Keep();
      FAIL() << "disks kept in " << dir.path();
    }
  }
}

// recover killed at each write-side system call in turn (strace stops it there: nothing
// after the call happens), then run again: every file of 20 recordings is back under its
// name with its contents, nothing overwritten, nothing left in lost+found or /Quarrow. A
// sample of the points by default; QUARROW_SWEEP=full tries every one.
TEST(RecoverKillSweep, KilledAtAnyWriteThenRunAgainNamesEverything) {
  if (Shell("command -v strace").status != 0) GTEST_SKIP() << "strace is not installed: no run can be stopped at a call";
  testfiles::TempDir dir("quarrow-recoverkill-");
  const std::string base = dir.path() + "/base", disk = dir.path() + "/disk";
  std::vector<Recording> recs;
  for (int i = 0; i < 20; ++i) recs.push_back({"Film " + std::to_string(10 + i) + ".rec", i % 2 == 0, i % 3 != 0});
  const auto files = MakeRecordings(base, recs);
  Tapsim sim;
  sim.disk = base;
  sim.console = dir.path() + "/console.txt";
  ASSERT_EQ(sim.Start("600", 4100).status, 0);
  std::map<uint64_t, std::pair<std::string, std::string>> orphans;  // inode -> name and contents
  fs::create_directories(base + "/lost+found");
  fs::create_directories(base + "/Quarrow");
  int i = 0;
  for (const auto &[path, bytes] : files) {
    const uint64_t inode = Inode(base + path);
    orphans[inode] = {fs::path(path).filename().string(), bytes};
    fs::rename(base + path, base + (i++ % 2 == 0 ? "/lost+found/#" : "/Quarrow/#") + std::to_string(inode));
  }
  const std::string recover = Quote(QUARROW_DB_PATH) + " recover --yes --clock '2026-12-07 20:00:00' --disk " + Quote(disk);
  auto allBack = [&]() -> std::string {
    std::map<uint64_t, std::string> named;
    for (const auto &e : fs::directory_iterator(disk + "/DataFiles/Zorvane")) named[Inode(e.path().string())] = e.path().filename();
    if (named.size() != orphans.size()) return std::to_string(named.size()) + " files in /DataFiles/Zorvane";
    for (const auto &[inode, file] : orphans) {
      if (named[inode] != file.first) return "'" + file.first + "' is '" + named[inode] + "'";
      if (ReadFile(disk + "/DataFiles/Zorvane/" + file.first) != file.second) return "'" + file.first + "' changed";
    }
    if (!fs::is_empty(disk + "/lost+found") || !fs::is_empty(disk + "/Quarrow")) return "files left behind";
    if (fs::exists(disk + "/ProgramFiles/Settings/Zorvane/Quarrow.pending")) return "a recovery still pending";
    return "";
  };

  // The calls of one whole run, by name (the module's shell commands are other processes).
  ASSERT_EQ(testfiles::CopyDisk(base, disk), "");
  const std::string trace = dir.path() + "/trace.txt";
  ASSERT_EQ(Shell("ASAN_OPTIONS=detect_leaks=0 strace -qq -o " + Quote(trace) + " -e trace=" + testfiles::kWriteSideCalls + " " + recover +
                  " >/dev/null").status,
            0);
  ASSERT_EQ(allBack(), "") << "the run itself";
  std::map<std::string, int> counts;
  std::istringstream lines(ReadFile(trace));
  for (std::string line; std::getline(lines, line);)
    if (line.find('(') != std::string::npos && line[0] != '+' && line[0] != '-') ++counts[line.substr(0, line.find('('))];
  ASSERT_GT(counts["renameat2"] + counts["rename"], 20) << ReadFile(trace);

  const char *sweep = std::getenv("QUARROW_SWEEP");
  const int step = sweep != nullptr && std::string(sweep) == "full" ? 1 : 37;
  int tried = 0;
  std::vector<std::string> failures;
  for (const auto &[call, count] : counts) {
    for (int k = 1 + tried % step; k <= count; k += step, ++tried) {
      ASSERT_EQ(testfiles::CopyDisk(base, disk), "");
      Shell("ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
            ":signal=KILL:when=" + std::to_string(k) + " " + recover + " >/dev/null");
      Result again = Shell(recover);
      const std::string why = again.status != 0 ? "exit " + std::to_string(again.status) + ": " + again.output : allBack();
      if (!why.empty()) failures.push_back(call + " #" + std::to_string(k) + " of " + std::to_string(count) + ": " + why);
    }
  }
  std::printf("killed at %d of the run's write-side calls\n", tried);
  std::string all;
  for (const std::string &f : failures) all += f + "\n";
  EXPECT_TRUE(failures.empty()) << failures.size() << " failed:\n" << all;
}

TEST_F(QuarrowDbTest, PlanRefusesWhatIsNotADisk) {
  EXPECT_EQ(QuarrowDb("plan --disk " + Quote(root_ + "/none")).status, 2);
  EXPECT_EQ(QuarrowDb("plan").status, 2);
}

}  // namespace
