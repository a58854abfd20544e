#include "app/seenfiles.h"

#include "app/slots.h"
#include "host/os.h"
#include "host/tap.h"

namespace quarrow {
namespace {

// 64-bit values as two words: the record needs no 8-byte alignment and stays 32 bytes.
struct Wide {
  uint32_t low, high;
  static Wide Of(uint64_t v) { return {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)}; }
  bool operator==(const Wide &) const = default;
};

struct SeenFile {
  Wide inode;
  Wide size;
  uint32_t mtime;
  uint32_t ctime;
  uint32_t ctimeNsec;
  uint32_t sample;
  bool operator==(const SeenFile &) const = default;
};
static_assert(sizeof(SeenFile) == 32, "a kept file is 32 bytes");

// Empty while file[kRecording].inode is zero (no file has inode 0).
struct SeenRecording {
  SeenFile file[3];
  uint32_t mark;  // scan number << 3 | a bit per file kept (1 << kind)
};
static_assert(sizeof(SeenRecording) == 100, "a kept recording is 100 bytes");

SeenRecording *Table = nullptr;
uint32_t Slots = 0;  // a power of two, or 0 without a table
uint32_t Used = 0;
uint32_t Scan = 0;   // the scan under way, as the mark holds it (29 bits)

SeenFile Seen(const struct stat64 &st, uint32_t sample) {
  return {Wide::Of(static_cast<uint64_t>(st.st_ino)), Wide::Of(static_cast<uint64_t>(st.st_size)),
          static_cast<uint32_t>(st.st_mtime), static_cast<uint32_t>(st.st_ctime),
          static_cast<uint32_t>(st.st_ctim.tv_nsec), sample};
}

uint64_t KeyOf(const SeenRecording &r) {
  return uint64_t{r.file[kRecording].inode.high} << 32 | r.file[kRecording].inode.low;
}

// The slot holding `key`, or the empty one where it would go; null without a table.
SeenRecording *Slot(SeenRecording *table, uint32_t slots, uint64_t key) {
  if (slots == 0) return nullptr;
  for (uint32_t i = HashKey(key, 0) & (slots - 1);; i = (i + 1) & (slots - 1)) {
    const uint64_t k = KeyOf(table[i]);
    if (k == key || k == 0) return &table[i];
  }
}

// Moves the records of recordings seen by the scan `keepScan` (any, when all is true) into
// a table with room for `wanted`; false (the table as it was) without memory.
bool Rebuild(uint32_t wanted, bool all) {
  const uint32_t slots = SlotsFor(wanted);
  if (slots == 0) return false;
  auto *table = static_cast<SeenRecording *>(TAP_MemAlloc(slots * sizeof(SeenRecording)));
  if (table == nullptr) return false;
  TAP_MemSet(table, 0, slots * sizeof(SeenRecording));
  uint32_t used = 0;
  for (uint32_t i = 0; i < Slots; ++i) {
    const SeenRecording &r = Table[i];
    if (KeyOf(r) == 0 || (!all && r.mark >> 3 != Scan)) continue;
    *Slot(table, slots, KeyOf(r)) = r;
    ++used;
  }
  if (Table != nullptr) TAP_MemFree(Table);
  Table = table;
  Slots = slots;
  Used = used;
  return true;
}

}  // namespace

void SeenFiles_BeginScan() { Scan = (Scan + 1) & 0x1FFFFFFF; }

void SeenFiles_EndScan() {
  uint32_t seen = 0;
  for (uint32_t i = 0; i < Slots; ++i) seen += KeyOf(Table[i]) != 0 && Table[i].mark >> 3 == Scan;
  if (seen == Used) return;
  if (seen == 0) {
    SeenFiles_Free();
    return;
  }
  // Without memory the stale records stay until a later scan can drop them.
  Rebuild(seen, false);
}

bool SeenFiles_Sample(uint64_t recInode, MatchKind kind, const struct stat64 &st, uint32_t *sample) {
  SeenRecording *r = Slot(Table, Slots, recInode);
  if (r == nullptr || KeyOf(*r) == 0) return false;
  r->mark = Scan << 3 | (r->mark & 7);
  const SeenFile now = Seen(st, r->file[kind].sample);
  if ((r->mark & (1u << kind)) == 0 || !(r->file[kind] == now)) return false;
  *sample = now.sample;
  return true;
}

void SeenFiles_Keep(uint64_t recInode, MatchKind kind, const struct stat64 &st, uint32_t sample) {
  if (recInode == 0) return;
  SeenRecording *r = Slot(Table, Slots, recInode);
  if (r == nullptr || KeyOf(*r) == 0) {
    // A new recording: at most three quarters of the slots in use.
    if ((Slots == 0 || uint64_t{Used + 1} * 4 > uint64_t{Slots} * 3) && !Rebuild(Used + 1, true)) return;
    r = Slot(Table, Slots, recInode);
    *r = SeenRecording{};
    r->file[kRecording].inode = Wide::Of(recInode);
    ++Used;
  }
  r->file[kind] = Seen(st, sample);
  r->mark = Scan << 3 | (r->mark & 7) | 1u << kind;
}

void SeenFiles_Free() {
  if (Table != nullptr) TAP_MemFree(Table);
  Table = nullptr;
  Slots = Used = 0;
}

uint32_t SeenFiles_Count() { return Used; }

}  // namespace quarrow
