// A fresh simulated recorder for each test, its disk a new temporary folder that is
// removed again, with everything in it, when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "sim/sim.h"
#include "tests/common/files.h"

class SimDiskTest : public ::testing::Test {
 protected:
  // `tag` names the temporary folder, so that one left behind tells whose it was.
  // The disk is `diskFolder` inside it ("" for the folder itself), leaving room beside
  // the disk for files of the test's own.
  explicit SimDiskTest(const char *tag = "quarrow", const char *diskFolder = "")
      : tag_(tag), diskFolder_(diskFolder) {}

  void SetUp() override {
    std::string pattern = std::string("/tmp/") + tag_ + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    ASSERT_NE(mkdtemp(name.data()), nullptr) << "no temporary folder " << pattern;
    root_ = name.data();
    sim::reset();
    sim::set_disk(root_ + diskFolder_);
  }
  void TearDown() override { RemoveRoot(); }

  // Removes the temporary folder; false when something of it stayed.
  bool RemoveRoot() {
    if (root_.empty()) return true;
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    return !ec;
  }

  // The real path of a path on the simulated disk (the disk being the whole folder).
  std::string Real(const std::string &hostPath) const { return root_ + diskFolder_ + hostPath; }

  // Files on the simulated disk, by host path.
  void Write(const std::string &hostPath, const std::string &bytes) const { testfiles::WriteFile(Real(hostPath), bytes); }
  std::string Read(const std::string &hostPath) const { return testfiles::ReadFile(Real(hostPath)); }
  bool Exists(const std::string &hostPath) const { return testfiles::EntryExists(Real(hostPath)); }

  // The module's log, and how many of its lines carry `text`.
  std::string Log() const { return Read("/ProgramFiles/Settings/Zorvane/Quarrow.log"); }
  int LogCount(const std::string &text) const { return testfiles::Occurrences(Log(), text); }

  std::string root_;

 private:
  const char *tag_;
  std::string diskFolder_;
};
