#include "app/recdb_format.h"

#include <cstring>

#include "app/names.h"

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

int32_t DB_KeepRecords(RecDBEntry *array, uint32_t present, uint32_t inUse, bool *extra, DbRecord *states) {
  int32_t kept = static_cast<int32_t>(inUse);
  for (uint32_t i = 0; i < inUse; ++i) {
    array[i].RecName[kNameSize - 1] = '\0';
    if (states != nullptr) states[i] = DbRecord::Declared;
  }
  *extra = false;
  for (uint32_t i = inUse; i < present; ++i) {
    DbRecord state = !DB_Plausible(array[i])                 ? DbRecord::Damaged
                     : KnownBefore(array, kept, array[i]) ? DbRecord::Duplicate
                                                          : DbRecord::Extra;
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
