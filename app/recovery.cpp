// Gives each file moved into /DataFiles/Zorvane its recording, .inf or .nav name back,
// identified by its inode number and bytes sampled from its contents.
#include <cstring>

#include "app/entryname.h"
#include "app/paths.h"
#include "app/quarrow.h"
#include "host/hostfile.h"
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

// Gives one plain file of the recovery folder its name back; 1 if it was renamed.
int RecoverFile(const char *name) {
  char path[PATH_SIZE];
  struct stat64 st;
  // A name is at most 127 bytes, so the path always fits; one that did not would be
  // passed over like a file that cannot be examined.
  if (!JoinPath(path, sizeof path, {kRecoveryFolderOs, name}) || lstat64(path, &st) != 0) return 0;

  uint32_t first, second;
  {
    HostFile file(name);
    if (!file) {
      TAP_SPrint(LogString, "failed to open '%.400s' while recovering", name);
      WriteLog(LogString);
      return 0;
    }
    file.Seek(8);
    first = file.ReadWord();
    second = file.ReadWord();
  }

  char newName[PATH_SIZE];
  if (!FindNewName(static_cast<uint64_t>(st.st_ino), first, second, newName, sizeof newName)) return 0;
  // Got its name back on an earlier load: nothing to do.
  if (std::strcmp(name, newName) == 0) return 0;
  if (!TAP_Hdd_Rename(name, newName)) {
    // Refused, e.g. because the name is taken: the file stays as it is.
    TAP_SPrint(LogString, "failed to rename '%.200s' to '%.200s'", name, newName);
    WriteLog(LogString);
    return 0;
  }
  TAP_SPrint(LogString, "recovered '%.200s' to '%.200s'", name, newName);
  WriteLog(LogString);
  return 1;
}

}  // namespace

int CrossCheckLostAndFoundWithDB() {
  // Without the folder, the listing would be of whatever folder we are in.
  if (!HDD_ChangeDir(kRecoveryFolder)) return 0;

  HddFolderEntry entry;
  std::memset(&entry, 0, sizeof entry);
  int count = TAP_Hdd_FindFirst(&entry, "rcn");
  int result = 0;
  char name[sizeof entry.name];
  for (int i = 0; i < count; ++i) {
    if (entry.attr == ATTR_FILE) {
      CopyEntryName(name, entry);
      result |= RecoverFile(name);
    }
    TAP_Hdd_FindNext(&entry);
  }
  return result;
}
