// Shared OSD state, the info-box teardown and the modal message box.
#pragma once

#include <cstdint>

#include "host/tap.h"

// Region handles of the on-screen elements, 0 while the element is not open. This module
// opens only the message box; the others stay 0 but are honoured. OSDRgn: a menu region at
// the screen origin; MyOSDRgn: an adopted region anywhere on screen.
extern uint16_t OSDRgn;
extern uint16_t MyOSDRgn;
extern uint16_t InfoBoxOSDRgn;
extern uint16_t ProgressBarOSDRgn;
extern uint16_t ColorPickerOSDRgn;
extern uint16_t MessageBoxOSDRgn;

// The pixels the open box covers in OSDRgn or MyOSDRgn (a TAP_Osd_SaveBox block the size
// of _InfoBox_Gd, at screen position X, Y), or null. Owned by the open box; its teardown
// puts the pixels back and frees the block.
extern uint32_t *InfoBoxSaveArea;
extern int32_t InfoBoxSaveAreaX;
extern int32_t InfoBoxSaveAreaY;

// The two panel graphics (constant data): the box panel, whose size is both boxes' size,
// and the selected button's background, whose size is every button's.
extern const GraphicRecord _InfoBox_Gd;
extern const GraphicRecord _MessageBoxSelectedButtonBackground_Gd;
extern const uint8_t _InfoBox_Cpm[];
extern const uint8_t _MessageBoxSelectedButtonBackground_Cpm[];

// What the message box shows; texts cut to 255 bytes.
struct tMessageBox {
  uint32_t NrButtons;
  uint32_t CurrentButton;
  char Button[5][256];
  char Title[256];
  char Text[256];
};
static_assert(sizeof(tMessageBox) == 1800, "message box record is 1800 bytes");

extern tMessageBox MessageBox;

// Deletes an open info box's region and puts back and frees the save area; nothing when
// none is open. The second also syncs the screen, and returns the host to normal mode
// once no element is open (even when no info box was).
void OSDMenuInfoBoxDestroyNoOSDUpdate();
void OSDMenuInfoBoxDestroy();

// Closes any open info or message box and starts a new box (no buttons, first selected);
// null texts count as empty.
void OSDMenuMessageBoxInitialize(const char *title, const char *text);
// Adds a button; a sixth and further ones are ignored.
void OSDMenuMessageBoxButtonAdd(const char *caption);
// Highlights button `index` (ignored when there is no such button), redrawing an open box.
void OSDMenuMessageBoxButtonSelect(uint32_t index);
// Opens the box centred on the screen, saving what it covers in a menu or adopted region
// and leaving normal mode, or redraws it when open; nothing without buttons. No result: a
// region the host refuses leaves the box not visible.
void OSDMenuMessageBoxShow();
// True while the box's region is open.
bool OSDMenuMessageBoxIsVisible();
// Deletes the box's region and puts back and frees the save area; nothing when not open.
// The second also syncs the screen and returns the host to normal mode once no element is
// open (even when the box was not).
void OSDMenuMessageBoxDestroyNoOSDUpdate();
void OSDMenuMessageBoxDestroy();
