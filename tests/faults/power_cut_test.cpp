// Power cuts that lose the disk's cache, at every change a load makes to the disk: the
// first scan with its first save, and a later load that takes 20 orphaned recordings with
// their companions in, recovers them, writes the settings twice and refreshes the saved
// database. At each cut the cache loses what a real cut may: all unsynced data, or that
// data torn, or the unsynced name changes of every folder or of one folder. One clean
// start later every file is on the disk byte for byte under its name, Quarrow.db loads
// and holds every fingerprint it held before, and Quarrow.ini keeps every line. The same
// with RestoreFolders=1 and the recordings in folders two deep: every file back in its own
// folder, none left in /DataFiles/Zorvane.
//
// By default a sample of the cut points is tried (a third, a fifteenth in every variant);
// QUARROW_SWEEP=full tries every cut point in every variant and prints the counts.
#include <cstring>

#include "scenario.h"
#include "tests/common/dbfile.h"

namespace {

using namespace scenario;

constexpr const char *kIniText[2] = {"; kept by the user\r\nInformUser=0\r\nOther=keep me\r\n",
                                      "; kept by the user\r\nInformUser=0\r\nRestoreFolders=1\r\nOther=keep me\r\n"};

std::set<std::pair<uint64_t, uint32_t>> Fingerprints(const Disk &disk) {
  const std::string db = std::string(kSettings) + "/Quarrow.db";
  return disk.Exists(db) ? testdb::Identities(disk.Read(db)) : std::set<std::pair<uint64_t, uint32_t>>();
}

// 20 recordings with both companions, 3 with one or none, in /DataFiles and a sub-folder;
// with `folders` in three folders, two of them two deep.
Layout CutLayout(bool folders) {
  Layout l;
  uint32_t seed = 100;
  static const char *const kFolder[2][3] = {{"/DataFiles/Serien/", "/DataFiles/", "/DataFiles/"},
                                             {"/DataFiles/Serien/", "/DataFiles/Filme/Krimi/", "/DataFiles/Filme/Natur/"}};
  for (int i = 0; i < 23; ++i) {
    const std::string rec = std::string(kFolder[folders ? 1 : 0][i % 3]) + "Folge " + std::to_string(i) + ".rec";
    l.files[rec] = Content(2000 + 37 * i, seed++);
    if (i < 21) l.files[rec + ".inf"] = Content(300 + i, seed++);
    if (i < 20 || i == 22) l.files[rec + ".nav"] = Content(500 + i, seed++);
    l.orphaned.push_back(rec);
    if (i < 21) l.orphaned.push_back(rec + ".inf");
    if (i < 20 || i == 22) l.orphaned.push_back(rec + ".nav");
  }
  l.unrelated = Content(64, 999);
  l.allComeBack = true;
  return l;
}

using testfiles::CopyDisk;

// The load of `phase`: 1 the first load (its scan saves the database anew), 2 the load that
// recovers, is acknowledged and scans again (a refresh that replaces Quarrow.db).
void RunPhase(int phase) {
  Start();
  Idle(101);
  if (phase == 2) {
    sim::set_tick(150);
    TAP_EventHandler(EVT_KEY, kOk, 0);
    Idle(3300);
  }
  Idle(4001);
}

struct Cut {
  int phase;
  uint64_t after;  // changes of the disk made before the power goes
  sim::Loss loss;
  int folder;
};

template <bool kFolders>
class PowerCutOf : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = new Disk;
    work_ = new Disk;
    const Layout layout = CutLayout(kFolders);
    Lay(*base_, layout);
    base_->Write(std::string(kSettings) + "/Quarrow.ini", kIniText[kFolders]);
    // The disk before each phase, and the changes each phase makes.
    before_[1] = base_->base() + "/phase1";
    CopyDisk(base_->root(), before_[1]);
    changes_[1] = Changes(before_[1], 1);
    if (!RunChild(*base_, [] { RunPhase(1); }).empty()) return;
    Orphan(*base_, layout);
    // New recordings: the scan after the recovery adds them, replacing Quarrow.db.
    base_->Write("/DataFiles/Neu.rec", Content(9000, 77));
    base_->Write("/DataFiles/Neu.rec.inf", Content(700, 78));
    before_[2] = base_->base() + "/phase2";
    CopyDisk(base_->root(), before_[2]);
    changes_[2] = Changes(before_[2], 2);
    ready_ = changes_[1] > 0 && changes_[2] > 0;
  }
  static void TearDownTestSuite() {
    delete base_;
    delete work_;
  }

  void SetUp() override { ASSERT_TRUE(ready_) << "the scenario could not be laid out"; }

  // The changes of the disk that the phase makes when nothing fails.
  static uint64_t Changes(const std::string &disk, int phase) {
    work_->Clear();
    CopyDisk(disk, work_->root());
    if (!RunChild(*work_, [phase] {
          RunPhase(phase);
          uint64_t n = 0;
          for (int i = 0; i < sim::CALL_COUNT; ++i)
            if (sim::changes_disk(static_cast<sim::Call>(i))) n += sim::calls(static_cast<sim::Call>(i));
          SharedBlock()->changes = n;
        }).empty())
      return 0;
    return SharedBlock()->changes;
  }

  // One cut, then one clean start; "" when nothing was lost. *folders: how many folders held
  // name changes not yet durable at the cut.
  static std::string Try(const Cut &cut, bool syncs, int *folders) {
    const Layout layout = CutLayout(kFolders);
    CopyDisk(before_[cut.phase], work_->root());
    const auto held = Fingerprints(*work_);
    std::string r = RunChild(*work_, [&] {
      CHILD_CHECK(sim::model_cache(true), "the cache model");
      sim::ignore_syncs(!syncs);
      sim::cut_power_after_changes(cut.after);
      RunPhase(cut.phase);
      SharedBlock()->folders = sim::lose_cache(cut.loss, cut.folder);
    });
    if (folders != nullptr) *folders = SharedBlock()->folders;
    if (!r.empty()) return "cut load: " + r;
    r = RunChild(*work_, [] { RunPhase(2); });
    if (!r.empty()) return "clean start: " + r;
    return Lost(layout, held, cut.phase == 2);
  }

  // What the disk after the clean start lacks.
  static std::string Lost(const Layout &layout, const std::set<std::pair<uint64_t, uint32_t>> &held, bool orphans) {
    const Disk &disk = *work_;
    for (const auto &[path, content] : layout.files) {
      const std::string name = fs::path(path).filename().string();
      const bool orphaned =
          orphans && std::find(layout.orphaned.begin(), layout.orphaned.end(), path) != layout.orphaned.end();
      if (!orphaned || kFolders) {
        if (disk.Read(path) != content) return (orphaned ? "not back in its folder: " : "changed or lost: ") + path;
        continue;
      }
      if (disk.Read(std::string(kZorvane) + "/" + name) == content) continue;
      // A name taken meanwhile: "Folge 1 (2).rec", "Folge 1 (2).rec.inf".
      bool found = false;
      for (int k = 2; k < 5 && !found; ++k) {
        std::string numbered = name;
        numbered.insert(numbered.find(".rec"), " (" + std::to_string(k) + ")");
        found = disk.Read(std::string(kZorvane) + "/" + numbered) == content;
      }
      if (!found) return "not back under its name: " + path;
    }
    std::string e = CheckDatabaseLoads(disk);
    if (!e.empty()) return e;
    const auto now = Fingerprints(disk);
    for (const auto &f : held)
      if (now.count(f) == 0) return "fingerprint lost: inode " + std::to_string(f.first);
    const std::string ini = disk.Read(std::string(kSettings) + "/Quarrow.ini");
    if (ini.find("; kept by the user\r\n") == std::string::npos || ini.find("Other=keep me\r\n") == std::string::npos ||
        (kFolders && ini.find("RestoreFolders=1\r\n") == std::string::npos))
      return "a line of Quarrow.ini is lost";
    // Nothing but the file that belongs to nothing is left there.
    if (kFolders && orphans && disk.Listing(kZorvane) != "#1\n") return "left in the recovery folder: " + disk.Listing(kZorvane);
    return "";
  }

  // Every cut point of the phase (or a sample), each in every variant (or a sample).
  struct Tally {
    size_t runs = 0;
    std::vector<std::string> lost;
  };
  static Tally Sweep(int phase, bool syncs, bool full) {
    Tally t;
    const sim::Loss kLosses[] = {sim::Loss::Data, sim::Loss::Torn, sim::Loss::Names};
    for (uint64_t after = 0; after < changes_[phase]; ++after) {
      int folders = 0;
      // The sample: every third point in one of the three variants (in turn), every
      // fifteenth in all of them and with each folder's changes lost.
      const bool every = full || after % 15 == 0;
      if (!every && after % 3 != 0) continue;
      for (size_t v = 0; v < 3; ++v) {
        if (!every && after / 3 % 3 != v) continue;
        const Cut cut{phase, after, kLosses[v], 0};
        ++t.runs;
        const std::string e = Try(cut, syncs, &folders);
        if (!e.empty())
          t.lost.push_back("cut after change " + std::to_string(after) + ", loss " + std::to_string(v) + ": " + e);
      }
      for (int f = 0; f < folders && every; ++f) {
        ++t.runs;
        const std::string e = Try(Cut{phase, after, sim::Loss::Folder, f}, syncs, nullptr);
        if (!e.empty())
          t.lost.push_back("cut after change " + std::to_string(after) + ", folder " + std::to_string(f) + ": " + e);
      }
    }
    return t;
  }

  static void Expect(int phase) {
    const bool full = std::getenv("QUARROW_SWEEP") != nullptr && std::string(std::getenv("QUARROW_SWEEP")) == "full";
    const Tally t = Sweep(phase, true, full);
    std::printf("%sphase %d: %llu changes, %zu cuts, %zu lost\n", kFolders ? "into folders, " : "", phase,
                static_cast<unsigned long long>(changes_[phase]),
                t.runs, t.lost.size());
    std::string report;
    for (size_t i = 0; i < t.lost.size() && i < 10; ++i) report += t.lost[i] + "\n";
    EXPECT_TRUE(t.lost.empty()) << t.lost.size() << " of " << t.runs << " cuts lost data:\n" << report;
    if (full) {
      const Tally off = Sweep(phase, false, true);
      std::printf("phase %d without the module's syncs: %zu cuts, %zu lost\n", phase, off.runs, off.lost.size());
    }
  }

  static Disk *base_, *work_;
  static std::string before_[3];
  static uint64_t changes_[3];
  static bool ready_;
};

template <bool F>
Disk *PowerCutOf<F>::base_ = nullptr;
template <bool F>
Disk *PowerCutOf<F>::work_ = nullptr;
template <bool F>
std::string PowerCutOf<F>::before_[3];
template <bool F>
uint64_t PowerCutOf<F>::changes_[3] = {};
template <bool F>
bool PowerCutOf<F>::ready_ = false;

using PowerCut = PowerCutOf<false>;
using PowerCutIntoFolders = PowerCutOf<true>;

TEST_F(PowerCut, FirstScanAndItsSave) { Expect(1); }

TEST_F(PowerCut, RecoverySettingsAndRefreshSave) { Expect(2); }

TEST_F(PowerCutIntoFolders, FirstScanAndItsSaves) { Expect(1); }

TEST_F(PowerCutIntoFolders, RecoveryIntoTheFoldersAndRefreshSaves) { Expect(2); }

// The model sees what a cut does: without the module's syncs the same cuts lose data.
TEST_F(PowerCut, WithoutSyncsTheSameCutsLoseData) {
  size_t lost = 0, runs = 0;
  for (uint64_t after = 0; after < changes_[2] && lost == 0; after += 3) {
    for (sim::Loss loss : {sim::Loss::Data, sim::Loss::Names}) {
      ++runs;
      if (!Try(Cut{2, after, loss, 0}, false, nullptr).empty()) ++lost;
    }
  }
  EXPECT_GT(lost, 0u) << "no cut of " << runs << " lost anything without syncs";
}

}  // namespace
