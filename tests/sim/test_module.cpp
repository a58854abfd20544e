// A small module for tapsim's tests: header sections, entry record and an event handler that
// reports what it sees through the plug-in API and the OS calls a real module makes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "host/tap.h"
#include "lib/time/timeutil.h"

#ifdef TEST_MODULE_UNRESOLVED
extern "C" int quarrow_no_such_function(void);
#endif

extern "C" {

#ifndef TEST_MODULE_NO_HEADER
__attribute__((section("._tap_header"), used)) const uint8_t __tap_Header__[32] = {'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 16};
__attribute__((section("._tap_id"), used)) const uint32_t __tap_ud__ = 0x2A5E1001;
__attribute__((section("._tap_program_name"), used)) const char __tap_program_name__[64] = "Sim Test V1.0";
__attribute__((section("._tap_program_version"), used)) const char __tap_program_version__[64] = "V1.0";
__attribute__((section("._tap_author_name"), used)) const char __tap_author_name__[64] = "Test Bench";
__attribute__((section("._tap_description"), used)) const char __tap_description__[128] = "Drives the simulator";
__attribute__((section("._tap_etcinfo"), used)) const char __tap_etc_str__[64] = "Dec 8 2026";
#endif

static uint32_t Idles;

static void echo(const char *text) {
  const int fd = open("/dev/pts/0", 2);
  if (fd < 0) return;
  if (write(fd, text, strlen(text) + 1) < 0) TAP_Print("echo failed\n");
  close(fd);
}

int TAP_Main(void) {
  TAP_Print("main at tick %u\n", TAP_GetTick());
  char line[128] = "unreadable\n";
  if (FILE *f = fopen("/proc/uptime", "r")) {
    if (fgets(line, sizeof line, f) == nullptr) strcpy(line, "empty\n");
    fclose(f);
  }
  TAP_Print("uptime %s", line);
  // The module's own reading of the same file, in hundredths of a second.
  TAP_Print("GetUptime %u\n", GetUptime());
  struct stat64 st;
  if (lstat64("/mnt/hd/DataFiles", &st) == 0) TAP_Print("device %u\n", static_cast<unsigned>(st.st_dev));
  int entries = 0;
  if (DIR *d = opendir("/mnt/hd")) {
    while (readdir(d) != nullptr) ++entries;
    closedir(d);
  }
  TAP_Print("disk entries %d\n", entries);
  echo("echo from main");

  uint16_t mjd, year;
  uint8_t h, mi, s, mo, day, wd;
  TAP_GetTime(&mjd, &h, &mi, &s);
  TAP_ExtractMjd(mjd, &year, &mo, &day, &wd);
  char stamp[64];
  TAP_SPrint(stamp, "%04d-%02d-%02d %02d:%02d:%02d\n", year, mo, day, h, mi, s);
  TAP_Hdd_ChangeDir("/DataFiles");
  TAP_Hdd_Create("clock.txt", ATTR_FILE);
  if (TYPE_File *file = TAP_Hdd_Fopen("clock.txt")) {
    TAP_Hdd_Fwrite(stamp, static_cast<uint32_t>(strlen(stamp)), 1, file);
    TAP_Hdd_Fclose(file);
  }
#ifdef TEST_MODULE_UNRESOLVED
  quarrow_no_such_function();
#endif
  return 1;
}

uint32_t TAP_EventHandler(uint16_t event, uint32_t param1, uint32_t) {
  if (event == EVT_IDLE) {
    ++Idles;
    return param1;
  }
  if (event != EVT_KEY) return param1;
  TAP_Print("key 0x%x at tick %u after %u idles\n", param1, TAP_GetTick(), Idles);
  if (param1 == 0x42) {
    const uint16_t r = TAP_Osd_Create(100, 100, 200, 100, 0, 0);
    TAP_Osd_FillBox(r, 0, 0, 200, 100, 0xFFFF0000);
  }
  if (param1 == 0x50) TAP_Sleep(500);
  if (param1 == 0x44) {
    TAP_Hdd_ChangeDir("/");
    HddFolderEntry e;
    const int n = TAP_Hdd_FindFirst(&e, "rcn");
    for (int i = 0; i < n; ++i) {
      TAP_Print("entry %u %s\n", e.attr, e.name);
      TAP_Hdd_FindNext(&e);
    }
  }
  return param1 == 0x1001E ? 0 : param1;
}

#ifndef TEST_MODULE_NO_INIT
int __TAP_Init_(TAP_EntryRecord *record) {
  record->main = TAP_Main;
  record->eventHandler = TAP_EventHandler;
  return 0;
}
#endif

}  // extern "C"
