// A fresh simulated recorder on a temporary disk, file helpers, and the count of disk
// changes that power-cut sweeps step through.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace fs = std::filesystem;

// Calls so far that changed the disk (or would have): the steps a power cut falls between.
inline long DiskChanges() {
  long n = 0;
  for (int i = 0; i < sim::CALL_COUNT; ++i)
    if (sim::changes_disk(static_cast<sim::Call>(i))) n += static_cast<long>(sim::calls(static_cast<sim::Call>(i)));
  return n;
}

class DiskTest : public SimDiskTest {
 protected:
  static constexpr const char *kSettings = "/ProgramFiles/Settings/Zorvane";

  DiskTest() : SimDiskTest("quarrow-db-") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    sim::set_clock(2026, 12, 7, 12, 0, 0);
    sim::set_console_path(root_ + ".console");  // the terminal echo, kept off the test's output
    fs::create_directories(Real(kSettings));
  }
  void TearDown() override {
    sim::clear_faults();
    SimDiskTest::TearDown();
    std::error_code ec;
    fs::remove(root_ + ".console", ec);
  }


  // Every file of the settings folder, for "nothing else changed" checks.
  std::string FolderListing(const std::string &hostPath) const {
    std::string out;
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(Real(hostPath))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto &n : names) out += n + "\n";
    return out;
  }

};
