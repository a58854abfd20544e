// The database file and the log of a first scan, a recovery and a later scan on a generated
// disk of a few hundred recordings are those recorded in expected/same_results.txt (written
// by an earlier build of the module): faster look-ups must not change a byte or a line.
// Inode numbers differ from run to run, so the database's are written as the path of
// their file.
#include <algorithm>
#include <set>

#include "app/quarrow.h"
#include "tests/e2e/e2e.h"

namespace {

using namespace e2e;

constexpr int kRecordings = 200;
constexpr uint64_t kFakeInode = 0x7FFF000000000000ull;  // no file has one

std::string Hex32(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

using testfiles::Word;

struct Disk {
  std::string root;
  std::map<std::string, std::string> files;  // path below the disk -> bytes
  std::map<uint64_t, std::string> names;     // inode -> path, as generated
  std::vector<Recording> recs;

  std::string Id(uint64_t inode) const {
    if (inode == 0) return "0";
    auto it = names.find(inode);
    return it != names.end() ? "@" + it->second : std::to_string(inode);
  }
};

RecDBEntry Record(uint64_t rec, uint32_t recSample, uint64_t inf, uint32_t infSample, const char *name) {
  RecDBEntry e = testdb::Entry(name, rec, recSample);
  e.InfInode = inf;
  e.InfSample = infSample;
  return e;
}

// Three levels of folders; duplicate names across folders, hard links (the same identity
// under two names), recordings without companions, .mpg files.
Disk Generate(const std::string &root) {
  Disk d;
  d.root = root;
  std::vector<Recording> recs;
  const char *folders[] = {"", "Serien/", "Serien/Krimi/", "Serien/Krimi/Alt/", "Filme/", "Filme/Klassiker/",
                           "Doku/", "Doku/Natur/Meer/"};
  for (int i = 0; i < kRecordings; ++i) {
    std::string folder = folders[i % 8];
    // Every ninth shares its name with one in another folder.
    int number = i % 9 == 0 ? i / 9 : 100 + i;
    std::string name = "Sendung " + std::to_string(number) + (i % 11 == 0 ? ".mpg" : ".rec");
    recs.push_back({folder + name, i % 3 != 0, i % 4 != 0});
  }
  uint32_t seed = 1;
  for (const Recording &r : recs) {
    const std::string base = "/DataFiles/" + r.path;
    d.files[base] = Content(40 + seed % 50, seed);
    ++seed;
    if (r.inf) d.files[base + ".inf"] = Content(30, seed++);
    if (r.nav) d.files[base + ".nav"] = Content(20, seed++);
  }
  for (auto &[p, bytes] : d.files) WriteFile(root + p, bytes);
  d.recs = recs;
  for (int i = 0; i < kRecordings; i += 37) {
    const std::string from = root + "/DataFiles/" + recs[static_cast<size_t>(i)].path;
    fs::create_hard_link(from, root + "/DataFiles/Doku/Zweitname " + std::to_string(i) + ".rec");
  }
  for (auto &entry : fs::recursive_directory_iterator(root + "/DataFiles")) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string().substr(root.size());
    uint64_t ino = Inode(entry.path().string());
    if (!d.names.count(ino)) d.names[ino] = path;
  }

  // A database from before: a declared record whose name is not plain but whose .inf
  // fingerprint is that of a recording that will be orphaned, two records of one
  // vanished recording, and behind the count a new one, a duplicate and a damaged one.
  const std::string inf = "/DataFiles/" + recs[3 * 5 + 1].path + ".inf";
  std::vector<RecDBEntry> db = {
      Record(kFakeInode + 1, 11, Inode(root + inf), Word(d.files[inf], 8), "../Ausflug.rec"),
      Record(kFakeInode + 2, 22, 0, 0, "Verschollen.rec"),
      Record(kFakeInode + 2, 22, 0, 0, "Verschollen (alt).rec"),
      Record(kFakeInode + 3, 33, 0, 0, "Dazugekommen.rec"),
      Record(kFakeInode + 2, 22, 0, 0, "Verschollen.rec"),
      Record(kFakeInode + 4, 44, 0, 0, "Kaputt.rec"),
  };
  db[5].Padding2 = 9;
  std::vector<std::string> records;
  for (const RecDBEntry &e : db) records.push_back(testdb::Raw(e));
  WriteFile(root + "/ProgramFiles/Settings/Zorvane/Quarrow.db", testdb::File(1, 10, 3, records, 10));
  return d;
}

// Every third recording and its companions as the file-system check leaves them, and
// a file that belongs to none. Numbered in a fixed order rather than by inode, so that
// the folder lists them in the same order on every run.
void Orphan(const Disk &d) {
  fs::create_directories(d.root + "/Quarrow");
  int n = 0;
  for (size_t i = 1; i < d.recs.size(); i += 3) {
    for (const char *suffix : {"", ".inf", ".nav"}) {
      const std::string from = d.root + "/DataFiles/" + d.recs[i].path + suffix;
      if (!fs::exists(from)) continue;
      ++n;
      fs::rename(from, d.root + "/Quarrow/#" + std::to_string(100000 + n));
    }
  }
  WriteFile(d.root + "/Quarrow/#999999", Content(100, 999));
  ASSERT_GT(n, 50);
}

std::string DumpDatabase(const Disk &d, const std::string &bytes) {
  std::string out;
  if (bytes.size() < 12) return "no database\n";
  out += "header " + Hex32(Word(bytes, 0)) + " " + Hex32(Word(bytes, 4)) + " " + Hex32(Word(bytes, 8)) +
         ", " + std::to_string(bytes.size()) + " bytes\n";
  for (size_t at = 12, i = 0; at + 176 <= bytes.size(); at += 176, ++i) {
    RecDBEntry e;
    std::memcpy(&e, bytes.data() + at, 176);
    if (bytes.compare(at, 176, std::string(176, '\0')) == 0) continue;
    out += std::to_string(i) + " " + d.Id(e.RecInode) + " " + Hex32(e.RecSample) + " " + d.Id(e.InfInode) + " " +
           Hex32(e.InfSample) + " " + d.Id(e.NavInode) + " " + Hex32(e.NavSample) + " " + Hex32(e.Padding1) +
           Hex32(e.Padding2) + Hex32(e.Padding3) + " '" + std::string(e.RecName, strnlen(e.RecName, 128)) + "'";
    // Bytes behind the name's end are part of the file too.
    const size_t len = strnlen(e.RecName, 128);
    if (std::count(e.RecName + len, e.RecName + 128, '\0') != static_cast<long>(128 - len)) out += " +junk";
    out += "\n";
  }
  return out;
}

std::string Listing(const Disk &d, const std::string &folder) {
  std::set<std::string> names;
  if (fs::exists(d.root + folder))
    for (auto &e : fs::directory_iterator(d.root + folder)) names.insert(e.path().filename().string());
  std::string out = folder + ":";
  for (const std::string &n : names) out += " " + n;
  return out + "\n";
}

TEST(SameResults, DatabaseAndLogOfScanAndRecoveryAreAsRecorded) {
  const fs::path root = fs::temp_directory_path() / ("quarrow-same-" + std::to_string(getpid()));
  fs::remove_all(root);
  Disk d = Generate(root.string());
  Tapsim t;
  if (const char *other = std::getenv("QUARROW_SAME_RESULTS_MODULE")) t.module = other;
  t.disk = root.string();
  t.console = (root / "console.txt").string();
  const std::string settings = "/ProgramFiles/Settings/Zorvane";

  std::string report;
  // A later start: intake check at tick 100 (nothing there), first scan at 4000.
  ASSERT_EQ(t.Start("600", 4100).status, 0);
  report += "== after the first scan\n" + DumpDatabase(d, ReadFile(d.root + settings + "/Quarrow.db"));
  Orphan(d);
  // Intake and recovery at tick 100, then the scan again with nothing new.
  ASSERT_EQ(t.Start("600", 4100).status, 0);
  report += "== after the recovery and the next scan\n" +
            DumpDatabase(d, ReadFile(d.root + settings + "/Quarrow.db"));
  report += Listing(d, settings) + Listing(d, "/DataFiles/Zorvane") + Listing(d, "/Quarrow");
  report += "== log\n" + ReadFile(d.root + settings + "/Quarrow.log");

  const std::string expected = std::string(SOURCE_DIR) + "/tests/e2e/expected/same_results.txt";
  if (std::getenv("QUARROW_UPDATE_EXPECTED") != nullptr) WriteFile(expected, report);
  const std::string want = ReadFile(expected);
  EXPECT_EQ(report, want);
  if (report != want) WriteFile((fs::path(TAPSIM_PATH).parent_path() / "same_results.actual.txt").string(), report);
  fs::remove_all(root);
}

}  // namespace
