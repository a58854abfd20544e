#include "app/names.h"

#include <cstring>

#include "lib/text/text.h"

namespace quarrow {

namespace {

// " (k)" in decimal; written by hand so that the names need no host call (quarrow-db
// shares them).
size_t FormatNumber(char (&out)[16], uint32_t k) {
  char digits[10];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + k % 10);
    k /= 10;
  } while (k != 0);
  size_t at = 0;
  out[at++] = ' ';
  out[at++] = '(';
  while (n > 0) out[at++] = digits[--n];
  out[at++] = ')';
  out[at] = '\0';
  return at;
}

}  // namespace

bool IsPlainName(const char *name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strchr(name, '/') == nullptr;
}

bool NumberedName(char *out, size_t size, const char *name, uint32_t k) {
  if (size == 0) return false;
  out[0] = '\0';
  size_t length = std::strlen(name);
  if (k <= 1) {
    if (length > NAME_MAX_LENGTH || !CopyText(out, size, name)) {
      out[0] = '\0';
      return false;
    }
    return true;
  }
  char number[16];
  size_t numberLength = FormatNumber(number, k);
  // The extension starts at the last dot that is not the first character.
  const char *dot = std::strrchr(name, '.');
  size_t base = dot != nullptr && dot != name ? static_cast<size_t>(dot - name)
                    : length;
  size_t extension = length - base;
  size_t limit = size - 1 < NAME_MAX_LENGTH ? size - 1 : NAME_MAX_LENGTH;
  if (numberLength + extension >= limit) return false;
  if (base + numberLength + extension > limit) base = limit - numberLength - extension;
  std::memcpy(out, name, base);
  std::memcpy(out + base, number, numberLength);
  std::memcpy(out + base + numberLength, name + length - extension, extension);
  out[base + numberLength + extension] = '\0';
  return true;
}

}  // namespace quarrow
