#include "app/setaside.h"

#include "app/paths.h"
#include "app/quarrow.h"
#include "host/os.h"
#include "host/tap.h"

namespace quarrow {

namespace {

constexpr uint32_t kMaxAside = 999;

bool OsPath(char (&out)[PATH_SIZE], const char *name) {
  return JoinPath(out, sizeof out, {kSettingsFolderOs, "/", name});
}

// 1 plain file, 0 absent, -1 something else (or not known).
int Kind(const char *name) {
  char path[PATH_SIZE];
  if (!OsPath(path, name)) return -1;
  struct stat64 st;
  if (lstat64(path, &st) != 0) return 0;
  return S_ISREG(st.st_mode) ? 1 : -1;
}

// Renames `name` to `aside` in the settings folder; the two paths live in the host's memory
// (the module's stack is the firmware's).
bool RenameInSettings(const char *name, const char *aside) {
  auto *paths = static_cast<char(*)[PATH_SIZE]>(TAP_MemAlloc(2 * PATH_SIZE));
  if (paths == nullptr) return false;
  const bool renamed = OsPath(paths[0], name) && OsPath(paths[1], aside) && rename(paths[0], paths[1]) == 0;
  TAP_MemFree(paths);
  return renamed;
}

bool SetAside(const char *name) {
  char aside[FILE_NAME_SIZE];
  if (!FreeAsideName(aside, name) || !RenameInSettings(name, aside) || Kind(name) != 0) {
    TAP_SPrint(LogString, "'%.200s' is not a plain file and could not be set aside", name);
    WriteLog(LogString);
    return false;
  }
  TAP_SPrint(LogString, "'%.200s' is not a plain file, set aside as '%.200s'", name, aside);
  WriteLog(LogString);
  return true;
}

}  // namespace

bool SeenInSettings(const char *name) { return Kind(name) != 0; }

bool FreeAsideName(char (&out)[FILE_NAME_SIZE], const char *name) {
  for (uint32_t k = 1; k <= kMaxAside; ++k) {
    char suffix[16];
    if (k == 1)
      TAP_SPrint(suffix, ".bad");
    else
      TAP_SPrint(suffix, ".bad%u", static_cast<unsigned>(k));
    if (!FileSiblingName(out, name, suffix)) return false;
    char path[PATH_SIZE];
    struct stat64 st;
    if (!OsPath(path, out)) return false;
    if (lstat64(path, &st) != 0) return true;
  }
  out[0] = '\0';
  return false;
}

bool SetAsideUnusable(const char *name) {
  char sibling[FILE_NAME_SIZE];
  bool usable = true;
  if (Kind(name) < 0) usable = SetAside(name) && usable;
  for (const char *suffix : {".tmp", ".bak"}) {
    if (FileSiblingName(sibling, name, suffix) && Kind(sibling) < 0) usable = SetAside(sibling) && usable;
  }
  return usable;
}

}  // namespace quarrow
