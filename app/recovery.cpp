// Gives each file moved into /DataFiles/Zorvane its recording, .inf or .nav name back,
// identified by its inode number and bytes sampled from its contents.
#include <cstring>

#include "app/hostfile.h"
#include "app/paths.h"
#include "app/quarrow.h"
#include "host/os.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"

using namespace quarrow;

namespace {

constexpr const char *kRecoveryFolder = "/DataFiles/Zorvane";
constexpr const char *kRecoveryFolderOs = "/mnt/hd/DataFiles/Zorvane/";

// The new name of the first database entry and rule that the file matches, or false.
bool FindNewName(uint64_t inode, uint32_t first, uint32_t second, char *newName, size_t size) {
  if (!RecDB) return false;
  for (int32_t i = 0; i < RecDBEntries && i < RecDBSize; ++i) {
    const RecDBEntry &e = RecDB[i];
    // The stored name is cut at its field, whatever the file held.
    char name[sizeof e.RecName];
    size_t len = strnlen(e.RecName, sizeof name - 1);
    std::memcpy(name, e.RecName, len);
    name[len] = '\0';
    if (e.RecInode == inode && e.RecSample == first) return JoinPath(newName, size, {name});
    if (e.InfInode == inode && e.InfSample == first) return JoinPath(newName, size, {name, ".inf"});
    if (e.NavInode == inode && e.NavSample == second) return JoinPath(newName, size, {name, ".nav"});
  }
  return false;
}

}  // namespace

int CrossCheckLostAndFoundWithDB() {
  // Without the folder, the listing would be of whatever folder we are in.
  if (!HDD_ChangeDir(kRecoveryFolder)) return 0;
  int result = 0;

  HddFolderEntry entry;
  std::memset(&entry, 0, sizeof entry);
  int count = TAP_Hdd_FindFirst(&entry, "rcn");
  if (count <= 0) return 0;

  char path[PATH_SIZE];
  char name[sizeof entry.name];
  for (int i = 0; i < count; ++i) {
    if (entry.attr == ATTR_FILE) {
      CopyEntryName(name, entry);
      struct stat64 st;
      // A name is at most 127 bytes, so the path always fits; an entry that still
      // did not would be skipped like one that cannot be examined.
      if (JoinPath(path, sizeof path, {kRecoveryFolderOs, name}) && lstat64(path, &st) == 0) {
        uint32_t first = 0, second = 0;
        bool opened;
        {
          HostFile file(name);
          opened = static_cast<bool>(file);
          if (opened) {
            file.Seek(8);
            first = file.ReadWord();
            second = file.ReadWord();
          }
        }
        if (!opened) {
          TAP_SPrint(LogString, "failed to open '%.400s' while recovering", name);
          WriteLog(LogString);
        } else if (FindNewName(static_cast<uint64_t>(st.st_ino), first, second, path, sizeof path)) {
          if (std::strcmp(name, path) == 0) {
            // Got its name back on an earlier load: nothing to do.
          } else if (TAP_Hdd_Rename(name, path)) {
            TAP_SPrint(LogString, "recovered '%.200s' to '%.200s'", name, path);
            WriteLog(LogString);
            result = 1;
          } else {
            // Refused, e.g. because the name is taken: the file stays as it is.
            TAP_SPrint(LogString, "failed to rename '%.200s' to '%.200s'", name, path);
            WriteLog(LogString);
          }
        }
      }
    }
    TAP_Hdd_FindNext(&entry);
  }
  return result;
}
