// A host file handle that closes itself on every way out.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/tap.h"

namespace quarrow {

// Owns one handle from TAP_Hdd_Fopen (a name in the current folder); closes it once, on
// Close or destruction. False when the open failed; read only from an open file.
class HostFile {
 public:
  explicit HostFile(const char *name) : file_(TAP_Hdd_Fopen(name)) {}
  ~HostFile() { Close(); }
  HostFile(const HostFile &) = delete;
  HostFile &operator=(const HostFile &) = delete;

  explicit operator bool() const { return file_ != nullptr; }
  TYPE_File *get() const { return file_; }

  void Close() {
    if (file_ != nullptr) TAP_Hdd_Fclose(file_);
    file_ = nullptr;
  }

  enum : uint32_t { HEAD_SIZE = 16 };

  // The first HEAD_SIZE bytes, which hold the sampled words at offsets 8 and 12. A file
  // that ends early gives zeros for the bytes it lacks, the same in the scan and the
  // recovery. False when the read delivered less than the file holds there.
  bool ReadHead(uint8_t (&head)[HEAD_SIZE]) {
    std::memset(head, 0, sizeof head);
    uint32_t got = TAP_Hdd_Fread(head, 1, HEAD_SIZE, file_);
    if (got >= HEAD_SIZE) return true;
    // Short: the file must really end there (the length is asked only now, so that one
    // wrong answer of either call cannot pass for a short file).
    std::memset(head + got, 0, HEAD_SIZE - got);
    uint32_t length = TAP_Hdd_Flen(file_);
    return got == length;
  }

  // After the caller read what TAP_Hdd_Flen gave but `more` bytes: whether those bytes
  // come and the file ends behind them. A length that came back wrong (a failed look at
  // the file gives 0) would otherwise pass for the whole file.
  bool EndsAfter(uint32_t more) {
    uint8_t scratch[64];
    while (more > 0) {
      uint32_t part = more < sizeof scratch ? more : static_cast<uint32_t>(sizeof scratch);
      if (TAP_Hdd_Fread(scratch, 1, part, file_) != part) return false;
      more -= part;
    }
    return TAP_Hdd_Fread(scratch, 1, 1, file_) == 0;
  }

 private:
  TYPE_File *file_;
};

}  // namespace quarrow
