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

int MoveAllLostAndFoundFiles() {
  // Fails harmlessly when the folder is already there.
  system("mkdir /mnt/hd/DataFiles/Zorvane");
  return system("mv /mnt/hd/Quarrow/* /mnt/hd/DataFiles/Zorvane");
}
