// Growable first-in first-out queue of strings that never stores a string twice.
#pragma once

#include <cstdint>

// The record belongs to the caller; its buffer and index (host allocator) to the record,
// released by StringDBDestroy. Strings are known by their offset from Data, which stays valid.
struct StringDB {
  uint32_t AllocSize;  // bytes allocated (0 without buffer)
  char *Data;          // the strings one after another, each with its NUL; null without buffer
  char *ReadPtr;       // the current string
  char *WritePtr;      // behind the last string's NUL: the end mark
  // The stored strings by offset + 1, for the duplicate test; it lives and goes with the
  // buffer. Without memory for it the strings are compared one by one.
  uint32_t *Index;
  uint32_t IndexSize;
  uint32_t Strings;
  bool IndexFailed;
};

// Sets up an empty record with an InitialSize-byte buffer (none for 0). False for a null
// record or without memory; the record then holds no buffer and may still be added to.
bool StringDBInit(StringDB *db, uint32_t InitialSize);
// Stores a copy of `string` unless an equal one is held (read or not); returns its offset.
// 0, storing nothing, for a null record or string, an empty string, or without memory; 0
// is the first string's offset too, so failure shows only in StringDBEOF / StringDBGet.
// May move the buffer.
uint32_t StringDBAdd(StringDB *db, const char *string);
// The offset of the current string; 0 for a null record or one without buffer.
uint32_t StringDBCurrent(StringDB *db);
// True when no string is left to read (also for a null record or one without buffer).
bool StringDBEOF(StringDB *db);
// Data + StringOffset; null without buffer or for an offset beyond the buffer. The offset is
// not checked to start a string. Valid until the next StringDBAdd or StringDBDestroy.
char *StringDBGet(StringDB *db, uint32_t StringOffset);
// Steps to the next string and returns its offset; 0, without moving, at the end.
uint32_t StringDBNext(StringDB *db);
// Releases the buffer and leaves the record empty and reusable; false for a null record.
bool StringDBDestroy(StringDB *db);
