// Growable first-in first-out queue of strings packed into one buffer; a string
// already held (read or not) is never stored twice.
#include "lib/stringdb/stringdb.h"

#include <cstring>

#include "host/tap.h"

namespace {

constexpr uint32_t kGrowthStep = 4096;

// A record whose buffer is missing holds nothing, whatever size it records
// (a failed initialisation leaves it so).
uint32_t usableSize(const StringDB *db) { return db->Data != nullptr ? db->AllocSize : 0; }

uint32_t hashOf(const char *s) {
  uint32_t h = 2166136261u;
  for (; *s != '\0'; ++s) h = (h ^ static_cast<uint8_t>(*s)) * 16777619u;
  return h;
}

void releaseIndex(StringDB *db) {
  if (db->Index != nullptr) TAP_MemFree(db->Index);
  db->Index = nullptr;
  db->IndexSize = 0;
}

// The slot of an equal string, or the free one where it would go.
uint32_t probe(const StringDB *db, const char *string) {
  const uint32_t mask = db->IndexSize - 1;
  uint32_t h = hashOf(string) & mask;
  while (db->Index[h] != 0 && strcmp(db->Data + db->Index[h] - 1, string) != 0) h = (h + 1) & mask;
  return h;
}

// An index with room for one more string; false when there is none.
bool indexReady(StringDB *db) {
  if (db->IndexFailed || db->Data == nullptr) return false;
  if (db->Index != nullptr && (uint64_t{db->Strings} + 1) * 4 <= uint64_t{db->IndexSize} * 3) return true;
  releaseIndex(db);
  uint64_t size = 64;
  while (size * 3 < (uint64_t{db->Strings} + 1) * 8) size *= 2;  // at most three eighths full
  if (size > (uint64_t{1} << 28)) {
    db->IndexFailed = true;
    return false;
  }
  db->Index = static_cast<uint32_t *>(TAP_MemAlloc(static_cast<uint32_t>(size) * sizeof(uint32_t)));
  if (db->Index == nullptr) {
    db->IndexFailed = true;
    return false;
  }
  db->IndexSize = static_cast<uint32_t>(size);
  TAP_MemSet(db->Index, 0, db->IndexSize * sizeof(uint32_t));
  for (const char *p = db->Data; p < db->WritePtr; p += strlen(p) + 1) {
    uint32_t h = probe(db, p);
    if (db->Index[h] == 0) db->Index[h] = static_cast<uint32_t>(p - db->Data) + 1;
  }
  return true;
}

void noteAdded(StringDB *db, bool indexed, uint32_t slot, uint32_t offset) {
  ++db->Strings;
  if (indexed) db->Index[slot] = offset + 1;
}

}  // namespace

bool StringDBInit(StringDB *db, uint32_t InitialSize) {
  if (db == nullptr) return false;
  db->AllocSize = InitialSize;
  db->Data = nullptr;
  if (InitialSize != 0) {
    db->Data = static_cast<char *>(TAP_MemAlloc(InitialSize));
    if (db->Data != nullptr) {
      TAP_MemSet(db->Data, 0, InitialSize);
    } else {
      db->AllocSize = 0;
    }
  }
  db->ReadPtr = db->WritePtr = db->Data;
  db->Index = nullptr;
  db->IndexSize = 0;
  db->Strings = 0;
  db->IndexFailed = false;
  return db->Data != nullptr || InitialSize == 0;
}

uint32_t StringDBAdd(StringDB *db, const char *string) {
  if (db == nullptr || string == nullptr) return 0;
  // An empty string would read as the end mark and hide everything queued after it.
  if (string[0] == '\0') return 0;

  uint32_t slot = 0;
  const bool indexed = indexReady(db);
  if (indexed) {
    slot = probe(db, string);
    if (db->Index[slot] != 0) return db->Index[slot] - 1;
  } else if (db->Data != nullptr) {
    for (const char *p = db->Data; p < db->WritePtr; p += strlen(p) + 1) {
      if (strcmp(p, string) == 0) return static_cast<uint32_t>(p - db->Data);
    }
  }

  const uint64_t length = strlen(string);
  const uint64_t used = db->Data != nullptr ? static_cast<uint64_t>(db->WritePtr - db->Data) : 0;
  const uint64_t need = used + length + 2;  // the string, its NUL and the end mark
  const uint32_t offset = static_cast<uint32_t>(used);

  if (usableSize(db) < need) {
    uint64_t size = usableSize(db) != 0 ? uint64_t{usableSize(db)} + kGrowthStep : 2 * length;
    // Strings that one step cannot hold get exactly the room they need.
    if (size < need) size = need;
    if (size > UINT32_MAX) return 0;

    auto *grown = static_cast<char *>(TAP_MemAlloc(static_cast<uint32_t>(size)));
    if (grown == nullptr) return 0;
    TAP_MemSet(grown, 0, static_cast<uint32_t>(size));
    const uint64_t read = db->Data != nullptr ? static_cast<uint64_t>(db->ReadPtr - db->Data) : 0;
    if (db->Data != nullptr) TAP_MemCpy(grown, db->Data, db->AllocSize);
    // Copied before the old buffer goes, in case the string lies inside it.
    TAP_MemCpy(grown + used, string, static_cast<uint32_t>(length + 1));
    if (db->Data != nullptr) TAP_MemFree(db->Data);
    db->Data = grown;
    db->AllocSize = static_cast<uint32_t>(size);
    db->ReadPtr = grown + read;
    db->WritePtr = grown + used + length + 1;
    noteAdded(db, indexed, slot, offset);
    return offset;
  }

  TAP_MemCpy(db->WritePtr, string, static_cast<uint32_t>(length + 1));
  db->WritePtr += length + 1;
  noteAdded(db, indexed, slot, offset);
  return offset;
}

uint32_t StringDBCurrent(StringDB *db) {
  if (db == nullptr || db->Data == nullptr) return 0;
  return static_cast<uint32_t>(db->ReadPtr - db->Data);
}

bool StringDBEOF(StringDB *db) {
  return db == nullptr || db->Data == nullptr || *db->ReadPtr == '\0';
}

char *StringDBGet(StringDB *db, uint32_t StringOffset) {
  if (db == nullptr || db->Data == nullptr) return nullptr;
  // Only offsets inside the buffer give a pointer.
  if (StringOffset >= db->AllocSize) return nullptr;
  return db->Data + StringOffset;
}

uint32_t StringDBNext(StringDB *db) {
  if (db == nullptr || db->Data == nullptr) return 0;
  if (db->ReadPtr >= db->WritePtr || *db->ReadPtr == '\0') return 0;
  db->ReadPtr += strlen(db->ReadPtr) + 1;
  return static_cast<uint32_t>(db->ReadPtr - db->Data);
}

bool StringDBDestroy(StringDB *db) {
  if (db == nullptr) return false;
  if (db->Data != nullptr) TAP_MemFree(db->Data);
  releaseIndex(db);
  StringDBInit(db, 0);
  return true;
}
