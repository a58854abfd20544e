// Reading the recovery list's bytes, free of any host call (shared with quarrow-db).
#include <cstring>

#include "app/names.h"
#include "app/recoverylist.h"

namespace quarrow {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'R', 'L', '1'};
constexpr uint32_t kHeaderSize = RECOVERY_LIST_HEADER_SIZE;

// One name at `*at`: its length byte, the bytes, a NUL; a plain name.
bool ParseName(const uint8_t *data, uint32_t size, uint32_t *at, const char **name) {
  if (*at >= size) return false;
  uint32_t length = data[*at];
  if (length == 0 || size - *at < length + 2) return false;
  const char *text = reinterpret_cast<const char *>(data + *at + 1);
  if (text[length] != '\0' || strnlen(text, length) != length || !IsPlainName(text)) return false;
  *name = text;
  *at += length + 2;
  return true;
}

}  // namespace

bool RecoveryList_WellFormed(const uint8_t *data, uint32_t size) {
  if (size < kHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
  uint32_t count;
  std::memcpy(&count, data + 4, sizeof count);
  uint32_t at = kHeaderSize, seen = 0;
  while (at < size) {
    const char *name;
    if (size - at < 8) return false;
    at += 8;
    if (!ParseName(data, size, &at, &name) || !ParseName(data, size, &at, &name)) return false;
    ++seen;
  }
  return seen == count;
}

bool RecoveryList_Next(const RecoveryList *list, uint32_t *offset, RecoveryItem *item) {
  if (list->data == nullptr) return false;
  uint32_t at = *offset < kHeaderSize ? kHeaderSize : *offset;
  if (at >= list->size || list->size - at < 8) return false;
  std::memcpy(&item->inode, list->data + at, sizeof item->inode);
  at += 8;
  if (!ParseName(list->data, list->size, &at, &item->source) ||
      !ParseName(list->data, list->size, &at, &item->target))
    return false;
  *offset = at;
  return true;
}

}  // namespace quarrow
