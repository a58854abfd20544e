// The fingerprint database: the in-memory array, its file Quarrow.db and the
// settings folder that holds it.
#include <cstring>

#include "app/names.h"
#include "app/paths.h"
#include "app/quarrow.h"
#include "app/recdb_format.h"
#include "app/setaside.h"
#include "host/hostfile.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/filereplace.h"
#include "lib/hdd/saveddir.h"

RecDBEntry *RecDB = nullptr;
int32_t RecDBSize = 0;
int32_t RecDBEntries = 0;
uint32_t RecDBVersion = 0;

namespace {

using quarrow::HostFile;

using quarrow::kSettingsFolder;
constexpr char kDBFile[] = "Quarrow.db";
constexpr uint32_t kHeaderWords = quarrow::DB_HEADER_WORDS;
constexpr uint32_t kHeaderSize = quarrow::DB_HEADER_SIZE;
constexpr uint32_t kEntrySize = quarrow::DB_ENTRY_SIZE;
constexpr uint32_t kNameSize = sizeof(RecDBEntry::RecName);
constexpr int32_t kGrowStep = quarrow::DB_GROW_STEP;
constexpr int32_t kMaxCapacity = quarrow::kDBMaxCapacity;

// What the last load left on the disk that memory does not hold.
enum class FileState {
  None,      // no file was found
  InMemory,  // everything usable was loaded
  Unread,    // the file is there but could not be read now: never overwrite it
  Rejected,  // the file could not be used as it stood: keep a copy when it is replaced
};
FileState LastLoad = FileState::None;

void Log(const char *text) { WriteLog(text); }

void ReleaseArray() {
  if (RecDB != nullptr) TAP_MemFree(RecDB);
  RecDB = nullptr;
  RecDBSize = 0;
  RecDBEntries = 0;
}

RecDBEntry *AllocEntries(int32_t capacity) {
  if (capacity <= 0 || capacity > kMaxCapacity) return nullptr;
  uint32_t bytes = static_cast<uint32_t>(capacity) * kEntrySize;
  void *block = TAP_MemAlloc(bytes);
  if (block != nullptr) TAP_MemSet(block, 0, bytes);
  return static_cast<RecDBEntry *>(block);
}

// The caller's name, cut to the field, NUL-filled behind it.
void CopyName(char (&to)[kNameSize], const char *from) {
  size_t length = strnlen(from, kNameSize - 1);
  std::memcpy(to, from, length);
  std::memset(to + length, 0, kNameSize - length);
}

bool SameIdentity(const RecDBEntry &a, const RecDBEntry &b) {
  return a.RecInode == b.RecInode && a.RecSample == b.RecSample;
}

}  // namespace

void RecDB_CreateDir() {
  HDD_ChangeDir("/ProgramFiles");
  TAP_Hdd_Create("Settings", ATTR_FOLDER);
  HDD_ChangeDir("Settings");
  TAP_Hdd_Create("Zorvane", ATTR_FOLDER);
}

void RecDB_Load() {
  LastLoad = FileState::None;
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder) || !quarrow::SetAsideUnusable(kDBFile)) {
    // Whether a file is there is unknown: it must not be overwritten by the next save.
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  // Also completes a save that was cut off between its renames.
  if (!FileRecover(kDBFile)) {
    if (quarrow::SeenInSettings(kDBFile)) {
      Log("failed to load the DB");
      LastLoad = FileState::Unread;
    }
    return;
  }
  LastLoad = FileState::InMemory;

  HostFile file(kDBFile);
  if (file.get() == nullptr) {
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  ReleaseArray();

  uint32_t length = TAP_Hdd_Flen(file.get());
  uint32_t header[kHeaderWords] = {0, 0, 0};
  if (length >= kHeaderSize && TAP_Hdd_Fread(header, kHeaderSize, 1, file.get()) != 1) {
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  const quarrow::DbLayout layout = quarrow::DB_Layout(length, header);
  if (layout.hasHeader) {
    RecDBVersion = layout.version;
    if (!layout.versionKnown) {
      Log("unexpected DB version");
      LastLoad = FileState::Rejected;
      return;
    }
  }

  const uint32_t present = layout.present;
  if (layout.exact && layout.capacity == 0) return;  // a valid file without entries

  int32_t arraySize = layout.arraySize;
  RecDBEntry *array = arraySize > 0 ? AllocEntries(arraySize) : nullptr;
  if (arraySize > 0 && array == nullptr) {
    Log("failed to reserve memory for the DB");
    LastLoad = FileState::Unread;
    return;
  }
  // What lies behind the whole records (a header cut short, a record's first bytes) is
  // read too, so that a wrong length cannot pass for a short file.
  const uint64_t read = (layout.hasHeader ? kHeaderSize : 0) + static_cast<uint64_t>(present) * kEntrySize;
  const uint64_t tail = length > read ? length - read : 0;
  if ((present > 0 && TAP_Hdd_Fread(array, kEntrySize, present, file.get()) != present) ||
      (tail < kEntrySize && !file.EndsAfter(static_cast<uint32_t>(tail)))) {
    if (array != nullptr) TAP_MemFree(array);
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  bool extra = false;
  int32_t kept = present > 0 ? quarrow::DB_KeepRecords(array, present, layout.inUse, &extra, nullptr) : 0;
  if (quarrow::DB_Sound(layout, extra)) {
    RecDB = array;
    RecDBSize = layout.capacity;
    RecDBEntries = kept;
    return;
  }
  // Damaged: what could be kept is in memory, the file as it was is kept aside by the
  // next save.
  if (kept > 0) {
    RecDB = array;
    RecDBSize = quarrow::DB_KeptCapacity(layout, kept);
    RecDBEntries = kept;
  } else if (array != nullptr) {
    TAP_MemFree(array);
  }
  TAP_SPrint(LogString, "damaged DB, kept %d entries", static_cast<int>(kept));
  Log(LogString);
  LastLoad = FileState::Rejected;
}

void RecDB_Save() {
  if (RecDB == nullptr) return;
  if (LastLoad == FileState::Unread) {
    // Saving now would replace fingerprints that were never read.
    Log("failed to save the DB");
    return;
  }
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder) || !quarrow::SetAsideUnusable(kDBFile)) {
    Log("failed to save the DB");
    return;
  }
  RecDBVersion = quarrow::DB_VERSION;
  uint32_t header[kHeaderWords] = {RecDBVersion, static_cast<uint32_t>(RecDBSize),
                                   static_cast<uint32_t>(RecDBEntries)};
  FilePart parts[2] = {{header, kHeaderSize}, {RecDB, static_cast<uint32_t>(RecDBSize) * kEntrySize}};
  // A file that could not be used as it stood is kept under a name of its own.
  char aside[FILE_NAME_SIZE];
  const char *keepOld = nullptr;
  if (LastLoad == FileState::Rejected) {
    if (!quarrow::FreeAsideName(aside, kDBFile)) {
      Log("failed to save the DB");
      return;
    }
    keepOld = aside;
  }
  if (!FileReplace(kDBFile, parts, 2, keepOld)) {
    Log("failed to save the DB");
    return;
  }
  LastLoad = FileState::InMemory;
}

bool RecDB_Usable() { return LastLoad == FileState::InMemory || LastLoad == FileState::Rejected; }

const RecDBEntry *RecDB_Find(uint64_t inode, uint32_t sample) {
  for (int32_t i = 0; RecDB != nullptr && i < RecDBEntries; ++i) {
    if (RecDB[i].RecInode == inode && RecDB[i].RecSample == sample) return &RecDB[i];
  }
  return nullptr;
}

void RecDB_Destroy() {
  ReleaseArray();
  LastLoad = FileState::None;
}

int RecDB_Add(const RecDBEntry *entry) {
  if (entry == nullptr) return 0;

  for (int32_t i = 0; RecDB != nullptr && i < RecDBEntries; ++i) {
    RecDBEntry &known = RecDB[i];
    if (!SameIdentity(known, *entry)) continue;
    bool changed = false;
    // A companion that is missing now (orphaned with the recording still in place, or
    // not yet moved back) keeps its stored fingerprint: it is the only way back to its
    // name.
    const bool infSeen = entry->InfInode != 0, navSeen = entry->NavInode != 0;
    if (infSeen && known.InfInode != entry->InfInode) {
      known.InfInode = entry->InfInode;
      changed = true;
    }
    if (infSeen && known.InfSample != entry->InfSample) {
      known.InfSample = entry->InfSample;
      changed = true;
    }
    if (navSeen && known.NavInode != entry->NavInode) {
      known.NavInode = entry->NavInode;
      changed = true;
    }
    if (navSeen && known.NavSample != entry->NavSample) {
      known.NavSample = entry->NavSample;
      changed = true;
    }
    // The stored name is always terminated inside the field; the caller's may not be.
    if (strncmp(known.RecName, entry->RecName, kNameSize - 1) != 0) {
      CopyName(known.RecName, entry->RecName);
      changed = true;
    }
    return changed ? 1 : 0;
  }

  if (RecDBEntries >= RecDBSize) {
    int32_t capacity = RecDBSize + kGrowStep;
    RecDBEntry *array = RecDBSize <= kMaxCapacity - kGrowStep ? AllocEntries(capacity) : nullptr;
    if (array == nullptr) {
      Log("failed to reserve memory while increasing the DB");
      return 0;
    }
    if (RecDB != nullptr) {
      std::memcpy(static_cast<void *>(array), RecDB, static_cast<size_t>(RecDBEntries) * kEntrySize);
      TAP_MemFree(RecDB);
    }
    RecDB = array;
    RecDBSize = capacity;
  }

  RecDBEntry &added = RecDB[RecDBEntries];
  added = *entry;
  added.Padding1 = 0;
  added.Padding2 = 0;
  added.Padding3 = 0;
  CopyName(added.RecName, entry->RecName);
  ++RecDBEntries;

  TAP_SPrint(LogString, "added '%.127s' to the DB", added.RecName);
  Log(LogString);
  return 1;
}
