// Folder navigation on top of the host's current folder: a change that reports
// plain success, the current folder read from the firmware's task table, and a
// stack of saved folders.
#include "lib/hdd/hdd.h"

#include <cstring>

#include "host/firmware.h"
#include "host/fis.h"
#include "host/folders.h"
#include "host/tap.h"
#include "lib/text/text.h"

char TAPDirStack[HDD_DIRSTACK_SLOTS][HDD_DIRSTACK_SLOT_SIZE] = {};
int32_t TAPDirStackDepth = -1;

namespace {

constexpr size_t kMountPrefixLength = sizeof quarrow::kOsPrefix - 1;
// Paths come from 512-byte buffers; each byte takes at most two in UTF-8.
constexpr size_t kPathLimit = 512;
constexpr size_t kUTF8PathSize = 2 * kPathLimit;

// Length of text, but looking at no more than limit bytes.
size_t boundedLength(const char *text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != '\0') ++n;
  return n;
}

}  // namespace

bool HDD_ChangeDir(const char *path) {
  // The host's success value differs between firmware versions; it is learned
  // once from a folder every recorder has (modules are loaded from it).
  static int ReturnTypeToBeChecked = 1;
  static int ChDirSuccessful = 0;

  if (path == nullptr) return false;
  if (ReturnTypeToBeChecked) {
    ChDirSuccessful = TAP_Hdd_ChangeDir(quarrow::kProgramFiles);
    ReturnTypeToBeChecked = 0;
  }
  if (TAP_Hdd_ChangeDir(path) == ChDirSuccessful) return true;

  // Folder names may be stored in UTF-8 on disk. The buffer holds the UTF-8 form of any
  // path shorter than kPathLimit whole: a form cut short could name another folder.
  // The buffer is the module's own, not on the firmware's stack, and nothing can fail to
  // provide it (the module runs on one thread; nothing here calls back in).
  if (boundedLength(path, kPathLimit) >= kPathLimit) return false;
  static char utf8[kUTF8PathSize];
  StrToUTF8(path, utf8, kUTF8PathSize);
  return TAP_Hdd_ChangeDir(utf8) == ChDirSuccessful;
}

int HDD_TAP_GetCurrentDir(char *buffer) {
  auto *table = static_cast<TapTaskRecord *>(FIS_vTAPTable());
  auto *current = static_cast<int32_t *>(FIS_vCurTapTask());
  // A negative task number would address memory before the table.
  if (table == nullptr || current == nullptr || *current < 0) {
    if (buffer != nullptr) buffer[0] = '\0';
    return -3;
  }
  if (buffer == nullptr) return 0;

  const TapDirRecord *dir = table[*current].dir;
  if (dir == nullptr || dir->path == nullptr) return 0;

  const char *path = dir->path;
  size_t prefix = boundedLength(path, kMountPrefixLength);
  const char *hostPath = path + prefix;
  if (*hostPath == '\0') hostPath = "/";  // the mount point itself is the disk's root
  if (!CopyText(buffer, HDD_DIRSTACK_SLOT_SIZE, hostPath)) {
    // A cut path would name another folder; report the folder as unknown instead.
    buffer[0] = '\0';
    return -3;
  }
  return 0;
}

bool HDD_TAP_PushDir() {
  ++TAPDirStackDepth;
  if (TAPDirStackDepth < HDD_DIRSTACK_SLOTS) {
    // A task record without a path reports success and writes nothing: what the slot
    // held before would be popped into.
    char *slot = TAPDirStack[TAPDirStackDepth];
    slot[0] = '\0';
    if (HDD_TAP_GetCurrentDir(slot) == 0 && slot[0] != '\0') return true;
  }
  --TAPDirStackDepth;
  return false;
}

bool HDD_TAP_PopDir() {
  if (TAPDirStackDepth < 0) return false;
  --TAPDirStackDepth;
  return HDD_ChangeDir(TAPDirStack[TAPDirStackDepth + 1]);
}
