// A fresh simulated recorder for each test, its disk a new temporary folder that is
// removed again, with everything in it, when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sim/sim.h"
#include "tests/common/files.h"

class SimDiskTest : public ::testing::Test, public testfiles::DiskFiles {
 protected:
  // `tag` names the temporary folder, so that one left behind tells whose it was.
  // The disk is `diskFolder` inside it ("" for the folder itself), leaving room beside
  // the disk for files of the test's own.
  explicit SimDiskTest(const char *tag = "quarrow", const char *diskFolder = "")
      : tag_(tag), diskFolder_(diskFolder) {}

  void SetUp() override {
    root_ = testfiles::MakeTempDir(tag_);
    ASSERT_FALSE(root_.empty()) << "no temporary folder for " << tag_;
    disk_ = root_ + diskFolder_;
    sim::reset();
    sim::set_disk(disk_);
  }
  void TearDown() override { RemoveRoot(); }

  // Removes the temporary folder; false when something of it stayed.
  bool RemoveRoot() {
    if (root_.empty()) return true;
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    return !ec;
  }

  std::string root_;

 private:
  const char *tag_;
  std::string diskFolder_;
};

// What the module's own code expects of a recorder: the settings folder there, the clock
// at 2026-12-07 12:00:00, the terminal echo in a file beside the disk (off the test's
// output). With `expectReleased_`, the end of each test finds every block returned and
// every file closed.
class ModuleDiskTest : public SimDiskTest {
 protected:
  explicit ModuleDiskTest(const char *tag, bool expectReleased = false)
      : SimDiskTest(tag), expectReleased_(expectReleased) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    sim::set_clock(2026, 12, 7, 12, 0, 0);
    sim::set_console_path(root_ + ".console");
    std::filesystem::create_directories(Real(kSettings));
  }
  void TearDown() override {
    if (expectReleased_) {
      EXPECT_EQ(sim::outstanding_blocks(), 0);
      EXPECT_EQ(sim::open_files(), 0);
    }
    sim::clear_faults();
    SimDiskTest::TearDown();
    std::error_code ec;
    std::filesystem::remove(root_ + ".console", ec);
  }

  bool expectReleased_;
};

// Calls so far that changed the disk (or would have): the steps a power cut falls between.
inline long DiskChanges() {
  long n = 0;
  for (int i = 0; i < sim::CALL_COUNT; ++i)
    if (sim::changes_disk(static_cast<sim::Call>(i))) n += static_cast<long>(sim::calls(static_cast<sim::Call>(i)));
  return n;
}
