// A Quarrow.folders as the module writes it, of the given folders and records, for tests
// that hand the module or the tool a file of their own (whole, or to damage it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/folders_format.h"

namespace testfolders {

inline std::string File(const std::vector<std::string> &folders, const std::vector<quarrow::FolderRecord> &records) {
  std::string table;
  for (const std::string &f : folders) {
    const uint16_t length = static_cast<uint16_t>(f.size());
    table.append(reinterpret_cast<const char *>(&length), 2).append(f);
  }
  const auto tableBytes = static_cast<uint32_t>(table.size()), count = static_cast<uint32_t>(records.size());
  std::string out(quarrow::Folders_FileSize(tableBytes, count), '\0');
  quarrow::Folders_Write(reinterpret_cast<uint8_t *>(out.data()), reinterpret_cast<const uint8_t *>(table.data()),
                         tableBytes, static_cast<uint32_t>(folders.size()), records.data(), count);
  return out;
}

}  // namespace testfolders
