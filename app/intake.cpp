// Intake of the file-system check's recovery folder: notice what it holds and move all
// of it into our data folder. A move within one file system keeps every inode number,
// which is what the recovery matches on.
#include "app/quarrow.h"
#include "host/os.h"
#include "host/tap.h"

int isNewLostAndFound() {
  DIR *dir = opendir("/mnt/hd/Quarrow");
  if (!dir) return 0;
  // "." and ".." are counted like every other entry and taken off below.
  int32_t count = 0;
  while (readdir(dir)) ++count;
  closedir(dir);
  if (count < 3) return 0;
  TAP_SPrint(LogString, "found %d new files in the Quarrow folder", static_cast<int>(count - 2));
  WriteLog(LogString);
  return 1;
}

namespace {

// A real folder, not a link: the shell would follow a link off the disk and move the
// files there.
bool IsRealFolder(const char *path) {
  struct stat64 st;
  return lstat64(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int MoveAllLostAndFoundFiles() {
  if (!IsRealFolder("/mnt/hd/DataFiles")) {
    WriteLog("/DataFiles is not a folder, nothing moved");
    return -1;
  }
  // Fails harmlessly when the folder is already there.
  system("mkdir /mnt/hd/DataFiles/Zorvane");
  if (!IsRealFolder("/mnt/hd/DataFiles/Zorvane") || !IsRealFolder("/mnt/hd/Quarrow")) {
    WriteLog("/DataFiles/Zorvane or /Quarrow is not a folder, nothing moved");
    return -1;
  }
  return system("mv /mnt/hd/Quarrow/* /mnt/hd/DataFiles/Zorvane");
}
