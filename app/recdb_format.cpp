#include "app/recdb_format.h"

#include <cstring>

#include "app/names.h"
#include "app/slots.h"

namespace quarrow {

namespace {

constexpr uint32_t kNameSize = sizeof(RecDBEntry::RecName);

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the file is the little-endian memory image");
static_assert(DB_HEADER_SIZE == 12, "12-byte file header");

int32_t RoundUpToStep(int64_t count) {
  return static_cast<int32_t>((count + DB_GROW_STEP - 1) / DB_GROW_STEP * DB_GROW_STEP);
}

bool AllZero(const void *data, size_t size) {
  const auto *bytes = static_cast<const uint8_t *>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

bool SameIdentity(const RecDBEntry &a, const RecDBEntry &b) {
  return a.RecInode == b.RecInode && a.RecSample == b.RecSample;
}

bool KnownBefore(const RecDBEntry *array, int32_t kept, const RecDBEntry &e) {
  for (int32_t j = 0; j < kept; ++j) {
    if (SameIdentity(array[j], e)) return true;
  }
  return false;
}

// The identities kept so far, by position in `array`.
struct KeptIndex {
  uint32_t *slots;
  uint32_t mask;
  const RecDBEntry *array;

  // True when an identity equal to `e`'s is held already; otherwise `at`, where `e`
  // will be kept, is entered.
  bool FindOrAdd(const RecDBEntry &e, uint32_t at) {
    for (uint32_t h = HashKey(e.RecInode, e.RecSample) & mask;; h = (h + 1) & mask) {
      if (slots[h] == 0) {
        slots[h] = at + 1;
        return false;
      }
      if (SameIdentity(array[slots[h] - 1], e)) return true;
    }
  }
};

}  // namespace

DbLayout DB_Layout(uint32_t length, const uint32_t (&header)[DB_HEADER_WORDS]) {
  DbLayout l{};
  l.hasHeader = length >= DB_HEADER_SIZE;
  l.version = l.hasHeader ? header[0] : 0;
  l.versionKnown = !l.hasHeader || l.version == DB_VERSION;
  // The records are read whatever the header says: a damaged header must not cost the
  // fingerprints behind it.
  l.capacity = l.hasHeader ? static_cast<int32_t>(header[1]) : 0;
  l.count = l.hasHeader ? static_cast<int32_t>(header[2]) : 0;
  l.present = l.hasHeader ? (length - DB_HEADER_SIZE) / DB_ENTRY_SIZE : 0;
  if (l.present > static_cast<uint32_t>(kDBMaxCapacity)) l.present = static_cast<uint32_t>(kDBMaxCapacity);
  l.sane = l.hasHeader && l.capacity >= 0 && l.count >= 0 && l.count <= l.capacity;
  l.exact = l.sane && static_cast<uint64_t>(length) ==
                          DB_HEADER_SIZE + static_cast<uint64_t>(l.capacity) * DB_ENTRY_SIZE;
  l.inUse = l.sane ? (static_cast<uint32_t>(l.count) < l.present ? static_cast<uint32_t>(l.count) : l.present) : 0;
  l.arraySize = l.exact ? l.capacity : RoundUpToStep(l.present);
  return l;
}

bool DB_Plausible(const RecDBEntry &e) {
  const void *end = std::memchr(e.RecName, 0, kNameSize);
  if (e.RecInode == 0 || end == nullptr) return false;
  size_t length = static_cast<size_t>(static_cast<const char *>(end) - e.RecName);
  if (!IsPlainName(e.RecName) || !AllZero(e.RecName + length, kNameSize - length)) return false;
  if (e.Padding1 != 0 || e.Padding2 != 0 || e.Padding3 != 0) return false;
  return (e.InfInode != 0 || e.InfSample == 0) && (e.NavInode != 0 || e.NavSample == 0);
}

uint32_t DB_KeepSlots(uint32_t present) { return SlotsFor(present); }

int32_t DB_KeepRecords(RecDBEntry *array, uint32_t present, uint32_t inUse, bool *extra, DbRecord *states,
                       uint32_t *slots, uint32_t slotCount) {
  int32_t kept = static_cast<int32_t>(inUse);
  const uint32_t need = SlotsFor(present);
  const bool indexed = slots != nullptr && need != 0 && slotCount >= need && (slotCount & (slotCount - 1)) == 0;
  KeptIndex index{slots, slotCount - 1, array};
  if (indexed) std::memset(slots, 0, size_t{slotCount} * sizeof *slots);
  for (uint32_t i = 0; i < inUse; ++i) {
    array[i].RecName[kNameSize - 1] = '\0';
    if (states != nullptr) states[i] = DbRecord::Declared;
    if (indexed) index.FindOrAdd(array[i], i);
  }
  *extra = false;
  for (uint32_t i = inUse; i < present; ++i) {
    DbRecord state = DbRecord::Damaged;
    if (DB_Plausible(array[i])) {
      const bool known = indexed ? index.FindOrAdd(array[i], static_cast<uint32_t>(kept))
                                 : KnownBefore(array, kept, array[i]);
      state = known ? DbRecord::Duplicate : DbRecord::Extra;
    }
    if (states != nullptr) states[i] = state;
    if (state != DbRecord::Extra) continue;
    *extra = true;
    if (static_cast<uint32_t>(kept) != i) array[kept] = array[i];
    ++kept;
  }
  std::memset(static_cast<void *>(array + kept), 0,
              static_cast<size_t>(present - static_cast<uint32_t>(kept)) * DB_ENTRY_SIZE);
  return kept;
}

int32_t DB_KeptCapacity(const DbLayout &layout, int32_t kept) {
  return layout.exact ? layout.capacity : RoundUpToStep(kept);
}

}  // namespace quarrow
