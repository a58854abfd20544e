// A folder entry's name as a terminated string.
#pragma once

#include <cstddef>
#include <cstring>

#include "host/tap.h"

namespace quarrow {

// A folder entry's name, terminated even when the host filled the whole field.
inline void CopyEntryName(char (&out)[sizeof(HddFolderEntry::name)], const HddFolderEntry &entry) {
  size_t len = 0;
  while (len < sizeof out - 1 && entry.name[len] != '\0') ++len;
  std::memcpy(out, entry.name, len);
  out[len] = '\0';
}

}  // namespace quarrow
