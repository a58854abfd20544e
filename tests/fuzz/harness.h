// Shared set-up of the fuzzers: one temporary disk per process, a fresh simulated
// recorder for every input, and a check that stops the run with a message.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "sim/sim.h"
#include "tests/common/files.h"

namespace fuzz {

inline std::string &DiskRoot() {
  static std::string root;
  return root;
}

inline void RemoveDisk() {
  std::error_code ec;
  if (!DiskRoot().empty()) std::filesystem::remove_all(DiskRoot(), ec);
}

// Once per process.
inline void InitDisk() {
  DiskRoot() = testfiles::MakeTempDir("quarrow-fuzz-");
  if (DiskRoot().empty()) {
    std::perror("mkdtemp");
    std::abort();
  }
  std::atexit(RemoveDisk);
}

// The fuzzer's start-up hook for targets that work on a disk: one disk per process.
#define QUARROW_FUZZ_DISK_TARGET()                          \
  extern "C" int LLVMFuzzerInitialize(int *, char ***) { \
    fuzz::InitDisk();                                      \
    return 0;                                              \
  }

// Before every input: a fresh recorder on an emptied disk holding the settings folder.
inline void FreshRecorder() {
  std::error_code ec;
  std::filesystem::remove_all(DiskRoot() + "/ProgramFiles", ec);
  std::filesystem::remove_all(DiskRoot() + "/DataFiles", ec);
  sim::reset();
  sim::set_console_pts(-1);  // the echo is not what is fuzzed; keep it cheap
  sim::set_disk(DiskRoot());
  std::filesystem::create_directories(DiskRoot() + "/ProgramFiles/Settings/Zorvane", ec);
}

inline std::string Real(const std::string &hostPath) { return DiskRoot() + hostPath; }

inline void WriteFile(const std::string &hostPath, const void *data, size_t size) {
  testfiles::WriteFile(Real(hostPath), size ? std::string(static_cast<const char *>(data), size) : std::string());
}

// False when there is no such file.
inline bool ReadFile(const std::string &hostPath, std::string *out) {
  if (!testfiles::EntryExists(Real(hostPath))) return false;
  *out = testfiles::ReadFile(Real(hostPath));
  return true;
}

[[noreturn]] inline void Fail(const char *file, int line, const char *what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

}  // namespace fuzz

// A property that must hold for every input; a failure is a finding like a crash.
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond); \
  } while (0)
