// Text helpers: bounded copy, ISO 8859-1 / UTF-8 classification and conversion, in-place
// edits, case-insensitive search.
#include "lib/text/text.h"

#include <cstring>
#include <strings.h>

#include "host/os.h"

namespace {

constexpr bool isFollowByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes a lead byte announces (2 to 4), or 0 when it is no lead byte.
constexpr int sequenceLength(unsigned char c) {
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 0;
}

}  // namespace

bool CopyText(char *destination, size_t size, const char *source) {
  if (destination == nullptr || size == 0) return false;
  if (source == nullptr) source = "";
  size_t n = 0;
  while (n < size - 1 && source[n] != '\0') ++n;
  memcpy(destination, source, n);
  destination[n] = '\0';
  return source[n] == '\0';
}

int isUTF8Char(const char *p) {
  if (p == nullptr) return 0;
  const auto *s = reinterpret_cast<const unsigned char *>(p);
  int length = sequenceLength(s[0]);
  if (length == 0) return 0;
  // A following byte is never NUL, so the scan stops at the string's end.
  for (int i = 1; i < length; ++i) {
    if (!isFollowByte(s[i])) return 0;
  }
  return 1;
}

void GetStringEncoding(const char *string, int *hasSingleByte, int *hasUTF8) {
  if (hasSingleByte != nullptr) *hasSingleByte = 0;
  if (hasUTF8 != nullptr) *hasUTF8 = 0;
  if (string == nullptr) return;

  const char *p = string;
  while (*p != '\0') {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
    } else if (isUTF8Char(p)) {
      // Only the lead byte and the first following byte are stepped over; the
      // rest of a longer sequence is judged on its own.
      if (hasUTF8 != nullptr) *hasUTF8 = 1;
      p += 2;
    } else {
      if (hasSingleByte != nullptr) *hasSingleByte = 1;
      ++p;
    }
  }
}

uint16_t CharToUTF8(const char *p) {
  if (p == nullptr) return 0;
  auto c = static_cast<unsigned char>(*p);
  if (c < 0x80) return c;
  return static_cast<uint16_t>(0xC080u | ((c & 0xC0u) << 2) | (c & 0x3Fu));
}

void StrToUTF8(const char *source, char *destination, uint32_t destinationSize) {
  if (source == nullptr || destination == nullptr || destinationSize == 0) return;

  int hasSingleByte = 0;
  int hasUTF8 = 0;
  GetStringEncoding(source, &hasSingleByte, &hasUTF8);

  if (!hasSingleByte || hasUTF8) {
    size_t length = strlen(source);
    if (length >= destinationSize) {
      // Cut before a multi-byte sequence rather than through it.
      size_t cut = destinationSize - 1;
      size_t back = cut;
      while (back > 0 && cut - back < 3 && isFollowByte(static_cast<unsigned char>(source[back]))) --back;
      if (back < cut && sequenceLength(static_cast<unsigned char>(source[back])) != 0) cut = back;
      length = cut;
    }
    memcpy(destination, source, length);
    destination[length] = '\0';
    return;
  }

  uint32_t out = 0;
  for (const char *p = source; *p != '\0'; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c < 0x80) {
      if (out + 1 >= destinationSize) break;
      destination[out++] = static_cast<char>(c);
    } else {
      if (out + 2 >= destinationSize) break;
      uint16_t both = CharToUTF8(p);
      destination[out++] = static_cast<char>(both >> 8);
      destination[out++] = static_cast<char>(both & 0xFF);
    }
  }
  destination[out] = '\0';
}

void InsertAt(char *string, int position, const char *text, uint32_t bufferSize) {
  if (string == nullptr || text == nullptr) return;
  size_t length = strlen(string);
  size_t textLength = strlen(text);
  if (length + textLength + 1 > bufferSize) return;

  if (position < 0) position = 0;
  if (static_cast<size_t>(position) >= length) {
    memcpy(string + length, text, textLength + 1);
    return;
  }
  // Tail with its terminator moves right, then the text fills the gap.
  memmove(string + position + textLength, string + position, length - position + 1);
  memcpy(string + position, text, textLength);
}

void DeleteAt(char *string, int position, int count) {
  if (string == nullptr || position < 0 || count < 0) return;
  size_t length = strlen(string);
  if (static_cast<size_t>(position) >= length) return;
  // A range running past the end deletes nothing, not even its part inside.
  if (static_cast<size_t>(position) + static_cast<size_t>(count) > length) return;
  memmove(string + position, string + position + count, length - position - count + 1);
}

char *stricstr(const char *string, const char *searched) {
  if (string == nullptr || searched == nullptr || searched[0] == '\0') return nullptr;

  auto first = static_cast<unsigned char>(searched[0]);
  const char set[3] = {static_cast<char>(os::toupper(first)), static_cast<char>(os::tolower(first)), '\0'};
  size_t restLength = strlen(searched) - 1;

  const char *p = string;
  for (;;) {
    p = strpbrk(p, set);
    if (p == nullptr) return nullptr;
    if (strncasecmp(p + 1, searched + 1, restLength) == 0) return const_cast<char *>(p);
    if (p[1] == '\0') return nullptr;
    ++p;
  }
}
