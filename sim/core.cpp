// The plug-in API table, the task records, lifetime, memory, time and console.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

#include "host/firmware.h"
#include "sim/internal.h"

// ---- the objects the module binds ---------------------------------------------
#define QUARROW_SIM_DEFINE_TAP(result, name, params) \
  result(*name) params = &sim::detail::impl_##name;
extern "C" {
QUARROW_TAP_API_TABLE(QUARROW_SIM_DEFINE_TAP)
}
#undef QUARROW_SIM_DEFINE_TAP

namespace {
enum : int {
  TASK_SLOTS = 4,   // _tapTask entries
  MODULE_TASK = 1,  // _curTapTask: the module's slot (not 0, so a wrong index shows)
};
}  // namespace

extern "C" {
TapTaskRecord _tapTask[TASK_SLOTS];
int32_t _curTapTask = MODULE_TASK;
}

namespace sim::detail {
namespace {

// The task records' folders; the other slots hold a path the module must never report as
// its own.
struct Tasks {
  TapDirRecord dirs[TASK_SLOTS];
  std::string path;  // the module's, kOsPrefix + host path
  bool path_hidden = false;
} tasks;
constexpr auto kOtherTaskPath = quarrow::JoinText(quarrow::kOsPrefix, "/NotThisModule");

struct Memory {
  std::map<const void *, uint32_t> blocks;
  uint64_t bytes = 0;  // held in blocks now
  uint64_t peak = 0;   // the most ever held at once
} memory;

struct Time {
  uint32_t tick = 0;
  int64_t clock_base = 0;  // centiseconds since MJD 0, 00:00:00, at clock_tick
  uint32_t clock_tick = 0;
} now;

struct TerminalPipe {
  int read_fd = -1;
  std::string raw;   // everything read so far, NUL bytes kept
  size_t stall = 0;  // bytes put in ahead of the module's to fill the pipe, dropped
};

struct Console {
  std::string path;  // "" standard error
  std::string text;  // everything shown so far
  int pts = 0;       // the one /dev/pts/N that opens, -1 none
  bool stalled = false;
  std::vector<TerminalPipe> pipes;
  std::vector<std::string> terminal_writes;
} console;

constexpr int64_t kCentisPerDay = 86400LL * 100;

int64_t clock_now() { return now.clock_base + static_cast<uint32_t>(now.tick - now.clock_tick); }

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int *year, int *month, int *day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

constexpr int64_t kMjdOfUnixEpoch = 40587;

bool valid_date(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= days;
}

}  // namespace

void fatal(const std::string &message) {
  std::fprintf(stderr, "simulated recorder: module bug: %s\n", message.c_str());
  std::fflush(stderr);
  // Not abort(): a module may define its own abort that sleeps for ever.
  signal(SIGABRT, SIG_DFL);
  raise(SIGABRT);
  _exit(134);
}

void set_task_path(const std::string &host_path) {
  tasks.path = quarrow::kOsPrefix + host_path;
  tasks.dirs[MODULE_TASK].path = tasks.path_hidden ? nullptr : tasks.path.c_str();
}

// ---- memory -------------------------------------------------------------------
void *counted_alloc(uint32_t size) {
  if (const Verdict v = decide(Call::TAP_MemAlloc)) return reinterpret_cast<void *>(v.result<uintptr_t>(0));
  void *p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) return nullptr;
  // Not zero: the module must not rely on fresh memory being clear.
  std::memset(p, 0xA5, size);
  memory.blocks[p] = size;
  memory.bytes += size;
  memory.peak = std::max(memory.peak, memory.bytes);
  return p;
}

void *impl_TAP_MemAlloc(uint32_t size) {
  return counted_alloc(size);
}

int impl_TAP_MemFree(const void *block) {
  if (const Verdict v = decide(Call::TAP_MemFree)) return v.result(0);
  if (block == nullptr) return 0;
  auto it = memory.blocks.find(block);
  if (it == memory.blocks.end()) {
    char text[96];
    std::snprintf(text, sizeof text, "TAP_MemFree of %p, which TAP_MemAlloc did not hand out (or was freed)",
                  block);
    fatal(text);
  }
  memory.bytes -= it->second;
  memory.blocks.erase(it);
  std::free(const_cast<void *>(block));
  return 1;
}

void impl_TAP_MemSet(void *dest, uint8_t value, uint32_t count) {
  if (decide(Call::TAP_MemSet)) return;
  std::memset(dest, value, count);
}

void impl_TAP_MemCpy(void *dest, const void *src, uint32_t count) {
  if (decide(Call::TAP_MemCpy)) return;
  std::memcpy(dest, src, count);
}

// ---- time ---------------------------------------------------------------------
uint32_t impl_TAP_GetTick(void) {
  if (const Verdict v = decide(Call::TAP_GetTick)) return v.result<uint32_t>(0);
  // With the wrap profile the module's counter stands 1000 ticks before its wrap at start.
  return host_does(Call::TAP_GetTick, WRAPS) ? now.tick + (0u - 1000u) : now.tick;
}

int impl_TAP_GetTime(uint16_t *mjd, uint8_t *hour, uint8_t *minute, uint8_t *second) {
  if (const Verdict v = decide(Call::TAP_GetTime)) return v.result(0);
  const int64_t now = clock_now() / 100;
  const int64_t day = now / 86400;
  const int64_t secs = now % 86400;
  if (mjd) *mjd = static_cast<uint16_t>(day);
  if (hour) *hour = static_cast<uint8_t>(secs / 3600);
  if (minute) *minute = static_cast<uint8_t>(secs / 60 % 60);
  if (second) *second = static_cast<uint8_t>(secs % 60);
  return 1;
}

void impl_TAP_ExtractMjd(uint16_t mjd, uint16_t *year, uint8_t *month, uint8_t *day, uint8_t *weekDay) {
  if (decide(Call::TAP_ExtractMjd)) return;
  int y, m, d, wd;
  mjd_to_date(mjd, &y, &m, &d, &wd);
  if (year) *year = static_cast<uint16_t>(y);
  if (month) *month = static_cast<uint8_t>(m);
  if (day) *day = static_cast<uint8_t>(d);
  if (weekDay) *weekDay = static_cast<uint8_t>(wd);
}

void impl_TAP_Sleep(uint32_t units) {
  if (decide(Call::TAP_Sleep)) return;
  // A module's fatal stop sleeps for ever; in virtual time that would never end.
  if (sleep_streak() > 100000)
    fatal("TAP_Sleep(" + std::to_string(units) + ") called 100000 times without any other call (endless sleep)");
  now.tick += units;
}

// ---- console ------------------------------------------------------------------
namespace {
void console_write(const std::string &text) {
  if (text.empty()) return;
  console.text += text;
  if (console.path.empty()) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    return;
  }
  const int fd = ::open(console.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

void drain_terminals() {
  for (size_t i = 0; i < console.pipes.size();) {
    TerminalPipe &p = console.pipes[i];
    bool closed = false;
    std::string fresh;
    for (;;) {
      char buf[4096];
      const ssize_t n = ::read(p.read_fd, buf, sizeof buf);
      if (n > 0) {
        fresh.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      closed = n == 0;
      break;
    }
    const size_t filler = std::min(p.stall, fresh.size());
    fresh.erase(0, filler);
    p.stall -= filler;
    p.raw += fresh;
    std::string shown;
    for (char c : fresh)
      if (c != '\0') shown += c;  // a terminal shows nothing for NUL
    console_write(shown);
    if (closed) {
      ::close(p.read_fd);
      console.terminal_writes.push_back(std::move(p.raw));
      console.pipes.erase(console.pipes.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}
}  // namespace

int open_terminal(int n, bool nonblocking) {
  drain_terminals();  // a full pipe would block the module's write
  if (n != console.pts) {
    errno = ENOENT;
    return -1;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  TerminalPipe pipe{fds[0], {}};
  if (console.stalled) {
    // Nobody reads: the pipe is full before the module writes.
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    const std::string filler(4096, '\0');
    ssize_t put;
    while ((put = ::write(fds[1], filler.data(), filler.size())) > 0) pipe.stall += static_cast<size_t>(put);
  }
  ::fcntl(fds[1], F_SETFL, nonblocking ? ::fcntl(fds[1], F_GETFL) | O_NONBLOCK : ::fcntl(fds[1], F_GETFL) & ~O_NONBLOCK);
  console.pipes.push_back(pipe);
  return fds[1];
}

// ---- printing -----------------------------------------------------------------
void impl_TAP_SPrint(void *buffer, const char *format, ...) {
  if (decide(Call::TAP_SPrint)) return;
  va_list ap;
  va_start(ap, format);
  std::vsprintf(static_cast<char *>(buffer), format, ap);
  va_end(ap);
}

int impl_TAP_Print(const char *format, ...) {
  if (const Verdict v = decide(Call::TAP_Print)) return v.result(-1);
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  if (n < 0) {
    va_end(ap2);
    return n;
  }
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, ap2);
  va_end(ap2);
  text.resize(static_cast<size_t>(n));
  drain_terminals();  // keep the order of the two sources
  console_write(text);
  return n;
}

}  // namespace sim::detail

// ---- control API --------------------------------------------------------------
namespace sim {
using namespace sim::detail;

void reset() {
  reset_disk();
  drain_terminals();
  for (TerminalPipe &p : console.pipes) ::close(p.read_fd);
  console = Console{};
  for (auto &b : memory.blocks) std::free(const_cast<void *>(b.first));
  memory = Memory{};
  now = Time{};
  set_clock(2026, 12, 7, 12, 0, 0);
  reset_policy();
  reset_os();
  reset_cache();
  reset_screen();
  // The firmware's task records.
  std::memset(_tapTask, 0, sizeof _tapTask);
  for (int i = 0; i < TASK_SLOTS; ++i) {
    tasks.dirs[i] = TapDirRecord{0, kOtherTaskPath.c_str()};
    _tapTask[i].dir = &tasks.dirs[i];
  }
  _curTapTask = MODULE_TASK;
  tasks.path_hidden = false;
  set_task_path(current_dir());
}

long outstanding_blocks() { return static_cast<long>(memory.blocks.size()); }
uint64_t heap_peak() { return memory.peak; }

void set_tick(uint32_t t) {
  // The clock keeps its reading; it runs on from here.
  now.clock_base = clock_now();
  now.clock_tick = now.tick = t;
}
void advance_ticks(uint32_t n) { now.tick += n; }
uint32_t tick() { return now.tick; }

void set_clock(int year, int month, int day, int hour, int minute, int second) {
  const int64_t mjd = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                      kMjdOfUnixEpoch;
  now.clock_base = mjd * kCentisPerDay + (hour * 3600LL + minute * 60LL + second) * 100;
  now.clock_tick = now.tick;
}

bool set_clock_text(const std::string &text) {
  int y, mo, d, h, mi, se, end = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &se, &end) != 6 ||
      static_cast<size_t>(end) != text.size())
    return false;
  if (y < 1858 || !valid_date(y, mo, d) || h < 0 || h > 23 || mi < 0 || mi > 59 || se < 0 || se > 59)
    return false;
  set_clock(y, mo, d, h, mi, se);
  return true;
}

uint16_t date_to_mjd(int year, int month, int day) {
  return static_cast<uint16_t>(
      days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kMjdOfUnixEpoch);
}

void mjd_to_date(uint16_t mjd, int *year, int *month, int *day, int *weekday) {
  const int64_t days = static_cast<int64_t>(mjd) - kMjdOfUnixEpoch;
  int y, m, d;
  civil_from_days(days, &y, &m, &d);
  if (year) *year = y;
  if (month) *month = m;
  if (day) *day = d;
  // 0 = Monday ... 6 = Sunday; MJD 0 (1858-11-17) was a Wednesday.
  if (weekday) *weekday = static_cast<int>((mjd + 2) % 7);
}

void set_console_path(const std::string &path) {
  drain_terminals();
  console.path = path;
  if (!path.empty()) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
}

std::string console_text() {
  drain_terminals();
  return console.text;
}

void set_console_pts(int n) { console.pts = n; }
void set_terminal_stalled(bool stalled) { console.stalled = stalled; }

std::vector<std::string> terminal_writes() {
  drain_terminals();
  return console.terminal_writes;
}

void flush_console() { drain_terminals(); }

std::string task_path() { return tasks.path; }

void set_task_path_hidden(bool hidden) {
  tasks.path_hidden = hidden;
  set_task_path(current_dir());
}

}  // namespace sim
