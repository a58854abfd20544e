// Files, folders and commands of the real machine, for tests that lay out a disk, run a
// program on it and read back what was written; one copy of these for every test.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace testfiles {

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string &path);
// Replaces the file with `bytes`, making its folders first.
void WriteFile(const std::string &path, const std::string &bytes);
// An entry of any kind, a dangling link too.
bool EntryExists(const std::string &path);
// The entry's own inode (a link's, not its target's); 0 when there is none.
uint64_t Inode(const std::string &path);
// The names in a folder, sorted, one a line; "" when it cannot be listed.
std::string Listing(const std::string &path);

// How often `needle` stands in `text`.
int Occurrences(const std::string &text, const std::string &needle);
// The 4 bytes at `offset` as one little-endian word, bytes beyond the end read as zero.
uint32_t Word(const std::string &bytes, size_t offset);
// Byte i is (i * 7 + seed) & 0xFF: every offset of a file differs from its neighbours'.
std::string Pattern(size_t size, uint8_t seed);
// Bytes that look like a recording's: distinct at every offset, and from seed to seed.
std::string Content(size_t size, uint32_t seed);

// A word for the shell, in single quotes.
std::string Quote(const std::string &word);
struct Result {
  int status = -1;     // the exit status; -1 when the command did not end normally
  std::string output;  // standard output and error together
};
Result Shell(const std::string &command);

// A copy of the disk `from` at `to` (replaced) whose recordings are the same files (same
// inodes, as the database says); the settings folder is a real copy, since the module
// writes into its files. "" when it worked, else what failed.
std::string CopyDisk(const std::string &from, const std::string &to);
// The system calls that change a file system, for strace's -e trace= and inject=.
inline constexpr const char *kWriteSideCalls =
    "write,pwrite64,writev,openat,rename,renameat,renameat2,unlink,unlinkat,mkdir,"
    "mkdirat,rmdir,ftruncate,fsync,fdatasync,link,linkat,symlink,symlinkat";

// A new folder /tmp/<tag>XXXXXX, removed with everything in it when this goes.
class TempDir {
 public:
  explicit TempDir(const char *tag);
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // Removes it now; false when something of it stayed.
  bool Remove();
  // Leaves it behind for a look at what failed.
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};
// mkdtemp of /tmp/<tag>XXXXXX; "" when it fails.
std::string MakeTempDir(const char *tag);

// A disk laid out in a folder of the real file system, its files addressed by the
// recorder's host paths ("/DataFiles/Film.rec").
class DiskFiles {
 public:
  static constexpr const char *kSettings = "/ProgramFiles/Settings/Zorvane";

  explicit DiskFiles(std::string disk = "") : disk_(std::move(disk)) {}
  std::string Real(const std::string &hostPath) const { return disk_ + hostPath; }
  void Write(const std::string &hostPath, const std::string &bytes) const { WriteFile(Real(hostPath), bytes); }
  std::string Read(const std::string &hostPath) const { return ReadFile(Real(hostPath)); }
  bool Exists(const std::string &hostPath) const { return EntryExists(Real(hostPath)); }
  uint64_t Inode(const std::string &hostPath) const { return testfiles::Inode(Real(hostPath)); }
  std::string Listing(const std::string &hostPath) const { return testfiles::Listing(Real(hostPath)); }
  // A file of Pattern(size, seed).
  void MakeFile(const std::string &hostPath, size_t size, uint8_t seed) const { Write(hostPath, Pattern(size, seed)); }
  uint32_t Word(const std::string &hostPath, size_t offset) const { return testfiles::Word(Read(hostPath), offset); }

  // The module's log, and how many of its lines carry `text`.
  std::string Log() const { return Read(std::string(kSettings) + "/Quarrow.log"); }
  int LogCount(const std::string &text) const { return Occurrences(Log(), text); }

 protected:
  std::string disk_;
};

}  // namespace testfiles
