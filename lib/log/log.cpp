// Timestamped log lines appended to a file in the current folder, with an echo
// to the first terminal device that opens.
#include "lib/log/log.h"

#include <cstring>

#include "host/hostfile.h"
#include "host/os.h"
#include "host/tap.h"
#include "lib/time/timeutil.h"

char puffer[1024] = {};

namespace {

using quarrow::HostFile;

constexpr int kTerminals = 20;
constexpr size_t kEchoPiece = 510;

void appendLine(const char *fileName, const char *stamp, size_t stampLength, const char *text) {
  TAP_Hdd_Create(fileName, ATTR_FILE);  // leaves an existing log as it is
  HostFile file(fileName);
  if (file.get() == nullptr) return;
  TAP_Hdd_Fseek(file.get(), 0, 2);
  if (stampLength > 0) TAP_Hdd_Fwrite(stamp, stampLength, 1, file.get());
  if (text != nullptr && text[0] != '\0') TAP_Hdd_Fwrite(text, strlen(text), 1, file.get());
  TAP_Hdd_Fwrite("\r\n", 2, 1, file.get());
}

}  // namespace

void LogEntry(const char *FileName, const char *ProgramName, int Console, uint32_t TimeStampFormat,
              const char *Text) {
  uint8_t seconds = 0;
  uint32_t now = Now(&seconds);
  char *stamp = TimeFormat(now, seconds, TimeStampFormat);
  size_t stampLength = strlen(stamp);
  if (stampLength > 0 && stampLength + 2 <= sizeof sTimeStamp) {
    stamp[stampLength++] = ' ';
    stamp[stampLength] = '\0';
  }

  if (FileName != nullptr && FileName[0] != '\0') appendLine(FileName, stamp, stampLength, Text);

  if (Console == 0) return;

  if (TimeStampFormat != 0) {
    TAP_SPrint(puffer, "%.40s", stamp);
    PrintNet(puffer);
  }
  if (ProgramName != nullptr && ProgramName[0] != '\0') {
    TAP_SPrint(puffer, "%.1000s: ", ProgramName);
    PrintNet(puffer);
  }
  if (Text != nullptr && Text[0] != '\0') {
    // Long messages go out in pieces; the caller's text is only read.
    size_t length = strlen(Text);
    for (size_t offset = 0; offset < length; offset += kEchoPiece) {
      TAP_SPrint(puffer, "%.510s", Text + offset);
      PrintNet(puffer);
    }
  }
  TAP_SPrint(puffer, "\n");
  PrintNet(puffer);
}

void PrintNet(const char *text) {
  if (text == nullptr) return;
  char device[16];
  for (int n = 0; n < kTerminals; ++n) {
    TAP_SPrint(device, "/dev/pts/%d", n);
    // Write-only and never waiting: a remote terminal that stalls must not hold the
    // recorder's thread (the line is dropped), nor become the controlling terminal, whose
    // hang-up would reach the process.
    int fd = os::open(device, os::O_WRITEONLY | os::O_NONBLOCKING | os::O_NO_CTTY);
    if (fd < 0) continue;
    // The terminating NUL goes out too.
    os::write(fd, text, strlen(text) + 1);
    os::close(fd);
    return;
  }
}
