// The rules of Quarrow.folders, free of any host call: the folder where each fingerprint's
// recording was last seen, kept beside Quarrow.db (whose format stays as peers read it),
// and whether a recovered recording may go back into that folder. The module and the PC
// tool quarrow-db both decide with these.
//
// File layout, all little-endian:
//   0  "QFLD"              magic
//   4  version             FOLDERS_VERSION
//   8  folder count F
//  12  table bytes T
//  16  record count R
//  20  CRC-32 of bytes 0..19
//  24  folder table: F times a 16-bit length and that many bytes of a host path (no NUL)
//      CRC-32 of the table
//      records in blocks of up to FOLDERS_BLOCK_RECORDS, each block followed by its
//      CRC-32; a record is the recording's inode (64-bit), its sample (32-bit) and the
//      number of its folder in the table (32-bit)
// A damaged block costs its records only; a damaged header or table costs every folder.
// Never a name or a fingerprint: those live in Quarrow.db alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

enum : uint32_t {
  FOLDERS_VERSION = 1,
  FOLDERS_HEADER_SIZE = 24,
  FOLDERS_RECORD_SIZE = 16,
  FOLDERS_BLOCK_RECORDS = 256,
  FOLDERS_CHECK_SIZE = 4,
  // A stored folder leaves room in a 512-byte path for "/mnt/hd", "/", a stored name and
  // ".nav"; a deeper folder is not kept.
  FOLDER_PATH_MAX = 360,
  FOLDER_PATH_SIZE = FOLDER_PATH_MAX + 1,
  FOLDERS_MAX_FOLDERS = 65535,
  FOLDERS_MAX_RECORDS = 1u << 20,
};

inline constexpr char kFoldersFile[] = "Quarrow.folders";
// The key of Quarrow.ini that turns the return into folders on (1); absent or 0: off. The
// user adds it; the module only reads it.
inline constexpr char kRestoreFoldersKey[] = "RestoreFolders";
inline constexpr char kFoldersMagic[4] = {'Q', 'F', 'L', 'D'};

// One record, as in memory and in the file.
struct FolderRecord {
  uint64_t inode;   // the recording's (RecInode)
  uint32_t sample;  // RecSample
  uint32_t folder;  // number in the folder table
};
static_assert(sizeof(FolderRecord) == FOLDERS_RECORD_SIZE, "16-byte folder record");

// CRC-32 (the common reflected polynomial 0xEDB88320), continued from `crc` (0 to start).
uint32_t Crc32(const void *data, size_t size, uint32_t crc = 0);

// A folder the module may keep: "/DataFiles" or below it, plain components, no NUL, at most
// FOLDER_PATH_MAX bytes, and not /DataFiles/Zorvane or below it (where recovered files
// wait, never a folder they are returned to). `length` bytes of `path` (not necessarily
// terminated).
bool Folders_PathValid(const char *path, size_t length);

// Bytes of a file with `tableBytes` of folder table and `records` records.
uint64_t Folders_FileSize(uint32_t tableBytes, uint32_t records);

// Writes the file's header into `out`.
void Folders_Header(uint8_t (&out)[FOLDERS_HEADER_SIZE], uint32_t folders, uint32_t tableBytes, uint32_t records);

// Writes the whole file into `out` (Folders_FileSize(tableBytes, count) bytes, returned):
// the header, `table` (`folders` entries as the file holds them) with its check, and the
// records in checked blocks.
uint32_t Folders_Write(uint8_t *out, const uint8_t *table, uint32_t tableBytes, uint32_t folders,
                       const FolderRecord *records, uint32_t count);

// What a load made of a file. Folders and records are handed to the callbacks as found;
// the caller keeps what it can (a record whose folder it did not take is dropped by it).
struct FoldersParse {
  bool headerSound;    // magic and header check right
  bool versionKnown;   // headerSound and the version is FOLDERS_VERSION
  uint32_t version;
  bool tableSound;     // the table's check right and every entry within it
  uint32_t folders;    // folders handed over
  uint32_t records;    // records handed over (from sound blocks)
  uint32_t dropped;    // records in damaged or missing blocks, or naming no folder
  bool exact;          // all sound, nothing dropped, the length exactly as announced
};

// `index` counts from 0 in table order; `valid` says whether the path passes
// Folders_PathValid. False stops the load (no memory): what was handed over stays.
using FolderFn = bool (*)(void *context, uint32_t index, const char *path, uint32_t length, bool valid);
using RecordFn = bool (*)(void *context, const FolderRecord &record);

FoldersParse Folders_Parse(const uint8_t *data, uint32_t size, FolderFn onFolder, RecordFn onRecord, void *context);

// Where a recovered recording's folder stands.
enum class FolderState {
  Real,       // a real folder on the internal disk, every step from /DataFiles
  Gone,       // it, or a folder on its way, is not there
  NotFolder,  // it, or a step on its way, is a link or no folder
  OtherDisk,  // it lies on another device
  Unknown,    // it could not be examined
  Invalid,    // not a folder the module keeps (Folders_PathValid)
};

// One step's look, as lstat64 (never following a link) sees it.
struct FolderLook {
  enum Result { Missing, Found, Failed } result;
  bool isFolder;     // a folder, not a link
  uint64_t device;
};
using FolderLookFn = FolderLook (*)(const char *hostPath, void *context);

// Looks at /DataFiles and each step below it down to `folder` (a host path): every step
// must be a real folder on `device` (the internal disk).
FolderState Folders_Check(const char *folder, uint64_t device, FolderLookFn look, void *context);

// Why a recording stays in the recovery folder, for the log: "" for Real.
const char *Folders_Reason(FolderState state);

}  // namespace quarrow
