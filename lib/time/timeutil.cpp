// System uptime, the packed local date-time word and its text layouts.
#include "lib/time/timeutil.h"

#include <cstring>

#include "host/os.h"
#include "host/tap.h"
#include "lib/text/text.h"

char sTimeStamp[25] = {};

namespace {

// Closes the C library file on every way out.
class OsFileCloser {
 public:
  explicit OsFileCloser(os::File *file) : file_(file) {}
  ~OsFileCloser() {
    if (file_ != nullptr) os::fclose(file_);
  }
  OsFileCloser(const OsFileCloser &) = delete;
  OsFileCloser &operator=(const OsFileCloser &) = delete;

 private:
  os::File *file_;
};

// A block from the host's allocator, given back on every way out.
class HostBlock {
 public:
  explicit HostBlock(uint32_t size) : block_(static_cast<char *>(TAP_MemAlloc(size))) {}
  ~HostBlock() {
    if (block_ != nullptr) TAP_MemFree(block_);
  }
  HostBlock(const HostBlock &) = delete;
  HostBlock &operator=(const HostBlock &) = delete;
  char *get() const { return block_; }

 private:
  char *block_;
};

constexpr double kTwoTo31 = 2147483648.0;
constexpr double kTwoTo32 = 4294967296.0;

// Longest text any layout gives from 16-bit year and 8-bit fields: 25 characters.
constexpr int kFormatBufferSize = 64;
// Room is kept for the one space the log writer appends in place.
constexpr size_t kStampMaxLength = sizeof sTimeStamp - 2;

}  // namespace

uint32_t GetUptime() {
  os::File *file = os::fopen("/proc/uptime", "r");
  if (file == nullptr) return 0;
  OsFileCloser closer(file);

  // The line is read whole into the host's memory: the module's stack is the firmware's.
  constexpr int kLineSize = 4096;
  HostBlock buffer(kLineSize);
  char *line = buffer.get();
  if (line == nullptr || os::fgets(line, kLineSize, file) == nullptr) return 0;

  double seconds = 0.0;
  os::setlocale(os::LOCALE_NUMERIC, "C");
  int parsed = os::sscanf(line, "%lf", &seconds);
  os::setlocale(os::LOCALE_NUMERIC, "");
  if (parsed != 1) return 0;

  double hundredths = seconds * 100.0;
  // NaN and negative values are not an uptime; 2^32 and more does not fit and
  // saturates, so that a long-running system never looks freshly booted.
  if (!(hundredths >= 0.0)) return 0;
  if (hundredths >= kTwoTo32) return 0xFFFFFFFFu;
  if (hundredths >= kTwoTo31) {
    return static_cast<uint32_t>(static_cast<int32_t>(hundredths - kTwoTo31)) | 0x80000000u;
  }
  return static_cast<uint32_t>(static_cast<int32_t>(hundredths));
}

uint32_t Now(uint8_t *seconds) {
  uint16_t mjd = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t ownSeconds = 0;
  TAP_GetTime(&mjd, &hour, &minute, seconds != nullptr ? seconds : &ownSeconds);
  return (static_cast<uint32_t>(mjd) << 16) | (static_cast<uint32_t>(hour) << 8) | minute;
}

char *TimeFormat(uint32_t dateTime, uint32_t seconds, uint32_t type) {
  uint16_t mjd = static_cast<uint16_t>(dateTime >> 16);
  int hour = static_cast<int>((dateTime >> 8) & 0xFF);
  int minute = static_cast<int>(dateTime & 0xFF);
  int second = static_cast<int>(seconds & 0xFF);

  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t weekday = 0;
  TAP_ExtractMjd(mjd, &year, &month, &day, &weekday);
  if (mjd == 0) year = month = day = weekday = 0;

  char text[kFormatBufferSize];
  text[0] = '\0';
  switch (type) {
    case 1:
      TAP_SPrint(text, "%02d:%02d", hour, minute);
      break;
    case 2:
      TAP_SPrint(text, "%02d:%02d:%02d", hour, minute, second);
      break;
    case 3:
      TAP_SPrint(text, "%02d-%02d-%02d", year, month, day);
      break;
    case 4:
      TAP_SPrint(text, "%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute);
      break;
    case 5:
      TAP_SPrint(text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
      break;
    case 6:
      TAP_SPrint(text, "%04d%02d%02d_%02d%02d", year, month, day, hour, minute);
      break;
    default:
      break;
  }
  // Values out of their ranges are cut rather than written past the buffer.
  CopyText(sTimeStamp, kStampMaxLength + 1, text);
  return sTimeStamp;
}
