// The recorder's plug-in API as the firmware presents it to a module: every TAP_
// name is a data object in libtap.so holding a pointer to a firmware function.
#pragma once

#include <cstdint>

extern "C" {

// Opaque file handle of the host's file calls.
struct TYPE_File;

// Folder entry filled by TAP_Hdd_FindFirst / TAP_Hdd_FindNext.
struct HddFolderEntry {
  uint32_t attr;         // ATTR_FILE or ATTR_FOLDER (anything else: ignore)
  uint8_t reserved[20];  // host data the module never reads
  char name[128];        // NUL-terminated entry name
};
static_assert(sizeof(HddFolderEntry) == 152, "folder entry is 152 bytes");
static_assert(__builtin_offsetof(HddFolderEntry, name) == 24, "name at offset 24");

// Graphic record as TAP_Osd_PutGd reads it (16 bytes on the recorder). The module's own
// panel graphics keep their sizes in it, but their data is in the module's own format
// (lib/osd/panel_image.h) and never goes to the host: the module does not call PutGd.
struct GraphicRecord {
  uint8_t format[4];      // 1, 0, 1, 2
  const uint8_t *data;    // compressed image data
  uint32_t size;          // decompressed size: width * height * 4
  uint16_t width;
  uint16_t height;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(GraphicRecord) == 16, "graphic record is 16 bytes on the recorder");
#endif

// Record handed to __TAP_Init_: the host reads the two entry points from it.
struct TAP_EntryRecord {
  int (*main)(void);
  uint32_t (*eventHandler)(uint16_t event, uint32_t param1, uint32_t param2);
};

}  // extern "C"

enum : uint32_t {
  ATTR_FILE = 208,
  ATTR_FOLDER = 224,
};

enum : uint16_t {
  EVT_IDLE = 0,
  EVT_KEY = 0x100,
};

// TAP_API(result, name, parameters): the whole table, once. host/ declares it,
// the simulator defines it, the link stub names it.
//
// What the module relies on: names are relative to the current folder or absolute from the
// disk's root. Fopen gives a handle at offset 0 or null, closed with Fclose (HostFile);
// Fread and Fwrite give the whole blocks moved; FindFirst gives the number of entries and
// fills the first. MemAlloc gives a block or null, freed with MemFree; so does Osd_SaveBox
// (width x height ARGB words). Create leaves an existing entry as it is. The results of
// Create, Delete, Rename and FindNext are not relied on: the module looks afterwards.
#define QUARROW_TAP_API_TABLE(TAP_API)                                                         \
  TAP_API(int, TAP_Hdd_ChangeDir, (const char *dir))                                          \
  TAP_API(int, TAP_Hdd_Exist, (const char *name))                                             \
  TAP_API(uint32_t, TAP_Hdd_Create, (const char *name, uint32_t attr))                         \
  TAP_API(int, TAP_Hdd_Delete, (const char *name))                                             \
  TAP_API(TYPE_File *, TAP_Hdd_Fopen, (const char *name))                                      \
  TAP_API(uint32_t, TAP_Hdd_Fread, (void *buf, uint32_t blockSize, uint32_t blockCount, TYPE_File *file)) \
  TAP_API(uint32_t, TAP_Hdd_Fwrite, (const void *buf, uint32_t blockSize, uint32_t blockCount, TYPE_File *file)) \
  TAP_API(uint32_t, TAP_Hdd_Fseek, (TYPE_File * file, int32_t offset, uint32_t origin))       \
  TAP_API(uint32_t, TAP_Hdd_Flen, (TYPE_File * file))                                          \
  TAP_API(void, TAP_Hdd_Fclose, (TYPE_File * file))                                            \
  TAP_API(int, TAP_Hdd_Rename, (const char *oldName, const char *newName))                     \
  TAP_API(int, TAP_Hdd_FindFirst, (HddFolderEntry * entry, const char *filter))               \
  TAP_API(int, TAP_Hdd_FindNext, (HddFolderEntry * entry))                                     \
  TAP_API(void *, TAP_MemAlloc, (uint32_t size))                                               \
  TAP_API(int, TAP_MemFree, (const void *block))                                               \
  TAP_API(void, TAP_MemSet, (void *dest, uint8_t value, uint32_t count))                       \
  TAP_API(void, TAP_MemCpy, (void *dest, const void *src, uint32_t count))                     \
  TAP_API(uint32_t, TAP_GetTick, (void))                                                       \
  TAP_API(int, TAP_GetTime, (uint16_t * mjd, uint8_t *hour, uint8_t *minute, uint8_t *second)) \
  TAP_API(void, TAP_ExtractMjd, (uint16_t mjd, uint16_t *year, uint8_t *month, uint8_t *day, uint8_t *weekDay)) \
  TAP_API(void, TAP_SPrint, (void *buffer, const char *format, ...))                           \
  TAP_API(int, TAP_Print, (const char *format, ...))                                           \
  TAP_API(void, TAP_Sleep, (uint32_t units))                                                   \
  TAP_API(uint16_t, TAP_Osd_Create, (uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t lutIdx, int flag)) \
  TAP_API(int, TAP_Osd_Delete, (uint16_t region))                                              \
  TAP_API(int, TAP_Osd_FillBox, (uint16_t region, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t color)) \
  TAP_API(int, TAP_Osd_PutGd, (uint16_t region, int x, int y, const GraphicRecord *gd, int sprite)) \
  TAP_API(uint32_t *, TAP_Osd_SaveBox, (uint16_t region, uint32_t x, uint32_t y, uint32_t w, uint32_t h)) \
  TAP_API(void, TAP_Osd_RestoreBox, (uint16_t region, uint32_t x, uint32_t y, uint32_t w, uint32_t h, const void *data)) \
  TAP_API(int, TAP_Osd_Sync, (void))                                                           \
  TAP_API(int, TAP_ExitNormal, (void))                                                         \
  TAP_API(int, TAP_EnterNormal, (void))

#define QUARROW_DECLARE_TAP_API(result, name, params) extern result(*name) params;
extern "C" {
QUARROW_TAP_API_TABLE(QUARROW_DECLARE_TAP_API)
}
#undef QUARROW_DECLARE_TAP_API
