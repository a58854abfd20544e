// The fingerprint database: the in-memory array, its file Quarrow.db and the
// settings folder that holds it.
#include <cstring>

#include "app/quarrow.h"
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

constexpr char kSettingsFolder[] = "/ProgramFiles/Settings/Zorvane";
constexpr char kDBFile[] = "Quarrow.db";
// Where a file that could not be used as it stood is kept when the database is rewritten.
constexpr char kRejectedDBFile[] = "Quarrow.db.bad";
constexpr uint32_t kDBVersion = 1;
constexpr int32_t kGrowStep = 10;
constexpr uint32_t kHeaderWords = 3;
constexpr uint32_t kHeaderSize = kHeaderWords * sizeof(uint32_t);
constexpr uint32_t kEntrySize = sizeof(RecDBEntry);
constexpr uint32_t kNameSize = sizeof(RecDBEntry::RecName);
// Capacities whose array size or grown size would not fit 32 bits are refused.
constexpr int32_t kMaxCapacity = static_cast<int32_t>((UINT32_MAX - kHeaderSize) / kEntrySize) - kGrowStep;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the file is the little-endian memory image");
static_assert(kHeaderSize == 12, "12-byte file header");

// What the last load left on the disk that memory does not hold.
enum class FileState {
  InMemory,  // nothing, or everything usable, was loaded
  Unread,    // the file is there but could not be read now: never overwrite it
  Rejected,  // the file could not be used as it stood: keep a copy when it is replaced
};
FileState LastLoad = FileState::InMemory;

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

// Names read from a file or handed in by a caller may fill the whole field.
void TerminateName(RecDBEntry &entry) { entry.RecName[kNameSize - 1] = '\0'; }

// The caller's name, cut to the field, NUL-filled behind it.
void CopyName(char (&to)[kNameSize], const char *from) {
  size_t length = strnlen(from, kNameSize - 1);
  std::memcpy(to, from, length);
  std::memset(to + length, 0, kNameSize - length);
}

bool SameIdentity(const RecDBEntry &a, const RecDBEntry &b) {
  return a.RecInode == b.RecInode && a.RecSample == b.RecSample;
}

bool IsBlank(const RecDBEntry &entry) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(&entry);
  for (uint32_t i = 0; i < kEntrySize; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

int32_t RoundUpToStep(int64_t count) {
  return static_cast<int32_t>((count + kGrowStep - 1) / kGrowStep * kGrowStep);
}

// A file whose header does not describe it: keeps every whole record that is there and
// not blank, once per identity, from the first on.
void Salvage(TYPE_File *file, int32_t capacity, uint32_t recordsPresent) {
  uint32_t readable = recordsPresent;
  if (capacity >= 0 && static_cast<uint32_t>(capacity) < readable) readable = static_cast<uint32_t>(capacity);
  if (readable > static_cast<uint32_t>(kMaxCapacity)) readable = static_cast<uint32_t>(kMaxCapacity);

  int32_t kept = 0;
  if (readable > 0) {
    int32_t arraySize = RoundUpToStep(readable);
    RecDBEntry *array = AllocEntries(arraySize);
    if (array == nullptr) {
      Log("failed to reserve memory for the DB");
      LastLoad = FileState::Unread;
      return;
    }
    if (TAP_Hdd_Fread(array, kEntrySize, readable, file) != readable) {
      TAP_MemFree(array);
      Log("failed to load the DB");
      LastLoad = FileState::Unread;
      return;
    }
    for (uint32_t i = 0; i < readable; ++i) {
      if (IsBlank(array[i])) continue;
      bool duplicate = false;
      for (int32_t j = 0; j < kept && !duplicate; ++j) duplicate = SameIdentity(array[j], array[i]);
      if (duplicate) continue;
      if (static_cast<uint32_t>(kept) != i) array[kept] = array[i];
      TerminateName(array[kept]);
      ++kept;
    }
    std::memset(static_cast<void *>(array + kept), 0, static_cast<size_t>(arraySize - kept) * kEntrySize);
    if (kept > 0) {
      RecDB = array;
      RecDBSize = arraySize;
      RecDBEntries = kept;
    } else {
      TAP_MemFree(array);
    }
  }
  TAP_SPrint(LogString, "damaged DB, kept %d entries", static_cast<int>(kept));
  Log(LogString);
  LastLoad = FileState::Rejected;
}

}  // namespace

void RecDB_CreateDir() {
  HDD_ChangeDir("/ProgramFiles");
  TAP_Hdd_Create("Settings", ATTR_FOLDER);
  HDD_ChangeDir("Settings");
  TAP_Hdd_Create("Zorvane", ATTR_FOLDER);
}

void RecDB_Load() {
  LastLoad = FileState::InMemory;
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder)) {
    // Whether a file is there is unknown: it must not be overwritten by the next save.
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  // Also completes a save that was cut off between its renames.
  if (!FileRecover(kDBFile)) return;

  HostFile file(kDBFile);
  if (file.get() == nullptr) {
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  ReleaseArray();

  uint32_t length = TAP_Hdd_Flen(file.get());
  uint32_t header[kHeaderWords] = {0, 0, 0};
  if (length < kHeaderSize) {
    // Not even a header: nothing in it can be read.
    Salvage(file.get(), 0, 0);
    return;
  }
  if (TAP_Hdd_Fread(header, kHeaderSize, 1, file.get()) != 1) {
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  RecDBVersion = header[0];
  if (RecDBVersion != kDBVersion) {
    Log("unexpected DB version");
    LastLoad = FileState::Rejected;
    return;
  }

  int32_t capacity = static_cast<int32_t>(header[1]);
  int32_t count = static_cast<int32_t>(header[2]);
  uint32_t recordsPresent = (length - kHeaderSize) / kEntrySize;
  bool consistent = capacity >= 0 && capacity <= kMaxCapacity && count >= 0 && count <= capacity &&
                    static_cast<uint32_t>(capacity) <= recordsPresent;
  if (!consistent) {
    Salvage(file.get(), capacity, recordsPresent);
    return;
  }
  if (capacity == 0) return;  // a valid file without entries

  RecDBEntry *array = AllocEntries(capacity);
  if (array == nullptr) {
    Log("failed to reserve memory for the DB");
    LastLoad = FileState::Unread;
    return;
  }
  if (TAP_Hdd_Fread(array, kEntrySize, static_cast<uint32_t>(capacity), file.get()) !=
      static_cast<uint32_t>(capacity)) {
    TAP_MemFree(array);
    Log("failed to load the DB");
    LastLoad = FileState::Unread;
    return;
  }
  for (int32_t i = 0; i < count; ++i) TerminateName(array[i]);
  // Slots past the count are unused and held as zeros, whatever the file had there.
  std::memset(static_cast<void *>(array + count), 0, static_cast<size_t>(capacity - count) * kEntrySize);
  RecDB = array;
  RecDBSize = capacity;
  RecDBEntries = count;
}

void RecDB_Save() {
  if (RecDB == nullptr) return;
  if (LastLoad == FileState::Unread) {
    // Saving now would replace fingerprints that were never read.
    Log("failed to save the DB");
    return;
  }
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder)) {
    Log("failed to save the DB");
    return;
  }
  RecDBVersion = kDBVersion;
  uint32_t header[kHeaderWords] = {RecDBVersion, static_cast<uint32_t>(RecDBSize),
                                   static_cast<uint32_t>(RecDBEntries)};
  FilePart parts[2] = {{header, kHeaderSize}, {RecDB, static_cast<uint32_t>(RecDBSize) * kEntrySize}};
  const char *keepOld = LastLoad == FileState::Rejected ? kRejectedDBFile : nullptr;
  if (!FileReplace(kDBFile, parts, 2, keepOld)) {
    Log("failed to save the DB");
    return;
  }
  LastLoad = FileState::InMemory;
}

void RecDB_Destroy() {
  ReleaseArray();
  LastLoad = FileState::InMemory;
}

int RecDB_Add(const RecDBEntry *entry) {
  if (entry == nullptr) return 0;

  for (int32_t i = 0; RecDB != nullptr && i < RecDBEntries; ++i) {
    RecDBEntry &known = RecDB[i];
    if (!SameIdentity(known, *entry)) continue;
    bool changed = false;
    if (known.InfInode != entry->InfInode) {
      known.InfInode = entry->InfInode;
      changed = true;
    }
    if (known.InfSample != entry->InfSample) {
      known.InfSample = entry->InfSample;
      changed = true;
    }
    if (known.NavInode != entry->NavInode) {
      known.NavInode = entry->NavInode;
      changed = true;
    }
    if (known.NavSample != entry->NavSample) {
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
