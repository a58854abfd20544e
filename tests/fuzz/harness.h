// Shared set-up of the fuzzers: one temporary disk per process, a fresh simulated
// recorder for every input, and a check that stops the run with a message.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/sim.h"

namespace fuzz {

inline std::string &DiskRoot() {
  static std::string root;
  return root;
}

inline void RemoveTree(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR *d = opendir(path.c_str())) {
      while (dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        RemoveTree(path + "/" + e->d_name);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

inline void RemoveDisk() {
  if (!DiskRoot().empty()) RemoveTree(DiskRoot());
}

inline void MakeDirs(const std::string &path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

// Once per process.
inline void InitDisk() {
  char tmpl[] = "/tmp/quarrow-fuzz-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  DiskRoot() = tmpl;
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
  RemoveTree(DiskRoot() + "/ProgramFiles");
  RemoveTree(DiskRoot() + "/DataFiles");
  sim::reset();
  sim::set_console_pts(-1);  // the echo is not what is fuzzed; keep it cheap
  sim::set_disk(DiskRoot());
  MakeDirs(DiskRoot() + "/ProgramFiles/Settings/Zorvane");
}

inline std::string Real(const std::string &hostPath) { return DiskRoot() + hostPath; }

inline void WriteFile(const std::string &hostPath, const void *data, size_t size) {
  FILE *f = std::fopen(Real(hostPath).c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

inline bool ReadFile(const std::string &hostPath, std::string *out) {
  FILE *f = std::fopen(Real(hostPath).c_str(), "rb");
  if (f == nullptr) return false;
  out->clear();
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  std::fclose(f);
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
