#include "lib/hdd/durable.h"

#include "host/os.h"
#include "host/paths.h"
#include "lib/hdd/hdd.h"

namespace quarrow {

bool MakeDurable(const char *osPath) {
  const int fd = os::open(osPath, os::O_READONLY);
  if (fd < 0) return false;
  const bool synced = os::fsync(fd) == 0;
  // A failing close may report a write-back error that the sync did not.
  return os::close(fd) == 0 && synced;
}

bool MakeDurableHere(const char *name) {
  char folder[HDD_DIRSTACK_SLOT_SIZE] = "";
  if (HDD_TAP_GetCurrentDir(folder) != 0 || folder[0] != '/') return false;
  char path[PATH_SIZE];
  const bool joined = name == nullptr ? JoinPath(path, sizeof path, {kOsPrefix, folder})
                                      : JoinPath(path, sizeof path, {kOsPrefix, folder, "/", name});
  return joined && MakeDurable(path);
}

}  // namespace quarrow
