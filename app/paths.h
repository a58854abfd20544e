// Bounded building of paths in the fixed 512-byte buffers.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace quarrow {

enum : size_t { PATH_SIZE = 512 };

// The folders the module works in: host paths for the host's file calls, and the same
// folders as the operating system sees them.
constexpr char kOsPrefix[] = "/mnt/hd";
constexpr char kSettingsFolder[] = "/ProgramFiles/Settings/Zorvane";
constexpr char kSettingsFolderOs[] = "/mnt/hd/ProgramFiles/Settings/Zorvane";
constexpr char kRecoveryFolder[] = "/DataFiles/Zorvane";
constexpr char kRecoveryFolderOs[] = "/mnt/hd/DataFiles/Zorvane";
constexpr char kQuarrowFolderOs[] = "/mnt/hd/Quarrow";
constexpr char kDataFilesOs[] = "/mnt/hd/DataFiles";

// Writes the concatenation of `parts` into `buffer` (`size` bytes). Returns false, with
// `buffer` holding an empty string, when the whole text and its terminator would not fit:
// a path cut short would name a different file.
inline bool JoinPath(char *buffer, size_t size, std::initializer_list<const char *> parts) {
  size_t used = 0;
  for (const char *part : parts) {
    size_t len = std::strlen(part);
    if (len >= size - used) {
      buffer[0] = '\0';
      return false;
    }
    std::memcpy(buffer + used, part, len);
    used += len;
  }
  buffer[used] = '\0';
  return true;
}

}  // namespace quarrow
