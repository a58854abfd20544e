// Whole files of the real file system, for tests that lay out a disk and read back what
// the module wrote; one copy of these for every fixture.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file with `bytes`, making its folders first.
inline void WriteFile(const std::string &path, const std::string &bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// An entry of any kind, a dangling link too.
inline bool EntryExists(const std::string &path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

// The entry's own inode (a link's, not its target's); 0 when there is none.
inline uint64_t Inode(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// How often `needle` stands in `text`.
inline int Occurrences(const std::string &text, const std::string &needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace testfiles
