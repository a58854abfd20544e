// The settings in Quarrow.ini (InformUser, kept by the module; RestoreFolders, only read),
// and the program log Quarrow.log; both live in the settings folder.
#include "app/folders_format.h"
#include "app/quarrow.h"
#include "app/setaside.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/ini/ini.h"
#include "lib/log/log.h"

int32_t InformUser = 0;
int32_t RestoreFolders = 0;
char LogString[512] = {};

namespace {

using quarrow::kSettingsFolder;
constexpr char kSettingsFile[] = "Quarrow.ini";
constexpr char kKey[] = "InformUser";
constexpr char kLogFile[] = "Quarrow.log";
constexpr char kProgramName[] = "Quarrow";
constexpr uint32_t kStampWithSeconds = 5;

}  // namespace

void Settings_Read() {
  // Not known until the file is read; off when it has no such line, or there is no file.
  RestoreFolders = -1;
  if (!HDD_ChangeDir(kSettingsFolder)) {
    // The settings file is out of reach; a file written elsewhere would never be read.
    InformUser = 0;
    return;
  }
  quarrow::SetAsideUnusable(kSettingsFile);
  INIPlace place = INIOpenFile(kSettingsFile, quarrow::kIniAppFolder);
  if ((place == INIPlace_None || place == INIPlace_New) && quarrow::SeenInSettings(kSettingsFile)) {
    // There but unreadable: the flag it may hold stays pending, and nothing is written
    // over the file.
    INICloseFile();
    WriteLog("failed to read the settings");
    InformUser = 1;
    return;
  }
  if (static_cast<uint32_t>(place) < INIPlace_CurrentDir) {
    INICloseFile();
    InformUser = 0;
    RestoreFolders = 0;
    Settings_Write();
    return;
  }
  InformUser = INIGetInt(kKey, 1, 0, 1) != 0 ? 1 : 0;
  RestoreFolders = INIGetInt(quarrow::kRestoreFoldersKey, 0, 0, 1) != 0 ? 1 : 0;
  INICloseFile();
}

void Settings_Write() {
  if (!HDD_ChangeDir(kSettingsFolder)) return;
  quarrow::SetAsideUnusable(kSettingsFile);
  // Only a text read whole may be written back: the file's other lines must survive.
  INIPlace place = INIOpenFile(kSettingsFile, quarrow::kIniAppFolder);
  if (place == INIPlace_None || (place == INIPlace_New && quarrow::SeenInSettings(kSettingsFile))) {
    INICloseFile();
    WriteLog("failed to read the settings, not saved");
    return;
  }
  INISetInt(kKey, InformUser != 0 ? 1 : 0);
  if (!INISaveFile(kSettingsFile, INIPlace_CurrentDir, "")) WriteLog("failed to save the settings");
  INICloseFile();
}

void WriteLog(const char *text) {
  SavedDir saved;
  // Only a folder that can be returned to may be left: the caller may be in the middle
  // of a folder scan. Otherwise the message still goes to the terminal.
  if (saved.saved() && HDD_ChangeDir(kSettingsFolder)) {
    LogEntry(kLogFile, kProgramName, 1, kStampWithSeconds, text);
  } else {
    LogEntry(nullptr, kProgramName, 1, kStampWithSeconds, text);
  }
}
