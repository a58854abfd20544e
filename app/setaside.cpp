#include "app/setaside.h"

#include "app/quarrow.h"
#include "host/os.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"

namespace quarrow {

namespace {

constexpr uint32_t kMaxAside = 999;

bool OsPath(char (&out)[PATH_SIZE], const char *folderOs, const char *name) {
  return JoinPath(out, sizeof out, {folderOs, "/", name});
}

// What `name` in `folderOs` is: `wanted` (a plain file or a folder), absent, or something
// else (or not known).
enum class Kind { Wanted, Absent, Other };
Kind KindOf(const char *folderOs, const char *name, bool wantFolder) {
  char path[PATH_SIZE];
  if (!OsPath(path, folderOs, name)) return Kind::Other;
  struct stat64 st;
  if (os::lstat64(path, &st) != 0) return Kind::Absent;
  return (wantFolder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) ? Kind::Wanted : Kind::Other;
}

bool FreeName(char (&out)[FILE_NAME_SIZE], const char *folderOs, const char *name) {
  for (uint32_t k = 1; k <= kMaxAside; ++k) {
    char suffix[16];
    if (k == 1)
      TAP_SPrint(suffix, ".bad");
    else
      TAP_SPrint(suffix, ".bad%u", static_cast<unsigned>(k));
    if (!FileSiblingName(out, name, suffix)) return false;
    char path[PATH_SIZE];
    struct stat64 st;
    if (!OsPath(path, folderOs, out)) return false;
    if (os::lstat64(path, &st) != 0) return true;
  }
  out[0] = '\0';
  return false;
}

// Renames `name` to `aside` in `folderOs` by the operating system, which never follows a
// link it renames; the two paths live in the host's memory (the module's stack is the
// firmware's).
bool RenameIn(const char *folderOs, const char *name, const char *aside) {
  auto *paths = static_cast<char(*)[PATH_SIZE]>(TAP_MemAlloc(2 * PATH_SIZE));
  if (paths == nullptr) return false;
  const bool renamed = OsPath(paths[0], folderOs, name) && OsPath(paths[1], folderOs, aside) &&
                       os::rename(paths[0], paths[1]) == 0;
  TAP_MemFree(paths);
  return renamed;
}

bool SetAside(const char *folderOs, const char *name, bool wantFolder, const char *what) {
  char aside[FILE_NAME_SIZE];
  if (!FreeName(aside, folderOs, name) || !RenameIn(folderOs, name, aside) ||
      KindOf(folderOs, name, wantFolder) != Kind::Absent) {
    TAP_SPrint(LogString, "'%.200s' is not %s and could not be set aside", name, what);
    WriteLog(LogString);
    return false;
  }
  TAP_SPrint(LogString, "'%.200s' is not %s, set aside as '%.200s'", name, what, aside);
  WriteLog(LogString);
  return true;
}

}  // namespace

bool SeenInSettings(const char *name) { return KindOf(kSettingsFolderOs, name, false) != Kind::Absent; }

bool FreeAsideName(char (&out)[FILE_NAME_SIZE], const char *name) { return FreeName(out, kSettingsFolderOs, name); }

bool SetAsideUnusable(const char *name) {
  char sibling[FILE_NAME_SIZE];
  bool usable = true;
  if (KindOf(kSettingsFolderOs, name, false) == Kind::Other)
    usable = SetAside(kSettingsFolderOs, name, false, "a plain file") && usable;
  for (const char *suffix : {".tmp", ".bak"}) {
    if (FileSiblingName(sibling, name, suffix) && KindOf(kSettingsFolderOs, sibling, false) == Kind::Other)
      usable = SetAside(kSettingsFolderOs, sibling, false, "a plain file") && usable;
  }
  return usable;
}

SettingsFile FindSettingsFile(const char *name) {
  if (!HDD_ChangeDir(kSettingsFolder) || !SetAsideUnusable(name)) return SettingsFile::OutOfReach;
  if (FileRecover(name)) return SettingsFile::There;
  return SeenInSettings(name) ? SettingsFile::OutOfReach : SettingsFile::Absent;
}

bool ReplaceSettingsFile(const char *name, const FilePart *parts, int count, bool keepAside) {
  SavedDir saved;
  if (!HDD_ChangeDir(kSettingsFolder) || !SetAsideUnusable(name)) return false;
  char aside[FILE_NAME_SIZE];
  if (keepAside && !FreeAsideName(aside, name)) return false;
  return FileReplace(name, parts, count, keepAside ? aside : nullptr);
}

bool SetAsideUnlessFolder(const char *folderOs, const char *name) {
  if (KindOf(folderOs, name, true) != Kind::Other) return true;
  return SetAside(folderOs, name, true, "a folder");
}

}  // namespace quarrow
