// Shared OSD state, the info-box teardown and the modal message box.
#pragma once

#include <cstdint>

#include "host/tap.h"

extern uint16_t OSDRgn;
extern uint16_t MyOSDRgn;
extern uint16_t InfoBoxOSDRgn;
extern uint16_t ProgressBarOSDRgn;
extern uint16_t ColorPickerOSDRgn;
extern uint16_t MessageBoxOSDRgn;

extern uint32_t *InfoBoxSaveArea;
extern int32_t InfoBoxSaveAreaX;
extern int32_t InfoBoxSaveAreaY;

extern const GraphicRecord _InfoBox_Gd;
extern const GraphicRecord _MessageBoxSelectedButtonBackground_Gd;
extern const uint8_t _InfoBox_Cpm[];
extern const uint8_t _MessageBoxSelectedButtonBackground_Cpm[];

struct tMessageBox {
  uint32_t NrButtons;
  uint32_t CurrentButton;
  char Button[5][256];
  char Title[256];
  char Text[256];
};
static_assert(sizeof(tMessageBox) == 1800, "message box record is 1800 bytes");

extern tMessageBox MessageBox;

void OSDMenuInfoBoxDestroyNoOSDUpdate();
void OSDMenuInfoBoxDestroy();

void OSDMenuMessageBoxInitialize(const char *title, const char *text);
void OSDMenuMessageBoxButtonAdd(const char *caption);
void OSDMenuMessageBoxButtonSelect(uint32_t index);
void OSDMenuMessageBoxShow();
bool OSDMenuMessageBoxIsVisible();
void OSDMenuMessageBoxDestroyNoOSDUpdate();
void OSDMenuMessageBoxDestroy();
