// Control of the simulated recorder, for tapsim and for tests that drive module
// code in-process. Everything here is host-side (PC) code, never module code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/os_calls.h"
#include "host/tap.h"

namespace sim {

// ---- lifetime -------------------------------------------------------------
// Back to a fresh recorder: no disk, tick 0, clock 2026-12-07 12:00:00, uptime "600.00",
// chdir success value 0, no faults, screen cleared to the background, counters zero.
void reset();

// ---- disk -----------------------------------------------------------------
// The directory that stands for the recorder's disk (host path "/", OS path "/mnt/hd").
// Created with ProgramFiles/ and DataFiles/ if missing. Current folder: /ProgramFiles.
void set_disk(const std::string &dir);
const std::string &disk();
std::string host_to_real(const std::string &host_path);  // "/DataFiles/x" -> disk()+"/DataFiles/x"
std::string current_dir();                               // host path of the module's current folder
void set_chdir_success_value(int value);                 // what TAP_Hdd_ChangeDir returns on success
int open_files();                                        // handles not yet closed
// Make lstat64 report a device other than 2050 for this host folder and everything below it
// (stands for another partition or a mounted stick).
void set_foreign_device(const std::string &host_path);
// Commands the module passed to system(), as it passed them (before /mnt/hd is mapped).
const std::vector<std::string> &system_commands();

// ---- calls, counters, faults and host behaviours ------------------------------
// Every call the module makes into the host, from the tables that also declare them: the
// plug-in API (host/tap.h), then the operating-system and loader calls (host/os_calls.h),
// each of which the simulator stands in for (sim/os.cpp).
#define QUARROW_SIM_TAP_CALL(result, name, params) name,
enum class Call : int { QUARROW_TAP_API_TABLE(QUARROW_SIM_TAP_CALL) QUARROW_OS_CALL_TABLE(QUARROW_SIM_TAP_CALL) };
#undef QUARROW_SIM_TAP_CALL
#define QUARROW_SIM_ONE(result, name, params) +1
constexpr int CALL_COUNT = 0 QUARROW_TAP_API_TABLE(QUARROW_SIM_ONE) QUARROW_OS_CALL_TABLE(QUARROW_SIM_ONE);
#undef QUARROW_SIM_ONE

const char *call_name(Call call);  // "TAP_Hdd_Rename", "rename"
// Calls on the disk that report failure (the fault sweeps fail each in turn); those that
// change it stop when the power is cut.
bool on_disk(Call call);
bool changes_disk(Call call);
// Calls since reset(), failed ones included.
uint64_t calls(Call call);
// `observer` (null: none) is told of every call the module makes into the host, before the
// call does anything, with `context`; for a tool that shows the module's progress. reset()
// ends it.
using CallObserver = void (*)(Call call, void *context);
void observe_calls(CallObserver observer, void *context);

// One rule of the policy, armed in one line and refined in place:
//   sim::fault(Call::TAP_Hdd_Rename).nth(2).on("Quarrow.db");
// By default the next matching call fails: it does nothing and gives its failure value.
class Fault {
 public:
  explicit Fault(int rule) : rule_(rule) {}
  Fault &nth(uint64_t n);                // the n-th matching call from now (1-based), once
  Fault &from(uint64_t n);               // the n-th and every later one
  Fault &always() { return from(1); }
  Fault &times(uint64_t k);              // k calls in a row, from the n-th
  Fault &on(const std::string &name);    // only calls on this name count (last path component)
  Fault &returns(long long value);       // the call does nothing and gives `value` instead
  Fault &error(int number);              // the error number a failed OS call sets (default EIO)
  Fault &short_transfer();               // the call moves half the bytes asked (Fread, Fwrite)
  Fault &cuts_power();                   // and after it no call that changes the disk does anything

 private:
  int rule_;
};
Fault fault(Call call);
// The power goes once `bytes` more bytes have been written, or after `changes` more calls
// that change the disk; from then on those calls do nothing. reset() or clear_faults() ends it.
void cut_power_after_bytes(uint64_t bytes);
void cut_power_after_changes(uint64_t changes);
bool power_is_cut();
void clear_faults();  // every rule and the power cut; host profiles stay

// The disk's cache, as a power cut loses it. With the model on (for the disk set now), every
// change made on the disk is noted: each written file's content as of its last sync, and
// each folder's name changes in order. A sync (fsync of a file or of a folder opened
// read-only) makes the file's data, or the folder's changes so far, durable. lose_cache then
// leaves on the real disk what a cut now leaves, and ends the model:
//   Nothing  every change kept (as when only the process dies)
//   Data     every file's data since its last sync lost; all name changes kept
//   Torn     each such file at its new length, its 4 KiB blocks alternately as they were
//            (zeros past the old end) and as written, starting with the first as it was
//   Names    data lost as with Data, and every name change not made durable lost
//   Folder   data lost, and the name changes not made durable of the `folder`-th of the
//            folders holding any (in name order) lost, with whatever depends on them:
//            later changes in a folder they share, a rename in both its folders, the
//            content of a folder whose making is lost
// In every variant a folder's changes are lost only as a suffix of their order, and a
// synced change keeps all changes before it in its folders. Returns how many folders held
// changes not yet durable (the Folder variants that exist). Nothing is lost with the model off.
enum class Loss { Nothing, Data, Torn, Names, Folder };
bool model_cache(bool on);  // false when no disk is set (or its stash cannot be made)
int lose_cache(Loss loss, int folder = 0);
// Syncs the module asked for since reset(), each handed to the operating system.
uint64_t syncs();
// For tests that prove the model: syncs still reach the OS and succeed, but the model
// takes none of them as made durable, as if the module never synced.
void ignore_syncs(bool ignore);

// Behaviours the plug-in API leaves to the host, each the other plausible choice:
//   posix-rename    TAP_Hdd_Rename replaces an existing target and reports success
//   opaque-results  TAP_Hdd_Rename, _Create, _Delete and _FindNext return 0, 1, 7, -1 in turn,
//                   whatever happened
//   dot-entries     listings hold "." and ".." as folders (attribute 224), counted
//   disk-order      listings in the order the directory gives them, not sorted
//   chdir-zero      TAP_Hdd_ChangeDir returns 0 for success and 1 for failure
//   short-args      system() refuses a command line longer than 128 KiB
//   tick-wrap       TAP_GetTick gives the module the tick plus 2^32 - 1000: it wraps 1000
//                   ticks after the start (tick() and set_tick() keep counting as before)
//   other-kinds     listings hold links, pipes and devices too, with attribute 0
//   strict          all of them
// False for an unknown name (nothing changed). reset() goes back to the default host.
bool set_host_profiles(const std::string &commaSeparated);
const std::vector<std::string> &host_profile_names();

// ---- memory ---------------------------------------------------------------
long outstanding_blocks();     // TAP_MemAlloc blocks not yet freed
uint64_t heap_peak();          // the most bytes held in TAP_MemAlloc blocks at once

// ---- time -----------------------------------------------------------------
// Sets the tick counter; the clock keeps its reading (a jump, not time passing).
void set_tick(uint32_t tick);
// Time passes: the tick counter moves on by n and the clock with it.
void advance_ticks(uint32_t n);
uint32_t tick();
void set_clock(int year, int month, int day, int hour, int minute, int second);
bool set_clock_text(const std::string &text);  // "YYYY-MM-DD HH:MM:SS"
// The clock runs with the ticks: 100 ticks are one second after the set point.
void set_uptime_text(const std::string &text);  // what /proc/uptime reads; "" = cannot be opened
// Calendar helpers, real arithmetic.
uint16_t date_to_mjd(int year, int month, int day);
void mjd_to_date(uint16_t mjd, int *year, int *month, int *day, int *weekday);

// ---- console (terminal echo, TAP_Print) ------------------------------------
void set_console_path(const std::string &path);  // "" = standard error
std::string console_text();                      // everything echoed so far (also kept in memory)
// Which terminal device opens: only /dev/pts/<n> (default 0); -1 makes every one fail.
void set_console_pts(int n);
// A terminal that nobody reads: each opening's pipe is full before the module writes, so a
// blocking write would wait for ever.
void set_terminal_stalled(bool stalled);
// The open() flags of each opening of the terminal device, in the recorder's values.
std::vector<int> terminal_open_flags();
// Raw bytes written through each opening of the terminal device, NUL bytes kept.
std::vector<std::string> terminal_writes();
// Move pending terminal output into the console now (done after every event and by
// console_text()).
void flush_console();

// ---- screen ---------------------------------------------------------------
enum { SCREEN_W = 720, SCREEN_H = 576 };
std::vector<uint32_t> screen();                 // composited ARGB, row by row
bool save_png(const std::string &path);  // false on failure or without PNG support
bool png_supported();
bool in_normal_mode();
int open_regions();
// Every screen call the module made, as text, e.g.
// "Osd_Create(170,193,380,190,0,0)=1", "Osd_FillBox(1,90,120,100,25,0xFF242424)",
// "Osd_PutGd(1,0,0,380x190,0)", "Osd_SaveBox(1,0,10,..)", "Osd_RestoreBox(...)", "Osd_Sync",
// "ExitNormal", "EnterNormal", "Osd_Delete(1)".
const std::vector<std::string> &screen_calls();
void clear_screen_calls();
// One region's position, size and pixels; false for a handle that is not open.
bool region(uint16_t handle, int *x, int *y, int *w, int *h, std::vector<uint32_t> *pixels);
// The picture behind all regions (opaque).
const std::vector<uint32_t> &background();

// ---- firmware tables --------------------------------------------------------
// What the module's task record holds as its current folder ("/mnt/hd" + host path).
std::string task_path();
// Make the task record's directory record hold no path (true) or the current one (false).
void set_task_path_hidden(bool hidden);

}  // namespace sim
