// Text helpers: bounded copy, ISO 8859-1 / UTF-8, in-place edits, case-insensitive search.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies `source` into `destination` (`size` bytes): at most size - 1 bytes, up to its
// terminator, and always terminates (writes nothing when size is 0). Reads at most `size`
// bytes of `source`, so a fixed field the host filled without a terminator copies safely.
// A null source copies as empty. True when the whole text fit; the two must not overlap.
bool CopyText(char *destination, size_t size, const char *source);
template <size_t N>
inline bool CopyText(char (&destination)[N], const char *source) {
  return CopyText(destination, N, source);
}

// 1 when the bytes at `p` are a 2-, 3- or 4-byte UTF-8 sequence (by bit pattern only);
// 0 otherwise and for null.
int isUTF8Char(const char *p);
// Sets each given flag to 1 when `string` holds a byte from 0x80 up that is no UTF-8
// sequence (*hasSingleByte), resp. a UTF-8 sequence (*hasUTF8), else 0. A sequence is
// stepped over by two bytes, so a 3- or 4-byte one sets both flags.
void GetStringEncoding(const char *string, int *hasSingleByte, int *hasUTF8);
// The ISO 8859-1 character at `p` in UTF-8: the byte itself below 0x80, else lead byte <<
// 8 | follow byte. 0 for null.
uint16_t CharToUTF8(const char *p);
// `source` in UTF-8: copied as it is when it holds no lone byte from 0x80 up or any UTF-8
// sequence, else each such byte as two. Writes at most destinationSize bytes (always
// terminated when destinationSize > 0); a conversion that does not fit is cut at a
// character boundary. Nothing for null pointers.
void StrToUTF8(const char *source, char *destination, uint32_t destinationSize);
// Inserts `text` before `position` (negative: 0; at or past the end: appended).
// bufferSize: bytes available at string; text that would not fit is not inserted.
void InsertAt(char *string, int position, const char *text, uint32_t bufferSize);
// Removes `count` characters from `position`; nothing when the range is negative or runs
// past the end (not even its part inside).
void DeleteAt(char *string, int position, int count);
// The first case-insensitive occurrence of `searched` in `string`; null when none, for
// null arguments or an empty `searched`.
char *stricstr(const char *string, const char *searched);
