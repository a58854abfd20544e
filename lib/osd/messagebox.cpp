// The modal message box: a centred panel with a title, a few lines of text and up to five
// buttons, one of them highlighted. It draws itself; its owner handles the keys.
#include <cstring>

#include "host/firmware.h"
#include "host/fis.h"
#include "lib/font/font.h"
#include "lib/osd/osd.h"
#include "lib/osd/panel_image.h"
#include "lib/osd/save_area.h"
#include "lib/text/text.h"

tMessageBox MessageBox;

namespace {

constexpr uint32_t kScreenWidth = 720;
constexpr uint32_t kScreenHeight = 576;
constexpr uint32_t kMaxButtons = 5;
constexpr uint32_t kFieldEnd = 380;  // title and body lines are centred in 0..380
constexpr uint32_t kTitleY = 10;
constexpr int32_t kBodyCentreY = 67;
constexpr int32_t kLineSpacing = 20;
constexpr uint32_t kButtonY = 120;
constexpr uint32_t kCaptionY = 124;
constexpr uint8_t kFontSize = 14;

constexpr uint32_t kTitleColour = 0xFFE89211;
constexpr uint32_t kBodyColour = 0xFFC0C0C0;
constexpr uint32_t kButtonColour = 0xFF242424;
constexpr uint32_t kCaptionColour = 0xFFE6E6FA;
constexpr uint32_t kSelectedCaptionColour = 0xFF282828;

// One row of the panel as the host takes it back (TAP_Osd_RestoreBox). A box wider than the
// screen cannot be centred on it and is not drawn.
uint32_t PanelRow[kScreenWidth];

// The panel, a row at a time: the firmware gets ARGB words, never our compressed image.
void DrawPanel(uint16_t rgn) {
  const GraphicRecord &gd = _InfoBox_Gd;
  PanelImage image;
  if (gd.width > kScreenWidth || !PanelImageOpen(&image, gd)) return;
  for (uint32_t y = 0; y < gd.height && PanelImageRead(&image, PanelRow, gd.width); ++y)
    TAP_Osd_RestoreBox(rgn, 0, y, gd.width, 1, PanelRow);
}

// The highlight at (left, top), each pixel blended by its alpha over the panel's own pixel
// there (not over what other buttons drew), so its rounded edge fits the panel everywhere.
void DrawHighlight(uint16_t rgn, uint32_t left, uint32_t top) {
  const GraphicRecord &panel = _InfoBox_Gd, &hl = _MessageBoxSelectedButtonBackground_Gd;
  PanelImage under, image;
  if (panel.width > kScreenWidth || left >= panel.width || !PanelImageOpen(&under, panel) ||
      !PanelImageOpen(&image, hl))
    return;
  const uint32_t shown = hl.width < panel.width - left ? hl.width : panel.width - left;
  for (uint32_t y = 0; y < top + hl.height && y < panel.height; ++y) {
    if (!PanelImageRead(&under, PanelRow, panel.width)) return;
    if (y < top) continue;
    for (uint32_t x = 0; x < hl.width; ++x) {
      uint32_t px;
      if (!PanelImageRead(&image, &px, 1)) return;
      if (x < shown) PanelRow[left + x] = PanelBlend(px, PanelRow[left + x]);
    }
    TAP_Osd_RestoreBox(rgn, left, y, shown, 1, PanelRow + left);
  }
}

// Lines end at a carriage return or a line feed; a separator at the very end starts no line.
uint32_t CountLines(const char *text) {
  uint32_t n = 0;
  for (const char *p = text; *p;) {
    ++n;
    const char *sep = strpbrk(p, "\r\n");
    if (!sep) break;
    p = sep + 1;
  }
  return n;
}

void DrawBody(uint16_t rgn, uint32_t panelHeight) {
  char text[256];
  CopyText(text, MessageBox.Text);
  const int32_t n = static_cast<int32_t>(CountLines(text));
  int32_t i = 0;
  for (char *p = text; *p; ++i) {
    char *sep = strpbrk(p, "\r\n");
    if (sep) *sep = '\0';
    const int32_t y = kBodyCentreY + kLineSpacing / 2 - kLineSpacing / 2 * n + kLineSpacing * i;
    // A long body would start above the panel or below it: such lines are left out.
    if (y >= 0 && y < static_cast<int32_t>(panelHeight))
      OSDMenuPutS(rgn, 0, static_cast<uint32_t>(y), kFieldEnd, p, kBodyColour, 0, kFontSize,
                  TruncCut, AlignCenter);
    if (!sep) break;
    p = sep + 1;
  }
}

void DrawButton(uint16_t rgn, uint32_t k, uint32_t spacing, bool selected) {
  const GraphicRecord &hl = _MessageBoxSelectedButtonBackground_Gd;
  const uint32_t centre = (k + 1) * spacing;
  const uint32_t left = centre - hl.width / 2u;
  const uint32_t right = centre + hl.width / 2u;
  if (selected) {
    DrawHighlight(rgn, left, kButtonY);
  } else {
    TAP_Osd_FillBox(rgn, left, kButtonY, hl.width, hl.height, kButtonColour);
  }
  OSDMenuPutS(rgn, left, kCaptionY, right, MessageBox.Button[k],
              selected ? kSelectedCaptionColour : kCaptionColour, 0, kFontSize, TruncCut,
              AlignCenter);
}

}  // namespace

void OSDMenuMessageBoxInitialize(const char *title, const char *text) {
  OSDMenuInfoBoxDestroy();
  OSDMenuMessageBoxDestroy();
  MessageBox.NrButtons = 0;
  MessageBox.CurrentButton = 0;
  CopyText(MessageBox.Title, title);
  CopyText(MessageBox.Text, text);
}

void OSDMenuMessageBoxButtonAdd(const char *caption) {
  if (MessageBox.NrButtons >= kMaxButtons) return;
  CopyText(MessageBox.Button[MessageBox.NrButtons], caption);
  ++MessageBox.NrButtons;
}

void OSDMenuMessageBoxButtonSelect(uint32_t index) {
  if (index >= MessageBox.NrButtons) return;
  MessageBox.CurrentButton = index;
  if (OSDMenuMessageBoxIsVisible()) OSDMenuMessageBoxShow();
}

void OSDMenuMessageBoxShow() {
  if (MessageBox.NrButtons == 0) return;
  const uint32_t W = _InfoBox_Gd.width, H = _InfoBox_Gd.height;

  if (MessageBoxOSDRgn == 0) {
    const uint32_t X = (kScreenWidth - W) / 2, Y = (kScreenHeight - H) / 2;
    // A block still held here belongs to an earlier box whose region the host never gave
    // (nothing could close it): release it rather than lose it under the new one.
    if (InfoBoxSaveArea) {
      TAP_MemFree(InfoBoxSaveArea);
      InfoBoxSaveArea = nullptr;
    }
    if (OSDRgn || MyOSDRgn) {
      // Keep what the box covers in the region below it, to put back when it closes.
      InfoBoxSaveAreaX = static_cast<int32_t>(X);
      InfoBoxSaveAreaY = static_cast<int32_t>(Y);
      if (MyOSDRgn) {
        if (const auto *map = static_cast<const OSDRegionEntry *>(FIS_vOsdMap())) {
          const OSDRegionEntry &origin = map[MyOSDRgn];
          InfoBoxSaveArea = TAP_Osd_SaveBox(MyOSDRgn, X - origin.x, Y - origin.y, W, H);
        }
      } else {
        InfoBoxSaveArea = TAP_Osd_SaveBox(OSDRgn, X, Y, W, H);
      }
    }
    MessageBoxOSDRgn = TAP_Osd_Create(X, Y, W, H, 0, 0);
    TAP_ExitNormal();
  }

  const uint16_t rgn = MessageBoxOSDRgn;
  DrawPanel(rgn);
  OSDMenuPutS(rgn, 0, kTitleY, kFieldEnd, MessageBox.Title, kTitleColour, 0, kFontSize, TruncCut,
              AlignCenter);
  DrawBody(rgn, H);

  const uint32_t spacing = W / (MessageBox.NrButtons + 1);
  for (uint32_t k = 0; k < MessageBox.NrButtons; ++k)
    if (k != MessageBox.CurrentButton) DrawButton(rgn, k, spacing, false);
  if (MessageBox.CurrentButton < MessageBox.NrButtons)
    DrawButton(rgn, MessageBox.CurrentButton, spacing, true);

  TAP_Osd_Sync();
}

bool OSDMenuMessageBoxIsVisible() { return MessageBoxOSDRgn != 0; }

void OSDMenuMessageBoxDestroyNoOSDUpdate() {
  if (MessageBoxOSDRgn == 0) return;
  TAP_Osd_Delete(MessageBoxOSDRgn);
  MessageBoxOSDRgn = 0;
  OSDReleaseSaveArea();
}

void OSDMenuMessageBoxDestroy() {
  if (OSDMenuMessageBoxIsVisible()) {
    OSDMenuMessageBoxDestroyNoOSDUpdate();
    TAP_Osd_Sync();
  }
  if (!OSDRgn && !InfoBoxOSDRgn && !ProgressBarOSDRgn && !ColorPickerOSDRgn) TAP_EnterNormal();
}
