// The rules of Quarrow.db, free of any host call: what a file's length and header say,
// and which of its records a load keeps. The module's load and the PC tool quarrow-db
// both decide with these, so that the tool predicts what the module does.
#pragma once

#include <cstdint>

#include "app/quarrow.h"

namespace quarrow {

enum : uint32_t {
  DB_VERSION = 1,
  DB_HEADER_WORDS = 3,
  DB_HEADER_SIZE = DB_HEADER_WORDS * sizeof(uint32_t),
  DB_ENTRY_SIZE = sizeof(RecDBEntry),
  DB_GROW_STEP = 10,
};
// Capacities whose array size or grown size would not fit 32 bits are refused.
constexpr int32_t kDBMaxCapacity =
    static_cast<int32_t>((UINT32_MAX - DB_HEADER_SIZE) / DB_ENTRY_SIZE) - DB_GROW_STEP;

// What a file of `length` bytes with these header words holds, before any record is read.
struct DbLayout {
  bool hasHeader;      // the file holds the 12-byte header (else the words are taken as 0)
  bool versionKnown;   // no header, or version 1: the records are read
  uint32_t version;
  int32_t capacity;
  int32_t count;
  bool sane;           // header there, 0 <= count <= capacity
  bool exact;          // sane, and the file is exactly 12 + 176 x capacity bytes
  uint32_t present;    // whole records behind the header (bounded by kDBMaxCapacity)
  uint32_t inUse;      // records taken as the header declares them
  int32_t arraySize;   // entries to reserve for reading the records (0: none)
};

// The layout of a file of `length` bytes whose first words are `header` (zeros when the
// file is shorter than the header).
DbLayout DB_Layout(uint32_t length, const uint32_t (&header)[DB_HEADER_WORDS]);

// A record as the module writes it: a recording's inode, a plain name NUL-filled to the
// end of its field, zero padding, no sample without its inode.
bool DB_Plausible(const RecDBEntry &e);

// What a load made of one record.
enum class DbRecord : uint8_t {
  Declared,   // within the declared count: kept as it is (name terminated)
  Extra,      // beyond the count, plausible and a new identity: kept
  Duplicate,  // beyond the count, plausible, identity kept already: dropped
  Damaged,    // beyond the count and not plausible: dropped
};

// Keeps the `inUse` declared records of `array` (`present` records read), as they are,
// and behind them every plausible record, once per identity; the rest of the first
// `present` entries is zeroed. Returns how many were kept; *extra says whether any record
// beyond the declared ones was. With `states` (room for `present`), records each record's fate.
// With `slots` (DB_KeepSlots(present) of them) the identities are looked up there; without,
// each record is compared with all kept before it. The outcome is the same.
int32_t DB_KeepRecords(RecDBEntry *array, uint32_t present, uint32_t inUse, bool *extra, DbRecord *states,
                       uint32_t *slots = nullptr, uint32_t slotCount = 0);
uint32_t DB_KeepSlots(uint32_t present);

// True when a load with this layout and outcome takes the file as it stands; otherwise
// it is damaged, and the next save keeps it aside.
inline bool DB_Sound(const DbLayout &layout, bool extra) { return layout.exact && !extra; }

// The capacity the load gives the array it keeps: the header's for an exact file, else
// `kept` rounded up to a multiple of DB_GROW_STEP.
int32_t DB_KeptCapacity(const DbLayout &layout, int32_t kept);

}  // namespace quarrow
