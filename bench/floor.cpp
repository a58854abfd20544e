// The benchmark's floor: a module that does, for the same disk, only the host and system
// calls that the scan needs (walk the folders; per recording three lstat64 and three
// open, seek, read of 4 bytes, close; the database read or written once; per added
// recording its log line, with the folder changes around it, and its terminal echo),
// with no look-ups of its own. Loaded into tapsim like the module, so that the
// simulator's own cost cancels.
#include <cstring>

#include "app/quarrow.h"
#include "host/os.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/log/log.h"
#include "lib/time/timeutil.h"

char LogString[512] = {};

namespace {

constexpr char kSettings[] = "/ProgramFiles/Settings/Zorvane";
constexpr uint32_t kChunk = 4096;  // entries per block
uint32_t ScanAt = 0;
bool Done = false;

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
  TAP_SPrint(queue, "/DataFiles");

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
        Join(path, "/mnt/hd", folder, "/", name);
        if (lstat64(path, &st) == 0) Join(queue + queued++ * 200, "", folder, "/", name);
      } else if (entry.attr == ATTR_FILE) {
        RecDBEntry e{};
        Join(path, "/mnt/hd", folder, "/", name);
        lstat64(path, &st);
        e.RecInode = st.st_ino;
        std::memcpy(e.RecName, name, sizeof e.RecName);
        e.RecSample = Sample(name, 8);
        Join(path, "/mnt/hd", folder, "/", name);
        std::strcat(path, ".inf");
        if (lstat64(path, &st) == 0) e.InfInode = st.st_ino;
        Join(path, "", "", name, ".inf");
        e.InfSample = Sample(path, 8);
        Join(path, "/mnt/hd", folder, "/", name);
        std::strcat(path, ".nav");
        if (lstat64(path, &st) == 0) e.NavInode = st.st_ino;
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
    }
  }
  while (first != nullptr) {
    Chunk *next = first->next;
    TAP_MemFree(first);
    first = next;
  }
  TAP_MemFree(queue);
}

}  // namespace

extern "C" int TAP_Main(void) {
  ScanAt = TAP_GetTick() + (GetUptime() < 12001 ? 12000 : 4000);
  HDD_ChangeDir("/ProgramFiles");
  TAP_Hdd_Create("Settings", ATTR_FOLDER);
  HDD_ChangeDir("Settings");
  TAP_Hdd_Create("Zorvane", ATTR_FOLDER);
  return 1;
}

extern "C" uint32_t TAP_EventHandler(uint16_t event, uint32_t param1, uint32_t) {
  if (event == EVT_IDLE && !Done && static_cast<int32_t>(TAP_GetTick() - ScanAt) > 0) {
    Scan();
    Done = true;
  }
  return param1;
}
