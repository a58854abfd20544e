#include "lib/replace/replace.h"

#include <cstring>

#include "host/hostfile.h"
#include "host/tap.h"
#include "lib/hdd/durable.h"

namespace {

using quarrow::HostFile;

constexpr char kTempSuffix[] = ".tmp";
constexpr char kBackupSuffix[] = ".bak";
constexpr uint32_t kCompareChunk = 256;

uint64_t TotalSize(const FilePart *parts, int count) {
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) total += parts[i].size;
  return total;
}

bool WriteParts(const char *name, const FilePart *parts, int count) {
  if (TAP_Hdd_Exist(name)) TAP_Hdd_Delete(name);
  TAP_Hdd_Create(name, ATTR_FILE);
  HostFile file(name);
  if (file.get() == nullptr) return false;
  for (int i = 0; i < count; ++i) {
    if (parts[i].size == 0) continue;
    if (TAP_Hdd_Fwrite(parts[i].data, parts[i].size, 1, file.get()) != 1) return false;
  }
  return true;
}

// Reads the file back: the close may have lost what the writes reported as done, and a
// leftover file that could not be deleted would still carry its old tail.
bool ContentMatches(const char *name, const FilePart *parts, int count) {
  HostFile file(name);
  if (file.get() == nullptr) return false;
  uint64_t total = TotalSize(parts, count);
  if (static_cast<uint64_t>(TAP_Hdd_Flen(file.get())) != total) return false;
  uint8_t chunk[kCompareChunk];
  for (int i = 0; i < count; ++i) {
    const uint8_t *expected = static_cast<const uint8_t *>(parts[i].data);
    uint32_t done = 0;
    while (done < parts[i].size) {
      uint32_t n = parts[i].size - done;
      if (n > kCompareChunk) n = kCompareChunk;
      if (TAP_Hdd_Fread(chunk, n, 1, file.get()) != 1) return false;
      if (std::memcmp(chunk, expected + done, n) != 0) return false;
      done += n;
    }
  }
  return true;
}

}  // namespace

bool FileSiblingName(char (&out)[FILE_NAME_SIZE], const char *name, const char *suffix) {
  size_t nameLength = std::strlen(name);
  size_t suffixLength = std::strlen(suffix);
  if (nameLength + suffixLength >= FILE_NAME_SIZE) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, name, nameLength);
  std::memcpy(out + nameLength, suffix, suffixLength + 1);
  return true;
}

bool FileRecover(const char *name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (TAP_Hdd_Exist(name)) return true;
  char backup[FILE_NAME_SIZE];
  if (!FileSiblingName(backup, name, kBackupSuffix)) return false;
  if (!TAP_Hdd_Exist(backup)) return false;
  // What a rename reports is not relied on: the name must be there afterwards.
  TAP_Hdd_Rename(backup, name);
  return TAP_Hdd_Exist(name) != 0;
}

namespace {

// The rename of `from` to `to` took effect: looked at, since its result means nothing on
// some hosts; a "no" is looked at twice, as one failing look must not undo a replace.
bool Moved(const char *from, const char *to) {
  TAP_Hdd_Rename(from, to);
  if (TAP_Hdd_Exist(to) && !TAP_Hdd_Exist(from)) return true;
  return TAP_Hdd_Exist(to) && !TAP_Hdd_Exist(from);
}

}  // namespace

bool FileReplace(const char *name, const FilePart *parts, int count, const char *keepOldAs) {
  if (name == nullptr || name[0] == '\0' || count < 0 || (count > 0 && parts == nullptr)) return false;
  char temp[FILE_NAME_SIZE];
  char backup[FILE_NAME_SIZE];
  if (!FileSiblingName(temp, name, kTempSuffix) || !FileSiblingName(backup, name, kBackupSuffix)) return false;
  if (TotalSize(parts, count) > UINT32_MAX) return false;

  // A replace cut off between its renames left the previous file as the backup.
  FileRecover(name);

  // The read-back sees the cache; only the sync puts the data on the disk, and it must be
  // there before a rename can publish it.
  if (!WriteParts(temp, parts, count) || !ContentMatches(temp, parts, count) || !quarrow::MakeDurableHere(temp)) {
    TAP_Hdd_Delete(temp);
    return false;
  }

  if (!TAP_Hdd_Exist(name)) {
    // The caller may rely on the name once this returns: the folder is synced too.
    if (Moved(temp, name)) {
      if (quarrow::MakeDurableHere(nullptr)) return true;
      TAP_Hdd_Delete(name);  // failed: as before, no file
      return false;
    }
    TAP_Hdd_Delete(temp);
    return false;
  }

  if (TAP_Hdd_Exist(backup)) TAP_Hdd_Delete(backup);  // left over from an earlier replace
  if (!Moved(name, backup)) {
    TAP_Hdd_Delete(temp);
    return false;
  }
  if (!Moved(temp, name)) {
    // Put the previous file back; should that fail too, FileRecover does it next time.
    if (!TAP_Hdd_Exist(name)) TAP_Hdd_Rename(backup, name);
    TAP_Hdd_Delete(temp);
    return false;
  }

  // Both renames durable before the backup goes: a cut could otherwise bring back the
  // folder as it was, without the backup. Failing that, the previous file goes back.
  if (!quarrow::MakeDurableHere(nullptr)) {
    TAP_Hdd_Delete(name);
    if (!TAP_Hdd_Exist(name)) TAP_Hdd_Rename(backup, name);
    return false;
  }
  if (keepOldAs != nullptr && keepOldAs[0] != '\0') {
    if (TAP_Hdd_Exist(keepOldAs)) TAP_Hdd_Delete(keepOldAs);
    // Should the rename fail, the previous file simply stays as the backup until the
    // next replace; the new content is in place either way. Synced, since the next
    // replace deletes a backup it finds.
    TAP_Hdd_Rename(backup, keepOldAs);
    quarrow::MakeDurableHere(nullptr);
    return true;
  }
  TAP_Hdd_Delete(backup);
  return true;
}
