#include "tests/osd/osd_calls.h"

#include <cstdio>

#include "host/tap.h"
#include "lib/osd/osd.h"

namespace osdtest {

std::vector<std::string> calls;
OSDRegionEntry regionTable[32];
bool haveRegionTable = false;

namespace {

decltype(TAP_Osd_Create) realCreate;
decltype(TAP_Osd_Delete) realDelete;
decltype(TAP_Osd_FillBox) realFill;
decltype(TAP_Osd_PutGd) realPutGd;
decltype(TAP_Osd_SaveBox) realSave;
decltype(TAP_Osd_RestoreBox) realRestore;
decltype(TAP_Osd_Sync) realSync;
decltype(TAP_ExitNormal) realExit;
decltype(TAP_EnterNormal) realEnter;

template <typename... Args>
void Note(const char *format, Args... args) {
  char line[600];
  std::snprintf(line, sizeof line, format, args...);
  calls.emplace_back(line);
}

const char *GdName(const GraphicRecord *gd) {
  if (gd == &_InfoBox_Gd) return "panel";
  if (gd == &_MessageBoxSelectedButtonBackground_Gd) return "highlight";
  return "?";
}

}  // namespace

void InstallRecorders() {
  calls.clear();
  realCreate = TAP_Osd_Create;
  realDelete = TAP_Osd_Delete;
  realFill = TAP_Osd_FillBox;
  realPutGd = TAP_Osd_PutGd;
  realSave = TAP_Osd_SaveBox;
  realRestore = TAP_Osd_RestoreBox;
  realSync = TAP_Osd_Sync;
  realExit = TAP_ExitNormal;
  realEnter = TAP_EnterNormal;
  TAP_Osd_Create = [](uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t lut, int flag) {
    uint16_t r = realCreate(x, y, w, h, lut, flag);
    Note("Create(%u,%u,%u,%u,%u,%d)=%u", x, y, w, h, lut, flag, r);
    return r;
  };
  TAP_Osd_Delete = [](uint16_t r) {
    Note("Delete(%u)", r);
    return realDelete(r);
  };
  TAP_Osd_FillBox = [](uint16_t r, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t c) {
    Note("FillBox(%u,%u,%u,%u,%u,0x%08X)", r, x, y, w, h, c);
    return realFill(r, x, y, w, h, c);
  };
  TAP_Osd_PutGd = [](uint16_t r, int x, int y, const GraphicRecord *gd, int sprite) {
    Note("PutGd(%u,%d,%d,%s,%d)", r, x, y, GdName(gd), sprite);
    return realPutGd(r, x, y, gd, sprite);
  };
  TAP_Osd_SaveBox = [](uint16_t r, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    Note("SaveBox(%u,%u,%u,%u,%u)", r, x, y, w, h);
    return realSave(r, x, y, w, h);
  };
  TAP_Osd_RestoreBox = [](uint16_t r, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                          const void *data) {
    Note("RestoreBox(%u,%u,%u,%u,%u)", r, x, y, w, h);
    realRestore(r, x, y, w, h, data);
  };
  TAP_Osd_Sync = [] {
    Note("Sync");
    return realSync();
  };
  TAP_ExitNormal = [] {
    Note("ExitNormal");
    return realExit();
  };
  TAP_EnterNormal = [] {
    Note("EnterNormal");
    return realEnter();
  };
}

void RemoveRecorders() {
  TAP_Osd_Create = realCreate;
  TAP_Osd_Delete = realDelete;
  TAP_Osd_FillBox = realFill;
  TAP_Osd_PutGd = realPutGd;
  TAP_Osd_SaveBox = realSave;
  TAP_Osd_RestoreBox = realRestore;
  TAP_Osd_Sync = realSync;
  TAP_ExitNormal = realExit;
  TAP_EnterNormal = realEnter;
}

std::vector<std::string> Matching(const std::string &prefix) {
  std::vector<std::string> out;
  for (const std::string &c : calls)
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}

int Find(const std::string &call, size_t from) {
  for (size_t i = from; i < calls.size(); ++i)
    if (calls[i] == call) return static_cast<int>(i);
  return -1;
}

}  // namespace osdtest

// Link-time wrappers (C++ names, hence the mangled symbols).
extern "C" void *__wrap__Z11FIS_vOsdMapv() {
  return osdtest::haveRegionTable ? osdtest::regionTable : nullptr;
}

extern "C" void __real__Z11OSDMenuPutStjjjPKcjjhhh(uint16_t, uint32_t, uint32_t, uint32_t,
                                                   const char *, uint32_t, uint32_t, uint8_t,
                                                   uint8_t, uint8_t);
extern "C" void __wrap__Z11OSDMenuPutStjjjPKcjjhhh(uint16_t region, uint32_t x, uint32_t y,
                                                   uint32_t maxX, const char *text, uint32_t fg,
                                                   uint32_t bg, uint8_t size, uint8_t trunc,
                                                   uint8_t align) {
  osdtest::Note("PutS(%u,%u,%u,%u,'%.300s',0x%08X,%u,%u,%u,%u)", region, x, y, maxX, text, fg, bg,
                size, trunc, align);
  __real__Z11OSDMenuPutStjjjPKcjjhhh(region, x, y, maxX, text, fg, bg, size, trunc, align);
}
