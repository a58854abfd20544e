// The scenario once for every allocation, every file operation and every write of both
// loads, each failing in turn: no crash, no hang, nothing kept, nothing lost, and the
// database file always loads.
#include <chrono>
#include <ostream>

#include "scenario.h"

namespace sim {
// Test names and messages show the call by name.
inline void PrintTo(Call call, std::ostream *out) { *out << call_name(call); }
}  // namespace sim

namespace {

using namespace scenario;

class FaultSweep : public ::testing::Test {
 protected:
  // The scenario without faults, measured: the calls of each load.
  void SetUp() override {
    Outcome o = RunScenario(disk_, layout_, Fault{});
    ASSERT_EQ(o.error, "");
    base_ = *SharedBlock();
  }

  // Runs every fault; reports the failing ones (at most a few, with the fault named).
  void Sweep(const std::vector<std::pair<std::string, Fault>> &faults) {
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> failures;
    for (const auto &f : faults) {
      Outcome o = RunScenario(disk_, layout_, f.second);
      if (!o.error.empty()) failures.push_back(f.first + ": " + o.error);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu runs in %.1f s\n", faults.size(), seconds);
    std::string report;
    for (size_t i = 0; i < failures.size() && i < 15; ++i) report += failures[i] + "\n";
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << faults.size() << " runs failed:\n" << report;
  }

  // The measured allocations of both loads failing one by one, or each `onwards`: that
  // one and every later one.
  std::vector<std::pair<std::string, Fault>> AllocationFaults(bool onwards) const {
    std::vector<std::pair<std::string, Fault>> faults;
    for (int load = 1; load <= 2; ++load) {
      for (uint64_t k = 1; k <= Calls(load, sim::Call::TAP_MemAlloc); ++k) {
        Fault f;
        f.load = load;
        f.nth = k;
        f.repeat = onwards ? 0 : 1;
        faults.emplace_back("load " + std::to_string(load) + (onwards ? ", allocations from " : ", allocation ") +
                                std::to_string(k),
                            f);
      }
    }
    return faults;
  }

  uint64_t Calls(int load, sim::Call call) const { return base_.calls[load][static_cast<int>(call)]; }

  // Every call of `call` in both loads failing in turn: once one call, once two in a row
  // (the folder change retries in UTF-8, and a replace puts the old file back with a
  // second rename).
  std::vector<std::pair<std::string, Fault>> CallFaults(sim::Call call) const {
    std::vector<std::pair<std::string, Fault>> faults;
    for (uint64_t repeat : {1, 2}) {
      for (int load = 1; load <= 2; ++load) {
        for (uint64_t k = 1; k <= Calls(load, call); ++k) {
          Fault f;
          f.load = load;
          f.call = call;
          f.nth = k;
          f.repeat = repeat;
          faults.emplace_back("load " + std::to_string(load) + ", " + sim::call_name(call) + " " +
                                  std::to_string(k) + (repeat > 1 ? " and the next" : ""),
                              f);
        }
      }
    }
    return faults;
  }

  Disk disk_;
  Layout layout_ = StandardLayout();
  Shared base_{};
};

TEST_F(FaultSweep, WithoutFaultsEveryOrphanGetsItsNameBack) {
  Outcome o = RunScenario(disk_, layout_, Fault{});
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.boxShown, 1);
  EXPECT_EQ(o.keyResult, 0);
  for (const std::string &path : layout_.orphaned) {
    std::string name = fs::path(path).filename().string();
    EXPECT_EQ(disk_.Read(std::string(kZorvane) + "/" + name), layout_.files.at(path)) << name;
  }
  EXPECT_EQ(disk_.Read(std::string(kZorvane) + "/#1"), layout_.unrelated);
  EXPECT_TRUE(fs::is_empty(disk_.Real("/Quarrow")));
  EXPECT_EQ(SharedBlock()->dbEntries, 4u);
  EXPECT_EQ(disk_.LogCount("Dialog ack'd by user"), 1);
  // The measurements the sweeps rely on.
  EXPECT_GT(Calls(1, sim::Call::TAP_MemAlloc) + Calls(2, sim::Call::TAP_MemAlloc), 0u);
  EXPECT_GT(Calls(2, sim::Call::TAP_Hdd_Fwrite), 0u);
}

TEST_F(FaultSweep, EveryAllocationFails) { Sweep(AllocationFaults(false)); }

TEST_F(FaultSweep, AllocationsFailFromSomePointOn) { Sweep(AllocationFaults(true)); }

class CallSweep : public FaultSweep, public ::testing::WithParamInterface<sim::Call> {};

// Every call on the disk the scenario makes, each failing in turn.
TEST_P(CallSweep, EveryCallFails) {
  const sim::Call call = GetParam();
  const auto faults = CallFaults(call);
  ASSERT_FALSE(faults.empty()) << "the scenario makes no " << sim::call_name(call) << " call";
  Sweep(faults);
}

std::vector<sim::Call> DiskCalls() {
  std::vector<sim::Call> out;
  for (int i = 0; i < sim::CALL_COUNT; ++i)
    if (sim::on_disk(static_cast<sim::Call>(i))) out.push_back(static_cast<sim::Call>(i));
  return out;
}

INSTANTIATE_TEST_SUITE_P(Calls, CallSweep, ::testing::ValuesIn(DiskCalls()),
                         [](const ::testing::TestParamInfo<sim::Call> &info) { return sim::call_name(info.param); });

// The same with RestoreFolders=1, for the calls that returning files into their folders
// makes, and every allocation: no file lost or misnamed, and a clean start later every
// orphan is back in its folder.
class FolderSweep : public FaultSweep, public ::testing::WithParamInterface<sim::Call> {
 protected:
  FolderSweep() { layout_ = FoldersLayout(); }
};

TEST_P(FolderSweep, EveryCallFails) { Sweep(CallFaults(GetParam())); }

INSTANTIATE_TEST_SUITE_P(Calls, FolderSweep,
                         ::testing::Values(sim::Call::lstat64, sim::Call::rename, sim::Call::fsync,
                                           sim::Call::TAP_Hdd_Exist, sim::Call::TAP_Hdd_ChangeDir,
                                           sim::Call::TAP_Hdd_Fread, sim::Call::TAP_MemAlloc),
                         [](const ::testing::TestParamInfo<sim::Call> &info) { return sim::call_name(info.param); });

// Each sync of both loads failing with EIO, as a failing disk does: nothing is lost (the
// sweep's checks), and the failure is in the log.
TEST_F(FaultSweep, EveryFailingSyncIsLogged) {
  size_t runs = 0;
  for (int load = 1; load <= 2; ++load) {
    for (uint64_t k = 1; k <= Calls(load, sim::Call::fsync); ++k) {
      SCOPED_TRACE("load " + std::to_string(load) + ", sync " + std::to_string(k));
      Fault f;
      f.load = load;
      f.call = sim::Call::fsync;
      f.nth = k;
      Outcome o = RunScenario(disk_, layout_, f);
      EXPECT_EQ(o.error, "");
      EXPECT_GT(disk_.LogCount("failed"), 0);
      ++runs;
    }
  }
  EXPECT_GE(runs, 6u);  // the first save, and the list, the settings and the refresh after it
}

// A power cut right before every write and in its middle: nothing more reaches the disk
// during that load, and the disk's cache loses what a cut does (each point in one of the
// variants, every variant with QUARROW_SWEEP=full); the next load starts with a working disk.
TEST_F(FaultSweep, EveryWriteIsCutOff) {
  const char *sweep = std::getenv("QUARROW_SWEEP");
  const bool full = sweep != nullptr && std::string(sweep) == "full";
  const sim::Loss kLosses[] = {sim::Loss::Nothing, sim::Loss::Data, sim::Loss::Torn, sim::Loss::Names};
  const char *const kLossNames[] = {"nothing", "data", "torn data", "names"};
  std::vector<std::pair<std::string, Fault>> faults;
  for (int load = 1; load <= 2; ++load) {
    for (uint64_t k = 1; k <= Calls(load, sim::Call::TAP_Hdd_Fwrite); ++k) {
      for (int halfway = 0; halfway < 2; ++halfway) {
        for (size_t v = 0; v < 4; ++v) {
          if (!full && v != (2 * k + static_cast<uint64_t>(halfway)) % 4) continue;
          Fault f;
          f.load = load;
          f.call = sim::Call::TAP_Hdd_Fwrite;
          f.nth = k;
          f.powerCut = true;
          f.halfway = halfway != 0;
          f.loss = kLosses[v];
          faults.emplace_back("load " + std::to_string(load) + ", power cut " + (halfway ? "in" : "before") +
                                  " write " + std::to_string(k) + ", losing " + kLossNames[v],
                              f);
        }
      }
    }
  }
  Sweep(faults);
}

}  // namespace
