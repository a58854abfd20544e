// Bounded building of paths in the fixed 512-byte buffers; the folders they start from
// (host/folders.h).
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "host/folders.h"

namespace quarrow {

enum : size_t { PATH_SIZE = 512 };

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
