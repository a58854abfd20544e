// The list of the entries that the intake moves out of /mnt/hd/Quarrow, kept in the
// settings folder as "Quarrow.pending" from before the first move until every entry has
// its name back (or is known to have none). A recovery cut short by a power cut or a
// failure is finished from this list at a later start, and a finished one is never
// repeated: files that are not on the list are never renamed.
//
// File and memory layout: the 8-byte header "QRL1" and the count (32-bit), then per entry
// its inode number (64-bit), the length of its name in /mnt/hd/Quarrow (8-bit), that name
// and a NUL, the length of the name it was moved under (8-bit), that name and a NUL; all
// little-endian. Names are plain names (no "/", not "." or "..") of 1 to 255 bytes.
#pragma once

#include <cstdint>

namespace quarrow {

struct RecoveryItem {
  uint64_t inode;
  const char *source;  // name in /mnt/hd/Quarrow
  const char *target;  // name it was moved under in /DataFiles/Zorvane
};

// Owns its buffer (host allocator); RecoveryList_Free releases it.
struct RecoveryList {
  uint8_t *data = nullptr;
  uint32_t size = 0;      // bytes in use, header included
  uint32_t capacity = 0;  // bytes allocated
  uint32_t count = 0;
};

// True when the settings folder holds a list (a replace cut short is completed first): a
// recovery is still to be finished. False also when the folder cannot be entered.
bool RecoveryList_Pending();

// Frees what `list` held, then loads the list (empty when there is none). False, with the
// list empty and a log line, when one is there but cannot be read; a damaged one is set
// aside and read as empty. The caller frees it with RecoveryList_Free, also when it is empty.
bool RecoveryList_Load(RecoveryList *list);

// Writes the list in full, or removes the file when the list is empty. False on failure,
// with the previous file as it was.
bool RecoveryList_Save(const RecoveryList *list);

// Appends one entry; false (list unchanged) without memory, for a name that is not plain
// or longer than 255 bytes, or beyond 64 MiB.
bool RecoveryList_Add(RecoveryList *list, uint64_t inode, const char *source, const char *target);

enum : uint32_t { RECOVERY_LIST_HEADER_SIZE = 8 };

// True when `size` bytes are a whole list: the header, every entry whole with plain
// names, as many as the header says. Touches no host call.
bool RecoveryList_WellFormed(const uint8_t *data, uint32_t size);

// Walks the entries: start with offset 0; false at the end. Touches no host call, so a
// list whose `data` points at a file's bytes may be walked without owning them.
bool RecoveryList_Next(const RecoveryList *list, uint32_t *offset, RecoveryItem *item);

// Releases the buffer and leaves the list empty; harmless on an empty list.
void RecoveryList_Free(RecoveryList *list);

}  // namespace quarrow
