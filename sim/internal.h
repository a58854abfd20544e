// Shared state of the simulated recorder. Host-side code only; never included by the module.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/firmware.h"
#include "host/tap.h"
#include "sim/sim.h"

namespace sim::detail {

// Implementations behind the TAP_ objects, one per name of the table.
#define QUARROW_SIM_DECLARE_IMPL(result, name, params) result impl_##name params;
QUARROW_TAP_API_TABLE(QUARROW_SIM_DECLARE_IMPL)
#undef QUARROW_SIM_DECLARE_IMPL

enum : int {
  DISK_DEVICE = 2050,     // what lstat64 reports for entries on the disk
  FOREIGN_DEVICE = 2065,  // what it reports below folders marked foreign
  REGION_SLOTS = 32,      // _osdInfo entries; region handles 1 .. REGION_SLOTS-1
  TASK_SLOTS = 4,         // _tapTask entries
  MODULE_TASK = 1,        // _curTapTask: the module's slot (not 0, so a wrong index shows)
};

// A module bug the simulator cannot carry on from: message on stderr, then SIGABRT.
[[noreturn]] void fatal(const std::string &message);

// The one policy: every call the module makes into the host comes here first. It counts
// the call, tells every call but TAP_Sleep apart from a sleep loop, and says what the armed
// rules and the power cut make of it. `name` (and `other`, for the new name of a rename) is
// the last path component the call is about, for rules on a name.
struct Verdict {
  bool fail = false;            // do nothing, give the failure value (or `value`)
  bool has_value = false;
  long long value = 0;
  bool short_transfer = false;  // move half of what was asked
  explicit operator bool() const { return fail; }
  template <typename T>
  T result(T failure) const {
    return has_value ? static_cast<T>(value) : failure;
  }
};
Verdict decide(Call call, const std::string &name = std::string(), const std::string &other = std::string());
// Bytes a write may still move before the power goes (all of `want` without a budget).
uint64_t power_allows(uint64_t want);

// Host behaviours, per call; the host profiles switch them on.
enum Behaviour : unsigned {
  OVERWRITES = 1,      // rename replaces the target
  OPAQUE_RESULT = 2,   // the result means nothing
  DOT_ENTRIES = 4,     // listings hold "." and ".."
  DISK_ORDER = 8,      // listings unsorted
  ZERO_SUCCESS = 16,   // ChangeDir: 0 is success
  SHORT_ARGS = 32,     // system: 128 KiB at most
  WRAPS = 64,          // GetTick: wraps soon after the start
  OTHER_KINDS = 128,   // listings hold links, pipes and devices
};
bool host_does(Call call, Behaviour b);
int opaque_result();
// The call's result as the host reports it: with OPAQUE_RESULT the next of 0, 1, 7, -1.
template <typename T>
T reported(Call call, T result) {
  return host_does(call, OPAQUE_RESULT) ? static_cast<T>(opaque_result()) : result;
}

struct OpenFile {
  int fd = -1;
  std::string name;  // last path component, for faults by name
  std::string host_path;
};

struct Rule {
  Call call;
  std::string name;      // empty: any name
  uint64_t first = 1;    // the first matching call that fails, counted from arming
  uint64_t count = 1;    // how many in a row (UINT64_MAX: all from `first`)
  uint64_t seen = 0;
  bool has_value = false;
  long long value = 0;
  bool short_transfer = false;
  bool cuts_power = false;
};

struct Region {
  uint16_t handle = 0;
  int x = 0, y = 0, w = 0, h = 0;
  uint64_t order = 0;  // creation order, compositing order
  std::vector<uint32_t> px;
};

struct TerminalPipe {
  int read_fd = -1;
  std::string raw;  // everything read so far, NUL bytes kept
};

struct State {
  // the policy
  uint64_t calls[CALL_COUNT] = {};
  unsigned host[CALL_COUNT] = {};  // Behaviour bits
  uint32_t opaque_turn = 0;
  std::vector<Rule> rules;
  bool power_cut = false;
  long long power_bytes = -1;    // bytes still written before the cut, -1 none
  long long power_changes = -1;  // disk changes still done before the cut, -1 none
  // disk
  std::string disk;      // canonical real path, "" when none
  dev_t disk_dev = 0;    // real device of the disk folder
  std::string cwd = "/ProgramFiles";
  int chdir_success = 0;
  std::set<OpenFile *> files;
  std::vector<std::string> foreign;  // host paths marked as another device
  std::vector<std::pair<uint32_t, std::string>> listing;
  size_t listing_pos = 0;
  // memory
  std::map<const void *, uint32_t> blocks;
  uint64_t heap_bytes = 0;  // held in blocks now
  uint64_t heap_peak = 0;   // the most ever held at once
  // time
  uint32_t tick = 0;
  int64_t clock_base = 0;     // centiseconds since MJD 0, 00:00:00, at clock_tick
  uint32_t clock_tick = 0;
  std::string uptime = "600.00";
  uint64_t sleep_streak = 0;
  // console
  std::string console_path;   // "" standard error
  std::string console;        // everything shown so far
  int console_pts = 0;        // the one /dev/pts/N that opens, -1 none
  std::vector<TerminalPipe> pipes;
  std::vector<std::string> terminal_writes;
  std::vector<std::string> system_commands;
  // firmware
  std::string task_path;
  bool task_path_hidden = false;
  // screen
  std::map<uint16_t, Region> regions;
  uint64_t region_order = 0;
  bool normal_mode = true;
  std::vector<std::string> screen_calls;
};

State &state();

// Host path handling.
// Joins name to the current folder and removes ".", "" and ".." components; false when the
// path would climb above the disk's root or no disk is set.
bool normalize(const std::string &cwd, const char *name, std::string *host_path);
// Real path of a normalised host path; false if a folder on the way is a symbolic link.
bool real_path(const std::string &host_path, std::string *real);
std::string last_component(const std::string &host_path);
// OS path ("/mnt/hd/...") to real path. Returns 0 for a path outside /mnt/hd (hand it on),
// 1 when mapped into *real, -1 when refused (errno set).
int map_os_path(const char *path, std::string *real);
// Device number lstat64 reports for a real device and host path.
uint64_t reported_device(uint64_t real_dev, const std::string &host_path);

void set_task_path(const std::string &host_path);

// Memory without the TAP_ bookkeeping of a call (SaveBox uses it too).
void *counted_alloc(uint32_t size);
void counted_free_all();

// Console.
void console_write(const std::string &text);
int open_terminal();  // write end of a fresh pipe, or -1
void drain_terminals();
void close_terminals();

// Screen.
void reset_screen();
const std::vector<uint32_t> &background_picture();

// Firmware tables.
void reset_firmware_tables();
void update_region_entry(uint16_t handle, const Region *region);

}  // namespace sim::detail
