// State shared by the on-screen elements: region handles, the one pixel save area, the
// info-box teardown and the rule for returning the host to normal mode.
#include "lib/osd/osd.h"

#include "host/firmware.h"
#include "host/fis.h"
#include "lib/osd/save_area.h"

uint16_t OSDRgn = 0;
uint16_t MyOSDRgn = 0;
uint16_t InfoBoxOSDRgn = 0;
uint16_t ProgressBarOSDRgn = 0;
uint16_t ColorPickerOSDRgn = 0;
uint16_t MessageBoxOSDRgn = 0;

uint32_t *InfoBoxSaveArea = nullptr;
int32_t InfoBoxSaveAreaX = 0;
int32_t InfoBoxSaveAreaY = 0;

void OSDReleaseSaveArea() {
  if (!InfoBoxSaveArea) return;
  const uint32_t w = _InfoBox_Gd.width, h = _InfoBox_Gd.height;
  if (MyOSDRgn) {
    // An adopted region lies anywhere on screen: address it relative to its own origin.
    // Without the region table nothing can be put back; the block is released all the same.
    if (const auto *map = static_cast<const OSDRegionEntry *>(FIS_vOsdMap())) {
      const OSDRegionEntry &origin = map[MyOSDRgn];
      TAP_Osd_RestoreBox(MyOSDRgn, static_cast<uint32_t>(InfoBoxSaveAreaX - origin.x),
                         static_cast<uint32_t>(InfoBoxSaveAreaY - origin.y), w, h, InfoBoxSaveArea);
    }
  } else if (OSDRgn) {
    TAP_Osd_RestoreBox(OSDRgn, static_cast<uint32_t>(InfoBoxSaveAreaX),
                       static_cast<uint32_t>(InfoBoxSaveAreaY), w, h, InfoBoxSaveArea);
  }
  TAP_MemFree(InfoBoxSaveArea);
  InfoBoxSaveArea = nullptr;
  MyOSDRgn = 0;
}

void OSDMenuInfoBoxDestroyNoOSDUpdate() {
  if (InfoBoxOSDRgn == 0) return;
  TAP_Osd_Delete(InfoBoxOSDRgn);
  InfoBoxOSDRgn = 0;
  OSDReleaseSaveArea();
}

void OSDMenuInfoBoxDestroy() {
  if (InfoBoxOSDRgn) {
    OSDMenuInfoBoxDestroyNoOSDUpdate();
    TAP_Osd_Sync();
  }
  if (!OSDRgn && !ProgressBarOSDRgn && !MessageBoxOSDRgn && !ColorPickerOSDRgn) TAP_EnterNormal();
}
