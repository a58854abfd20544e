// A host file handle that closes itself on every way out.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/tap.h"

namespace quarrow {

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

  void Seek(int32_t offset) { TAP_Hdd_Fseek(file_, offset, 0); }

  // The next 4 bytes exactly as stored. Read byte-wise, so a file that ends early gives
  // the bytes it has and zeros for the rest, the same value in the scan and the recovery.
  uint32_t ReadWord() {
    uint8_t bytes[4] = {0, 0, 0, 0};
    TAP_Hdd_Fread(bytes, 1, sizeof bytes, file_);
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
  }

 private:
  TYPE_File *file_;
};

}  // namespace quarrow
