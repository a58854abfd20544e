// The scenario once for every allocation, every file operation and every write of both
// loads, each failing in turn: no crash, no hang, nothing kept, nothing lost, and the
// database file always loads.
#include <chrono>
#include <ostream>

#include "scenario.h"

namespace sim {
// Test names and messages show the operation by name.
inline void PrintTo(FileOp op, std::ostream *out) { *out << scenario::OpName(op); }
}  // namespace sim

namespace {

using namespace scenario;

class FaultSweep : public ::testing::Test {
 protected:
  // The scenario without faults, measured: allocations, file operations and writes of
  // each load.
  void SetUp() override {
    Outcome o = RunScenario(disk_, layout_, Fault{}, true);
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
      for (uint64_t k = 1; k <= base_.allocs[load]; ++k) {
        Fault f;
        f.kind = Fault::Alloc;
        f.load = load;
        f.nth = k;
        f.onwards = onwards;
        faults.emplace_back("load " + std::to_string(load) + (onwards ? ", allocations from " : ", allocation ") +
                                std::to_string(k),
                            f);
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
  EXPECT_GT(base_.allocs[1] + base_.allocs[2], 0u);
  EXPECT_GT(base_.writesAt[2], base_.writesAt[1]);
}

TEST_F(FaultSweep, EveryAllocationFails) { Sweep(AllocationFaults(false)); }

TEST_F(FaultSweep, AllocationsFailFromSomePointOn) { Sweep(AllocationFaults(true)); }

class FileOpSweep : public FaultSweep, public ::testing::WithParamInterface<sim::FileOp> {};

// Once with one failing call, once with two in a row: the folder change retries in
// UTF-8, and a replace puts the old file back with a second rename.
void AddFileOpFaults(const Shared &base, sim::FileOp op, int repeat, std::vector<std::pair<std::string, Fault>> *out) {
  const int index = static_cast<int>(op);
  for (int load = 1; load <= 2; ++load) {
    for (uint64_t k = 1; k <= base.ops[load][index]; ++k) {
      Fault f;
      f.kind = Fault::FileOpAt;
      f.load = load;
      f.op = op;
      f.nth = k;
      f.repeat = repeat;
      out->emplace_back("load " + std::to_string(load) + ", " + OpName(op) + " " + std::to_string(k) +
                            (repeat > 1 ? " and the next" : ""),
                        f);
    }
  }
}

TEST_P(FileOpSweep, EveryCallFails) {
  const sim::FileOp op = GetParam();
  std::vector<std::pair<std::string, Fault>> faults;
  AddFileOpFaults(base_, op, 1, &faults);
  AddFileOpFaults(base_, op, 2, &faults);
  ASSERT_FALSE(faults.empty()) << "the scenario makes no " << OpName(op) << " call";
  Sweep(faults);
}

INSTANTIATE_TEST_SUITE_P(Ops, FileOpSweep, ::testing::ValuesIn(kAllOps),
                         [](const ::testing::TestParamInfo<sim::FileOp> &info) { return OpName(info.param); });

// A power cut in the middle of every write, and right before it: nothing more reaches
// the disk during that load; the next load starts with a working disk.
TEST_F(FaultSweep, EveryWriteIsCutOff) {
  std::vector<std::pair<std::string, Fault>> faults;
  for (int load = 1; load <= 2; ++load) {
    const uint32_t first = load == 1 ? 0 : base_.writesAt[1];
    long long offset = 0;
    for (uint32_t i = first; i < base_.writesAt[load] && i < 8192; ++i) {
      const uint32_t size = base_.writeSizes[i];
      for (long long cut : {offset, offset + size / 2}) {
        Fault f;
        f.kind = Fault::WriteBudget;
        f.load = load;
        f.budget = cut;
        faults.emplace_back("load " + std::to_string(load) + ", write " + std::to_string(i - first + 1) +
                                " cut after " + std::to_string(cut) + " bytes",
                            f);
        if (size / 2 == 0) break;
      }
      offset += size;
    }
  }
  Sweep(faults);
}

}  // namespace
