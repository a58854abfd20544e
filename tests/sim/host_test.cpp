// Memory, time, the OS call mapping, the terminal echo and the firmware tables.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "host/firmware.h"
#include "host/os.h"
#include "sim_fixture.h"

extern "C" int __open_2(const char *, int);

using HostTest = SimTest;

TEST_F(HostTest, MemoryIsCountedAndAllocationFaultsAreInjected) {
  void *a = TAP_MemAlloc(16);
  void *b = TAP_MemAlloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(sim::outstanding_blocks(), 2);
  TAP_MemFree(a);
  EXPECT_EQ(sim::outstanding_blocks(), 1);
  EXPECT_EQ(TAP_MemFree(nullptr), 0);  // harmless, counts nothing
  EXPECT_EQ(sim::outstanding_blocks(), 1);

  const uint64_t before = sim::calls(sim::Call::TAP_MemAlloc);
  sim::fault(sim::Call::TAP_MemAlloc).nth(2);
  void *c = TAP_MemAlloc(8);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(TAP_MemAlloc(8), nullptr);
  void *d = TAP_MemAlloc(8);
  EXPECT_NE(d, nullptr);
  sim::fault(sim::Call::TAP_MemAlloc).from(2);
  void *e = TAP_MemAlloc(8);
  EXPECT_NE(e, nullptr);
  EXPECT_EQ(TAP_MemAlloc(8), nullptr);
  EXPECT_EQ(TAP_MemAlloc(8), nullptr);
  EXPECT_EQ(sim::calls(sim::Call::TAP_MemAlloc), before + 6);
  sim::clear_faults();
  for (void *p : {b, c, d, e}) TAP_MemFree(p);
  EXPECT_EQ(sim::outstanding_blocks(), 0);
}

TEST_F(HostTest, FreeingAPointerNotHandedOutIsAModuleBug) {
  int local = 0;
  EXPECT_DEATH(TAP_MemFree(&local), "TAP_MemFree");
  void *p = TAP_MemAlloc(4);
  TAP_MemFree(p);
  EXPECT_DEATH(TAP_MemFree(p), "TAP_MemFree");
}

TEST_F(HostTest, CalendarArithmeticOnKnownDates) {
  EXPECT_EQ(sim::date_to_mjd(2000, 1, 1), 51544);
  EXPECT_EQ(sim::date_to_mjd(1858, 11, 17), 0);
  EXPECT_EQ(sim::date_to_mjd(2024, 2, 29), 60369);
  int y, m, d, wd;
  sim::mjd_to_date(51544, &y, &m, &d, &wd);
  EXPECT_EQ((std::array<int, 4>{y, m, d, wd}), (std::array<int, 4>{2000, 1, 1, 5}));  // a Saturday
  sim::mjd_to_date(0, &y, &m, &d, &wd);
  EXPECT_EQ((std::array<int, 4>{y, m, d, wd}), (std::array<int, 4>{1858, 11, 17, 2}));  // a Wednesday
  sim::mjd_to_date(60369, &y, &m, &d, &wd);
  EXPECT_EQ((std::array<int, 3>{y, m, d}), (std::array<int, 3>{2024, 2, 29}));
  for (int mjd : {0, 1, 15078, 51543, 51544, 59999, 65535}) {
    sim::mjd_to_date(static_cast<uint16_t>(mjd), &y, &m, &d, &wd);
    EXPECT_EQ(sim::date_to_mjd(y, m, d), mjd);
  }
  uint16_t year;
  uint8_t month, day, weekday;
  TAP_ExtractMjd(51544 + 60, &year, &month, &day, &weekday);  // leap year
  EXPECT_EQ(year, 2000);
  EXPECT_EQ(month, 3);
  EXPECT_EQ(day, 1);
  EXPECT_EQ(weekday, 2);  // Wednesday
}

TEST_F(HostTest, ClockRunsWithTheTicksAndKeepsItsReadingWhenTheTickIsSet) {
  sim::set_clock(2023, 6, 15, 23, 59, 58);
  sim::set_tick(1000);
  uint16_t mjd;
  uint8_t h, mi, s;
  TAP_GetTime(&mjd, &h, &mi, &s);
  EXPECT_EQ(mjd, sim::date_to_mjd(2023, 6, 15));
  EXPECT_EQ((std::array<int, 3>{h, mi, s}), (std::array<int, 3>{23, 59, 58}));
  sim::set_tick(5000);  // a jump of the counter is not time passing
  TAP_GetTime(&mjd, &h, &mi, &s);
  EXPECT_EQ((std::array<int, 3>{h, mi, s}), (std::array<int, 3>{23, 59, 58}));
  sim::set_tick(1000);
  sim::advance_ticks(250);  // 2.5 seconds later: past midnight
  TAP_GetTime(&mjd, &h, &mi, &s);
  EXPECT_EQ(mjd, sim::date_to_mjd(2023, 6, 16));
  EXPECT_EQ((std::array<int, 3>{h, mi, s}), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(TAP_GetTick(), 1250u);
  TAP_Sleep(49);  // virtual: the time passes at once
  EXPECT_EQ(TAP_GetTick(), 1299u);
  TAP_GetTime(nullptr, nullptr, nullptr, &s);
  EXPECT_EQ(s, 0);
  TAP_Sleep(1);
  TAP_GetTime(nullptr, nullptr, nullptr, &s);
  EXPECT_EQ(s, 1);

  EXPECT_TRUE(sim::set_clock_text("2024-02-29 12:34:56"));
  TAP_GetTime(&mjd, &h, &mi, &s);
  EXPECT_EQ(mjd, 60369);
  EXPECT_EQ((std::array<int, 3>{h, mi, s}), (std::array<int, 3>{12, 34, 56}));
  for (const char *bad : {"2023-02-29 12:00:00", "2023-13-01 00:00:00", "2023-01-01 24:00:00",
                          "2023-01-01 12:00", "2023-01-01 12:00:00x", "tomorrow"})
    EXPECT_FALSE(sim::set_clock_text(bad)) << bad;
}

TEST_F(HostTest, PrintingFormatsAndReachesTheConsole) {
  char buf[64];
  TAP_SPrint(buf, "%s=%04d", "x", 42);
  EXPECT_STREQ(buf, "x=0042");
  EXPECT_EQ(TAP_Print("size=%d\n", 7), 7);
  EXPECT_EQ(sim::console_text(), "size=7\n");
  EXPECT_EQ(testfiles::ReadFile(root_ + "/console.txt"), "size=7\n");
}

TEST_F(HostTest, OpendirAndLstat64SeeTheDiskUnderMntHd) {
  Write("/DataFiles/a.rec", "x");
  ASSERT_EQ(mkdir(sim::host_to_real("/DataFiles/Stick").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(sim::host_to_real("/DataFiles/Stick/Deep").c_str(), 0755), 0);
  sim::set_foreign_device("/DataFiles/Stick");

  DIR *d = opendir("/mnt/hd/DataFiles");
  ASSERT_NE(d, nullptr);
  std::set<std::string> names;
  while (dirent *e = readdir(d)) names.insert(e->d_name);
  closedir(d);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.rec", "Stick"}));
  EXPECT_EQ(opendir("/mnt/hd/Quarrow"), nullptr);
  EXPECT_EQ(opendir("/mnt/hd/../etc"), nullptr);  // never above the disk

  struct stat64 st;
  struct stat real;
  ASSERT_EQ(lstat64("/mnt/hd/DataFiles/a.rec", &st), 0);
  ASSERT_EQ(stat(sim::host_to_real("/DataFiles/a.rec").c_str(), &real), 0);
  EXPECT_EQ(st.st_ino, real.st_ino);
  EXPECT_EQ(st.st_dev, 2050u);
  ASSERT_EQ(lstat64("/mnt/hd", &st), 0);
  EXPECT_EQ(st.st_dev, 2050u);
  ASSERT_EQ(lstat64("/mnt/hd/DataFiles/Stick", &st), 0);
  EXPECT_NE(st.st_dev, 2050u);
  ASSERT_EQ(lstat64("/mnt/hd/DataFiles/Stick/Deep", &st), 0);
  EXPECT_NE(st.st_dev, 2050u);
  EXPECT_NE(lstat64("/mnt/hd/DataFiles/missing", &st), 0);
  // Paths outside /mnt/hd are the real ones.
  ASSERT_EQ(lstat64(sim::host_to_real("/DataFiles/a.rec").c_str(), &st), 0);
  EXPECT_EQ(st.st_dev, real.st_dev);
}

TEST_F(HostTest, ShellCommandsRunOnTheDiskWithQuotedPathsAndGlobs) {
  ASSERT_EQ(mkdir(sim::host_to_real("/Quarrow").c_str(), 0755), 0);
  Write("/Quarrow/#123", "orphan");
  Write("/Quarrow/#456", "orphan2");
  EXPECT_EQ(system("mkdir /mnt/hd/DataFiles/Zorvane"), 0);
  EXPECT_EQ(system("mv /mnt/hd/Quarrow/* /mnt/hd/DataFiles/Zorvane"), 0);
  EXPECT_EQ(Read("/DataFiles/Zorvane/#123"), "orphan");
  EXPECT_TRUE(Exists("/DataFiles/Zorvane/#456"));
  EXPECT_FALSE(Exists("/Quarrow/#123"));
  EXPECT_NE(system("mkdir /mnt/hd/DataFiles/Zorvane 2>/dev/null"), 0);  // already there
  EXPECT_NE(system("touch /mnt/hd/../escaped"), 0);
  EXPECT_FALSE(testfiles::EntryExists(root_ + "/escaped"));
  EXPECT_EQ(sim::system_commands().size(), 4u);
  EXPECT_EQ(sim::system_commands()[1], "mv /mnt/hd/Quarrow/* /mnt/hd/DataFiles/Zorvane");
}

TEST_F(HostTest, UptimeReadsTheConfiguredText) {
  sim::set_uptime_text("35.27 12.00\n");
  FILE *f = fopen("/proc/uptime", "r");
  ASSERT_NE(f, nullptr);
  char line[64] = {};
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  fclose(f);
  EXPECT_STREQ(line, "35.27 12.00\n");
  sim::set_uptime_text("");
  EXPECT_EQ(fopen("/proc/uptime", "r"), nullptr);
  // Other files open as they are.
  testfiles::WriteFile(root_ + "/plain", "plain");
  FILE *g = fopen((root_ + "/plain").c_str(), "r");
  ASSERT_NE(g, nullptr);
  fclose(g);
}

TEST_F(HostTest, TerminalEchoGoesToTheConsoleWithoutItsNulBytes) {
  for (const char *piece : {"2026-12-07 12:00:00 ", "Quarrow: ", "hello", "\n"}) {
    const int fd = open("/dev/pts/0", 2);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, piece, strlen(piece) + 1), static_cast<ssize_t>(strlen(piece) + 1));
    close(fd);
  }
  EXPECT_EQ(open("/dev/pts/1", 2), -1);  // only the configured device opens
  EXPECT_EQ(sim::console_text(), "2026-12-07 12:00:00 Quarrow: hello\n");
  EXPECT_EQ(testfiles::ReadFile(root_ + "/console.txt"), "2026-12-07 12:00:00 Quarrow: hello\n");
  const auto writes = sim::terminal_writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[2], std::string("hello\0", 6));

  // Much more than a pipe holds, written in pieces, never blocks the writer.
  const std::string big(1024, 'x');
  for (int i = 0; i < 200; ++i) {
    const int fd = open("/dev/pts/0", O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, big.c_str(), big.size() + 1), 1025);
    close(fd);
  }
  EXPECT_EQ(sim::console_text().size(), 35u + 200 * 1024);

  // The entry fortified code calls.
  const int fortified = __open_2("/dev/pts/0", O_RDWR);
  ASSERT_GE(fortified, 0);
  ASSERT_EQ(write(fortified, "!", 2), 2);
  close(fortified);
  EXPECT_EQ(sim::console_text().back(), '!');

  sim::set_console_pts(3);
  EXPECT_EQ(open("/dev/pts/0", 2), -1);
  const int fd3 = open("/dev/pts/3", 2);
  EXPECT_GE(fd3, 0);
  close(fd3);
  sim::set_console_pts(-1);
  EXPECT_EQ(open("/dev/pts/3", 2), -1);
}

TEST_F(HostTest, FirmwareTablesAreFoundBySymbolAndFollowTheModule) {
  void *self = dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
  ASSERT_NE(self, nullptr);
  auto *tasks = static_cast<TapTaskRecord *>(dlsym(self, "_tapTask"));
  auto *cur = static_cast<int32_t *>(dlsym(self, "_curTapTask"));
  auto *osd = static_cast<OSDRegionEntry *>(dlsym(self, "_osdInfo"));
  dlclose(self);
  ASSERT_NE(tasks, nullptr);
  ASSERT_NE(cur, nullptr);
  ASSERT_NE(osd, nullptr);

  const TapTaskRecord &mine = tasks[*cur];
  ASSERT_NE(mine.dir, nullptr);
  EXPECT_STREQ(mine.dir->path, "/mnt/hd/ProgramFiles");
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  EXPECT_STREQ(mine.dir->path, "/mnt/hd/DataFiles");
  // Another task's record never holds the module's folder.
  EXPECT_STRNE(tasks[*cur == 0 ? 1 : 0].dir->path, "/mnt/hd/DataFiles");
  sim::set_task_path_hidden(true);
  EXPECT_EQ(mine.dir->path, nullptr);
  sim::set_task_path_hidden(false);
  EXPECT_STREQ(mine.dir->path, "/mnt/hd/DataFiles");

  const uint16_t r = TAP_Osd_Create(170, 193, 380, 190, 0, 0);
  ASSERT_NE(r, 0);
  EXPECT_EQ(osd[r].x, 170);
  EXPECT_EQ(osd[r].y, 193);
  EXPECT_EQ(osd[r].width, 380);
  TAP_Osd_Delete(r);
  EXPECT_EQ(osd[r].width, 0);
}

TEST_F(HostTest, AnEndlessSleepEndsTheRunInsteadOfHanging) {
  EXPECT_DEATH(
      {
        for (;;) TAP_Sleep(1000);
      },
      "endless sleep");
}

// Each host profile does what it says; the default host does the other thing.
TEST_F(HostTest, HostProfilesChangeWhatTheyNameAndNothingElse) {
  const std::string d = sim::disk();
  testfiles::WriteFile(d + "/DataFiles/b.rec", "b");
  testfiles::WriteFile(d + "/DataFiles/a.rec", "a");
  ASSERT_EQ(symlink("a.rec", (d + "/DataFiles/link.rec").c_str()), 0);  // not listed by default
  EXPECT_FALSE(sim::set_host_profiles("posix-rename,nonsense"));
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);

  // Default: rename refuses a taken name; listings sorted, without "." and "..".
  EXPECT_EQ(TAP_Hdd_Rename("a.rec", "b.rec"), 0);
  HddFolderEntry e;
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "rcn"), 2);
  EXPECT_STREQ(e.name, "a.rec");

  ASSERT_TRUE(sim::set_host_profiles("dot-entries,disk-order"));
  std::set<std::string> names;
  int n = TAP_Hdd_FindFirst(&e, "rcn");
  EXPECT_EQ(n, 4);
  for (int i = 0; i < n; ++i) {
    names.insert(e.name);
    if (std::strcmp(e.name, ".") == 0 || std::strcmp(e.name, "..") == 0) {
      EXPECT_EQ(e.attr, ATTR_FOLDER);
    }
    TAP_Hdd_FindNext(&e);
  }
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.rec", "b.rec"}));

  ASSERT_TRUE(sim::set_host_profiles("posix-rename"));
  EXPECT_EQ(TAP_Hdd_Rename("a.rec", "b.rec"), 1);
  EXPECT_EQ(testfiles::ReadFile(d + "/DataFiles/b.rec"), "a");

  ASSERT_TRUE(sim::set_host_profiles("opaque-results"));
  int results[4];
  for (int &r : results) r = TAP_Hdd_Delete("missing");
  EXPECT_EQ(std::set<int>(results, results + 4), (std::set<int>{0, 1, 7, -1}));

  sim::set_chdir_success_value(5);
  ASSERT_TRUE(sim::set_host_profiles("chdir-zero"));
  EXPECT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 0);
  EXPECT_NE(TAP_Hdd_ChangeDir("/nowhere"), 0);

  ASSERT_TRUE(sim::set_host_profiles("short-args"));
  EXPECT_EQ(system(("echo " + std::string(128 * 1024, 'x') + " >/dev/null").c_str()), -1);
  EXPECT_EQ(system("true"), 0);

  sim::set_tick(10);
  EXPECT_EQ(TAP_GetTick(), 10u);
  ASSERT_TRUE(sim::set_host_profiles("tick-wrap"));
  EXPECT_EQ(TAP_GetTick(), 0xFFFFFFFFu - 989u);
  sim::set_tick(1010);
  EXPECT_EQ(TAP_GetTick(), 10u);
  EXPECT_EQ(sim::tick(), 1010u);

  ASSERT_TRUE(sim::set_host_profiles("other-kinds"));
  std::map<std::string, uint32_t> kinds;
  for (int i = 0, n = TAP_Hdd_FindFirst(&e, "rec"); i < n; ++i, TAP_Hdd_FindNext(&e)) kinds[e.name] = e.attr;
  EXPECT_EQ(kinds, (std::map<std::string, uint32_t>{{".", ATTR_FOLDER}, {"..", ATTR_FOLDER}, {"b.rec", ATTR_FILE}, {"link.rec", 0}}));
}

// Every OS call of the module's table reaches the one policy: counted, and failing with the
// error number the test chose. The module's calls go through host/os.h as it makes them.
TEST_F(HostTest, EveryOsCallOfTheTableCanFailWithAChosenError) {
  MakeFile("/DataFiles/a", 8, 1);
  sim::set_console_pts(0);
  const char *const kFolder = "/mnt/hd/DataFiles";
  // One use per call, with what it needs opened unfailed first; true when it failed.
  const std::map<std::string, std::function<bool()>> uses = {
      {"opendir", [&] { return os::opendir(kFolder) == nullptr; }},
      {"readdir", [&] { DIR *d = os::opendir(kFolder); bool f = os::readdir(d) == nullptr; os::closedir(d); return f; }},
      {"closedir", [&] { return os::closedir(os::opendir(kFolder)) != 0; }},
      {"lstat64", [&] { struct stat64 st; return os::lstat64("/mnt/hd/DataFiles/a", &st) != 0; }},
      {"rename", [&] { return os::rename("/mnt/hd/DataFiles/a", "/mnt/hd/DataFiles/b") != 0; }},
      {"system", [&] { return os::system("true") != 0; }},
      {"open", [&] { return os::open("/mnt/hd/DataFiles/a", os::O_READONLY) < 0; }},
      {"write", [&] { int fd = os::open("/dev/pts/0", os::O_WRITEONLY); bool f = os::write(fd, "x", 1) < 0; os::close(fd); return f; }},
      {"fsync", [&] { int fd = os::open(kFolder, os::O_READONLY); bool f = os::fsync(fd) != 0; os::close(fd); return f; }},
      {"close", [&] { return os::close(os::open(kFolder, os::O_READONLY)) != 0; }},
      {"fopen", [&] { return os::fopen("/proc/uptime", "r") == nullptr; }},
      {"fgets", [&] { char b[16]; os::File *f = os::fopen("/proc/uptime", "r"); bool x = os::fgets(b, 16, f) == nullptr; os::fclose(f); return x; }},
      {"fclose", [&] { return os::fclose(os::fopen("/proc/uptime", "r")) != 0; }},
      {"dlopen", [&] { return os::dlopen(nullptr, os::DL_LAZY_GLOBAL) == nullptr; }},
      {"dlsym", [&] { void *h = os::dlopen(nullptr, os::DL_LAZY_GLOBAL); os::dlsym(h, "_tapTask"); bool f = os::dlerror() != nullptr; os::dlclose(h); return f; }},
      {"dlerror", [&] { return os::dlerror() != nullptr; }},
      {"dlclose", [&] { return os::dlclose(os::dlopen(nullptr, os::DL_LAZY_GLOBAL)) != 0; }},
  };
#define QUARROW_CHECK_OS_CALL(result, name, params)                                     \
  {                                                                                     \
    SCOPED_TRACE(#name);                                                                \
    ASSERT_EQ(uses.count(#name), 1u) << "no use of " #name " in this test";             \
    const uint64_t before = sim::calls(sim::Call::name);                                \
    sim::fault(sim::Call::name).error(ENOSPC);                                          \
    errno = 0;                                                                          \
    EXPECT_TRUE(uses.at(#name)());                                                      \
    if (std::string(#name).rfind("dl", 0) != 0) {                                       \
      EXPECT_EQ(errno, ENOSPC);                                                         \
    }                                                                                   \
    EXPECT_GT(sim::calls(sim::Call::name), before);                                     \
    sim::clear_faults();                                                                \
  }
  QUARROW_OS_CALL_TABLE(QUARROW_CHECK_OS_CALL)
#undef QUARROW_CHECK_OS_CALL
  EXPECT_TRUE(Exists("/DataFiles/a"));
}
