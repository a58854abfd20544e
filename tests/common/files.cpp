#include "tests/common/files.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace testfiles {

namespace fs = std::filesystem;

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool EntryExists(const std::string &path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

uint64_t Inode(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string Listing(const std::string &path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string &n : names) out += n + "\n";
  return out;
}

int Occurrences(const std::string &text, const std::string &needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

uint32_t Word(const std::string &bytes, size_t offset) {
  uint32_t w = 0;
  for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i)
    w |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
  return w;
}

std::string Pattern(size_t size, uint8_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

std::string Content(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x);
  }
  return s;
}

std::string Quote(const std::string &word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

Result Shell(const std::string &command) {
  Result r;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string CopyDisk(const std::string &from, const std::string &to) {
  Result r = Shell("rm -rf " + Quote(to) + " && cp -al " + Quote(from) + " " + Quote(to) + " && rm -rf " +
                   Quote(to + "/ProgramFiles") + " && cp -a " + Quote(from + "/ProgramFiles") + " " +
                   Quote(to + "/ProgramFiles"));
  return r.status == 0 ? "" : "copy failed: " + r.output;
}

std::string MakeTempDir(const char *tag) {
  std::string pattern = std::string("/tmp/") + tag + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

TempDir::TempDir(const char *tag) : path_(MakeTempDir(tag)) {
  if (path_.empty()) {
    std::perror("mkdtemp");
    std::abort();
  }
}

TempDir::~TempDir() {
  if (!keep_) Remove();
}

bool TempDir::Remove() {
  std::error_code ec;
  fs::remove_all(path_, ec);
  return !ec;
}

}  // namespace testfiles
