// The benchmark's floor: a module that does, for the same disk, only the host and system
// calls that the work needs, with no look-ups of its own. Loaded into tapsim like the
// module, so that the simulator's own cost cancels.
// Scan: walk the folders; per recording three lstat64 and three open, seek, read of 4
// bytes, close; the database read, or written once and made durable (the file's data and
// its folder synced); per added recording its log line, with the folder changes around
// it, and its terminal echo.
// Intake and recovery: /Quarrow listed once, its log line, the settings saved once; per
// entry lstat64 of the source, the rename and lstat64 of its effect, the list saved once
// by the safe replace (with its syncs) and deleted once after the two folders are synced;
// the database read once; per file open, read of 16 bytes, close, lstat64 of the three
// names, the rename, lstat64 of its effect and the log line; the message box.
#include <cstring>

#include "app/quarrow.h"
#include "host/folders.h"
#include "host/os.h"
#include "host/tap.h"
#include "lib/hdd/durable.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/log/log.h"
#include "lib/osd/osd.h"
#include "lib/replace/replace.h"
#include "lib/time/timeutil.h"

char LogString[512] = {};

namespace {

constexpr const char *kSettings = quarrow::kSettingsFolder;
constexpr const char *kOsPrefix = quarrow::kOsPrefix;
constexpr const char *kQuarrowOs = quarrow::kQuarrowFolderOs;
constexpr const char *kZorvaneOs = quarrow::kRecoveryFolderOs;
constexpr auto kMakeZorvane = quarrow::JoinText("mkdir ", quarrow::kRecoveryFolderOs);
constexpr uint32_t kChunk = 4096;  // entries per block
uint32_t ScanAt = 0;
uint32_t IntakeAt = 0;
bool Done = false;
bool IntakeDone = false;

struct Chunk {
  Chunk *next;
  uint32_t used;
  RecDBEntry entries[kChunk];
};

void Join(char *out, const char *a, const char *b, const char *c, const char *d) {
  TAP_SPrint(out, "%.120s%.200s%.8s%.170s", a, b, c, d);
}

uint32_t Sample(const char *name, int32_t offset) {
  uint32_t word = 0;
  TYPE_File *f = TAP_Hdd_Fopen(name);
  if (f == nullptr) return 0;
  TAP_Hdd_Fseek(f, offset, 0);
  TAP_Hdd_Fread(&word, 4, 1, f);
  TAP_Hdd_Fclose(f);
  return word;
}

void Scan() {
  // Folder queue: host paths, 200 bytes each, in blocks.
  constexpr uint32_t kFolders = 1001;
  char *queue = static_cast<char *>(TAP_MemAlloc(kFolders * 200));
  if (queue == nullptr) return;
  uint32_t queued = 1, at = 0;
  TAP_SPrint(queue, "%s", quarrow::kDataFiles);

  // A database from an earlier scan is read once; then nothing is added.
  bool later = false;
  HDD_ChangeDir(kSettings);
  if (TAP_Hdd_Exist("Quarrow.db")) {
    TYPE_File *f = TAP_Hdd_Fopen("Quarrow.db");
    if (f != nullptr) {
      uint32_t length = TAP_Hdd_Flen(f);
      void *all = TAP_MemAlloc(length);
      if (all != nullptr) TAP_Hdd_Fread(all, length, 1, f);
      TAP_Hdd_Fclose(f);
      if (all != nullptr) TAP_MemFree(all);
      later = true;
    }
  }

  Chunk *first = nullptr, *last = nullptr;
  uint32_t count = 0;
  HddFolderEntry entry;
  char path[512], name[128];
  struct stat64 st;
  while (at < queued) {
    const char *folder = queue + at * 200;
    HDD_ChangeDir(folder);
    int n = TAP_Hdd_FindFirst(&entry, "rec|mpg");
    for (int i = 0; i < n; ++i) {
      std::memcpy(name, entry.name, sizeof name - 1);
      name[sizeof name - 1] = '\0';
      if (entry.attr == ATTR_FOLDER && queued < kFolders) {
        Join(path, kOsPrefix, folder, "/", name);
        if (os::lstat64(path, &st) == 0) Join(queue + queued++ * 200, "", folder, "/", name);
      } else if (entry.attr == ATTR_FILE) {
        RecDBEntry e{};
        Join(path, kOsPrefix, folder, "/", name);
        os::lstat64(path, &st);
        e.RecInode = st.st_ino;
        std::memcpy(e.RecName, name, sizeof e.RecName);
        e.RecSample = Sample(name, 8);
        Join(path, kOsPrefix, folder, "/", name);
        std::strcat(path, ".inf");
        if (os::lstat64(path, &st) == 0) e.InfInode = st.st_ino;
        Join(path, "", "", name, ".inf");
        e.InfSample = Sample(path, 8);
        Join(path, kOsPrefix, folder, "/", name);
        std::strcat(path, ".nav");
        if (os::lstat64(path, &st) == 0) e.NavInode = st.st_ino;
        Join(path, "", "", name, ".nav");
        e.NavSample = Sample(path, 12);
        if (!later) {
          if (last == nullptr || last->used == kChunk) {
            Chunk *c = static_cast<Chunk *>(TAP_MemAlloc(sizeof(Chunk)));
            if (c == nullptr) break;
            c->next = nullptr;
            c->used = 0;
            (last != nullptr ? last->next : first) = c;
            last = c;
          }
          last->entries[last->used++] = e;
          ++count;
          TAP_SPrint(LogString, "added '%.127s' to the DB", e.RecName);
          SavedDir saved;
          HDD_ChangeDir(kSettings);
          LogEntry("Quarrow.log", "Quarrow", 1, 5, LogString);
        }
      }
      TAP_Hdd_FindNext(&entry);
    }
    ++at;
  }
  if (!later && count > 0) {
    HDD_ChangeDir(kSettings);
    TAP_Hdd_Create("Quarrow.db", ATTR_FILE);
    TYPE_File *f = TAP_Hdd_Fopen("Quarrow.db");
    if (f != nullptr) {
      const uint32_t capacity = (count + 9) / 10 * 10;
      uint32_t header[3] = {1, capacity, count};
      TAP_Hdd_Fwrite(header, sizeof header, 1, f);
      for (Chunk *c = first; c != nullptr; c = c->next) TAP_Hdd_Fwrite(c->entries, sizeof(RecDBEntry), c->used, f);
      static const RecDBEntry zero[10] = {};
      if (capacity > count) TAP_Hdd_Fwrite(zero, sizeof(RecDBEntry), capacity - count, f);
      TAP_Hdd_Fclose(f);
      quarrow::MakeDurableHere("Quarrow.db");
      quarrow::MakeDurableHere(nullptr);
    }
  }
  while (first != nullptr) {
    Chunk *next = first->next;
    TAP_MemFree(first);
    first = next;
  }
  TAP_MemFree(queue);
}

void Log(const char *text) {
  SavedDir saved;
  HDD_ChangeDir(kSettings);
  LogEntry("Quarrow.log", "Quarrow", 1, 5, text);
}

// A byte buffer that doubles.
struct Buffer {
  uint8_t *data = nullptr;
  uint32_t size = 0, capacity = 0;
  bool Put(const void *bytes, uint32_t n) {
    if (size + n > capacity) {
      uint32_t c = capacity < 65536 ? 65536 : capacity * 2;
      while (c < size + n) c *= 2;
      auto *d = static_cast<uint8_t *>(TAP_MemAlloc(c));
      if (d == nullptr) return false;
      if (data != nullptr) {
        std::memcpy(d, data, size);
        TAP_MemFree(data);
      }
      data = d;
      capacity = c;
    }
    std::memcpy(data + size, bytes, n);
    size += n;
    return true;
  }
  ~Buffer() {
    if (data != nullptr) TAP_MemFree(data);
  }
};

bool PutName(Buffer &b, const char *name) {
  const uint8_t length = static_cast<uint8_t>(std::strlen(name));
  return b.Put(&length, 1) && b.Put(name, length + 1u);
}

// Entries by inode (index + 1), for the recovery's look-up of each file.
uint32_t Slot(uint64_t inode, uint32_t mask) { return static_cast<uint32_t>(inode * 0x9E3779B97F4A7C15ull >> 32) & mask; }

void Intake() {
  struct stat64 st;
  // /Quarrow listed once: the list in the recovery list's own layout.
  Buffer list;
  uint32_t count = 0;
  const uint8_t header[8] = {'Q', 'R', 'L', '1', 0, 0, 0, 0};
  if (!list.Put(header, sizeof header)) return;
  char path[512], to[512];
  DIR *dir = os::opendir(kQuarrowOs);
  if (dir == nullptr) return;
  while (struct dirent *e = os::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    TAP_SPrint(path, "%s/%.400s", kQuarrowOs, e->d_name);
    if (os::lstat64(path, &st) != 0) continue;
    const uint64_t inode = st.st_ino;
    if (!list.Put(&inode, 8) || !PutName(list, e->d_name) || !PutName(list, e->d_name)) break;
    ++count;
  }
  os::closedir(dir);
  if (count == 0) return;
  TAP_SPrint(LogString, "found %d new files in the Quarrow folder", static_cast<int>(count));
  Log(LogString);
  HDD_ChangeDir(kSettings);
  static const char kIni[] = "[Quarrow]\r\nInformUser=1\r\n";
  FilePart ini = {kIni, sizeof kIni - 1};
  FileReplace("Quarrow.ini", &ini, 1, nullptr);
  if (os::lstat64(kZorvaneOs, &st) != 0) {
    os::system(kMakeZorvane);
    quarrow::MakeDurable(quarrow::kDataFilesOs);
  }
  std::memcpy(list.data + 4, &count, 4);
  FilePart part = {list.data, list.size};
  if (!FileReplace("Quarrow.pending", &part, 1, nullptr)) return;
  for (uint32_t at = 8; at < list.size;) {
    const char *name = reinterpret_cast<const char *>(list.data + at + 9);
    at += 8 + 2 * (list.data[at + 8] + 2u);
    TAP_SPrint(path, "%s/%.400s", kQuarrowOs, name);
    TAP_SPrint(to, "%s/%.400s", kZorvaneOs, name);
    os::rename(path, to);
    os::lstat64(to, &st);
  }

  // The database read once, its entries found by inode.
  HDD_ChangeDir(kSettings);
  TYPE_File *f = TAP_Hdd_Fopen("Quarrow.db");
  if (f == nullptr) return;
  const uint32_t length = TAP_Hdd_Flen(f);
  auto *db = static_cast<uint8_t *>(TAP_MemAlloc(length));
  if (db != nullptr) TAP_Hdd_Fread(db, length, 1, f);
  TAP_Hdd_Fclose(f);
  if (db == nullptr) return;
  uint32_t used;
  std::memcpy(&used, db + 8, 4);
  const auto *entries = reinterpret_cast<const RecDBEntry *>(db + 12);
  uint32_t slots = 1;
  while (slots < 6 * used + 2) slots *= 2;
  auto *table = static_cast<uint32_t *>(TAP_MemAlloc(slots * 4));
  if (table == nullptr) {
    TAP_MemFree(db);
    return;
  }
  std::memset(table, 0, slots * 4);
  for (uint32_t i = 0; i < used; ++i) {
    const uint64_t inodes[3] = {entries[i].RecInode, entries[i].InfInode, entries[i].NavInode};
    for (uint32_t k = 0; k < 3; ++k) {
      uint32_t h = Slot(inodes[k], slots - 1);
      while (table[h] != 0) h = (h + 1) & (slots - 1);
      table[h] = (i << 2 | k) + 1;
    }
  }
  static const char *const kSuffix[3] = {"", ".inf", ".nav"};
  HDD_ChangeDir(quarrow::kRecoveryFolder);
  for (uint32_t at = 8; at < list.size;) {
    uint64_t inode;
    std::memcpy(&inode, list.data + at, 8);
    const char *name = reinterpret_cast<const char *>(list.data + at + 9);
    at += 8 + 2 * (list.data[at + 8] + 2u);
    uint8_t head[16] = {};
    TYPE_File *file = TAP_Hdd_Fopen(name);
    if (file == nullptr) continue;
    TAP_Hdd_Fread(head, 1, sizeof head, file);
    TAP_Hdd_Fclose(file);
    uint32_t first, second;
    std::memcpy(&first, head + 8, 4);
    std::memcpy(&second, head + 12, 4);
    const RecDBEntry *e = nullptr;
    uint32_t kind = 0;
    for (uint32_t h = Slot(inode, slots - 1); table[h] != 0 && e == nullptr; h = (h + 1) & (slots - 1)) {
      const RecDBEntry &c = entries[(table[h] - 1) >> 2];
      kind = (table[h] - 1) & 3;
      const uint64_t inodes[3] = {c.RecInode, c.InfInode, c.NavInode};
      const uint32_t samples[3] = {c.RecSample, c.InfSample, c.NavSample};
      if (inodes[kind] == inode && samples[kind] == (kind == 2 ? second : first)) e = &c;
    }
    if (e == nullptr) continue;
    const uint64_t inodes[3] = {e->RecInode, e->InfInode, e->NavInode};
    char stem[128];
    std::memcpy(stem, e->RecName, sizeof stem - 1);
    stem[sizeof stem - 1] = '\0';
    bool free = true;
    for (uint32_t k = 0; k < 3 && free; ++k) {
      TAP_SPrint(to, "%s/%s%s", kZorvaneOs, stem, kSuffix[k]);
      free = os::lstat64(to, &st) != 0 || st.st_ino == inodes[k];
    }
    if (!free) continue;
    char newName[140];
    TAP_SPrint(newName, "%s%s", stem, kSuffix[kind]);
    TAP_Hdd_Rename(name, newName);
    TAP_SPrint(to, "%s/%s", kZorvaneOs, newName);
    os::lstat64(to, &st);
    TAP_SPrint(LogString, "recovered '%.200s' to '%.200s'", name, newName);
    Log(LogString);
  }
  TAP_MemFree(table);
  TAP_MemFree(db);
  quarrow::MakeDurable(kZorvaneOs);
  quarrow::MakeDurable(kQuarrowOs);
  HDD_ChangeDir(kSettings);
  TAP_Hdd_Delete("Quarrow.pending");
  OSDMenuMessageBoxInitialize("Quarrow", "Dateien gefunden und verschoben");
  OSDMenuMessageBoxButtonAdd("OK");
  OSDMenuMessageBoxButtonSelect(0);
  OSDMenuMessageBoxShow();
}

}  // namespace

extern "C" int TAP_Main(void) {
  ScanAt = TAP_GetTick() + (GetUptime() < 12001 ? 12000 : 4000);
  IntakeAt = TAP_GetTick() + (GetUptime() < 12001 ? 18000 : 100);
  HDD_ChangeDir(quarrow::kProgramFiles);
  TAP_Hdd_Create(quarrow::kSettingsName, ATTR_FOLDER);
  HDD_ChangeDir(quarrow::kSettingsName);
  TAP_Hdd_Create(quarrow::kFolderName, ATTR_FOLDER);
  return 1;
}

extern "C" uint32_t TAP_EventHandler(uint16_t event, uint32_t param1, uint32_t) {
  if (event == EVT_IDLE && !Done && static_cast<int32_t>(TAP_GetTick() - ScanAt) > 0) {
    Scan();
    Done = true;
  }
  if (event == EVT_IDLE && !IntakeDone && static_cast<int32_t>(TAP_GetTick() - IntakeAt) > 0) {
    Intake();
    IntakeDone = true;
  }
  return param1;
}
