// INI-style settings store: the whole file in one buffer, entries found by a
// case-insensitive search for "key=", the text written back as a whole.
#include "lib/ini/ini.h"

#include <cstddef>
#include <cstring>

#include "host/folders.h"
#include "host/hostfile.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/replace/replace.h"
#include "lib/text/text.h"

char *INIBuffer = nullptr;
uint32_t BufferSize = 0;
char *INICommentBuffer = nullptr;

namespace {

constexpr uint32_t kKeyMax = 78;
constexpr uint32_t kNewTextSize = 512;
constexpr uint32_t kLoadStep = 512;
constexpr uint32_t kGrowStep = 1024;
constexpr uint32_t kValueExamined = 11;
constexpr uint32_t kLastPlace = INIPlace_ProgramFiles;

using SearchText = char[kKeyMax + 2];

// The first 78 characters of the key, then "="; returns its length.
uint32_t BuildSearchText(SearchText &out, const char *key) {
  CopyText(out, kKeyMax + 1, key);
  const size_t n = std::strlen(out);
  out[n] = '=';
  out[n + 1] = '\0';
  return static_cast<uint32_t>(n + 1);
}

char *AllocZeroed(uint64_t size) {
  if (size == 0 || size > UINT32_MAX) return nullptr;
  void *block = TAP_MemAlloc(static_cast<uint32_t>(size));
  if (block != nullptr) TAP_MemSet(block, 0, static_cast<uint32_t>(size));
  return static_cast<char *>(block);
}

// One growth step: the next multiple of 1024 above the current size.
uint64_t GrownSize(uint32_t size) { return (static_cast<uint64_t>(size) / kGrowStep + 1) * kGrowStep; }

uint32_t TextLength() { return static_cast<uint32_t>(strnlen(INIBuffer, BufferSize)); }

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Looks for the file here. Only in the folder the caller works in is a save that was cut
// off between its renames completed: the other places' files are not the caller's.
bool FoundHere(const char *fileName) { return TAP_Hdd_Exist(fileName) != 0; }

// Decimal digits from `p` on, with an optional leading "-", to the first non-digit;
// negative values wrap modulo 2^32 and anything above 4294967295 saturates there.
uint32_t ParseUnsigned(const char *p) {
  bool negative = *p == '-';
  if (negative) ++p;
  uint64_t value = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (!overflow) {
      value = value * 10 + static_cast<uint64_t>(*p - '0');
      if (value > UINT32_MAX) overflow = true;
    }
  }
  if (overflow) return UINT32_MAX;
  uint32_t result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

}  // namespace

INIPlace INILocateFile(const char *FileName, const char *AppFolder) {
  if (FileName == nullptr) return INIPlace_None;
  if (FileRecover(FileName)) return INIPlace_CurrentDir;

  char endIn[HDD_DIRSTACK_SLOT_SIZE];
  std::memset(endIn, 0, sizeof endIn);
  HDD_TAP_GetCurrentDir(endIn);

  INIPlace code = INIPlace_None;
  if (HDD_ChangeDir(quarrow::kProgramFiles)) {
    if (FoundHere(FileName)) {
      code = INIPlace_ProgramFiles;
      CopyText(endIn, quarrow::kProgramFiles);
    }
    if (HDD_ChangeDir(quarrow::kSettingsName)) {
      if (FoundHere(FileName)) {
        code = INIPlace_Settings;
        CopyText(endIn, quarrow::kSettingsParent);
      }
      if (AppFolder != nullptr && AppFolder[0] != '\0' && AppFolder[0] != '/' && HDD_ChangeDir(AppFolder) &&
          FoundHere(FileName)) {
        return INIPlace_AppFolder;
      }
    }
  }
  if (endIn[0] != '\0') HDD_ChangeDir(endIn);
  return code;
}

INIPlace INIOpenFile(const char *FileName, const char *AppFolder) {
  // A buffer still held here would otherwise be lost for good.
  if (INIBuffer != nullptr) {
    TAP_MemFree(INIBuffer);
    INIBuffer = nullptr;
  }

  SavedDir saved;
  INIPlace code = INILocateFile(FileName, AppFolder);
  if (code == INIPlace_None) {
    saved.Restore();
    BufferSize = kNewTextSize;
    INIBuffer = AllocZeroed(kNewTextSize);
    return INIBuffer != nullptr ? INIPlace_New : INIPlace_None;
  }

  quarrow::HostFile file(FileName);
  if (!file) return INIPlace_None;

  uint32_t length = TAP_Hdd_Flen(file.get());
  uint64_t size = (static_cast<uint64_t>(length) / kLoadStep + 2) * kLoadStep;
  BufferSize = size > UINT32_MAX ? 0 : static_cast<uint32_t>(size);
  INIBuffer = AllocZeroed(size);
  bool readOk = false;
  if (INIBuffer != nullptr) {
    // A read that fails must not pass for an empty file.
    readOk = (length == 0 || TAP_Hdd_Fread(INIBuffer, length, 1, file.get()) != 0) && file.EndsAfter(0);
    // The buffer holds at least 1024 bytes more than the file: room for CR LF and NUL.
    uint32_t n = TextLength();
    if (n == 0) {
      std::memcpy(INIBuffer, "\r\n", 3);
    } else if (!IsLineEnd(INIBuffer[n - 1])) {
      // A NUL in the file ends the text: what followed it must not join the text.
      std::memcpy(INIBuffer + n, "\r\n", 3);
    }
  }
  if (INIBuffer != nullptr && readOk) return code;
  // Nothing of a text read in part may reach a save.
  INICloseFile();
  return INIPlace_None;
}

void INIFindStartEnd(const char *SearchText, char **Start, char **End, uint32_t MaxLength) {
  if (Start == nullptr || End == nullptr || MaxLength == 0) return;
  if (INIBuffer == nullptr || SearchText == nullptr || SearchText[0] == '\0') {
    *Start = nullptr;
    return;
  }
  *End = nullptr;

  char *at = stricstr(INIBuffer, SearchText);
  while (at != nullptr) {
    char before = at == INIBuffer ? *at : at[-1];
    if (before != '#' && before != ';') break;
    at = stricstr(at + 1, SearchText);
  }
  // An occurrence that begins with a line end would end before it starts.
  if (at == nullptr || IsLineEnd(*at)) {
    *Start = nullptr;
    return;
  }
  *Start = at;

  char *cr = std::strchr(at, '\r');
  char *lf = std::strchr(at, '\n');
  if (cr == nullptr && lf == nullptr) return;
  char *end;
  bool limited = true;
  if (cr == nullptr) {
    end = lf - 1;
  } else if (lf == nullptr || lf == cr + 1 || cr < lf) {
    // A CR ends the line also when an LF follows later on: taking the LF there would
    // stretch the entry over the next lines of a file with CR-only line ends, and a
    // replacement would then delete those lines.
    end = cr - 1;
  } else {
    end = lf - 1;
    limited = false;
  }
  if (limited && static_cast<uint64_t>(end - at) >= MaxLength) end = at + (MaxLength - 1);
  *End = end;
}

int32_t INIGetInt(const char *Key, int32_t Default, int32_t Min, int32_t Max) {
  if (Key == nullptr) return 0;
  SearchText search;
  uint32_t k = BuildSearchText(search, Key);
  char *start = nullptr;
  char *end = nullptr;
  INIFindStartEnd(search, &start, &end, k + kValueExamined);
  if (start == nullptr || end == nullptr) return Default;
  char *value = start + k;
  if (end < value) return Default;
  for (char *c = value; c <= end; ++c) {
    if (c == value && *c == '-' && c < end) continue;
    if (*c < '0' || *c > '9') return Default;
  }
  int32_t result = static_cast<int32_t>(ParseUnsigned(value));
  if (result < Min) result = Min;
  if (result > Max) result = Max;
  return result;
}

void INISetString(const char *Key, const char *Value) {
  if (Key == nullptr || Value == nullptr || INIBuffer == nullptr) return;
  SearchText search;
  uint32_t k = BuildSearchText(search, Key);
  char *start = nullptr;
  char *end = nullptr;
  INIFindStartEnd(search, &start, &end, BufferSize);

  uint64_t length = TextLength();
  uint64_t valueLength = std::strlen(Value);

  if (start != nullptr && end != nullptr) {
    uint64_t need = length - static_cast<uint64_t>(end - start) + k + valueLength + 1;
    uint64_t size = BufferSize;
    if (size < need) size = GrownSize(BufferSize);
    if (size < need) return;
    char *text = AllocZeroed(size);
    if (text == nullptr) return;
    size_t before = static_cast<size_t>(start - INIBuffer);
    size_t after = static_cast<size_t>(end + 1 - INIBuffer);
    char *out = text;
    std::memcpy(out, INIBuffer, before);
    out += before;
    std::memcpy(out, search, k);
    out += k;
    std::memcpy(out, Value, valueLength);
    out += valueLength;
    std::memcpy(out, INIBuffer + after, length - after);
    TAP_MemFree(INIBuffer);
    INIBuffer = text;
    BufferSize = static_cast<uint32_t>(size);
    return;
  }

  uint64_t need = length + k + valueLength + 3;
  if (BufferSize < need) {
    uint64_t size = GrownSize(BufferSize);
    if (size < need) return;
    char *text = AllocZeroed(size);
    if (text == nullptr) return;
    std::memcpy(text, INIBuffer, BufferSize);
    TAP_MemFree(INIBuffer);
    INIBuffer = text;
    BufferSize = static_cast<uint32_t>(size);
  }
  char *out = INIBuffer + length;
  std::memcpy(out, search, k);
  out += k;
  std::memcpy(out, Value, valueLength);
  out += valueLength;
  std::memcpy(out, "\r\n", 3);
}

void INISetInt(const char *Key, int32_t Value) {
  char text[16];
  TAP_SPrint(text, "%d", static_cast<int>(Value));
  INISetString(Key, text);
}

bool INISaveFile(const char *FileName, uint32_t Location, const char *AppFolder) {
  if (INIBuffer == nullptr || Location > kLastPlace) return false;
  if (Location == INIPlace_AppFolder && (AppFolder == nullptr || AppFolder[0] == '\0')) return false;
  if (FileName == nullptr || FileName[0] == '\0') return false;
  if (Location == INIPlace_None || Location == INIPlace_New) Location = INIPlace_ProgramFiles;

  SavedDir saved;
  if (Location != INIPlace_CurrentDir) {
    if (!HDD_ChangeDir(quarrow::kProgramFiles)) return false;
    if (Location == INIPlace_AppFolder || Location == INIPlace_Settings) {
      TAP_Hdd_Create(quarrow::kSettingsName, ATTR_FOLDER);
      if (!HDD_ChangeDir(quarrow::kSettingsName)) return false;
    }
    if (Location == INIPlace_AppFolder) {
      TAP_Hdd_Create(AppFolder, ATTR_FOLDER);
      if (!HDD_ChangeDir(AppFolder)) return false;
    }
  }

  // The earlier file stays until the new one is on the disk in full.
  FilePart text = {INIBuffer, TextLength()};
  return FileReplace(FileName, &text, 1, nullptr);
}

void INICloseFile() {
  if (INIBuffer != nullptr) {
    TAP_MemFree(INIBuffer);
    INIBuffer = nullptr;
    BufferSize = 0;
  }
  if (INICommentBuffer != nullptr) {
    TAP_MemFree(INICommentBuffer);
    INICommentBuffer = nullptr;
  }
}
