// The module's entry points: start-up and the idle-event scheduler with its three
// checks (message time-out, database refresh, the one intake check per load).
#include "app/folders.h"
#include "app/quarrow.h"
#include "app/recoverylist.h"
#include "host/frame.h"
#include "host/tap.h"
#include "lib/osd/osd.h"
#include "lib/time/timeutil.h"

uint32_t NextLFCheck;
uint32_t NextDataFilesCheck;
uint32_t MessageTimeout;

namespace {

constexpr uint32_t kFreshBootUptime = 12001;  // hundredths of a second: 120.00 s or less
constexpr uint32_t kIntakeDelayAfterBoot = 18000;
constexpr uint32_t kScanDelayAfterBoot = 12000;
constexpr uint32_t kIntakeDelay = 100;
constexpr uint32_t kScanDelay = 4000;
constexpr uint32_t kScanPeriod = 30000;
constexpr uint32_t kMessageShown = 3000;
constexpr uint32_t kIntakeDone = 0xFFFFFFFFu;  // no tick exceeds it
constexpr uint32_t kKeyOk = 0x1001E;
constexpr uint32_t kKeyExit = 0x10017;

// The intake check runs once per load, whatever the deadline's value.
bool IntakeChecked = false;

// A deadline has passed once the tick is strictly beyond it; the tick is read afresh. The
// difference is taken modulo 2^32, so a deadline set shortly before the counter wraps
// passes after the wrap, not at once.
bool Passed(uint32_t deadline) { return static_cast<int32_t>(TAP_GetTick() - deadline) > 0; }

void ShowMessage() {
  OSDMenuMessageBoxInitialize("Quarrow", "Dateien gefunden und verschoben");
  OSDMenuMessageBoxButtonAdd("OK");
  OSDMenuMessageBoxButtonSelect(0);
  OSDMenuMessageBoxShow();
  MessageTimeout = TAP_GetTick() + kMessageShown;
  if (MessageTimeout == 0) MessageTimeout = 1;  // 0 means no time-out
}

}  // namespace

extern "C" int TAP_Main(void) {
  // Nothing is held at load; the database lives only within one step of the scheduler.
  RecDB = nullptr;
  RecDBSize = 0;
  RecDBEntries = 0;

  // Right after power-on the disk and the file-system check need time: wait longer.
  if (GetUptime() < kFreshBootUptime) {
    NextLFCheck = TAP_GetTick() + kIntakeDelayAfterBoot;
    NextDataFilesCheck = TAP_GetTick() + kScanDelayAfterBoot;
  } else {
    NextLFCheck = TAP_GetTick() + kIntakeDelay;
    NextDataFilesCheck = TAP_GetTick() + kScanDelay;
  }
  MessageTimeout = 0;
  IntakeChecked = false;
  RecDB_CreateDir();
  Settings_Read();
  return 1;
}

extern "C" uint32_t TAP_EventHandler(uint16_t event, uint32_t param1, uint32_t /*param2*/) {
  if (event == EVT_KEY && (param1 == kKeyOk || param1 == kKeyExit) && OSDMenuMessageBoxIsVisible()) {
    WriteLog("Dialog ack'd by user");
    InformUser = 0;
    Settings_Write();
    OSDMenuMessageBoxDestroy();
    return 0;
  }
  if (event != EVT_IDLE) return param1;

  if (MessageTimeout != 0 && Passed(MessageTimeout)) {
    OSDMenuMessageBoxDestroy();
    MessageTimeout = 0;
  }

  if (Passed(NextDataFilesCheck)) {
    RecDB_Load();
    // The folders only while they are asked for: otherwise no file of them is made.
    if (RestoreFolders == 1) quarrow::Folders_Load();
    if (CrossCheckDataFilesWithDB()) RecDB_Save();
    // After the database: a cut between the two costs a folder, never a fingerprint.
    if (RestoreFolders == 1 && quarrow::Folders_Changed()) quarrow::Folders_Save();
    quarrow::Folders_Destroy();
    RecDB_Destroy();
    NextDataFilesCheck = TAP_GetTick() + kScanPeriod;
  }

  if (!IntakeChecked && Passed(NextLFCheck)) {
    const bool found = isNewLostAndFound() != 0;
    // A recovery cut short on an earlier load is finished now, even with /Quarrow empty.
    if (found || quarrow::RecoveryList_Pending()) {
      if (found) {
        // Stored before anything moves, so the user is told even if the move is cut short.
        InformUser = 1;
        Settings_Write();
      }
      MoveAllLostAndFoundFiles();
      RecDB_Load();
      if (RestoreFolders != 0) quarrow::Folders_Load();
      CrossCheckLostAndFoundWithDB();
      quarrow::Folders_Destroy();
      RecDB_Destroy();
    }
    NextLFCheck = kIntakeDone;
    IntakeChecked = true;
    if (InformUser) ShowMessage();
  }
  return param1;
}
