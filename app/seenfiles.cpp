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
  uint64_t Value() const { return uint64_t{high} << 32 | low; }
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

// Found by file[kRecording].inode, which is set in every record in use.
struct SeenRecording {
  SeenFile file[3];
  uint32_t mark;  // scan number << 3 | a bit per file kept (1 << kind)
};
static_assert(sizeof(SeenRecording) == 100, "a kept recording is 100 bytes");

// The records lie in blocks of kPerBlock, so that growing never copies them; an index of
// record numbers + 1 (0 = empty) finds them. At most kMaxBlocks blocks (131,072
// recordings); recordings beyond are read at every scan.
constexpr uint32_t kPerBlock = 512;
constexpr uint32_t kMaxBlocks = 256;
SeenRecording *Blocks[kMaxBlocks];
uint32_t BlockCount = 0;
uint32_t Used = 0;
uint32_t *Index = nullptr;
uint32_t Slots = 0;  // a power of two, or 0 without an index
uint32_t Scan = 0;   // the scan under way, as the mark holds it (29 bits)

SeenRecording &At(uint32_t i) { return Blocks[i / kPerBlock][i % kPerBlock]; }

SeenFile Seen(const struct stat64 &st, uint32_t sample) {
  return {Wide::Of(static_cast<uint64_t>(st.st_ino)), Wide::Of(static_cast<uint64_t>(st.st_size)),
          static_cast<uint32_t>(st.st_mtime), static_cast<uint32_t>(st.st_ctime),
          static_cast<uint32_t>(st.st_ctim.tv_nsec), sample};
}

// The index slot that holds `key`'s record number, or the empty one where it would go.
uint32_t *SlotOf(uint64_t key) {
  for (uint32_t i = HashKey(key, 0) & (Slots - 1);; i = (i + 1) & (Slots - 1))
    if (Index[i] == 0 || At(Index[i] - 1).file[kRecording].inode.Value() == key) return &Index[i];
}

SeenRecording *Find(uint64_t key) {
  if (Slots == 0) return nullptr;
  const uint32_t n = *SlotOf(key);
  return n != 0 ? &At(n - 1) : nullptr;
}

void Reindex() {
  TAP_MemSet(Index, 0, Slots * sizeof(uint32_t));
  for (uint32_t i = 0; i < Used; ++i) *SlotOf(At(i).file[kRecording].inode.Value()) = i + 1;
}

// Room for one more record and its index slot; false without memory.
bool MakeRoom() {
  if (Used == BlockCount * kPerBlock) {
    if (BlockCount == kMaxBlocks) return false;
    auto *block = static_cast<SeenRecording *>(TAP_MemAlloc(kPerBlock * sizeof(SeenRecording)));
    if (block == nullptr) return false;
    Blocks[BlockCount++] = block;
  }
  // At most three quarters of the slots in use.
  if (uint64_t{Used + 1} * 4 > uint64_t{Slots} * 3) {
    const uint32_t slots = SlotsFor(Used + 1);
    auto *index = slots != 0 ? static_cast<uint32_t *>(TAP_MemAlloc(slots * sizeof(uint32_t))) : nullptr;
    if (index == nullptr) return false;
    if (Index != nullptr) TAP_MemFree(Index);
    Index = index;
    Slots = slots;
    Reindex();
  }
  return true;
}

}  // namespace

void SeenFiles_BeginScan() { Scan = (Scan + 1) & 0x1FFFFFFF; }

void SeenFiles_EndScan() {
  const uint32_t before = Used;
  // The last record in use fills each gap.
  for (uint32_t i = 0; i < Used;) {
    if (At(i).mark >> 3 == Scan) {
      ++i;
    } else {
      At(i) = At(Used - 1);
      --Used;
    }
  }
  if (Used == before) return;
  if (Used == 0) {
    SeenFiles_Free();
    return;
  }
  while (BlockCount > (Used + kPerBlock - 1) / kPerBlock) TAP_MemFree(Blocks[--BlockCount]);
  Reindex();
}

bool SeenFiles_Sample(uint64_t recInode, MatchKind kind, const struct stat64 &st, uint32_t *sample) {
  SeenRecording *r = Find(recInode);
  if (r == nullptr) return false;
  r->mark = Scan << 3 | (r->mark & 7);
  const SeenFile now = Seen(st, r->file[kind].sample);
  if ((r->mark & (1u << kind)) == 0 || !(r->file[kind] == now)) return false;
  *sample = now.sample;
  return true;
}

void SeenFiles_Keep(uint64_t recInode, MatchKind kind, const struct stat64 &st, uint32_t sample) {
  if (recInode == 0) return;
  SeenRecording *r = Find(recInode);
  if (r == nullptr) {
    // Without memory this recording is read again at the next scan.
    if (!MakeRoom()) return;
    r = &At(Used);
    *r = SeenRecording{};
    r->file[kRecording].inode = Wide::Of(recInode);
    *SlotOf(recInode) = ++Used;
  }
  r->file[kind] = Seen(st, sample);
  r->mark = Scan << 3 | (r->mark & 7) | 1u << kind;
}

void SeenFiles_Free() {
  while (BlockCount > 0) TAP_MemFree(Blocks[--BlockCount]);
  if (Index != nullptr) TAP_MemFree(Index);
  Index = nullptr;
  Slots = Used = 0;
}

uint32_t SeenFiles_Count() { return Used; }

uint32_t SeenFiles_Blocks() { return BlockCount + (Index != nullptr ? 1 : 0); }

}  // namespace quarrow
