#include "tools/quarrow-db/module_start.h"

#include <ctime>

#include "app/quarrow.h"
#include "host/folders.h"
#include "host/frame.h"
#include "lib/hdd/hdd.h"
#include "lib/ini/ini.h"
#include "sim/sim.h"

namespace quarrow_db {

namespace {

constexpr uint32_t kOk = 0x1001E;

struct Counts {
  const Progress *progress;
  uint64_t moved = 0, renamed = 0;
};

// The intake moves with the operating system's rename, the recovery renames through the
// plug-in API.
void Observe(sim::Call call, void *context) {
  auto *c = static_cast<Counts *>(context);
  if (call == sim::Call::rename)
    ++c->moved;
  else if (call == sim::Call::TAP_Hdd_Rename)
    ++c->renamed;
  else
    return;
  (*c->progress)(c->moved, c->renamed);
}

}  // namespace

bool RunModuleStart(const std::string &disk, const std::string &clock, const std::string &console, std::string *why,
                    const Progress &progress) {
  sim::reset();
  Counts counts{&progress};
  if (progress) sim::observe_calls(Observe, &counts);
  sim::set_console_path(console);
  sim::set_disk(disk);
  if (sim::disk().empty()) {
    sim::observe_calls(nullptr, nullptr);
    *why = "cannot use " + disk + " as the recorder's disk";
    return false;
  }
  sim::set_uptime_text("600.00 0.00\n");
  if (clock.empty()) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    sim::set_clock(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  } else if (!sim::set_clock_text(clock)) {
    sim::observe_calls(nullptr, nullptr);
    *why = "the clock wants \"YYYY-MM-DD HH:MM:SS\", not " + clock;
    return false;
  }
  if (TAP_Main() == 0) {
    sim::observe_calls(nullptr, nullptr);
    *why = "the module did not start";
    return false;
  }
  // Tick by tick as tapsim drives it: the key when due, then one idle event.
  bool acknowledged = false;
  for (uint32_t next = 0; next <= kLastTick; ++next) {
    if (sim::tick() > next) next = sim::tick();  // an event that slept let time pass
    if (next > kLastTick) break;
    sim::advance_ticks(next - sim::tick());
    if (!acknowledged && next >= kOkTick) {
      acknowledged = true;
      TAP_EventHandler(EVT_KEY, kOk, 0);
    }
    TAP_EventHandler(EVT_IDLE, 0, 0);
  }
  sim::flush_console();
  sim::observe_calls(nullptr, nullptr);
  return true;
}

bool StoreModuleSetting(const std::string &disk, const char *key, int value, std::string *why) {
  sim::reset();
  sim::set_console_path("/dev/null");
  sim::set_disk(disk);
  if (sim::disk().empty()) {
    *why = "cannot use " + disk + " as the recorder's disk";
    return false;
  }
  RecDB_CreateDir();
  const std::string file = disk + quarrow::kSettingsFolder.c_str() + "/Quarrow.ini";
  if (!HDD_ChangeDir(quarrow::kSettingsFolder)) {
    *why = disk + quarrow::kSettingsFolder.c_str() + ": cannot be made or entered";
    return false;
  }
  // As the module's settings write: only a text read whole is written back.
  const INIPlace place = INIOpenFile("Quarrow.ini", quarrow::kIniAppFolder);
  if (place == INIPlace_None) {
    INICloseFile();
    *why = file + ": cannot be read";
    return false;
  }
  if (place == INIPlace_New) INISetInt("InformUser", 0);
  INISetInt(key, value);
  const bool saved = INISaveFile("Quarrow.ini", INIPlace_CurrentDir, "");
  INICloseFile();
  if (!saved) *why = file + ": cannot be written";
  return saved;
}

}  // namespace quarrow_db
