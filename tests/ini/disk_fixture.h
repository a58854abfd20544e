// A fresh simulated recorder on a temporary disk, file helpers, and a power-cut switch
// that stops every change to the disk after a chosen number of steps.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/tap.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace fs = std::filesystem;

// While armed, each call that changes the disk (create, delete, rename, write) uses up
// one step; once none are left, those calls do nothing and report failure, as if the
// power had gone. Reads still work, so the interrupted code runs on to its end.
class PowerCut {
 public:
  static void Arm(long steps) {
    Install();
    left_ = steps;
    used_ = 0;
  }
  static void Disarm() { left_ = -1; }
  static long Used() { return used_; }
  static void Uninstall() {
    if (!installed_) return;
    TAP_Hdd_Create = create_;
    TAP_Hdd_Delete = delete_;
    TAP_Hdd_Rename = rename_;
    TAP_Hdd_Fwrite = fwrite_;
    installed_ = false;
    left_ = -1;
  }

 private:
  static void Install() {
    if (installed_) return;
    create_ = TAP_Hdd_Create;
    delete_ = TAP_Hdd_Delete;
    rename_ = TAP_Hdd_Rename;
    fwrite_ = TAP_Hdd_Fwrite;
    TAP_Hdd_Create = [](const char *name, uint32_t attr) -> uint32_t { return Step() ? create_(name, attr) : 0; };
    TAP_Hdd_Delete = [](const char *name) -> int { return Step() ? delete_(name) : 0; };
    TAP_Hdd_Rename = [](const char *from, const char *to) -> int { return Step() ? rename_(from, to) : 0; };
    TAP_Hdd_Fwrite = [](const void *buf, uint32_t size, uint32_t count, TYPE_File *file) -> uint32_t {
      return Step() ? fwrite_(buf, size, count, file) : 0;
    };
    installed_ = true;
  }
  static bool Step() {
    if (left_ < 0) return true;
    if (left_ == 0) return false;
    --left_;
    ++used_;
    return true;
  }

  static inline bool installed_ = false;
  static inline long left_ = -1;
  static inline long used_ = 0;
  static inline uint32_t (*create_)(const char *, uint32_t) = nullptr;
  static inline int (*delete_)(const char *) = nullptr;
  static inline int (*rename_)(const char *, const char *) = nullptr;
  static inline uint32_t (*fwrite_)(const void *, uint32_t, uint32_t, TYPE_File *) = nullptr;
};

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
    PowerCut::Uninstall();
    sim::clear_faults();
    SimDiskTest::TearDown();
    std::error_code ec;
    fs::remove(root_ + ".console", ec);
  }


  void Write(const std::string &hostPath, const std::string &bytes) const {
    fs::create_directories(fs::path(Real(hostPath)).parent_path());
    std::ofstream(Real(hostPath), std::ios::binary | std::ios::trunc) << bytes;
  }

  std::string Read(const std::string &hostPath) const {
    std::ifstream in(Real(hostPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  bool Exists(const std::string &hostPath) const { return fs::exists(fs::symlink_status(Real(hostPath))); }

  std::string Log() const { return Read(std::string(kSettings) + "/Quarrow.log"); }

  int LogCount(const std::string &text) const {
    std::string log = Log();
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
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
