// Where the native tests find the recorder build (build/mipsel by default) and the
// cross tools; shared by tests/elf and tests/qemu.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace mipsel {

// The recorder build folder: $QUARROW_MIPSEL_BUILD, else the one CMake was told.
inline std::string BuildDir() {
  if (const char *env = std::getenv("QUARROW_MIPSEL_BUILD"); env && *env) return env;
  return QUARROW_MIPSEL_BUILD_DIR;
}

inline bool IsFile(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Full path of a program found on PATH, or "".
inline std::string FindProgram(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

inline std::string CrossCompiler() { return FindProgram("mipsel-linux-gnu-g++"); }

// key=value lines that the mipsel build writes (module, tapsim, libtap, sysroot).
inline std::map<std::string, std::string> Manifest() {
  std::map<std::string, std::string> out;
  std::ifstream in(BuildDir() + "/quarrow-mipsel.txt");
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

inline std::string TapPath() {
  const auto m = Manifest();
  const auto it = m.find("module");
  return it != m.end() ? it->second : BuildDir() + "/quarrow.tap";
}

}  // namespace mipsel
