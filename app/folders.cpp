#include "app/folders.h"

#include <cstring>

#include "app/quarrow.h"
#include "app/setaside.h"
#include "app/slots.h"
#include "host/hostfile.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/replace/replace.h"

namespace quarrow {
namespace {

// What the last load left on the disk that memory does not hold (as for Quarrow.db).
enum class FileState { None, InMemory, Unread, Rejected };
FileState LastLoad = FileState::None;
bool Loaded = false;
bool Changed = false;
bool NoMemoryLogged = false;
// The file has been there but unreadable since that was logged: said once, not at every
// scan, until a load reads it again.
bool UnreadableLogged = false;

// The records, one per recording, and an index of record numbers + 1.
FolderRecord *Records = nullptr;
uint32_t RecordCount = 0, RecordRoom = 0;
uint32_t *Index = nullptr;
uint32_t IndexSlots = 0;  // a power of two, or 0
// The folders as the file's table holds them (16-bit length, the bytes), and where each
// begins. A record names a folder by its number.
uint8_t *Table = nullptr;
uint32_t TableBytes = 0, TableRoom = 0;
uint32_t *FolderAt = nullptr;
uint32_t FolderCount = 0, FolderRoom = 0;
uint32_t LastFolder = UINT32_MAX;  // the scan notes one folder's recordings in a row

template <typename T = uint8_t>
T *Alloc(uint32_t count) {
  return count != 0 ? static_cast<T *>(TAP_MemAlloc(count * static_cast<uint32_t>(sizeof(T)))) : nullptr;
}
template <typename T>
void Free(T *&p) {
  if (p != nullptr) TAP_MemFree(p);
  p = nullptr;
}

// A larger block holding what `*block` held; false (nothing changed) without memory.
template <typename T>
bool Enlarge(T *&block, uint32_t &room, uint32_t used, uint32_t need, uint32_t first, uint32_t limit) {
  if (need <= room) return true;
  if (need > limit) return false;
  uint64_t grown = room < first ? first : uint64_t{room} + room / 2;
  if (grown < need) grown = need;
  if (grown > limit) grown = limit;
  T *bigger = Alloc<T>(static_cast<uint32_t>(grown));
  if (bigger == nullptr) return false;
  if (used != 0) TAP_MemCpy(bigger, block, used * static_cast<uint32_t>(sizeof(T)));
  Free(block);
  block = bigger;
  room = static_cast<uint32_t>(grown);
  return true;
}

uint32_t *SlotOf(uint64_t inode, uint32_t sample) {
  for (uint32_t h = HashKey(inode, sample) & (IndexSlots - 1);; h = (h + 1) & (IndexSlots - 1)) {
    if (Index[h] == 0) return &Index[h];
    const FolderRecord &r = Records[Index[h] - 1];
    if (r.inode == inode && r.sample == sample) return &Index[h];
  }
}

// The index with room for `records`; false without memory.
bool IndexFor(uint32_t records) {
  if (IndexSlots != 0 && uint64_t{records} * 4 <= uint64_t{IndexSlots} * 3) return true;
  const uint32_t slots = SlotsFor(records + records / 2);
  uint32_t *table = Alloc<uint32_t>(slots);
  if (table == nullptr) return false;
  Free(Index);
  Index = table;
  IndexSlots = slots;
  TAP_MemSet(Index, 0, slots * sizeof(uint32_t));
  for (uint32_t i = 0; i < RecordCount; ++i) *SlotOf(Records[i].inode, Records[i].sample) = i + 1;
  return true;
}

const char *PathOf(uint32_t folder, uint16_t *length) {
  std::memcpy(length, Table + FolderAt[folder], sizeof *length);
  return reinterpret_cast<const char *>(Table + FolderAt[folder] + 2);
}

bool SameFolder(uint32_t folder, const char *path, size_t length) {
  uint16_t stored;
  const char *p = PathOf(folder, &stored);
  return stored == length && std::memcmp(p, path, length) == 0;
}

// Adds `path` to the table; its number, or UINT32_MAX without memory.
uint32_t AddFolder(const char *path, size_t length) {
  if (!Enlarge(FolderAt, FolderRoom, FolderCount, FolderCount + 1, 64, FOLDERS_MAX_FOLDERS) ||
      !Enlarge(Table, TableRoom, TableBytes, TableBytes + 2 + static_cast<uint32_t>(length), 4096,
               FOLDERS_MAX_FOLDERS * (2 + FOLDER_PATH_MAX)))
    return UINT32_MAX;
  const uint16_t stored = static_cast<uint16_t>(length);
  FolderAt[FolderCount] = TableBytes;
  std::memcpy(Table + TableBytes, &stored, sizeof stored);
  std::memcpy(Table + TableBytes + 2, path, length);
  TableBytes += 2 + static_cast<uint32_t>(length);
  return FolderCount++;
}

// The number of `path` in the table, added when new; UINT32_MAX without memory.
uint32_t FolderNumber(const char *path, size_t length) {
  if (LastFolder < FolderCount && SameFolder(LastFolder, path, length)) return LastFolder;
  for (uint32_t i = 0; i < FolderCount; ++i) {
    if (SameFolder(i, path, length)) return LastFolder = i;
  }
  return LastFolder = AddFolder(path, length);
}

// Sets the recording's folder; false without memory.
bool Put(uint64_t inode, uint32_t sample, uint32_t folder, bool *changed) {
  if (!IndexFor(RecordCount + 1)) return false;
  uint32_t *slot = SlotOf(inode, sample);
  if (*slot != 0) {
    FolderRecord &r = Records[*slot - 1];
    if (r.folder != folder) *changed = true;
    r.folder = folder;
    return true;
  }
  if (!Enlarge(Records, RecordRoom, RecordCount, RecordCount + 1, 256, FOLDERS_MAX_RECORDS)) return false;
  Records[RecordCount] = FolderRecord{inode, sample, folder};
  *slot = ++RecordCount;
  *changed = true;
  return true;
}

void Release() {
  Free(Records);
  Free(Index);
  Free(Table);
  Free(FolderAt);
  RecordCount = RecordRoom = IndexSlots = TableBytes = TableRoom = FolderCount = FolderRoom = 0;
  LastFolder = UINT32_MAX;
}

// Drops the folders no record names any more (a recording seen elsewhere since), so that
// the file holds only what a recovery may use. Without memory for it they stay: a file
// that holds them is as sound.
void Compact() {
  uint32_t *renumber = Alloc<uint32_t>(FolderCount + 1);
  if (renumber == nullptr) return;
  TAP_MemSet(renumber, 0, (FolderCount + 1) * sizeof(uint32_t));
  for (uint32_t i = 0; i < RecordCount; ++i) renumber[Records[i].folder] = 1;
  uint32_t kept = 0, bytes = 0;
  for (uint32_t f = 0; f < FolderCount; ++f) {
    if (renumber[f] == 0) continue;
    uint16_t length;
    PathOf(f, &length);
    ++kept;
    bytes += 2u + length;
  }
  uint8_t *table = kept < FolderCount ? Alloc(bytes + 1) : nullptr;
  if (table == nullptr) {
    Free(renumber);
    return;
  }
  uint32_t at = 0, number = 0;
  for (uint32_t f = 0; f < FolderCount; ++f) {
    if (renumber[f] == 0) continue;
    uint16_t length;
    PathOf(f, &length);
    std::memcpy(table + at, Table + FolderAt[f], 2u + length);
    FolderAt[number] = at;
    renumber[f] = number++;
    at += 2u + length;
  }
  for (uint32_t i = 0; i < RecordCount; ++i) Records[i].folder = renumber[Records[i].folder];
  Free(Table);
  Free(renumber);
  Table = table;
  TableBytes = TableRoom = bytes;
  FolderCount = kept;
  LastFolder = UINT32_MAX;
}

void LogNoMemory() {
  if (!NoMemoryLogged) WriteLog("failed to reserve memory for the folders");
  NoMemoryLogged = true;
}

// A load's folders by number in the file -> number in memory (UINT32_MAX: not kept).
struct LoadContext {
  uint32_t *map;
  bool damaged;  // something in it that this module never writes
  bool full;
};

// A sound file holds each folder once; a folder it should not hold is dropped with its
// records.
bool TakeFolder(void *context, uint32_t index, const char *path, uint32_t length, bool valid) {
  auto &c = *static_cast<LoadContext *>(context);
  c.map[index] = valid ? AddFolder(path, length) : UINT32_MAX;
  if (!valid) c.damaged = true;
  if (valid && c.map[index] == UINT32_MAX) c.full = true;
  return !c.full;
}

bool TakeRecord(void *context, const FolderRecord &record) {
  auto &c = *static_cast<LoadContext *>(context);
  const uint32_t folder = c.map[record.folder];
  if (folder == UINT32_MAX) return true;
  if (IndexFor(RecordCount + 1) && *SlotOf(record.inode, record.sample) != 0) {
    c.damaged = true;  // the first record of an identity counts
    return true;
  }
  bool ignored = false;
  if (!Put(record.inode, record.sample, folder, &ignored)) c.full = true;
  return !c.full;
}

void LoadFailed() {
  if (!UnreadableLogged) WriteLog("failed to load the folders");
  UnreadableLogged = true;
  LastLoad = FileState::Unread;
}

[[gnu::noinline]] void LoadFile() {
  SavedDir saved;
  const SettingsFile found = FindSettingsFile(kFoldersFile);
  if (found != SettingsFile::There) {
    if (found == SettingsFile::OutOfReach) LoadFailed();
    return;
  }
  HostFile file(kFoldersFile);
  if (!file) return LoadFailed();
  const uint32_t length = TAP_Hdd_Flen(file.get());
  LastLoad = FileState::InMemory;
  if (Folders_FileSize(FOLDERS_MAX_FOLDERS * (2 + FOLDER_PATH_MAX), FOLDERS_MAX_RECORDS) < length) {
    WriteLog("damaged folder file, kept 0 folders");
    LastLoad = FileState::Rejected;
    return;
  }
  uint8_t *bytes = Alloc(length);
  uint32_t *map = Alloc<uint32_t>(FOLDERS_MAX_FOLDERS);
  if ((length != 0 && bytes == nullptr) || map == nullptr) {
    Free(bytes);
    Free(map);
    LogNoMemory();
    LastLoad = FileState::Unread;
    return;
  }
  if ((length != 0 && TAP_Hdd_Fread(bytes, 1, length, file.get()) != length) || !file.EndsAfter(0)) {
    Free(bytes);
    Free(map);
    return LoadFailed();
  }
  LoadContext context{map, false, false};
  const FoldersParse parse = Folders_Parse(bytes, length, TakeFolder, TakeRecord, &context);
  Free(bytes);
  Free(map);
  if (context.full) {
    LogNoMemory();
    LastLoad = FileState::Unread;
    return;
  }
  if (parse.headerSound && !parse.versionKnown) {
    WriteLog("unexpected folder file version");
    LastLoad = FileState::Rejected;
  } else if (!parse.exact || context.damaged) {
    TAP_SPrint(LogString, "damaged folder file, kept %d folders", static_cast<int>(RecordCount));
    WriteLog(LogString);
    LastLoad = FileState::Rejected;
  }
}

}  // namespace

void Folders_Load() {
  Release();
  LastLoad = FileState::None;
  Changed = false;
  NoMemoryLogged = false;
  Loaded = true;
  LoadFile();
  if (LastLoad == FileState::Unread) {
    Release();
  } else if (UnreadableLogged) {
    WriteLog("folders readable again");
    UnreadableLogged = false;
  }
}

void Folders_Note(uint64_t inode, uint32_t sample, const char *folder) {
  if (!Loaded || LastLoad == FileState::Unread) return;
  const size_t length = std::strlen(folder);
  if (!Folders_PathValid(folder, length)) return;
  const uint32_t number = FolderNumber(folder, length);
  if (number == UINT32_MAX || !Put(inode, sample, number, &Changed)) LogNoMemory();
}

bool Folders_Of(uint64_t inode, uint32_t sample, char (&out)[FOLDER_PATH_SIZE]) {
  out[0] = '\0';
  uint32_t n = 0;
  if (RecordCount != 0 && IndexFor(RecordCount)) {
    n = *SlotOf(inode, sample);
  } else {
    // Without memory for the index the records are walked.
    for (uint32_t i = 0; i < RecordCount && n == 0; ++i)
      if (Records[i].inode == inode && Records[i].sample == sample) n = i + 1;
  }
  if (n == 0) return false;
  uint16_t length;
  const char *path = PathOf(Records[n - 1].folder, &length);
  std::memcpy(out, path, length);
  out[length] = '\0';
  return true;
}

bool Folders_Unread() { return Loaded && LastLoad == FileState::Unread; }

bool Folders_Changed() { return Changed || LastLoad == FileState::Rejected; }

[[gnu::noinline]] void Folders_Save() {
  if (!Loaded) return;
  if (LastLoad == FileState::Unread) {
    WriteLog("failed to save the folders");
    return;
  }
  Compact();
  const uint64_t size = Folders_FileSize(TableBytes, RecordCount);
  uint8_t *image = size <= UINT32_MAX ? Alloc(static_cast<uint32_t>(size)) : nullptr;
  if (image == nullptr) {
    LogNoMemory();
    WriteLog("failed to save the folders");
    return;
  }
  const uint32_t at = Folders_Write(image, Table, TableBytes, FolderCount, Records, RecordCount);

  // A file that could not be used as it stood is kept under a name of its own.
  const FilePart part{image, at};
  const bool ok = ReplaceSettingsFile(kFoldersFile, &part, 1, LastLoad == FileState::Rejected);
  Free(image);
  if (!ok) {
    WriteLog("failed to save the folders");
    return;
  }
  LastLoad = FileState::InMemory;
  Changed = false;
}

void Folders_Destroy() {
  Release();
  Loaded = false;
  Changed = false;
  LastLoad = FileState::None;
}

}  // namespace quarrow
