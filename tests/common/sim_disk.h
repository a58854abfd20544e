// A temporary folder that holds the recorder's disk, removed with everything in it at the
// end; and the fixture that gives each test a fresh simulated recorder on such a disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "sim/sim.h"
#include "tests/common/files.h"

class TempDisk {
 public:
  // `tag` names the temporary folder, so that one left behind tells whose it was. The disk
  // is `diskFolder` inside it ("" for the folder itself), leaving room beside the disk for
  // files of the test's own.
  explicit TempDisk(const char *tag = "quarrow", const char *diskFolder = "") : diskFolder_(diskFolder) {
    std::string pattern = std::string("/tmp/") + tag + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    std::filesystem::create_directories(DiskDir());
  }
  ~TempDisk() { RemoveRoot(); }

  // Removes the temporary folder; false when something of it stayed.
  bool RemoveRoot() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    return !ec;
  }

  // The disk's folder, and the real path of a path on it.
  std::string DiskDir() const { return root_ + diskFolder_; }
  std::string Real(const std::string &hostPath) const { return DiskDir() + hostPath; }

  // Files on the disk, by host path.
  void Write(const std::string &hostPath, const std::string &bytes) const { testfiles::WriteFile(Real(hostPath), bytes); }
  std::string Read(const std::string &hostPath) const { return testfiles::ReadFile(Real(hostPath)); }
  bool Exists(const std::string &hostPath) const { return testfiles::EntryExists(Real(hostPath)); }
  uint64_t Inode(const std::string &hostPath) const { return testfiles::Inode(Real(hostPath)); }

  // The module's log, and how many of its lines carry `text`.
  std::string Log() const { return Read("/ProgramFiles/Settings/Zorvane/Quarrow.log"); }
  int LogCount(const std::string &text) const { return testfiles::Occurrences(Log(), text); }

  std::string root_;  // the temporary folder

 private:
  std::string diskFolder_;
};

class SimDiskTest : public ::testing::Test, public TempDisk {
 protected:
  using TempDisk::TempDisk;
  void SetUp() override {
    sim::reset();
    sim::set_disk(DiskDir());
  }
  void TearDown() override { RemoveRoot(); }
};
