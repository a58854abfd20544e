// Firmware-internal records that the module reads after finding them by symbol
// name; the firmware owns them and the module only reads them. On the recorder
// (32-bit) the offsets are fixed by the firmware; on a 64-bit PC build the
// pointers simply widen.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Region table entry ("_osdInfo" is an array of these, indexed by region handle).
struct OSDRegionEntry {
  uint16_t x;
  uint16_t y;
  uint16_t width;
  uint8_t reserved[10];
};
static_assert(sizeof(OSDRegionEntry) == 16, "region entry is 16 bytes");
static_assert(offsetof(OSDRegionEntry, width) == 4, "width at byte 4");

// Record that a task record points to; its second word points to the current folder
// ("/mnt/hd" + host path).
struct TapDirRecord {
  uint32_t reserved0;
  const char *path;
};

// One loaded module ("_tapTask" is an array of these, indexed by "_curTapTask").
struct TapTaskRecord {
  uint8_t reserved[40];
  TapDirRecord *dir;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TapTaskRecord) == 44, "task record is 44 bytes on the recorder");
static_assert(offsetof(TapTaskRecord, dir) == 40, "directory record pointer at 40");
static_assert(offsetof(TapDirRecord, path) == 4, "path pointer at 4");
#endif

}  // extern "C"
