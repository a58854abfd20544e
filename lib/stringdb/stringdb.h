// Growable first-in first-out queue of strings that never stores a string twice.
#pragma once

#include <cstdint>

struct StringDB {
  uint32_t AllocSize;
  char *Data;
  char *ReadPtr;
  char *WritePtr;
  // The stored strings by offset + 1, for the duplicate test; it lives and goes with the
  // buffer. Without memory for it the strings are compared one by one.
  uint32_t *Index;
  uint32_t IndexSize;
  uint32_t Strings;
  bool IndexFailed;
};

bool StringDBInit(StringDB *db, uint32_t InitialSize);
uint32_t StringDBAdd(StringDB *db, const char *string);
uint32_t StringDBCurrent(StringDB *db);
bool StringDBEOF(StringDB *db);
char *StringDBGet(StringDB *db, uint32_t StringOffset);
uint32_t StringDBNext(StringDB *db);
bool StringDBDestroy(StringDB *db);
