// Power cuts, kills and failing system calls in real processes: tapsim cuts the power after
// a chosen number of changes of the disk and loses the disk's cache as a cut does; or it
// runs under strace, which kills it at a chosen system call (nothing after it happens, but
// what it wrote stays) or makes one call fail with an error. Then one clean start: every recording,
// .inf and .nav must be back under its name, byte-identical, Quarrow.db must hold every
// fingerprint it held before, Quarrow.ini every line it had.
//
// Two phases are cut: a scan that adds to an existing database, and a load that takes in
// /Quarrow, recovers, is acknowledged (two settings writes) and scans again. By default
// a sample of the points is tried; QUARROW_SWEEP=full tries every one and prints the counts,
// QUARROW_SWEEP_CALLS=a,b only those calls.
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "e2e.h"

namespace {

using namespace e2e;

const char *const kWriteSide = testfiles::kWriteSideCalls;
const char *const kAnyFileCall = "openat,read,pread64,write,pwrite64,lseek,newfstatat,fstat,statx,getdents64,"
                                 "rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,ftruncate";
const char *const kErrors[] = {"EIO", "ENOSPC", "EACCES", "ENOENT"};

constexpr const char *kSettingsRel = "/ProgramFiles/Settings/Zorvane";
constexpr const char *kIniText = "; kept by the user\r\nInformUser=0\r\nOther=keep me\r\n";

class CrashSweep : public ::testing::Test {
 protected:
  struct Orphan {
    uint64_t inode;
    std::string name;  // the name it had before the check
    std::string stem;  // its recording's name
    uint64_t recInode; // its recording's file
  };

  static void SetUpTestSuite() {
    if (Shell("command -v strace").status != 0) return;
    const std::string dir = testfiles::MakeTempDir("quarrow-sweep-");
    if (dir.empty()) return;
    root_ = new std::string(dir);
    Build();
  }
  static void TearDownTestSuite() {
    if (root_ == nullptr || std::getenv("QUARROW_SWEEP_KEEP") != nullptr) return;
    std::error_code ec;
    fs::remove_all(*root_, ec);
    delete root_;
    root_ = nullptr;
  }

  void SetUp() override {
    if (root_ == nullptr) GTEST_SKIP() << "strace is not installed: no faults can be injected from outside";
    ASSERT_TRUE(built_) << "the scenario could not be laid out";
  }

  static Tapsim Sim(const std::string &disk) {
    Tapsim t;
    t.disk = disk;
    t.console = disk + ".console";
    return t;
  }

  // Recordings: two of one name in two folders, one without companions; then a scan;
  // then new recordings (the database held before the next scan is the first one's).
  static void Build() {
    const std::string before = *root_ + "/before-scan";
    MakeRecordings(before, {{"Tatort.rec", true, true},
                            {"Krimi am Abend.rec", true, true},
                            {"Serien/Tatort.rec", true, true},
                            {"Serien/Folge 1.rec", false, false}});
    WriteFile(before + kSettingsRel + "/Quarrow.ini", kIniText);
    if (Sim(before).Start("600", 4100).status != 0) return;
    WriteFile(before + "/DataFiles/Neu.rec", Content(9000, 77));
    WriteFile(before + "/DataFiles/Neu.rec.inf", Content(700, 78));

    // The disk that a scan is cut on, then with its scan complete; all three share the
    // recordings' inodes.
    const std::string scanned = *root_ + "/scanned";
    if (!Copy(before, scanned).empty() || Sim(scanned).Start("600", 4100).status != 0) return;

    // The check orphans three recordings with their companions and one unrelated file.
    const std::string orphaned = *root_ + "/orphaned";
    if (!Copy(scanned, orphaned).empty()) return;
    fs::create_directories(orphaned + "/Quarrow");
    for (std::string rec : {"Tatort.rec", "Serien/Tatort.rec", "Neu.rec"}) {
      const uint64_t recInode = Inode(orphaned + "/DataFiles/" + rec);
      for (std::string suffix : {"", ".inf", ".nav"}) {
        const std::string path = orphaned + "/DataFiles/" + rec + suffix;
        if (!fs::exists(path)) continue;
        const uint64_t ino = Inode(path);
        orphans_.push_back({ino, fs::path(rec).filename().string() + suffix, fs::path(rec).filename().string(),
                            recInode});
        fs::rename(path, orphaned + "/Quarrow/#" + std::to_string(ino));
      }
    }
    WriteFile(orphaned + "/Quarrow/#1", "not a recording");
    before_ = before;
    scanned_ = scanned;
    orphaned_ = orphaned;
    built_ = true;
  }

  static std::string Copy(const std::string &from, const std::string &to) { return testfiles::CopyDisk(from, to); }

  static std::string Under(const std::string &inject, const Tapsim &t, uint32_t until, const std::string &extra) {
    return "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e trace=" + inject.substr(0, inject.find(':')) +
           " -e inject=" + inject + " " + t.command + t.Args("600", until, extra) + " >/dev/null";
  }

  // How often each of `calls` is made by the busiest process of one run.
  static std::map<std::string, int> Count(const std::string &calls, const std::string &from, uint32_t until,
                                          const std::string &extra) {
    std::map<std::string, int> counts;
    const std::string disk = *root_ + "/count";
    if (!Copy(from, disk).empty()) return counts;
    Tapsim t = Sim(disk);
    const std::string trace = *root_ + "/trace.txt";
    Shell("strace -f -qq -o " + Quote(trace) + " -e trace=" + calls + " " + t.command + t.Args("600", until, extra));
    std::map<std::pair<std::string, std::string>, int> perProcess;
    std::istringstream lines(ReadFile(trace));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string pid, call;
      words >> pid >> call;
      if (call.empty() || call[0] == '<' || call == "+++" || call == "---") continue;
      call = call.substr(0, call.find('('));
      ++perProcess[{pid, call}];
    }
    for (const auto &[key, n] : perProcess) counts[key.second] = std::max(counts[key.second], n);
    return counts;
  }

  // After the clean start: the names, the contents, the fingerprints and the settings.
  static std::string Check(const std::string &disk, const std::set<std::pair<uint64_t, uint32_t>> &heldBefore) {
    std::map<uint64_t, std::string> inZorvane;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(disk + "/DataFiles/Zorvane", ec))
      inZorvane[Inode(e.path().string())] = e.path().filename().string();
    if (ec) return "no /DataFiles/Zorvane";
    for (const Orphan &o : orphans_) {
      auto it = inZorvane.find(o.inode);
      if (it == inZorvane.end()) return "lost from /DataFiles/Zorvane: " + o.name;
      const std::string &got = it->second;
      // Its own name, or the numbered one of its recording ("Tatort (2).rec.nav").
      const std::string base = o.stem.substr(0, o.stem.rfind('.'));
      const std::string ext = o.stem.substr(o.stem.rfind('.'));
      const std::string suffix = o.name.substr(o.stem.size());
      bool ok = got == o.name;
      for (int k = 2; k < 10 && !ok; ++k) ok = got == base + " (" + std::to_string(k) + ")" + ext + suffix;
      if (!ok) return "'" + o.name + "' is '" + got + "'";
    }
    // Companions carry their own recording's name: no two recordings' files mixed.
    for (const Orphan &o : orphans_) {
      if (o.inode == o.recInode) continue;
      const std::string &got = inZorvane[o.inode];
      if (got.substr(0, got.size() - 4) != inZorvane[o.recInode]) return "'" + got + "' pairs with another recording";
    }
    for (const auto &e : fs::recursive_directory_iterator(disk + "/DataFiles", ec)) {
      if (!e.is_regular_file()) continue;
      if (ReadFile(e.path().string()) != ReadFile(OriginalOf(e.path().string(), disk))) return "changed: " + e.path().string();
    }
    if (fs::exists(disk + "/Quarrow") && !fs::is_empty(disk + "/Quarrow")) return "/Quarrow not empty";
    auto held = testdb::Identities(ReadFile(disk + kSettingsRel + "/Quarrow.db"));
    for (const auto &f : heldBefore)
      if (held.count(f) == 0) return "fingerprint lost: inode " + std::to_string(f.first);
    const std::string ini = ReadFile(disk + kSettingsRel + "/Quarrow.ini");
    for (const char *line : {"; kept by the user\r\n", "Other=keep me\r\n"})
      if (ini.find(line) == std::string::npos) return "settings line lost: " + std::string(line);
    return "";
  }

  // The same file in the orphaned snapshot, by inode (the data files are hard links).
  static std::string OriginalOf(const std::string &path, const std::string &) {
    const uint64_t ino = Inode(path);
    std::error_code ec;
    for (const auto &e : fs::recursive_directory_iterator(orphaned_, ec))
      if (Inode(e.path().string()) == ino) return e.path().string();
    return path;
  }

  // The check's work once more on a copy of the disk before it: the same files orphaned.
  static void OrphanAgain(const std::string &disk) {
    fs::create_directories(disk + "/Quarrow");
    for (const Orphan &o : orphans_) {
      for (const auto &e : fs::recursive_directory_iterator(disk + "/DataFiles"))
        if (Inode(e.path().string()) == o.inode) {
          fs::rename(e.path(), disk + "/Quarrow/#" + std::to_string(o.inode));
          break;
        }
    }
    WriteFile(disk + "/Quarrow/#1", "not a recording");
  }

  struct Phase {
    std::string from;      // the disk the faulted run starts on
    uint32_t until;        // how far the faulted run goes
    std::string extra;     // its keys
    bool orphanAfter;      // the follow-up must orphan first (the scan phase)
  };

  // One fault (a strace injection, or with `cut` a tapsim power cut "N:LOSS"), one clean
  // start, the checks; "" when every one held.
  static std::string RunPoint(const Phase &p, const std::string &inject, bool cut = false, std::string *said = nullptr) {
    const std::string disk = *root_ + "/point";
    std::string r = Copy(p.from, disk);
    if (!r.empty()) return r;
    const auto heldBefore = testdb::Identities(ReadFile(disk + kSettingsRel + "/Quarrow.db"));
    Tapsim t = Sim(disk);
    if (cut) {
      Result run = t.Start("600", p.until, p.extra + " --power-cut " + inject);
      if (said != nullptr) *said = run.output;
      if (run.status != 0) return "the cut run failed: " + run.output;
    } else {
      Shell(Under(inject, t, p.until, p.extra));
    }
    if (p.orphanAfter) {
      // The scan's follow-up start completes it; then the check orphans as before, and
      // the next start recovers.
      if (t.Start("600", 4100).status != 0) return "follow-up scan failed";
      OrphanAgain(disk);
    }
    Result follow = t.Start("600", 4100, "--key 0x1001E@150");
    if (follow.status != 0) return "follow-up start failed: " + follow.output;
    return Check(disk, heldBefore);
  }

  // Every point of `calls` in `phase`, each with `action`, or every `sample`-th.
  static void Sweep(const Phase &phase, const std::string &calls, const std::string &action, int sample,
                    int *tried, std::vector<std::string> *failures) {
    const bool full = std::getenv("QUARROW_SWEEP") != nullptr && std::string(std::getenv("QUARROW_SWEEP")) == "full";
    const int step = full ? 1 : sample;
    // QUARROW_SWEEP_CALLS=a,b narrows a sweep to those calls, to chase one failure.
    const char *only = std::getenv("QUARROW_SWEEP_CALLS");
    int index = 0;
    for (const auto &[call, n] : Count(only != nullptr ? only : calls, phase.from, phase.until, phase.extra)) {
      for (int when = 1; when <= n; ++when) {
        if (index++ % step != 0) continue;
        ++*tried;
        const std::string inject = call + ":" + action + ":when=" + std::to_string(when);
        std::string r = RunPoint(phase, inject);
        if (!r.empty()) failures->push_back((phase.orphanAfter ? "scan, " : "recovery, ") + inject + ": " + r);
      }
    }
  }

  static void Report(const char *what, int tried, const std::vector<std::string> &failures) {
    std::printf("%s: %d fault points tried, %zu with a name, file, fingerprint or setting not back\n", what, tried,
                failures.size());
    std::string text;
    for (size_t i = 0; i < failures.size() && i < 12; ++i) text += failures[i] + "\n";
    EXPECT_TRUE(failures.empty()) << text;
  }

  Phase ScanPhase() const { return {before_, 4100, "", true}; }
  Phase RecoveryPhase() const { return {orphaned_, 4100, "--key 0x1001E@150", false}; }

  static std::string *root_;
  static bool built_;
  static std::string before_, scanned_, orphaned_;
  static std::vector<Orphan> orphans_;
};

std::string *CrashSweep::root_ = nullptr;
bool CrashSweep::built_ = false;
std::string CrashSweep::before_, CrashSweep::scanned_, CrashSweep::orphaned_;
std::vector<CrashSweep::Orphan> CrashSweep::orphans_;

TEST_F(CrashSweep, WithoutAFaultEveryNameComesBack) {
  EXPECT_EQ(RunPoint(RecoveryPhase(), "getpid:retval=1:when=1"), "");
  // Both recordings named Tatort.rec are back, one of them numbered, each with its pair.
  const std::string z = *root_ + "/point/DataFiles/Zorvane/";
  EXPECT_TRUE(fs::exists(z + "Tatort.rec.nav")) << z;
  EXPECT_TRUE(fs::exists(z + "Tatort (2).rec.nav")) << z;
}

TEST_F(CrashSweep, AProcessKilledInTheMiddleOfARecoveryFinishesItAtTheNextStart) {
  // Killed at the second move out of /Quarrow, and at the second rename back (after the
  // two renames of the settings write and the one that puts the recovery list in place).
  for (const char *kill : {"rename:signal=KILL:when=2", "renameat2:signal=KILL:when=5"}) {
    SCOPED_TRACE(kill);
    const std::string disk = *root_ + "/killed";
    ASSERT_EQ(Copy(orphaned_, disk), "");
    Tapsim t = Sim(disk);
    Result killed = Shell(Under(kill, t, 4100, "--key 0x1001E@150"));
    ASSERT_NE(killed.status, 0) << killed.output;
    ASSERT_TRUE(fs::exists(disk + kSettingsRel + "/Quarrow.pending"));
    ASSERT_TRUE(fs::exists(disk + "/DataFiles/Zorvane"));
    int numbered = 0;  // files still under the check's names
    for (const auto &e : fs::directory_iterator(disk + "/DataFiles/Zorvane"))
      numbered += e.path().filename().string()[0] == '#';
    for (const auto &e : fs::directory_iterator(disk + "/Quarrow")) numbered += e.path().filename().string()[0] == '#';
    ASSERT_GT(numbered, 2) << "the kill came after the recovery";

    Result r = t.Start("600", 4100, "--key 0x1001E@150");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Check(disk, testdb::Identities(ReadFile(orphaned_ + kSettingsRel + "/Quarrow.db"))), "");
    EXPECT_FALSE(fs::exists(disk + kSettingsRel + "/Quarrow.pending"));
  }
}

// Every behaviour the plug-in API leaves to the host, one at a time and all at once: the
// scan, the intake and the recovery give the same result, never overwrite, never walk
// outside /DataFiles, and log no false success or failure.
TEST_F(CrashSweep, EveryHostProfileGivesEveryNameBack) {
  // The names from the simulator's own table, which an unknown name makes tapsim list.
  Result unknown = Shell(Sim("").command + " --host nonsense --disk /tmp x.so");
  EXPECT_EQ(unknown.status, 2);
  const size_t known = unknown.output.find("(known: ");
  ASSERT_NE(known, std::string::npos) << unknown.output;
  std::vector<std::string> profiles;
  std::istringstream names(unknown.output.substr(known + 8, unknown.output.find(')', known) - known - 8));
  for (std::string name; std::getline(names, name, ',');) profiles.push_back(name);
  EXPECT_GE(profiles.size(), 8u);
  for (const std::string &profile : profiles) {
    SCOPED_TRACE(profile);
    const std::string disk = *root_ + "/host";
    ASSERT_EQ(Copy(before_, disk), "");
    WriteFile(disk + "/ProgramFiles/Outside.rec", "not under /DataFiles");
    const auto heldBefore = testdb::Identities(ReadFile(disk + kSettingsRel + "/Quarrow.db"));
    Tapsim t = Sim(disk);
    Result scan = t.Start("600", 4100, "--host " + profile);
    ASSERT_EQ(scan.status, 0) << scan.output;
    OrphanAgain(disk);
    // A name the recovery will want is taken by a file of the user's.
    WriteFile(disk + "/DataFiles/Zorvane/Neu.rec", "the user's own file");
    Result recover = t.Start("600", 4100, "--host " + profile + " --key 0x1001E@150");
    ASSERT_EQ(recover.status, 0) << recover.output;
    EXPECT_EQ(ReadFile(disk + "/DataFiles/Zorvane/Neu.rec"), "the user's own file");
    fs::remove(disk + "/DataFiles/Zorvane/Neu.rec");
    fs::rename(disk + "/DataFiles/Zorvane/Neu (2).rec", disk + "/DataFiles/Zorvane/Neu.rec");
    fs::rename(disk + "/DataFiles/Zorvane/Neu (2).rec.inf", disk + "/DataFiles/Zorvane/Neu.rec.inf");
    EXPECT_EQ(Check(disk, heldBefore), "");
    const std::string log = ReadFile(disk + kSettingsRel + "/Quarrow.log");
    EXPECT_EQ(log.find("failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("Outside.rec"), std::string::npos) << log;
    size_t recovered = 0;
    for (size_t at = log.find("recovered '"); at != std::string::npos; at = log.find("recovered '", at + 1)) ++recovered;
    EXPECT_EQ(recovered, orphans_.size()) << log;
  }
}

TEST_F(CrashSweep, KilledAtEveryWriteSideCall) {
  int tried = 0;
  std::vector<std::string> failures;
  Sweep(ScanPhase(), kWriteSide, "signal=KILL", 3, &tried, &failures);
  Sweep(RecoveryPhase(), kWriteSide, "signal=KILL", 3, &tried, &failures);
  Report("killed", tried, failures);
}

// The power cut after every change of the disk, the cache lost as a cut loses it: each
// point in one variant (every third point in all, with every folder's changes lost in
// turn), all of them with QUARROW_SWEEP=full.
TEST_F(CrashSweep, PowerCutAfterEveryChangeLosesTheCache) {
  const bool full = std::getenv("QUARROW_SWEEP") != nullptr && std::string(std::getenv("QUARROW_SWEEP")) == "full";
  const char *const kLosses[] = {"data", "torn", "names"};
  int tried = 0;
  std::vector<std::string> failures;
  for (const Phase &phase : {ScanPhase(), RecoveryPhase()}) {
    for (int n = 0;; ++n) {
      std::string said;
      int folders = 0;
      for (int v = 0; v < 3; ++v) {
        if (!full && n % 3 != 0 && n % 3 != v) continue;
        const std::string spec = std::to_string(n) + ":" + kLosses[v];
        ++tried;
        const std::string r = RunPoint(phase, spec, true, &said);
        if (!r.empty()) failures.push_back(spec + ": " + r);
        const size_t at = said.find("power cut: taken, ");
        if (at != std::string::npos) folders = std::atoi(said.c_str() + at + 18);
      }
      if (said.find("never reached") != std::string::npos) break;
      for (int f = 0; f < folders && (full || n % 3 == 0); ++f) {
        const std::string spec = std::to_string(n) + ":folder:" + std::to_string(f);
        ++tried;
        const std::string r = RunPoint(phase, spec, true);
        if (!r.empty()) failures.push_back(spec + ": " + r);
      }
    }
  }
  Report("power cut", tried, failures);
}

TEST_F(CrashSweep, OneFailingCallAtEveryPoint) {
  int tried = 0;
  std::vector<std::string> failures;
  for (const char *error : kErrors) {
    Sweep(ScanPhase(), kAnyFileCall, std::string("error=") + error, 37, &tried, &failures);
    Sweep(RecoveryPhase(), kAnyFileCall, std::string("error=") + error, 37, &tried, &failures);
  }
  Report("failing call", tried, failures);
}

}  // namespace
