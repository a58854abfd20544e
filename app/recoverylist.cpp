#include "app/recoverylist.h"

#include <cstring>

#include "app/names.h"
#include "app/quarrow.h"
#include "app/setaside.h"
#include "host/hostfile.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/replace/replace.h"

namespace quarrow {

namespace {

constexpr char kListFile[] = "Quarrow.pending";
constexpr uint8_t kMagic[4] = {'Q', 'R', 'L', '1'};
constexpr uint32_t kHeaderSize = RECOVERY_LIST_HEADER_SIZE;
constexpr uint32_t kMaxSize = 64u << 20;  // far beyond any folder the check can fill

void PutWord(uint8_t *at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

// Room for `more` bytes behind what the list holds; a new list gets its header.
bool Reserve(RecoveryList *list, uint32_t more) {
  const uint64_t base = list->data != nullptr ? list->size : kHeaderSize;
  const uint64_t need = base + more;
  if (need > kMaxSize) return false;
  if (list->data != nullptr && need <= list->capacity) return true;
  // Doubling keeps a long list linear to build.
  uint64_t capacity = list->capacity < 4096 ? 4096 : static_cast<uint64_t>(list->capacity) * 2;
  while (capacity < need) capacity *= 2;
  if (capacity > kMaxSize) capacity = kMaxSize;
  auto *data = static_cast<uint8_t *>(TAP_MemAlloc(static_cast<uint32_t>(capacity)));
  if (data == nullptr) return false;
  TAP_MemSet(data, 0, static_cast<uint32_t>(capacity));
  if (list->data != nullptr) {
    std::memcpy(data, list->data, list->size);
    TAP_MemFree(list->data);
  } else {
    std::memcpy(data, kMagic, sizeof kMagic);
    list->size = kHeaderSize;
  }
  list->data = data;
  list->capacity = static_cast<uint32_t>(capacity);
  return true;
}

}  // namespace

bool RecoveryList_Pending() {
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder)) return false;
  return FileRecover(kListFile);
}

bool RecoveryList_Load(RecoveryList *list) {
  RecoveryList_Free(list);
  SavedDir saved;
  const SettingsFile found = FindSettingsFile(kListFile);
  if (found == SettingsFile::Absent) return true;  // none: nothing pending
  if (found == SettingsFile::OutOfReach) {
    WriteLog("failed to read the recovery list");
    return false;
  }

  HostFile file(kListFile);
  uint32_t length = file ? TAP_Hdd_Flen(file.get()) : 0;
  if (!file || length > kMaxSize) {
    WriteLog("failed to read the recovery list");
    return false;
  }
  // Shorter than its header: damaged, unless the length was wrong.
  if (length < kHeaderSize && !file.EndsAfter(length)) {
    WriteLog("failed to read the recovery list");
    return false;
  }
  if (length >= kHeaderSize) {
    if (!Reserve(list, length - kHeaderSize)) {
      WriteLog("failed to read the recovery list");
      return false;
    }
    if (TAP_Hdd_Fread(list->data, length, 1, file.get()) != 1 || !file.EndsAfter(0)) {
      RecoveryList_Free(list);
      WriteLog("failed to read the recovery list");
      return false;
    }
    if (RecoveryList_WellFormed(list->data, length)) {
      list->size = length;
      std::memcpy(&list->count, list->data + 4, sizeof list->count);
      return true;
    }
  }
  // Damaged: kept aside for a person to look at; what it listed stays under its
  // moved names.
  RecoveryList_Free(list);
  file.Close();
  char aside[FILE_NAME_SIZE];
  if (FreeAsideName(aside, kListFile)) TAP_Hdd_Rename(kListFile, aside);
  if (TAP_Hdd_Exist(kListFile)) {
    WriteLog("failed to read the recovery list");
    return false;
  }
  TAP_SPrint(LogString, "damaged recovery list, set aside as '%s'", aside);
  WriteLog(LogString);
  return true;
}

bool RecoveryList_Save(const RecoveryList *list) {
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder) || !SetAsideUnusable(kListFile)) return false;
  if (list->count == 0) {
    FileRecover(kListFile);
    if (TAP_Hdd_Exist(kListFile)) TAP_Hdd_Delete(kListFile);
    return !TAP_Hdd_Exist(kListFile);
  }
  PutWord(list->data + 4, list->count);
  FilePart part = {list->data, list->size};
  return FileReplace(kListFile, &part, 1, nullptr);
}

bool RecoveryList_Add(RecoveryList *list, uint64_t inode, const char *source, const char *target) {
  if (!IsPlainName(source) || !IsPlainName(target)) return false;
  size_t sourceLength = std::strlen(source), targetLength = std::strlen(target);
  if (sourceLength > 255 || targetLength > 255) return false;
  uint32_t bytes = static_cast<uint32_t>(8 + 2 + sourceLength + 2 + targetLength);
  if (!Reserve(list, bytes)) return false;
  uint8_t *at = list->data + list->size;
  std::memcpy(at, &inode, sizeof inode);
  at += 8;
  *at++ = static_cast<uint8_t>(sourceLength);
  std::memcpy(at, source, sourceLength + 1);
  at += sourceLength + 1;
  *at++ = static_cast<uint8_t>(targetLength);
  std::memcpy(at, target, targetLength + 1);
  list->size += bytes;
  ++list->count;
  return true;
}

void RecoveryList_Free(RecoveryList *list) {
  if (list->data != nullptr) TAP_MemFree(list->data);
  list->data = nullptr;
  list->size = 0;
  list->capacity = 0;
  list->count = 0;
}

}  // namespace quarrow
