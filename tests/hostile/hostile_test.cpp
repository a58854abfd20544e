// Hostile names and shapes on the disk: names made to reach a shell or a format string,
// names at the length limits and in no encoding, links that leave the disk or loop,
// recordings that are folders or empty, and very large folders. The module must finish
// every step, keep every file, and touch nothing outside the disk.
#include <chrono>

#include "../faults/scenario.h"

namespace {

using namespace scenario;

// A folder outside the disk that nothing may change: its entries and their contents.
class Sentinel {
 public:
  explicit Sentinel(const std::string &path) : path_(path) {
    fs::create_directories(path_ + "/inner");
    std::ofstream(path_ + "/keep.rec", std::ios::binary) << Content(4242, 100);
    std::ofstream(path_ + "/inner/keep.txt", std::ios::binary) << "outside the disk";
    before_ = Snapshot();
  }
  const std::string &path() const { return path_; }
  bool Untouched() const { return Snapshot() == before_; }

 private:
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      std::ifstream in(it->path(), std::ios::binary);
      out[it->path().string()] = it->is_regular_file() ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
    }
    return out;
  }
  std::string path_;
  std::map<std::string, std::string> before_;
};

// The names of the database file's entries in use, read from the file itself.
std::vector<std::string> DatabaseNames(const Disk &disk) {
  std::string db = disk.Read(std::string(kSettings) + "/Quarrow.db");
  std::vector<std::string> names;
  if (db.size() < 12) return names;
  int32_t count;
  std::memcpy(&count, db.data() + 8, 4);
  for (int32_t i = 0; i < count && 12 + 176 * static_cast<size_t>(i + 1) <= db.size(); ++i)
    names.emplace_back(db.c_str() + 12 + 176 * i + 48);
  return names;
}

bool Contains(const std::vector<std::string> &v, const std::string &s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    // The shell runs in the test's working folder: a command smuggled in by a name
    // would create its files here.
    cwd_ = disk_.root_ + "/cwd";
    fs::create_directories(cwd_);
    old_ = fs::current_path();
    fs::current_path(cwd_);
  }
  void TearDown() override { fs::current_path(old_); }

  bool NothingCreatedBy(const std::vector<std::string> &names) const {
    for (const std::string &n : names) {
      if (fs::exists(cwd_ + "/" + n) || fs::exists(disk_.DiskDir() + "/" + n) || fs::exists(disk_.root_ + "/" + n))
        return false;
    }
    return true;
  }

  Disk disk_;
  Sentinel sentinel_{disk_.root_ + "/sentinel"};
  std::string cwd_;
  fs::path old_;
};

const std::string kN127 = std::string(123, 'L') + ".rec";
const std::string kN128 = std::string(124, 'M') + ".rec";
const std::vector<std::string> kNames = {
    "with blank.rec", "it's.rec",      "say \"hi\".rec", "$(touch x).rec", "`touch y`.rec",
    "a;touch z.rec",  "new\nline.rec", "%s%n%s%n.rec",   ".hidden.rec",    "-rf.rec",
    "--help.rec",     "\xff\xfe\xe9 latin.rec",           kN127,            kN128,
    "Fr\xfc" "h/st\xfc" "ck.rec",
};
// Names the file-system check would never give, put straight into the recovery folder.
const std::vector<std::string> kQuarrowNames = {"$(touch q1)", "`touch q2`", "-rf", "; touch q3", "a\nb",
                                                "%n%n%n%n",    "--",         "* ?"};

// Every hostile name as an orphaned recording, with companions where the name leaves room.
Layout HostileNameLayout() {
  Layout l;
  uint32_t seed = 10;
  for (const std::string &n : kNames) {
    l.files["/DataFiles/" + n] = Content(seed++, 600);
    if (n != kN128) {
      l.files["/DataFiles/" + n + ".inf"] = Content(seed++, 300);
      l.files["/DataFiles/" + n + ".nav"] = Content(seed++, 300);
    }
    l.orphaned.push_back("/DataFiles/" + n);
  }
  l.unrelated = Content(7, 50);
  return l;
}

void WriteHostileQuarrowNames(const Disk &d) {
  for (size_t i = 0; i < kQuarrowNames.size(); ++i)
    d.Write("/Quarrow/" + kQuarrowNames[i], Content(static_cast<uint32_t>(900 + i), 40));
}

TEST_F(Hostile, NamesMadeForTheShellAndFormatStringsAreOnlyNames) {
  const std::string &n127 = kN127, &n128 = kN128;
  const std::vector<std::string> &names = kNames;
  const std::vector<std::string> &quarrowNames = kQuarrowNames;
  ASSERT_EQ(n127.size(), 127u);
  Layout l = HostileNameLayout();
  Outcome o = RunScenario(disk_, l, Fault{}, {}, WriteHostileQuarrowNames);
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.boxShown, 1);
  EXPECT_TRUE(NothingCreatedBy({"x", "y", "z", "q1", "q2", "q3"}));
  EXPECT_TRUE(sentinel_.Untouched());

  // Every recording whose name the host lists (up to 127 bytes) is back under its name;
  // a longer name never made it into the database, so that one stays as it was moved.
  for (const std::string &n : names) {
    const std::string back = std::string(kZorvane) + "/" + fs::path(n).filename().string();
    if (n == n128) {
      EXPECT_FALSE(disk_.Exists(back));
      continue;
    }
    EXPECT_EQ(disk_.Read(back), l.files.at("/DataFiles/" + n)) << n;
  }
  for (size_t i = 0; i < quarrowNames.size(); ++i)
    EXPECT_EQ(disk_.Read(std::string(kZorvane) + "/" + quarrowNames[i]), Content(static_cast<uint32_t>(900 + i), 40)) << quarrowNames[i];
  // The names reach the log as text.
  EXPECT_EQ(disk_.LogCount("to '%s%n%s%n.rec'"), 1);
  EXPECT_EQ(disk_.LogCount("to '$(touch x).rec'"), 1);
  EXPECT_FALSE(Contains(DatabaseNames(disk_), n128));
  EXPECT_TRUE(Contains(DatabaseNames(disk_), n127));
  EXPECT_TRUE(Contains(DatabaseNames(disk_), "st\xfc" "ck.rec"));
}

// The same names while a rename, an open or an allocation fails in turn.
TEST_F(Hostile, HostileNamesWhileCallsFail) {
  const Layout l = HostileNameLayout();
  Outcome base = RunScenario(disk_, l, Fault{}, {}, WriteHostileQuarrowNames);
  ASSERT_EQ(base.error, "");
  const Shared counts = *SharedBlock();
  std::vector<std::string> failures;
  int runs = 0;
  for (int load = 1; load <= 2; ++load) {
    for (int kind = 0; kind < 3; ++kind) {
      const sim::Call call = kind == 0   ? sim::Call::TAP_MemAlloc
                             : kind == 1 ? sim::Call::TAP_Hdd_Rename
                                         : sim::Call::TAP_Hdd_Fopen;
      for (uint64_t k = 1; k <= counts.calls[load][static_cast<int>(call)]; ++k) {
        Fault f;
        f.load = load;
        f.nth = k;
        f.call = call;
        Outcome o = RunScenario(disk_, l, f, {}, WriteHostileQuarrowNames);
        ++runs;
        if (!o.error.empty())
          failures.push_back("load " + std::to_string(load) + " kind " + std::to_string(kind) + " call " +
                             std::to_string(k) + ": " + o.error);
      }
    }
  }
  EXPECT_GT(runs, 40);
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << runs << " runs failed, first: " << failures[0];
  EXPECT_TRUE(NothingCreatedBy({"x", "y", "z", "q1", "q2", "q3"}));
  EXPECT_TRUE(sentinel_.Untouched());
}

// Folders nested until their paths no longer fit the module's 512-byte buffers, and
// beyond the 200 bytes of a saved folder: the scan takes what fits (a recording's path
// with room for ".inf"), skips the rest, and the database is still saved.
TEST_F(Hostile, FolderPathsLongerThanEveryBuffer) {
  Layout l;
  std::string folder = "/DataFiles";
  for (int level = 1; level <= 5; ++level) {
    folder += "/" + std::string(120, static_cast<char>('a' + level));
    l.files[folder + "/r" + std::to_string(level) + ".rec"] = Content(static_cast<uint32_t>(300 + level), 64);
  }
  Outcome o = RunScenario(disk_, l, Fault{});
  ASSERT_EQ(o.error, "");
  const std::vector<std::string> db = DatabaseNames(disk_);
  // /mnt/hd/DataFiles + 3 x 121 + /r3.rec: 387 bytes; the fourth level needs 508 of 508.
  for (int level = 1; level <= 3; ++level) EXPECT_TRUE(Contains(db, "r" + std::to_string(level) + ".rec")) << level;
  EXPECT_FALSE(Contains(db, "r4.rec"));
  EXPECT_FALSE(Contains(db, "r5.rec"));
}

TEST_F(Hostile, LinksOutOfTheDiskAndInLoopsAreNeverFollowed) {
  Layout l = StandardLayout();
  const std::string out = sentinel_.path();
  Outcome o = RunScenario(
      disk_, l, Fault{},
      [&](const Disk &d) {
        fs::create_directory_symlink(out, d.Real("/DataFiles/outside"));
        fs::create_symlink(out + "/keep.rec", d.Real("/DataFiles/linked.rec"));
        fs::create_directory_symlink(d.Real("/DataFiles/loop2"), d.Real("/DataFiles/loop1"));
        fs::create_directory_symlink(d.Real("/DataFiles/loop1"), d.Real("/DataFiles/loop2"));
        fs::create_directory_symlink(d.Real("/DataFiles"), d.Real("/DataFiles/Serien/up"));
        fs::create_directory_symlink(".", d.Real("/DataFiles/self"));
      },
      [&](const Disk &d) {
        fs::create_directory_symlink(out, d.Real("/Quarrow/#77"));
        fs::create_symlink(out + "/keep.rec", d.Real("/Quarrow/#78"));
        fs::create_symlink(d.Real("/Quarrow/#80"), d.Real("/Quarrow/#79"));
        fs::create_symlink(d.Real("/Quarrow/#79"), d.Real("/Quarrow/#80"));
      });
  ASSERT_EQ(o.error, "");
  EXPECT_TRUE(sentinel_.Untouched());
  // The links were moved as links, nothing behind them.
  EXPECT_TRUE(fs::is_symlink(disk_.Real(std::string(kZorvane) + "/#77")));
  EXPECT_TRUE(fs::is_symlink(disk_.Real(std::string(kZorvane) + "/#79")));
  // Nothing behind a link was fingerprinted.
  EXPECT_FALSE(Contains(DatabaseNames(disk_), "keep.rec"));
  EXPECT_FALSE(Contains(DatabaseNames(disk_), "linked.rec"));
  EXPECT_EQ(disk_.Read(std::string(kZorvane) + "/Krimi am Abend.rec"), l.files.at("/DataFiles/Krimi am Abend.rec"));
}

// The recovery folder or the data folder replaced by a link that leaves the disk: the
// move must not follow it, and the files stay where they are.
TEST_F(Hostile, ALinkedRecoveryTargetOrSourceIsNotUsed) {
  Layout l = StandardLayout();
  l.allComeBack = false;  // nothing may move into a linked folder
  const std::string out = sentinel_.path();
  Outcome o = RunScenario(disk_, l, Fault{}, {}, [&](const Disk &d) {
    fs::create_directory_symlink(out, d.Real(kZorvane));
  });
  ASSERT_EQ(o.error, "");
  EXPECT_TRUE(sentinel_.Untouched());
  EXPECT_TRUE(fs::is_symlink(disk_.Real(kZorvane)));

  // /Quarrow itself a link to a folder outside: nothing is taken in from there.
  Layout none;
  o = RunScenario(disk_, none, Fault{}, {}, [&](const Disk &d) {
    fs::remove_all(d.Real("/Quarrow"));
    fs::create_directory_symlink(out, d.Real("/Quarrow"));
  });
  ASSERT_EQ(o.error, "");
  EXPECT_TRUE(sentinel_.Untouched());
  EXPECT_FALSE(disk_.Exists(std::string(kZorvane) + "/keep.rec"));

  // /DataFiles itself a link out of the disk: the orphans stay where they are.
  o = RunScenario(disk_, none, Fault{}, {}, [&](const Disk &d) {
    d.Write("/Quarrow/#5", Content(5, 40));
    fs::remove_all(d.Real("/DataFiles"));
    fs::create_directory_symlink(out, d.Real("/DataFiles"));
  });
  ASSERT_EQ(o.error, "");
  EXPECT_TRUE(sentinel_.Untouched());
  EXPECT_EQ(disk_.Read("/Quarrow/#5"), Content(5, 40));
  EXPECT_EQ(disk_.LogCount("/DataFiles is not a folder, nothing moved"), 1);
}

TEST_F(Hostile, ARecordingThatIsAFolderAndAnEmptyRecording) {
  Layout l = StandardLayout();
  l.files["/DataFiles/Empty.rec"] = "";
  l.files["/DataFiles/Empty.rec.inf"] = Content(501, 100);
  l.files["/DataFiles/Folder.rec/inside.rec"] = Content(502, 300);
  l.files["/DataFiles/Folder.rec/inside.rec.inf"] = Content(503, 300);
  l.orphaned.push_back("/DataFiles/Empty.rec");
  l.orphaned.push_back("/DataFiles/Empty.rec.inf");
  l.orphaned.push_back("/DataFiles/Folder.rec");  // an orphaned folder
  l.allComeBack = false;  // folders keep the check's names
  Outcome o = RunScenario(disk_, l, Fault{});
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(disk_.Read(std::string(kZorvane) + "/Empty.rec.inf"), l.files.at("/DataFiles/Empty.rec.inf"));
  EXPECT_TRUE(disk_.Exists(std::string(kZorvane) + "/Empty.rec"));
  // The folder was moved as it is and left alone.
  bool folderFound = false;
  for (const auto &e : fs::directory_iterator(disk_.Real(kZorvane)))
    if (e.is_directory() && fs::exists(e.path() / "inside.rec")) folderFound = true;
  EXPECT_TRUE(folderFound);
  EXPECT_TRUE(Contains(DatabaseNames(disk_), "inside.rec"));
  EXPECT_FALSE(Contains(DatabaseNames(disk_), "Folder.rec"));
}

// The scan walks at most 1001 folders: with 1001 it reaches the last one, with 1002 it
// stops before it and says so.
TEST_F(Hostile, OneThousandAndOneFoldersAreScannedTheNextIsNot) {
  for (int folders : {1001, 1002}) {
    SCOPED_TRACE(folders);
    Layout l;
    char last[32];
    std::snprintf(last, sizeof last, "/DataFiles/F%04d", folders - 2);
    l.files[std::string(last) + "/Last.rec"] = Content(77, 100);
    Outcome o = RunScenario(disk_, l, Fault{}, [&](const Disk &d) {
      for (int i = 0; i < folders - 1; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/DataFiles/F%04d", i);
        fs::create_directories(d.Real(name));
      }
    });
    ASSERT_EQ(o.error, "");
    const bool reached = Contains(DatabaseNames(disk_), "Last.rec");
    EXPECT_EQ(reached, folders == 1001);
    // Both loads start with a whole-tree scan.
    EXPECT_EQ(disk_.LogCount("endless loop exit while scanning"), folders == 1001 ? 0 : 2);
    std::printf("%d folders: first scan %.2f s\n", folders, SharedBlock()->seconds[0]);
  }
}

TEST_F(Hostile, FiveThousandRecordingsAndTenThousandOrphans) {
  Layout l;
  for (int i = 0; i < 5000; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/DataFiles/%s/Aufnahme %04d.rec", i % 2 ? "Archiv" : "Neu", i);
    l.files[name] = Content(static_cast<uint32_t>(i + 1000), 32);
  }
  // Half of them come back from the file-system check, among 7,500 files of nothing.
  for (int i = 0; i < 5000; i += 2) {
    char name[64];
    std::snprintf(name, sizeof name, "/DataFiles/Neu/Aufnahme %04d.rec", i);
    l.orphaned.push_back(name);
  }
  l.unrelated.clear();
  Outcome o = RunScenario(disk_, l, Fault{}, {}, [&](const Disk &d) {
    for (int i = 0; i < 7500; ++i) d.Write("/Quarrow/#n" + std::to_string(i), Content(static_cast<uint32_t>(90000 + i), 24));
  });
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(DatabaseNames(disk_).size(), 5000u);
  EXPECT_EQ(disk_.LogCount("found 10000 new files in the Quarrow folder"), 1);
  EXPECT_EQ(disk_.LogCount("recovered '#"), 2500);
  std::printf("5000 recordings: first scan %.2f s; 10000 orphans: intake and recovery %.2f s; "
              "next scan %.2f s\n",
              SharedBlock()->seconds[0], SharedBlock()->seconds[1], SharedBlock()->seconds[2]);
}

}  // namespace
