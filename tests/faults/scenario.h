// The end-to-end scenario, run in-process against the simulated recorder: a first load
// scans /DataFiles into the database; then recordings are orphaned (renamed into
// /Quarrow as #<inode>, next to a file that belongs to nothing); a second load takes
// them in, gives them their names back, shows the box and is acknowledged with OK.
//
// Each load runs in a child process forked from a parent that never ran module code, so
// it starts with the module's globals as a fresh load has them, and a crash, hang or
// failed check of the module ends only that child. The parent checks the disk afterwards.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/quarrow.h"
#include "app/seenfiles.h"
#include "host/frame.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/osd/osd.h"
#include "sim/sim.h"
#include "tests/common/files.h"

// In a coverage build the counters of a child are written at exit, which _exit skips.
#ifdef QUARROW_GCOV_DUMP
extern "C" void __gcov_dump(void);
#endif

namespace scenario {

namespace fs = std::filesystem;

constexpr uint32_t kOk = 0x1001E;
constexpr const char *kSettings = "/ProgramFiles/Settings/Zorvane";
constexpr const char *kZorvane = "/DataFiles/Zorvane";

// What the children report to the parent, in memory shared across fork.
struct Shared {
  uint64_t calls[3][sim::CALL_COUNT];  // per load (1, 2) and call
  uint32_t dbEntries;
  double seconds[3];  // first scan; intake with recovery; the scan after it
  int boxShown;
  int keyResult;
  uint64_t changes;  // a power-cut sweep's: changes of the disk a load made
  int folders;       // folders holding unsynced name changes at a cut
  char message[1024];
};

inline Shared *SharedBlock() {
  static Shared *block = [] {
    void *p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();
    return static_cast<Shared *>(p);
  }();
  return block;
}

// A fault armed in one of the two loads.
// The call's nth call fails, `repeat` in a row (a retry may mask a single one), or every
// one from the nth on (repeat 0); with `powerCut` the power goes in that call, which moves
// nothing or, `halfway`, half of it, and the disk's cache loses `loss` when the load ends.
struct Fault {
  int load = 0;  // 1 or 2; 0 none
  sim::Call call = sim::Call::TAP_MemAlloc;
  uint64_t nth = 0;
  uint64_t repeat = 1;
  bool powerCut = false;
  bool halfway = false;
  sim::Loss loss = sim::Loss::Nothing;
};

inline void FlushCoverage() {
#ifdef QUARROW_GCOV_DUMP
  __gcov_dump();
#endif
}

// A failed check inside a child: message to the parent, exit code 3.
[[noreturn]] inline void ChildFail(const std::string &what) {
  std::snprintf(SharedBlock()->message, sizeof SharedBlock()->message, "%s", what.c_str());
  std::fflush(nullptr);
  FlushCoverage();
  _exit(3);
}
#define CHILD_CHECK(cond, what)                                                  \
  do {                                                                           \
    if (!(cond)) ::scenario::ChildFail(std::string(what) + " [" #cond "]");     \
  } while (0)

// A temporary folder with the disk in it, and room beside it for the test's own files.
class Disk : public testfiles::DiskFiles {
 public:
  Disk() : dir_("quarrow-faults-") {
    disk_ = dir_.path() + "/disk";
    fs::create_directories(disk_);
  }
  const std::string &root() const { return disk_; }
  const std::string &base() const { return dir_.path(); }

  void Clear() {
    std::error_code ec;
    fs::remove_all(disk_, ec);
    fs::create_directories(disk_);
  }

 private:
  testfiles::TempDir dir_;
};

using testfiles::Content;

// Runs `body` in a child with a fresh recorder on `disk`; returns "" when the child ended
// normally, otherwise what went wrong.
inline std::string RunChild(const Disk &disk, const std::function<void()> &body, unsigned timeoutSeconds = 60) {
  Shared *s = SharedBlock();
  s->message[0] = '\0';
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    alarm(timeoutSeconds);
    sim::reset();
    sim::set_console_pts(-1);
    sim::set_disk(disk.root());
    sim::set_clock(2026, 12, 7, 12, 0, 0);
    body();
    std::fflush(nullptr);
    FlushCoverage();
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) return std::string("check failed: ") + s->message;
  if (WIFSIGNALED(status)) {
    if (WTERMSIG(status) == SIGALRM) return "hang: the load did not finish in time";
    return "crash: signal " + std::to_string(WTERMSIG(status));
  }
  return "child exit status " + std::to_string(WEXITSTATUS(status));
}

// After every step that must release what it took. What stays is the scans' record of what
// they read, kept while the module is loaded.
inline void CheckReleased(const char *step) {
  CHILD_CHECK(sim::outstanding_blocks() == static_cast<long>(quarrow::SeenFiles_Blocks()),
              std::string("memory kept after ") + step);
  CHILD_CHECK(sim::open_files() == 0, std::string("file left open after ") + step);
  CHILD_CHECK(TAPDirStackDepth == -1, std::string("folder stack not empty after ") + step);
  CHILD_CHECK(RecDB == nullptr && RecDBEntries == 0, std::string("database held after ") + step);
}

inline uint32_t Idle(uint32_t tick) {
  sim::set_tick(tick);
  return TAP_EventHandler(EVT_IDLE, 0, 0);
}

inline void Arm(const Fault &f, int load) {
  if (f.load != load) return;
  sim::Fault rule = sim::fault(f.call).nth(f.nth);
  if (f.repeat == 0)
    rule.from(f.nth);
  else
    rule.times(f.repeat);
  if (f.powerCut) {
    rule.cuts_power();
    CHILD_CHECK(sim::model_cache(true), "the cache model");
  }
  if (f.halfway) rule.short_transfer();
}

// What the power cut of the load leaves on the disk.
inline void LoseCache(const Fault &f, int load) {
  if (f.load == load && f.powerCut) sim::lose_cache(f.loss);
}

inline void Measure(int load) {
  for (int i = 0; i < sim::CALL_COUNT; ++i) SharedBlock()->calls[load][i] = sim::calls(static_cast<sim::Call>(i));
}

// The seconds an idle event at `tick` takes.
inline double TimedIdle(uint32_t tick) {
  const auto t0 = std::chrono::steady_clock::now();
  Idle(tick);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A load after power-on: the module starts at tick 0, 600 s after boot.
inline void Start() {
  sim::set_uptime_text("600.00");
  sim::set_tick(0);
  CHILD_CHECK(TAP_Main() == 1, "TAP_Main");
  CheckReleased("TAP_Main");
}

// First load, loaded late (intake due after tick 100, scan after 4000): the intake
// finds nothing, the scan builds the database.
inline void FirstLoad(const Fault &fault) {
  Arm(fault, 1);
  Start();
  Idle(101);
  CheckReleased("the intake check");
  SharedBlock()->seconds[0] = TimedIdle(4001);
  CheckReleased("the first scan");
  Measure(1);
  LoseCache(fault, 1);
}

// Second load: the intake moves and renames, the box is shown, OK takes it down; the
// time-out and the next scan follow.
inline void SecondLoad(const Fault &fault) {
  Arm(fault, 2);
  Shared *s = SharedBlock();
  Start();
  s->seconds[1] = TimedIdle(101);
  CheckReleased("the intake");
  s->boxShown = OSDMenuMessageBoxIsVisible() ? 1 : 0;
  sim::set_tick(150);
  s->keyResult = static_cast<int>(TAP_EventHandler(EVT_KEY, kOk, 0));
  CheckReleased("the OK key");
  CHILD_CHECK(!OSDMenuMessageBoxIsVisible(), "box still up after OK");
  Idle(3300);
  s->seconds[2] = TimedIdle(4001);
  CheckReleased("the scan after the intake");
  // The shell only ever gets the two fixed commands: no text from the disk reaches it.
  for (const std::string &c : sim::system_commands())
    CHILD_CHECK(c == "mkdir /mnt/hd/DataFiles/Zorvane", "unexpected shell command: " + c);
  Measure(2);
  LoseCache(fault, 2);
}

// A clean load of the database the run left behind.
inline std::string CheckDatabaseLoads(const Disk &disk) {
  auto damaged = [&] {
    return disk.LogCount("damaged DB") + disk.LogCount("unexpected DB version") + disk.LogCount("failed to load the DB");
  };
  const int damagedBefore = damaged();
  std::string r = RunChild(disk, [] {
    HDD_ChangeDir("/DataFiles");
    RecDB_Load();
    CHILD_CHECK(RecDBEntries >= 0 && RecDBEntries <= RecDBSize, "database header");
    CHILD_CHECK((RecDB == nullptr) == (RecDBSize == 0), "database array");
    for (int32_t i = 0; i < RecDBEntries; ++i)
      CHILD_CHECK(memchr(RecDB[i].RecName, 0, sizeof RecDB[i].RecName) != nullptr, "name not terminated");
    SharedBlock()->dbEntries = static_cast<uint32_t>(RecDBEntries);
    RecDB_Destroy();
    CHILD_CHECK(sim::outstanding_blocks() == 0, "database load kept memory");
  });
  if (!r.empty()) return "database load: " + r;
  if (damaged() != damagedBefore) return "the database left behind does not load cleanly";
  return "";
}

// Every regular file under `hostDir` (recursively), by content.
inline void Collect(const Disk &disk, const std::string &hostDir, std::multimap<std::string, std::string> *out) {
  std::error_code ec;
  if (!fs::exists(disk.Real(hostDir), ec)) return;
  for (auto it = fs::recursive_directory_iterator(disk.Real(hostDir), fs::directory_options::none, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
    out->emplace(testfiles::ReadFile(it->path().string()), it->path().string().substr(disk.root().size()));
  }
}

// The files of the scenario and what the disk must show afterwards.
struct Layout {
  // host path at the start -> content
  std::map<std::string, std::string> files;
  // host paths that are orphaned before the second load
  std::vector<std::string> orphaned;
  std::string unrelated;  // content of the file in /Quarrow that belongs to nothing
  bool allComeBack = false;  // every orphan can be given its name back
  std::string ini;           // Quarrow.ini before the first load ("": none)
  bool intoFolders = false;  // orphans come back where they were, not into /DataFiles/Zorvane

  // Nothing lost: every file of the layout exists under /DataFiles or /Quarrow with its
  // content; a file that carries a recording's, .inf or .nav name in /DataFiles/Zorvane
  // holds that file's content.
  std::string CheckNothingLost(const Disk &disk) const {
    std::multimap<std::string, std::string> present;
    Collect(disk, "/DataFiles", &present);
    Collect(disk, "/Quarrow", &present);
    std::map<std::string, std::string> byName;  // name -> content of the layout
    for (const auto &f : files) {
      if (present.count(f.second) == 0) return "lost: " + f.first;
      byName[fs::path(f.first).filename().string()] = f.second;
    }
    if (!unrelated.empty() && present.count(unrelated) == 0) return "lost: the unrelated file";
    for (const auto &p : present) {
      // A file under a path of the layout holds what the layout put there.
      const auto same = files.find(p.second);
      if (same != files.end() && same->second != p.first) return "wrong name given: " + p.second;
      const fs::path path(p.second);
      if (path.parent_path().string() != kZorvane) continue;
      auto it = byName.find(path.filename().string());
      if (it != byName.end() && it->second != p.first) return "wrong name given: " + p.second;
    }
    return "";
  }
};

// The standard small scenario: two recordings with companions and one without in
// /DataFiles, one with companions in a sub-folder.
inline Layout StandardLayout() {
  Layout l;
  uint32_t seed = 1;
  auto add = [&](const std::string &path, size_t size) { l.files[path] = Content(size, seed++); };
  add("/DataFiles/Krimi am Abend.rec", 3000);
  add("/DataFiles/Krimi am Abend.rec.inf", 400);
  add("/DataFiles/Krimi am Abend.rec.nav", 700);
  add("/DataFiles/Film.rec", 2500);
  add("/DataFiles/Film.rec.inf", 300);
  add("/DataFiles/Nachrichten.rec", 20);
  add("/DataFiles/Serien/Folge 1.rec", 1800);
  add("/DataFiles/Serien/Folge 1.rec.inf", 350);
  add("/DataFiles/Serien/Folge 1.rec.nav", 600);
  l.orphaned = {"/DataFiles/Krimi am Abend.rec", "/DataFiles/Krimi am Abend.rec.inf",
                "/DataFiles/Krimi am Abend.rec.nav", "/DataFiles/Serien/Folge 1.rec",
                "/DataFiles/Serien/Folge 1.rec.nav", "/DataFiles/Nachrichten.rec"};
  l.unrelated = Content(64, 999);
  l.allComeBack = true;
  return l;
}

// The standard scenario with RestoreFolders=1 and its recordings in folders up to two deep.
inline Layout FoldersLayout() {
  Layout l;
  for (const auto &[path, content] : StandardLayout().files) {
    std::string moved = path;
    for (const auto &[from, to] : {std::pair<std::string, std::string>{"/DataFiles/Krimi", "/DataFiles/Krimis/Krimi"},
                                   {"/DataFiles/Film", "/DataFiles/Filme/Film"},
                                   {"/DataFiles/Serien/", "/DataFiles/Serien/Staffel 1/"}})
      if (moved.rfind(from, 0) == 0) moved = to + moved.substr(from.size());
    l.files[moved] = content;
  }
  for (const auto &[path, content] : l.files)
    if (path.find("Film.rec") == std::string::npos) l.orphaned.push_back(path);
  l.unrelated = Content(64, 999);
  l.allComeBack = true;
  l.ini = "InformUser=0\r\nRestoreFolders=1\r\n";
  l.intoFolders = true;
  return l;
}

inline void Lay(const Disk &disk, const Layout &l) {
  for (const auto &f : l.files) disk.Write(f.first, f.second);
  fs::create_directories(disk.Real(kSettings));
  if (!l.ini.empty()) disk.Write(std::string(kSettings) + "/Quarrow.ini", l.ini);
}

// The file-system check's work: orphaned files reappear in /Quarrow as #<inode>.
inline void Orphan(const Disk &disk, const Layout &l) {
  fs::create_directories(disk.Real("/Quarrow"));
  for (const std::string &path : l.orphaned) {
    const uint64_t ino = disk.Inode(path);
    if (ino == 0) continue;
    fs::rename(disk.Real(path), disk.Real("/Quarrow/#" + std::to_string(ino)));
  }
  if (!l.unrelated.empty()) disk.Write("/Quarrow/#1", l.unrelated);
}

struct Outcome {
  std::string error;  // "" when every check held
  int boxShown = 0;
  int keyResult = -1;
};

// One whole run of the scenario with one fault; the parent's checks included.
// `prepare` adds what the layout cannot say (links, folders) before the first load;
// `orphaned` adds to /Quarrow before the second.
using DiskHook = std::function<void(const Disk &)>;
inline Outcome RunScenario(Disk &disk, const Layout &layout, const Fault &fault, const DiskHook &prepare = {},
                           const DiskHook &orphaned = {}) {
  Outcome o;
  disk.Clear();
  Lay(disk, layout);
  if (prepare) prepare(disk);
  std::string r = RunChild(disk, [&] { FirstLoad(fault); });
  if (!r.empty()) {
    o.error = "first load: " + r;
    return o;
  }
  Orphan(disk, layout);
  if (orphaned) orphaned(disk);
  r = RunChild(disk, [&] { SecondLoad(fault); });
  if (!r.empty()) {
    o.error = "second load: " + r;
    return o;
  }
  o.boxShown = SharedBlock()->boxShown;
  o.keyResult = SharedBlock()->keyResult;
  o.error = layout.CheckNothingLost(disk);
  if (o.error.empty()) o.error = CheckDatabaseLoads(disk);
  // A fault in the recovering load leaves nothing undone for good: one clean start later
  // every orphan has its name back. (A fault in the first load may cost the fingerprints
  // that were never saved.)
  if (o.error.empty() && layout.allComeBack && fault.load != 1) {
    r = RunChild(disk, [] {
      Start();
      Idle(101);
      CheckReleased("the follow-up intake");
    });
    if (!r.empty()) o.error = "follow-up load: " + r;
    for (const std::string &path : layout.orphaned) {
      if (!o.error.empty()) break;
      const std::string back =
          layout.intoFolders ? path : std::string(kZorvane) + "/" + fs::path(path).filename().string();
      if (disk.Read(back) != layout.files.at(path)) o.error = "not back after a clean start: " + back;
    }
  }
  return o;
}

}  // namespace scenario
