#include "app/folders_format.h"

#include <cstring>

#include "app/names.h"
#include "host/folders.h"
#include "host/paths.h"

namespace quarrow {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the file is the little-endian memory image");

uint32_t Crc32(const void *data, size_t size, uint32_t crc) {
  // Half a byte at a time: a table of 16 words rather than 256 in the module.
  static constexpr uint32_t kNibble[16] = {
      0x00000000, 0x1DB71064, 0x3B6E20C8, 0x26D930AC, 0x76DC4190, 0x6B6B51F4, 0x4DB26158, 0x5005713C,
      0xEDB88320, 0xF00F9344, 0xD6D6A3E8, 0xCB61B38C, 0x9B64C2B0, 0x86D3D2D4, 0xA00AE278, 0xBDBDF21C};
  const auto *p = static_cast<const uint8_t *>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    crc = (crc >> 4) ^ kNibble[crc & 15];
    crc = (crc >> 4) ^ kNibble[crc & 15];
  }
  return ~crc;
}

namespace {

// /DataFiles/Zorvane and what lies below it.
bool InRecovery(const char *folder, size_t length) {
  const size_t n = sizeof kRecoveryFolder - 1;
  return length >= n && std::memcmp(folder, kRecoveryFolder, n) == 0 && (length == n || folder[n] == '/');
}

}  // namespace

bool Folders_PathValid(const char *path, size_t length) {
  const size_t root = sizeof kDataFiles - 1;
  if (length < root || length > FOLDER_PATH_MAX || std::memcmp(path, kDataFiles, root) != 0) return false;
  if (std::memchr(path, '\0', length) != nullptr || InRecovery(path, length)) return false;
  // Each step below /DataFiles a plain name: no empty step, no "." or "..".
  for (size_t at = root; at < length;) {
    if (path[at] != '/') return false;
    size_t end = at + 1;
    while (end < length && path[end] != '/') ++end;
    const size_t step = end - at - 1;
    if (step == 0 || (step == 1 && path[at + 1] == '.') || (step == 2 && path[at + 1] == '.' && path[at + 2] == '.'))
      return false;
    at = end;
  }
  return true;
}


uint64_t Folders_FileSize(uint32_t tableBytes, uint32_t records) {
  const uint64_t blocks = (uint64_t{records} + FOLDERS_BLOCK_RECORDS - 1) / FOLDERS_BLOCK_RECORDS;
  return FOLDERS_HEADER_SIZE + uint64_t{tableBytes} + FOLDERS_CHECK_SIZE + uint64_t{records} * FOLDERS_RECORD_SIZE +
         blocks * FOLDERS_CHECK_SIZE;
}

namespace {

void Put(uint8_t *out, uint32_t word) { std::memcpy(out, &word, sizeof word); }
uint32_t Get(const uint8_t *in) {
  uint32_t word;
  std::memcpy(&word, in, sizeof word);
  return word;
}

}  // namespace

void Folders_Header(uint8_t (&out)[FOLDERS_HEADER_SIZE], uint32_t folders, uint32_t tableBytes, uint32_t records) {
  std::memcpy(out, kFoldersMagic, sizeof kFoldersMagic);
  Put(out + 4, FOLDERS_VERSION);
  Put(out + 8, folders);
  Put(out + 12, tableBytes);
  Put(out + 16, records);
  Put(out + 20, Crc32(out, 20));
}

uint32_t Folders_Write(uint8_t *out, const uint8_t *table, uint32_t tableBytes, uint32_t folders,
                       const FolderRecord *records, uint32_t count) {
  uint8_t header[FOLDERS_HEADER_SIZE];
  Folders_Header(header, folders, tableBytes, count);
  std::memcpy(out, header, sizeof header);
  uint32_t at = FOLDERS_HEADER_SIZE;
  if (tableBytes != 0) std::memcpy(out + at, table, tableBytes);
  at += tableBytes;
  Put(out + at, Crc32(table, tableBytes));
  at += FOLDERS_CHECK_SIZE;
  for (uint32_t first = 0; first < count; first += FOLDERS_BLOCK_RECORDS) {
    const uint32_t n = count - first < FOLDERS_BLOCK_RECORDS ? count - first : FOLDERS_BLOCK_RECORDS;
    std::memcpy(out + at, records + first, n * FOLDERS_RECORD_SIZE);
    Put(out + at + n * FOLDERS_RECORD_SIZE, Crc32(out + at, n * FOLDERS_RECORD_SIZE));
    at += n * FOLDERS_RECORD_SIZE + FOLDERS_CHECK_SIZE;
  }
  return at;
}

FoldersParse Folders_Parse(const uint8_t *data, uint32_t size, FolderFn onFolder, RecordFn onRecord, void *context) {
  FoldersParse r{};
  if (size < FOLDERS_HEADER_SIZE || std::memcmp(data, kFoldersMagic, sizeof kFoldersMagic) != 0 ||
      Get(data + 20) != Crc32(data, 20))
    return r;
  r.headerSound = true;
  r.version = Get(data + 4);
  r.versionKnown = r.version == FOLDERS_VERSION;
  if (!r.versionKnown) return r;
  const uint32_t folders = Get(data + 8), tableBytes = Get(data + 12), records = Get(data + 16);
  // Without the whole table no record's folder can be told.
  const uint64_t tableEnd = uint64_t{FOLDERS_HEADER_SIZE} + tableBytes;
  if (folders > FOLDERS_MAX_FOLDERS || records > FOLDERS_MAX_RECORDS || tableEnd + FOLDERS_CHECK_SIZE > size ||
      Get(data + tableEnd) != Crc32(data + FOLDERS_HEADER_SIZE, tableBytes)) {
    r.dropped = records <= FOLDERS_MAX_RECORDS ? records : 0;
    return r;
  }
  // The table's entries must fill it exactly.
  uint32_t at = FOLDERS_HEADER_SIZE, count = 0;
  for (; count < folders && at + 2 <= tableEnd; ++count) {
    uint16_t length;
    std::memcpy(&length, data + at, sizeof length);
    if (at + 2 + uint64_t{length} > tableEnd) break;
    at += 2 + length;
  }
  if (count != folders || at != tableEnd) {
    r.dropped = records;
    return r;
  }
  r.tableSound = true;
  at = FOLDERS_HEADER_SIZE;
  for (uint32_t i = 0; i < folders; ++i) {
    uint16_t length;
    std::memcpy(&length, data + at, sizeof length);
    const char *path = reinterpret_cast<const char *>(data + at + 2);
    if (!onFolder(context, i, path, length, Folders_PathValid(path, length))) return r;
    ++r.folders;
    at += 2 + length;
  }
  // The records, block by block; a block that is not whole or fails its check is dropped.
  uint64_t offset = tableEnd + FOLDERS_CHECK_SIZE;
  for (uint32_t first = 0; first < records; first += FOLDERS_BLOCK_RECORDS) {
    const uint32_t n = records - first < FOLDERS_BLOCK_RECORDS ? records - first : FOLDERS_BLOCK_RECORDS;
    const uint64_t bytes = uint64_t{n} * FOLDERS_RECORD_SIZE;
    if (offset + bytes + FOLDERS_CHECK_SIZE > size) {
      r.dropped += records - first;
      offset = size + 1ull;
      break;
    }
    const uint8_t *block = data + offset;
    if (Get(block + bytes) != Crc32(block, bytes)) {
      r.dropped += n;
    } else {
      for (uint32_t k = 0; k < n; ++k) {
        FolderRecord rec;
        std::memcpy(&rec, block + uint64_t{k} * FOLDERS_RECORD_SIZE, sizeof rec);
        if (rec.folder >= folders) {
          ++r.dropped;
          continue;
        }
        if (!onRecord(context, rec)) return r;
        ++r.records;
      }
    }
    offset += bytes + FOLDERS_CHECK_SIZE;
  }
  r.exact = r.dropped == 0 && offset == size;
  return r;
}

[[gnu::noinline]] FolderState Folders_Check(const char *folder, uint64_t device, FolderLookFn look, void *context) {
  const size_t length = std::strlen(folder);
  if (!Folders_PathValid(folder, length)) return FolderState::Invalid;
  char step[FOLDER_PATH_SIZE];
  // /DataFiles first, then one more step at a time, each looked at without following a link.
  for (size_t end = sizeof kDataFiles - 1;; ++end) {
    if (end != length && folder[end] != '/') continue;
    std::memcpy(step, folder, end);
    step[end] = '\0';
    const FolderLook seen = look(step, context);
    if (seen.result == FolderLook::Missing) return FolderState::Gone;
    if (seen.result == FolderLook::Failed) return FolderState::Unknown;
    if (!seen.isFolder) return FolderState::NotFolder;
    if (seen.device != device) return FolderState::OtherDisk;
    if (end == length) return FolderState::Real;
  }
}

const char *Folders_Reason(FolderState state) {
  switch (state) {
    case FolderState::Real: return "";
    case FolderState::Gone: return "is gone";
    case FolderState::NotFolder: return "is a link or no folder";
    case FolderState::OtherDisk: return "is on another disk";
    case FolderState::Unknown: return "cannot be examined";
    case FolderState::Invalid: return "is not usable";
  }
  return "";
}

}  // namespace quarrow
