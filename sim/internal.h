// What the files of the simulated recorder ask of each other. Each file keeps its own state;
// sim::reset() (core.cpp) resets them all. Host-side code only; never included by the module.
#pragma once

#include <cstdint>
#include <string>

#include "host/folders.h"
#include "host/tap.h"
#include "sim/sim.h"

namespace sim::detail {

// Implementations behind the TAP_ objects, one per name of the table.
#define QUARROW_SIM_DECLARE_IMPL(result, name, params) result impl_##name params;
QUARROW_TAP_API_TABLE(QUARROW_SIM_DECLARE_IMPL)
#undef QUARROW_SIM_DECLARE_IMPL

// A module bug the simulator cannot carry on from: message on stderr, then SIGABRT.
[[noreturn]] void fatal(const std::string &message);

// ---- policy.cpp: the one policy -------------------------------------------------
// Every call the module makes into the host comes here first. It counts the call and says
// what the armed rules and the power cut make of it. `name` (and `other`, for the new name
// of a rename) is the last path component the call is about, for rules on a name.
struct Verdict {
  bool fail = false;            // do nothing, give the failure value (or `value`)
  bool has_value = false;
  long long value = 0;
  bool short_transfer = false;  // move half of what was asked
  int error = 0;                // errno for a failed OS call (0: the call's own default)
  explicit operator bool() const { return fail; }
  int error_or(int fallback) const { return error != 0 ? error : fallback; }
  template <typename T>
  T result(T failure) const {
    return has_value ? static_cast<T>(value) : failure;
  }
};
Verdict decide(Call call, const std::string &name = std::string(), const std::string &other = std::string());
// Bytes a write may still move before the power goes (all of `want` without a budget).
uint64_t power_allows(uint64_t want);
// TAP_Sleep calls done in a row, without any other call in between.
uint64_t sleep_streak();

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

// ---- disk.cpp: host paths ----------------------------------------------------------
// Joins name to the current folder and removes ".", "" and ".." components; false when the
// path would climb above the disk's root.
bool normalize(const std::string &cwd, const char *name, std::string *host_path);
std::string last_component(const std::string &host_path);
// For an OS path on the disk (kOsPrefix alone or followed by "/..."), what follows the
// prefix: "" or the host path; null for any other path.
const char *os_rest(const char *path);
// OS path to real path. Returns 0 for a path outside the disk (hand it on), 1 when mapped
// into *real, -1 when refused (errno set).
int map_os_path(const char *path, std::string *real);
// Device number lstat64 reports for a real device and host path.
uint64_t reported_device(uint64_t real_dev, const std::string &host_path);

// ---- cache.cpp: what a power cut loses ----------------------------------------------
// Notes for the model, with real paths; each does nothing while the model is off.
bool cache_on();
void cache_before_write(int fd);                             // the file's data is about to change
void cache_created(const std::string &real, bool is_folder);  // a new name
void cache_renamed(const std::string &from, const std::string &to);
// Deletes the entry (folders only when empty), keeping a file's inode while the model may
// still undo the delete. True when it is gone.
bool cache_remove(const std::string &real);
// A successful fsync of `fd` (on the disk): what it made durable. Counts the sync.
void cache_synced(int fd);
void reset_cache();

// ---- core.cpp --------------------------------------------------------------------
// The module's task record names this folder as its current one.
void set_task_path(const std::string &host_path);
// Memory without the TAP_ bookkeeping of a call (SaveBox uses it too).
void *counted_alloc(uint32_t size);
// The write end of a fresh pipe standing for /dev/pts/n, or -1 (errno set); blocking
// unless asked otherwise.
int open_terminal(int n, bool nonblocking);

// Each file's state back to a fresh recorder's (the disk's closes the files left open).
void reset_policy();
void reset_disk();
void reset_screen();
void reset_os();

}  // namespace sim::detail
