// Text helpers on arbitrary bytes, each output buffer exactly as large as the caller
// says, so that any write past it is caught; results compared with plain references.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>

#include "harness.h"
#include "lib/text/text.h"

namespace {

// A heap copy with no slack behind it.
std::unique_ptr<char[]> Exact(const std::string &s, size_t size) {
  std::unique_ptr<char[]> p(new char[size]);
  std::memset(p.get(), 0, size);
  std::memcpy(p.get(), s.data(), s.size() < size ? s.size() : size);
  return p;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

const char *ReferenceSearch(const char *text, const char *pattern) {
  size_t n = std::strlen(text), k = std::strlen(pattern);
  if (k == 0) return nullptr;
  for (size_t i = 0; i + k <= n; ++i) {
    size_t j = 0;
    while (j < k && Lower(text[i + j]) == Lower(pattern[j])) ++j;
    if (j == k) return text + i;
  }
  return nullptr;
}

std::string ReferenceLatin1ToUTF8(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::string a = in.ConsumeRandomLengthString(600);
  std::string b = in.ConsumeRandomLengthString(300);
  a = a.substr(0, a.find('\0'));
  b = b.substr(0, b.find('\0'));

  // Classification reads nothing past the terminator.
  {
    auto s = Exact(a, a.size() + 1);
    int single = -1, utf8 = -1;
    GetStringEncoding(s.get(), &single, &utf8);
    FUZZ_CHECK((single == 0 || single == 1) && (utf8 == 0 || utf8 == 1));
    for (size_t i = 0; i <= a.size(); ++i) (void)isUTF8Char(s.get() + i);
    if (!a.empty()) {
      const unsigned c = static_cast<unsigned char>(a[0]);
      FUZZ_CHECK(CharToUTF8(s.get()) == (c < 0x80 ? c : ((0xC0u | (c >> 6)) << 8 | (0x80u | (c & 0x3Fu)))));
    }

    // Conversion into a buffer of any size: always terminated inside it; when it fits,
    // exactly the reference (plain ISO 8859-1 text converted, anything else copied).
    const uint32_t dsize = in.ConsumeIntegralInRange<uint32_t>(1, static_cast<uint32_t>(2 * a.size() + 2));
    auto d = Exact(std::string(), dsize);
    StrToUTF8(s.get(), d.get(), dsize);
    FUZZ_CHECK(strnlen(d.get(), dsize) < dsize);
    const std::string expected = (single == 1 && utf8 == 0) ? ReferenceLatin1ToUTF8(a) : a;
    if (expected.size() < dsize) FUZZ_CHECK(expected == d.get());
    else FUZZ_CHECK(expected.compare(0, std::strlen(d.get()), d.get()) == 0);
  }

  // Insertion into a buffer of any size: inserted exactly, or not at all when it would not fit.
  {
    const uint32_t bsize = in.ConsumeIntegralInRange<uint32_t>(static_cast<uint32_t>(a.size() + 1),
                                                               static_cast<uint32_t>(a.size() + b.size() + 2));
    auto s = Exact(a, bsize);
    const int pos = in.ConsumeIntegralInRange<int>(-5, static_cast<int>(a.size()) + 5);
    InsertAt(s.get(), pos, b.c_str(), bsize);
    std::string expected = a;
    if (a.size() + b.size() + 1 <= bsize) {
      size_t at = pos < 0 ? 0 : static_cast<size_t>(pos) >= a.size() ? a.size() : static_cast<size_t>(pos);
      expected.insert(at, b);
    }
    FUZZ_CHECK(expected == s.get());
  }

  // Deletion: a range inside the string goes, any other leaves it unchanged.
  {
    auto s = Exact(a, a.size() + 1);
    const int pos = in.ConsumeIntegralInRange<int>(-3, static_cast<int>(a.size()) + 3);
    const int count = in.ConsumeIntegralInRange<int>(-3, static_cast<int>(a.size()) + 3);
    DeleteAt(s.get(), pos, count);
    std::string expected = a;
    if (pos >= 0 && count >= 0 && static_cast<size_t>(pos) < a.size() &&
        static_cast<size_t>(pos) + static_cast<size_t>(count) <= a.size())
      expected.erase(static_cast<size_t>(pos), static_cast<size_t>(count));
    FUZZ_CHECK(expected == s.get());
  }

  // Case-insensitive search finds the first occurrence, as a plain search does.
  {
    auto s = Exact(a, a.size() + 1);
    auto p = Exact(b, b.size() + 1);
    const char *found = stricstr(s.get(), p.get());
    FUZZ_CHECK(found == ReferenceSearch(s.get(), p.get()));
  }
  return 0;
}
