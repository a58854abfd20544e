// A host file handle that closes itself, and the 4-byte samples of the fingerprints.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/tap.h"

namespace quarrow {

class HostFile {
 public:
  explicit HostFile(const char *name) : file_(TAP_Hdd_Fopen(name)) {}
  ~HostFile() {
    if (file_) TAP_Hdd_Fclose(file_);
  }
  HostFile(const HostFile &) = delete;
  HostFile &operator=(const HostFile &) = delete;

  explicit operator bool() const { return file_ != nullptr; }

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

// A folder entry's name, terminated even when the host filled the whole field.
inline void CopyEntryName(char (&out)[sizeof(HddFolderEntry::name)], const HddFolderEntry &entry) {
  size_t len = 0;
  while (len < sizeof out - 1 && entry.name[len] != '\0') ++len;
  std::memcpy(out, entry.name, len);
  out[len] = '\0';
}

}  // namespace quarrow
