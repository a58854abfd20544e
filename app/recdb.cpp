// The fingerprint database: the in-memory array, its file Quarrow.db and the
// settings folder that holds it.
#include <cstring>

#include "app/names.h"
#include "app/quarrow.h"
#include "app/recdb_format.h"
#include "app/setaside.h"
#include "app/slots.h"
#include "host/hostfile.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/replace/replace.h"
#include "lib/text/text.h"

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
// The file has been there but unreadable since that was logged: said once (with the save
// it refuses), not at every scan, until a load reads it again.
bool Unreadable = false;
bool RefusalLogged = false;

void Log(const char *text) { WriteLog(text); }

// The entries lie in blocks that never move: RecDB is the first (all of a loaded
// database); an add that needs room takes a further block of an eighth of what is held,
// so growing copies nothing and holds little unused. RecDBSize still counts in steps of
// 10 and is what the file holds.
struct Block {
  RecDBEntry *entries;
  int32_t first;  // number of its first entry
  int32_t slots;
};
constexpr int32_t kMaxBlocks = 256;  // an eighth more each time: far beyond kMaxCapacity
Block Blocks[kMaxBlocks];
int32_t BlockCount = 0;
int32_t Slots = 0;  // entries the blocks hold
int32_t LastBlock = 0;

// Identities (RecInode, RecSample) of the entries in use, by number + 1, first one of each;
// built at the first look-up, released with the array. Without memory for it the entries
// are walked.
uint32_t *Index = nullptr;
uint32_t IndexSize = 0;
int32_t Indexed = 0;  // entries 0 .. Indexed - 1 are in it
bool IndexFailed = false;

void ReleaseIndex() {
  if (Index != nullptr) TAP_MemFree(Index);
  Index = nullptr;
  IndexSize = 0;
  Indexed = 0;
  IndexFailed = false;
}

void ReleaseArray() {
  for (int32_t b = 0; b < BlockCount; ++b) TAP_MemFree(Blocks[b].entries);
  if (BlockCount == 0 && RecDB != nullptr) TAP_MemFree(RecDB);  // set from outside
  Blocks[0] = Block{nullptr, 0, 0};
  BlockCount = 0;
  Slots = 0;
  LastBlock = 0;
  ReleaseIndex();
  RecDB = nullptr;
  RecDBSize = 0;
  RecDBEntries = 0;
}

RecDBEntry &EntryAt(int32_t i) {
  if (i < Blocks[0].slots) return Blocks[0].entries[i];
  const Block &last = Blocks[LastBlock];
  if (i >= last.first && i < last.first + last.slots) return last.entries[i - last.first];
  int32_t lo = 0, hi = BlockCount - 1;
  while (lo < hi) {
    int32_t mid = (lo + hi + 1) / 2;
    if (Blocks[mid].first <= i)
      lo = mid;
    else
      hi = mid - 1;
  }
  LastBlock = lo;
  return Blocks[lo].entries[i - Blocks[lo].first];
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
  CopyText(to, from);
  const size_t length = std::strlen(to);
  std::memset(to + length, 0, kNameSize - length);
}

// The array that a load read becomes the first block.
void TakeArray(RecDBEntry *array, int32_t slots, int32_t size, int32_t entries) {
  Blocks[0] = Block{array, 0, slots};
  BlockCount = 1;
  Slots = slots;
  LastBlock = 0;
  RecDB = array;
  RecDBSize = size;
  RecDBEntries = entries;
}

// An array of RecDBSize entries that was put into RecDB directly is taken as it is.
void Adopt() {
  if (RecDB != nullptr && BlockCount == 0) TakeArray(RecDB, RecDBSize, RecDBSize, RecDBEntries);
}

// Where an identity is, or the free slot where it would go.
uint32_t Probe(uint64_t inode, uint32_t sample) {
  const uint32_t mask = IndexSize - 1;
  uint32_t h = quarrow::HashKey(inode, sample) & mask;
  while (Index[h] != 0) {
    const RecDBEntry &e = EntryAt(static_cast<int32_t>(Index[h] - 1));
    if (e.RecInode == inode && e.RecSample == sample) break;
    h = (h + 1) & mask;
  }
  return h;
}

void IndexUpTo(int32_t count) {
  for (; Indexed < count; ++Indexed) {
    const RecDBEntry &e = EntryAt(Indexed);
    uint32_t h = Probe(e.RecInode, e.RecSample);
    if (Index[h] == 0) Index[h] = static_cast<uint32_t>(Indexed) + 1;  // the first of equal ones counts
  }
}

// The index over the entries in use, grown to take `count`; false when there is none.
bool IndexFor(int32_t count) {
  if (IndexFailed || RecDB == nullptr) return false;
  if (Index != nullptr && static_cast<uint64_t>(count) * 4 <= uint64_t{IndexSize} * 3) {
    IndexUpTo(RecDBEntries);
    return true;
  }
  // Rebuilt from the entries with room for half as many again, so that it is rebuilt
  // only now and then; the old table goes first.
  if (Index != nullptr) TAP_MemFree(Index);
  const uint32_t size = quarrow::SlotsFor(static_cast<uint32_t>(count) + static_cast<uint32_t>(count) / 2);
  uint32_t *table = size != 0 ? static_cast<uint32_t *>(TAP_MemAlloc(size * sizeof(uint32_t))) : nullptr;
  Index = table;
  IndexSize = size;
  Indexed = 0;
  if (table == nullptr) {
    IndexFailed = true;
    IndexSize = 0;
    return false;
  }
  TAP_MemSet(table, 0, size * sizeof(uint32_t));
  IndexUpTo(RecDBEntries);
  return true;
}

// The first entry in use with this identity, or null.
RecDBEntry *FindIdentity(uint64_t inode, uint32_t sample) {
  Adopt();
  if (RecDB == nullptr) return nullptr;
  if (IndexFor(RecDBEntries + 1)) {
    uint32_t h = Probe(inode, sample);
    return Index[h] != 0 ? &EntryAt(static_cast<int32_t>(Index[h] - 1)) : nullptr;
  }
  for (int32_t i = 0; i < RecDBEntries; ++i) {
    RecDBEntry &e = EntryAt(i);
    if (e.RecInode == inode && e.RecSample == sample) return &e;
  }
  return nullptr;
}

// Room for entry RecDBSize + 1 .. + 10; false (nothing changed) without memory.
bool Grow() {
  Adopt();
  if (RecDBSize > kMaxCapacity - kGrowStep) return false;
  const int32_t capacity = RecDBSize + kGrowStep;
  if (capacity > Slots) {
    if (BlockCount == kMaxBlocks) return false;
    int32_t slots = Slots / 8 > capacity - Slots ? Slots / 8 : capacity - Slots;
    if (slots > kMaxCapacity - Slots) slots = kMaxCapacity - Slots;
    RecDBEntry *block = AllocEntries(slots);
    if (block == nullptr) return false;
    Blocks[BlockCount] = Block{block, Slots, slots};
    ++BlockCount;
    Slots += slots;
    RecDB = Blocks[0].entries;
  }
  RecDBSize = capacity;
  return true;
}


}  // namespace

RecDBEntry *RecDB_At(int32_t i) {
  Adopt();
  if (RecDB == nullptr || i < 0 || i >= RecDBSize) return nullptr;
  return &EntryAt(i);
}

int32_t RecDB_Contiguous() {
  Adopt();
  if (RecDB == nullptr) return 0;
  const int32_t n = RecDBEntries < RecDBSize ? RecDBEntries : RecDBSize;
  return n < Blocks[0].slots ? n : Blocks[0].slots;
}

void RecDB_CreateDir() {
  // A file or a link where a folder belongs would block the module for good (and a link
  // could lead off the disk): it goes aside, and a real folder takes its place.
  quarrow::SetAsideUnlessFolder(quarrow::kProgramFilesOs, quarrow::kSettingsName);
  HDD_ChangeDir(quarrow::kProgramFiles);
  TAP_Hdd_Create(quarrow::kSettingsName, ATTR_FOLDER);
  quarrow::SetAsideUnlessFolder(quarrow::kSettingsParentOs, quarrow::kFolderName);
  HDD_ChangeDir(quarrow::kSettingsName);
  TAP_Hdd_Create(quarrow::kFolderName, ATTR_FOLDER);
}

namespace {

// The file is there but unread: the next save must not replace it.
void LoadFailed() {
  if (!Unreadable) Log("failed to load the DB");
  Unreadable = true;
  LastLoad = FileState::Unread;
}

// The records of a file laid out as `layout`, in a new array of layout.arraySize entries
// (null when it has none). False after LoadFailed when memory or the file failed.
bool ReadRecords(HostFile &file, uint32_t length, const quarrow::DbLayout &layout, RecDBEntry **array) {
  const uint32_t present = layout.present;
  *array = layout.arraySize > 0 ? AllocEntries(layout.arraySize) : nullptr;
  if (layout.arraySize > 0 && *array == nullptr) {
    Log("failed to reserve memory for the DB");
    LastLoad = FileState::Unread;
    return false;
  }
  // What lies behind the whole records (a header cut short, a record's first bytes) is
  // read too, so that a wrong length cannot pass for a short file.
  const uint64_t read = (layout.hasHeader ? kHeaderSize : 0) + static_cast<uint64_t>(present) * kEntrySize;
  const uint64_t tail = length > read ? length - read : 0;
  if ((present > 0 && TAP_Hdd_Fread(*array, kEntrySize, present, file.get()) != present) ||
      (tail < kEntrySize && !file.EndsAfter(static_cast<uint32_t>(tail)))) {
    if (*array != nullptr) TAP_MemFree(*array);
    LoadFailed();
    return false;
  }
  return true;
}

// Takes what is sound of the records read into `array`; a damaged file is logged, and the
// file as it was is kept aside by the next save.
void KeepRecords(const quarrow::DbLayout &layout, RecDBEntry *array) {
  const uint32_t present = layout.present;
  bool extra = false;
  int32_t kept = 0;
  if (present > 0) {
    // Records beyond the declared count are checked against those kept; the index for it
    // lives only here, and without it they are compared one by one.
    uint32_t slots = layout.inUse < present ? quarrow::DB_KeepSlots(present) : 0;
    uint32_t *scratch = slots != 0 ? static_cast<uint32_t *>(TAP_MemAlloc(slots * sizeof(uint32_t))) : nullptr;
    kept = quarrow::DB_KeepRecords(array, present, layout.inUse, &extra, nullptr, scratch, scratch ? slots : 0);
    if (scratch != nullptr) TAP_MemFree(scratch);
  }
  if (quarrow::DB_Sound(layout, extra)) {
    if (array != nullptr) TakeArray(array, layout.arraySize, layout.capacity, kept);
    return;
  }
  if (kept > 0) {
    TakeArray(array, layout.arraySize, quarrow::DB_KeptCapacity(layout, kept), kept);
  } else if (array != nullptr) {
    TAP_MemFree(array);
  }
  TAP_SPrint(LogString, "damaged DB, kept %d entries", static_cast<int>(kept));
  Log(LogString);
  LastLoad = FileState::Rejected;
}

void LoadFile() {
  LastLoad = FileState::None;
  SavedDir saved;
  const quarrow::SettingsFile found = quarrow::FindSettingsFile(kDBFile);
  if (found != quarrow::SettingsFile::There) {
    if (found == quarrow::SettingsFile::OutOfReach) LoadFailed();
    return;
  }
  LastLoad = FileState::InMemory;

  HostFile file(kDBFile);
  if (file.get() == nullptr) {
    LoadFailed();
    return;
  }
  ReleaseArray();

  uint32_t length = TAP_Hdd_Flen(file.get());
  uint32_t header[kHeaderWords] = {0, 0, 0};
  if (length >= kHeaderSize && TAP_Hdd_Fread(header, kHeaderSize, 1, file.get()) != 1) {
    LoadFailed();
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
  if (layout.exact && layout.capacity == 0) return;  // a valid file without entries
  RecDBEntry *array = nullptr;
  if (ReadRecords(file, length, layout, &array)) KeepRecords(layout, array);
}

}  // namespace

void RecDB_Load() {
  LoadFile();
  if (Unreadable && LastLoad != FileState::Unread) {
    Log("DB readable again");
    Unreadable = RefusalLogged = false;
  }
}

void RecDB_Save() {
  if (RecDB == nullptr) return;
  if (LastLoad == FileState::Unread) {
    // Saving now would replace fingerprints that were never read (an unreadable file
    // was logged once already).
    if (!RefusalLogged) Log("failed to save the DB");
    RefusalLogged = Unreadable;
    return;
  }
  RecDBVersion = quarrow::DB_VERSION;
  uint32_t header[kHeaderWords] = {RecDBVersion, static_cast<uint32_t>(RecDBSize),
                                   static_cast<uint32_t>(RecDBEntries)};
  Adopt();
  // The header, then each block's share of the RecDBSize entries.
  static FilePart parts[kMaxBlocks + 1];
  parts[0] = FilePart{header, kHeaderSize};
  int partCount = 1;
  for (int32_t b = 0; b < BlockCount && Blocks[b].first < RecDBSize; ++b) {
    const int32_t left = RecDBSize - Blocks[b].first;
    const int32_t n = left < Blocks[b].slots ? left : Blocks[b].slots;
    parts[partCount++] = FilePart{Blocks[b].entries, static_cast<uint32_t>(n) * kEntrySize};
  }
  // A file that could not be used as it stood is kept under a name of its own.
  if (!quarrow::ReplaceSettingsFile(kDBFile, parts, partCount, LastLoad == FileState::Rejected)) {
    Log("failed to save the DB");
    return;
  }
  LastLoad = FileState::InMemory;
}

bool RecDB_Usable() { return LastLoad == FileState::InMemory || LastLoad == FileState::Rejected; }

const RecDBEntry *RecDB_Find(uint64_t inode, uint32_t sample) { return FindIdentity(inode, sample); }

void RecDB_Destroy() {
  ReleaseArray();
  LastLoad = FileState::None;
}

namespace {

// Stores what was seen where it differs from what is stored.
template <typename T>
void Refresh(T &stored, T seen, bool *changed) {
  if (stored == seen) return;
  stored = seen;
  *changed = true;
}

}  // namespace

int RecDB_Add(const RecDBEntry *entry) {
  if (entry == nullptr) return 0;

  RecDBEntry *found = FindIdentity(entry->RecInode, entry->RecSample);
  if (found != nullptr) {
    RecDBEntry &known = *found;
    bool changed = false;
    // A companion that is missing now (orphaned with the recording still in place, or
    // not yet moved back) keeps its stored fingerprint: it is the only way back to its
    // name.
    if (entry->InfInode != 0) {
      Refresh(known.InfInode, entry->InfInode, &changed);
      Refresh(known.InfSample, entry->InfSample, &changed);
    }
    if (entry->NavInode != 0) {
      Refresh(known.NavInode, entry->NavInode, &changed);
      Refresh(known.NavSample, entry->NavSample, &changed);
    }
    // The stored name is always terminated inside the field; the caller's may not be.
    if (strncmp(known.RecName, entry->RecName, kNameSize - 1) != 0) {
      CopyName(known.RecName, entry->RecName);
      changed = true;
    }
    return changed ? 1 : 0;
  }

  if (RecDBEntries >= RecDBSize && !Grow()) {
    Log("failed to reserve memory while increasing the DB");
    return 0;
  }

  RecDBEntry &added = EntryAt(RecDBEntries);
  added = *entry;
  added.Padding1 = 0;
  added.Padding2 = 0;
  added.Padding3 = 0;
  CopyName(added.RecName, entry->RecName);
  ++RecDBEntries;

  // Against a file that could not be read, every recording would look new at every scan.
  if (LastLoad != FileState::Unread) {
    TAP_SPrint(LogString, "added '%.127s' to the DB", added.RecName);
    Log(LogString);
  }
  return 1;
}
