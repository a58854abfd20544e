// Firmware objects that the plug-in API does not offer, found by their global
// symbol names in the running program.
#include "host/fis.h"

#include "host/os.h"

namespace {

// Filled once found; a failed look-up leaves null so that the next call tries again.
void *vOSDMap = nullptr;
void *vTAP_TableAddress = nullptr;
void *vcurTapTask = nullptr;

void *cached(void *&cache, const char *name) {
  if (cache == nullptr) cache = TryResolve(name);
  return cache;
}

}  // namespace

void *TryResolve(const char *name) {
  if (name == nullptr) return nullptr;
  void *self = os::dlopen(nullptr, os::DL_LAZY_GLOBAL);
  if (self == nullptr) return nullptr;
  void *address = os::dlsym(self, name);
  if (os::dlerror() != nullptr) {
    os::dlclose(self);
    return nullptr;
  }
  os::dlclose(self);
  return address;
}

void *FIS_vOsdMap() { return cached(vOSDMap, "_osdInfo"); }
void *FIS_vTAPTable() { return cached(vTAP_TableAddress, "_tapTask"); }
void *FIS_vCurTapTask() { return cached(vcurTapTask, "_curTapTask"); }
