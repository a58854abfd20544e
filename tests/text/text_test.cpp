#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "lib/text/text.h"

namespace {

std::string toUTF8(const std::string &source, uint32_t size = 512) {
  std::string out(size + 8, '#');  // sentinel bytes after the bound
  StrToUTF8(source.c_str(), out.data(), size);
  for (size_t i = size; i < out.size(); ++i) EXPECT_EQ(out[i], '#') << "written past the bound at " << i;
  return std::string(out.c_str());
}

}  // namespace

TEST(CopyText, CutsAtTheBoundAlwaysTerminatesAndSaysWhetherItFit) {
  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_TRUE(CopyText(out, "seven77"));  // 7 characters and the terminator: exactly full
  EXPECT_STREQ(out, "seven77");
  EXPECT_FALSE(CopyText(out, "eight888"));
  EXPECT_STREQ(out, "eight88");
  EXPECT_TRUE(CopyText(out, nullptr));  // a missing text is empty
  EXPECT_STREQ(out, "");

  // A field the host filled to its last byte, with no terminator: read no further (the
  // sanitizer build sees a read past the heap block).
  char *field = new char[8];
  std::memcpy(field, "12345678", 8);
  EXPECT_FALSE(CopyText(out, field));
  EXPECT_STREQ(out, "1234567");
  delete[] field;

  std::memset(out, '#', sizeof out);
  EXPECT_FALSE(CopyText(out, 0, "x"));  // nothing may be written, not even the terminator
  EXPECT_EQ(out[0], '#');
  EXPECT_TRUE(CopyText(out, 3, "ab"));
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(out[3], '#');
}

TEST(Encoding, RecognisesTheThreeSequenceLengthsByBitPattern) {
  EXPECT_EQ(isUTF8Char("\xC3\xBC"), 1);
  EXPECT_EQ(isUTF8Char("\xE2\x82\xAC"), 1);
  EXPECT_EQ(isUTF8Char("\xF0\x9F\x98\x80"), 1);
  EXPECT_EQ(isUTF8Char("\xC3"), 0);          // string ends after the lead byte
  EXPECT_EQ(isUTF8Char("\xE2\x82"), 0);      // one following byte missing
  EXPECT_EQ(isUTF8Char("\xE2\x82x"), 0);
  EXPECT_EQ(isUTF8Char("\xFC\x80\x80"), 0);  // no lead byte
  EXPECT_EQ(isUTF8Char("\xBC"), 0);
  EXPECT_EQ(isUTF8Char("A"), 0);
  EXPECT_EQ(isUTF8Char(nullptr), 0);
}

TEST(Encoding, ClassifiesStrings) {
  // The two flags of `text` as {single-byte, UTF-8}, each set from a value that is neither.
  auto classify = [](const char *text) {
    int single = 7, utf8 = 7;
    GetStringEncoding(text, &single, &utf8);
    return std::pair<int, int>(single, utf8);
  };
  using Flags = std::pair<int, int>;
  EXPECT_EQ(classify("plain"), Flags(0, 0));
  EXPECT_EQ(classify("Gr\xFCn"), Flags(1, 0));
  EXPECT_EQ(classify("Gr\xC3\xBCn"), Flags(0, 1));
  // Only the first following byte is stepped over: the last byte of a
  // three-byte sequence counts as a single-byte character.
  EXPECT_EQ(classify("\xE2\x82\xAC"), Flags(1, 1));

  // Either flag may be missing; flags are cleared for a null string.
  int single = 7, utf8 = 7;
  GetStringEncoding("\xFC", nullptr, &utf8);
  EXPECT_EQ(utf8, 0);
  single = utf8 = 5;
  GetStringEncoding(nullptr, &single, &utf8);
  EXPECT_EQ(single, 0);
  EXPECT_EQ(utf8, 0);
}

TEST(Encoding, CharToUTF8GivesTheTwoByteForm) {
  EXPECT_EQ(CharToUTF8("\xA9"), 0xC2A9);
  EXPECT_EQ(CharToUTF8("\xFC"), 0xC3BC);
  EXPECT_EQ(CharToUTF8("\x80"), 0xC280);
  EXPECT_EQ(CharToUTF8("A"), 0x41);
  EXPECT_EQ(CharToUTF8(nullptr), 0);
}

TEST(StrToUTF8, ConvertsSingleByteText) {
  EXPECT_EQ(toUTF8("Gr\xFCn"), "Gr\xC3\xBCn");
  EXPECT_EQ(toUTF8("\xC4\xD6\xDC"), "\xC3\x84\xC3\x96\xC3\x9C");
}

TEST(StrToUTF8, CopiesAsciiAndAnythingHoldingUTF8Unchanged) {
  EXPECT_EQ(toUTF8("/DataFiles/Zorvane"), "/DataFiles/Zorvane");
  EXPECT_EQ(toUTF8("caf\xE9 \xC3\xBC"), "caf\xE9 \xC3\xBC");  // mixed: never converted
  EXPECT_EQ(toUTF8("Gr\xC3\xBCn"), "Gr\xC3\xBCn");
  EXPECT_EQ(toUTF8(""), "");
}

TEST(StrToUTF8, NullPointersAndZeroSizeWriteNothing) {
  char buffer[4] = {'x', 'y', 'z', '\0'};
  StrToUTF8(nullptr, buffer, sizeof buffer);
  StrToUTF8("abc", buffer, 0);
  EXPECT_STREQ(buffer, "xyz");
  StrToUTF8("abc", nullptr, 10);  // must not crash
}

TEST(StrToUTF8, StaysInsideTheBufferAndCutsAtCharacterBoundaries) {
  // Conversion: a two-byte character that does not fit is left out whole.
  EXPECT_EQ(toUTF8("ab\xFC", 4), "ab");
  EXPECT_EQ(toUTF8("ab\xFC", 5), "ab\xC3\xBC");
  EXPECT_EQ(toUTF8("abcdef\xFC", 4), "abc");
  // Unchanged copy: a UTF-8 sequence is not split.
  EXPECT_EQ(toUTF8("ab\xC3\xBC", 4), "ab");
  EXPECT_EQ(toUTF8("abcdef", 4), "abc");
  EXPECT_EQ(toUTF8("abc", 1), "");
  // 300 single-byte characters into a 256-byte buffer.
  std::string longName(300, '\xE9');
  std::string converted = toUTF8(longName, 256);
  EXPECT_EQ(converted.size(), 254u);
  for (size_t i = 0; i < converted.size(); i += 2) EXPECT_EQ(converted.substr(i, 2), "\xC3\xA9");
}

TEST(InsertAt, InsertsBeforeThePositionOrAppends) {
  // `text` inserted into `start` at `pos`, in a buffer with room to spare.
  auto insert = [](const char *start, int pos, const char *text) {
    char s[32];
    strcpy(s, start);
    InsertAt(s, pos, text, sizeof s);
    return std::string(s);
  };
  EXPECT_EQ(insert("world", 0, "hello "), "hello world");
  EXPECT_EQ(insert("abcd", 2, "XY"), "abXYcd");
  EXPECT_EQ(insert("abcd", 4, "!"), "abcd!");
  EXPECT_EQ(insert("abcd", 99, "!"), "abcd!");
  EXPECT_EQ(insert("abcd", -5, ">"), ">abcd");
  EXPECT_EQ(insert("", 0, "x"), "x");
}

TEST(InsertAt, TextThatWouldNotFitIsNotInserted) {
  char s[12] = "abcdefgh";  // 8 characters; 3 more fit exactly
  s[9] = s[10] = s[11] = '#';
  InsertAt(s, 2, "1234", 9 + 2);  // would need 13 bytes
  EXPECT_STREQ(s, "abcdefgh");
  EXPECT_EQ(s[9], '#');
  InsertAt(s, 2, "123", sizeof s);  // needs exactly 12
  EXPECT_STREQ(s, "ab123cdefgh");
}

TEST(DeleteAt, RemovesOnlyRangesInsideTheString) {
  char s[16];
  strcpy(s, "abcdef");
  DeleteAt(s, 1, 2);
  EXPECT_STREQ(s, "adef");

  DeleteAt(s, 2, 2);  // exactly up to the end
  EXPECT_STREQ(s, "ad");

  strcpy(s, "abcd");
  DeleteAt(s, 2, 3);  // runs past the end: nothing at all
  EXPECT_STREQ(s, "abcd");
  DeleteAt(s, 4, 1);
  DeleteAt(s, -1, 1);
  DeleteAt(s, 1, -2);
  DeleteAt(s, 1, 0x7FFFFFFF);
  EXPECT_STREQ(s, "abcd");
}

TEST(Stricstr, FindsIgnoringCase) {
  const char *line = "#KEY=1";
  EXPECT_EQ(stricstr(line, "key="), line + 1);
  const char *text = "xxaBcAbc";
  EXPECT_EQ(stricstr(text, "ABC"), text + 2);
  EXPECT_EQ(stricstr(text, "b"), text + 3);
  EXPECT_EQ(stricstr(text, "B"), text + 3);
  // A first-character hit that fails the rest resumes one further on.
  const char *overlap = "aaab";
  EXPECT_EQ(stricstr(overlap, "AAB"), overlap + 1);
}

TEST(Stricstr, ReportsAbsenceWithNull) {
  EXPECT_EQ(stricstr("InformUser=1", "Quarrow"), nullptr);
  EXPECT_EQ(stricstr("abc", ""), nullptr);
  EXPECT_EQ(stricstr("", "a"), nullptr);
  EXPECT_EQ(stricstr("ab", "abc"), nullptr);  // text longer than what is left
  EXPECT_EQ(stricstr("xa", "ab"), nullptr);   // hit on the last character
}
