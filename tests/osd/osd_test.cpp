// Message box and info-box teardown: geometry of every call, the normal-mode rule and the
// save area under a menu or adopted region, as the simulator's screen log and pixels show them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/tap.h"
#include "lib/font/font.h"
#include "lib/osd/osd.h"
#include "sim/gd_codec.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace {

const std::vector<std::string> &calls() { return sim::screen_calls(); }

// Position of the first call at or after `from` that is `call`, refused or not, or -1.
int Find(const std::string &call, size_t from = 0) {
  for (size_t i = from; i < calls().size(); ++i)
    if (calls()[i] == call || calls()[i] == call + "=null") return static_cast<int>(i);
  return -1;
}

std::vector<std::string> Matching(const std::string &prefix) {
  std::vector<std::string> out;
  for (const std::string &c : calls())
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}

const GraphicRecord &kPanel = _InfoBox_Gd;
const GraphicRecord &kHighlight = _MessageBoxSelectedButtonBackground_Gd;

// The first row of a graphic drawn at (x, y): written back as ARGB words, a row at a time.
std::string FirstRow(unsigned r, unsigned x, unsigned y, const GraphicRecord &gd) {
  return "Osd_RestoreBox(" + std::to_string(r) + "," + std::to_string(x) + "," + std::to_string(y) + "," +
         std::to_string(gd.width) + ",1)";
}

// A graphic's pixels, read by the simulator's own decoder of the same run code.
std::vector<uint32_t> Decoded(const GraphicRecord &gd) {
  std::vector<uint32_t> px;
  const size_t size = sim::gd::blob_size(gd.data, sim::gd::HEADER_SIZE);
  EXPECT_TRUE(sim::gd::decode(gd.data, size, gd.width, gd.height, &px));
  return px;
}

// The one read-back of a text that the box draws with OSDMenuPutS (font 14, centred between
// x and maxX, at y): the renderer keeps maxX inside the region and draws 3 rows higher.
std::string TextBox(unsigned r, unsigned x, unsigned y, unsigned maxX, const char *text) {
  int width = 0;
  sim::region(static_cast<uint16_t>(r), nullptr, nullptr, &width, nullptr, nullptr);
  const unsigned limit = std::min(maxX, static_cast<unsigned>(width) - 1);
  const unsigned w = FM_GetStringWidth(text, &Calibri_14_FontData), h = FM_GetStringHeight(text, &Calibri_14_FontData);
  char line[120];
  std::snprintf(line, sizeof line, "Osd_SaveBox(%u,%u,%u,%u,%u)", r, x + (limit - x - w) / 2, y - 3, w + 1, h + 1);
  return line;
}

// Where that text was drawn in the log, if its box in the region now holds its colour at
// full coverage (within 2 per channel: the fonts store a lone 0xFF as 0xFE); else -1.
int Drawn(unsigned r, unsigned x, unsigned y, unsigned maxX, const char *text, uint32_t colour) {
  const std::string box = TextBox(r, x, y, maxX, text);
  unsigned bx, by, bw, bh;
  int width = 0;
  std::vector<uint32_t> px;
  if (std::sscanf(box.c_str(), "Osd_SaveBox(%*u,%u,%u,%u,%u)", &bx, &by, &bw, &bh) != 4 ||
      !sim::region(static_cast<uint16_t>(r), nullptr, nullptr, &width, nullptr, &px))
    return -1;
  for (unsigned row = by; row < by + bh; ++row)
    for (unsigned col = bx; col < bx + bw; ++col) {
      const uint32_t c = px[static_cast<size_t>(row) * static_cast<unsigned>(width) + col];
      bool near = c >> 24 == colour >> 24;
      for (int shift : {16, 8, 0}) near = near && std::abs(int(c >> shift & 0xFF) - int(colour >> shift & 0xFF)) <= 2;
      if (near) return Find(box);
    }
  return -1;
}

constexpr uint32_t kTitle = 0xFFE89211, kBody = 0xFFC0C0C0, kCaption = 0xFFE6E6FA, kSelected = 0xFF282828;

class Box : public SimDiskTest {
 protected:
  Box() : SimDiskTest("quarrow-osd-") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SimDiskTest::SetUp());
    // A fresh load: every handle 0, the record empty.
    OSDRgn = MyOSDRgn = InfoBoxOSDRgn = ProgressBarOSDRgn = ColorPickerOSDRgn = 0;
    MessageBoxOSDRgn = 0;
    InfoBoxSaveArea = nullptr;
    InfoBoxSaveAreaX = InfoBoxSaveAreaY = 0;
    std::memset(&MessageBox, 0, sizeof MessageBox);
  }
  void TearDown() override { EXPECT_TRUE(RemoveRoot()) << root_; }
  // The calling order of the application.
  void ShowOk(const char *text = "Dateien gefunden und verschoben") {
    OSDMenuMessageBoxInitialize("Quarrow", text);
    OSDMenuMessageBoxButtonAdd("OK");
    OSDMenuMessageBoxButtonSelect(0);
    sim::clear_screen_calls();
    OSDMenuMessageBoxShow();
  }
};

TEST_F(Box, OneButtonGeometry) {
  ShowOk();
  ASSERT_TRUE(OSDMenuMessageBoxIsVisible());
  const unsigned r = MessageBoxOSDRgn;
  const std::string expected[] = {
      "Osd_Create(170,193,380,190,0,0)=" + std::to_string(r),
      "ExitNormal",
      FirstRow(r, 0, 0, kPanel),
      TextBox(r, 0, 10, 380, "Quarrow"),
      TextBox(r, 0, 67, 380, "Dateien gefunden und verschoben"),
      FirstRow(r, 140, 120, kHighlight),
      TextBox(r, 140, 124, 240, "OK"),
      "Osd_Sync",
  };
  // The box-level calls, in order, with the renderer's own calls in between.
  int at = 0;
  for (const std::string &e : expected) {
    int found = Find(e, static_cast<size_t>(at));
    ASSERT_GE(found, 0) << "missing or out of order: " << e;
    at = found + 1;
  }
  EXPECT_GE(Drawn(r, 0, 10, 380, "Quarrow", kTitle), 0);
  EXPECT_GE(Drawn(r, 0, 67, 380, "Dateien gefunden und verschoben", kBody), 0);
  EXPECT_GE(Drawn(r, 140, 124, 240, "OK", kSelected), 0);
  EXPECT_TRUE(Matching("Osd_FillBox").empty()) << "no unselected buttons";
  EXPECT_EQ(Matching("ExitNormal").size(), 1u);
  EXPECT_FALSE(sim::in_normal_mode());
  // One read-back and one write-back per text; a write-back per row of the two graphics,
  // and no image of ours handed to the host.
  EXPECT_EQ(Matching("Osd_SaveBox").size(), 3u);
  EXPECT_EQ(Matching("Osd_RestoreBox").size(), 3u + 190u + 25u);
  EXPECT_TRUE(Matching("Osd_PutGd").empty());
}

// What the box shows without texts: the decoded panel, the unselected buttons' fields, and
// the highlight blended over the panel itself, also where it overlaps a neighbour's field.
TEST_F(Box, PixelsAreThePanelAndTheHighlightOverIt) {
  OSDMenuMessageBoxInitialize("", "");
  for (int k = 0; k < 5; ++k) OSDMenuMessageBoxButtonAdd("");
  OSDMenuMessageBoxButtonSelect(2);
  OSDMenuMessageBoxShow();
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  ASSERT_TRUE(sim::region(MessageBoxOSDRgn, nullptr, nullptr, &w, &h, &px));
  ASSERT_EQ(w, kPanel.width);
  ASSERT_EQ(h, kPanel.height);

  const std::vector<uint32_t> panel = Decoded(kPanel), hl = Decoded(kHighlight);
  ASSERT_EQ(panel.size(), px.size());
  std::vector<uint32_t> want = panel;
  // 380 / 6 = 63: fields at 13, 76, 202, 265; the highlight at 139 covers parts of 76 and 202.
  for (unsigned left : {13u, 76u, 202u, 265u})
    for (unsigned y = 120; y < 145; ++y)
      for (unsigned x = left; x < left + 100; ++x) want[y * 380 + x] = 0xFF242424;
  size_t edge = 0;
  for (unsigned y = 0; y < 25; ++y)
    for (unsigned x = 0; x < 100; ++x) {
      const uint32_t s = hl[y * 100 + x], d = panel[(120 + y) * 380 + 139 + x], a = s >> 24;
      uint32_t &out = want[(120 + y) * 380 + 139 + x];
      out = 0xFF000000u;
      for (int shift : {16, 8, 0})
        out |= (((s >> shift & 0xFF) * a + (d >> shift & 0xFF) * (255 - a) + 127) / 255) << shift;
      edge += a != 0 && a != 255;
    }
  EXPECT_GE(edge, 16u) << "the highlight's rounded edge is partly transparent";
  size_t differ = 0;
  for (size_t i = 0; i < px.size(); ++i)
    if (px[i] != want[i] && differ++ < 5)
      ADD_FAILURE() << "pixel " << i % 380 << "," << i / 380 << ": 0x" << std::hex << px[i] << " instead of 0x"
                    << want[i];
  EXPECT_EQ(differ, 0u);
}

TEST_F(Box, NoButtonsNoBox) {
  OSDMenuMessageBoxInitialize("Quarrow", "text");
  sim::clear_screen_calls();
  OSDMenuMessageBoxShow();
  EXPECT_TRUE(calls().empty());
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_TRUE(sim::in_normal_mode());
}

TEST_F(Box, ButtonsSpreadAcrossThePanelSelectedLast) {
  OSDMenuMessageBoxInitialize("T", "x");
  OSDMenuMessageBoxButtonAdd("Ja");
  OSDMenuMessageBoxButtonAdd("Nein");
  OSDMenuMessageBoxButtonSelect(0);
  OSDMenuMessageBoxShow();
  const unsigned r = MessageBoxOSDRgn;
  // Two buttons: centres 126 and 252.
  int fill = Find("Osd_FillBox(" + std::to_string(r) + ",202,120,100,25,0xFF242424)");
  int unselected = Drawn(r, 202, 124, 302, "Nein", kCaption);
  int highlight = Find(FirstRow(r, 76, 120, kHighlight));
  int selected = Drawn(r, 76, 124, 176, "Ja", kSelected);
  ASSERT_GE(fill, 0);
  ASSERT_GE(unselected, 0);
  ASSERT_GE(highlight, 0);
  ASSERT_GE(selected, 0);
  EXPECT_LT(fill, unselected);
  EXPECT_LT(unselected, highlight);
  EXPECT_LT(highlight, selected);

  // Selecting while visible repaints the whole box with the other highlight.
  sim::clear_screen_calls();
  OSDMenuMessageBoxButtonSelect(1);
  EXPECT_TRUE(Matching("Osd_Create").empty());
  EXPECT_GE(Find(FirstRow(r, 0, 0, kPanel)), 0);
  EXPECT_GE(Find(FirstRow(r, 202, 120, kHighlight)), 0);
  EXPECT_GE(Find("Osd_FillBox(" + std::to_string(r) + ",76,120,100,25,0xFF242424)"), 0);
  EXPECT_GE(Drawn(r, 76, 124, 176, "Ja", kCaption), 0);
  EXPECT_GE(Drawn(r, 202, 124, 302, "Nein", kSelected), 0);
  EXPECT_EQ(calls().back(), "Osd_Sync");
}

TEST_F(Box, AtMostFiveButtonsAndValidSelections) {
  OSDMenuMessageBoxInitialize("T", "x");
  for (const char *c : {"1", "2", "3", "4", "5", "6"}) OSDMenuMessageBoxButtonAdd(c);
  EXPECT_EQ(MessageBox.NrButtons, 5u);
  OSDMenuMessageBoxButtonSelect(5);
  EXPECT_EQ(MessageBox.CurrentButton, 0u);
  // Selecting before the box is shown only records the choice.
  sim::clear_screen_calls();
  OSDMenuMessageBoxButtonSelect(4);
  EXPECT_EQ(MessageBox.CurrentButton, 4u);
  EXPECT_TRUE(calls().empty());
  OSDMenuMessageBoxShow();
  const unsigned r = MessageBoxOSDRgn;
  // 380 / 6 = 63: centres 63, 126, ..., 315; the fifth is the selected one.
  EXPECT_EQ(Matching("Osd_FillBox(" + std::to_string(r) + ",").size(), 4u);
  EXPECT_GE(Find("Osd_FillBox(" + std::to_string(r) + ",13,120,100,25,0xFF242424)"), 0);
  EXPECT_GE(Drawn(r, 13, 124, 113, "1", kCaption), 0);
  EXPECT_GE(Find(FirstRow(r, 265, 120, kHighlight)), 0);
  EXPECT_GE(Drawn(r, 265, 124, 365, "5", kSelected), 0);

  // Adding a button while visible changes the record without drawing.
  OSDMenuMessageBoxInitialize("T", "x");
  OSDMenuMessageBoxButtonAdd("1");
  OSDMenuMessageBoxShow();
  sim::clear_screen_calls();
  OSDMenuMessageBoxButtonAdd("2");
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(MessageBox.NrButtons, 2u);
}

TEST_F(Box, BodyLinesAreCentredOnTheMiddleRow) {
  // Texts read back: the title, each body line with text, the button's caption.
  auto texts = [] { return Matching("Osd_SaveBox(" + std::to_string(MessageBoxOSDRgn) + ",").size(); };
  ShowOk("a\r\nb");
  unsigned r = MessageBoxOSDRgn;
  // Three lines (the middle one empty, which draws nothing): at 47, 67 and 87.
  EXPECT_GE(Drawn(r, 0, 47, 380, "a", kBody), 0);
  EXPECT_GE(Drawn(r, 0, 87, 380, "b", kBody), 0);
  EXPECT_EQ(texts(), 4u);

  ShowOk("eins\nzwei\n");
  r = MessageBoxOSDRgn;
  EXPECT_GE(Drawn(r, 0, 57, 380, "eins", kBody), 0) << "no empty last line";
  EXPECT_GE(Drawn(r, 0, 77, 380, "zwei", kBody), 0);
  EXPECT_EQ(texts(), 4u);

  ShowOk("");
  EXPECT_EQ(texts(), 2u) << "title and caption only";
}

TEST_F(Box, LinesOutsideThePanelAreLeftOut) {
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += std::string(1, char('a' + i)) + "\n";
  ShowOk(nine.c_str());
  unsigned r = MessageBoxOSDRgn;
  // Nine lines: the first would start at 77 - 90 = -13.
  EXPECT_EQ(Matching("Osd_SaveBox(" + std::to_string(r) + ",").size(), 1u + 8u + 1u);
  EXPECT_GE(Find(TextBox(r, 0, 7, 380, "b")), 0);
  EXPECT_EQ(Find(TextBox(r, 0, static_cast<unsigned>(-13), 380, "a")), -1);

  // Thirty lines: only those starting inside the panel (rows 0..189) are drawn.
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "x\n";
  ShowOk(thirty.c_str());
  r = MessageBoxOSDRgn;
  size_t bodyLines = 0;
  for (int i = 0; i < 30; ++i) {
    int y = 77 - 10 * 30 + 20 * i;
    bool inside = y >= 0 && y < 190;
    bool drawn = Find(TextBox(r, 0, static_cast<unsigned>(y), 380, "x")) >= 0;
    EXPECT_EQ(drawn, inside) << "line " << i << " at " << y;
    bodyLines += drawn;
  }
  EXPECT_EQ(bodyLines, 9u);
}

TEST_F(Box, TextsAreCutTo255Characters) {
  std::string longTitle(300, 'T');
  OSDMenuMessageBoxInitialize(longTitle.c_str(), nullptr);
  OSDMenuMessageBoxButtonAdd(std::string(400, 'B').c_str());
  OSDMenuMessageBoxButtonAdd(nullptr);
  EXPECT_EQ(std::strlen(MessageBox.Title), 255u);
  EXPECT_EQ(MessageBox.Text[0], '\0');
  EXPECT_EQ(std::strlen(MessageBox.Button[0]), 255u);
  EXPECT_EQ(MessageBox.Button[1][0], '\0');
  OSDMenuMessageBoxShow();  // too wide captions and title are cut, never overrun
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
}

TEST_F(Box, ClosingReturnsToNormalModeOnlyWhenNothingElseIsOpen) {
  ShowOk();
  const unsigned r = MessageBoxOSDRgn;
  sim::clear_screen_calls();
  OSDMenuMessageBoxDestroyNoOSDUpdate();
  EXPECT_EQ(calls(), (std::vector<std::string>{"Osd_Delete(" + std::to_string(r) + ")"}));
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_FALSE(sim::in_normal_mode()) << "the plain teardown keeps the host out of normal mode";
  EXPECT_EQ(std::string(MessageBox.Title), "Quarrow") << "content kept";

  sim::clear_screen_calls();
  OSDMenuMessageBoxDestroy();  // nothing visible any more, still back to normal mode
  EXPECT_EQ(calls(), (std::vector<std::string>{"EnterNormal"}));
  EXPECT_TRUE(sim::in_normal_mode());

  OSDMenuMessageBoxShow();
  const unsigned again = MessageBoxOSDRgn;
  sim::clear_screen_calls();
  OSDMenuMessageBoxDestroy();
  EXPECT_EQ(calls(), (std::vector<std::string>{"Osd_Delete(" + std::to_string(again) + ")", "Osd_Sync",
                                               "EnterNormal"}));
  EXPECT_EQ(sim::open_regions(), 0);

  // Another element open: the host stays out of normal mode.
  for (uint16_t *other : {&OSDRgn, &InfoBoxOSDRgn, &ProgressBarOSDRgn, &ColorPickerOSDRgn}) {
    *other = 9;
    sim::clear_screen_calls();
    OSDMenuMessageBoxDestroy();
    EXPECT_TRUE(Matching("EnterNormal").empty());
    *other = 0;
  }
}

TEST_F(Box, InitializeTakesAVisibleBoxDown) {
  ShowOk();
  const unsigned r = MessageBoxOSDRgn;
  sim::clear_screen_calls();
  OSDMenuMessageBoxInitialize("Neu", "anders");
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_GE(Find("Osd_Delete(" + std::to_string(r) + ")"), 0);
  EXPECT_GE(Find("Osd_Sync"), 0);
  EXPECT_TRUE(sim::in_normal_mode());
  EXPECT_TRUE(Matching("Osd_RestoreBox").empty() && Matching("Osd_SaveBox").empty())
      << "the new content waits for the next show";
  EXPECT_EQ(MessageBox.NrButtons, 0u);
  OSDMenuMessageBoxButtonAdd("OK");
  OSDMenuMessageBoxShow();
  EXPECT_GE(Drawn(MessageBoxOSDRgn, 0, 10, 380, "Neu", kTitle), 0);
}

TEST_F(Box, PixelsUnderAMenuRegionAreSavedAndPutBack) {
  OSDRgn = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  TAP_Osd_FillBox(OSDRgn, 0, 0, 720, 576, 0xFF336699);
  ShowOk();
  const std::string save = "Osd_SaveBox(" + std::to_string(OSDRgn) + ",170,193,380,190)";
  ASSERT_GE(Find(save), 0);
  EXPECT_LT(Find(save), Find("Osd_Create(170,193,380,190,0,0)=" + std::to_string(MessageBoxOSDRgn)));
  ASSERT_NE(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(InfoBoxSaveAreaX, 170);
  EXPECT_EQ(InfoBoxSaveAreaY, 193);
  EXPECT_EQ(InfoBoxSaveArea[0], 0xFF336699u);

  // Something drew into the menu under the box meanwhile; closing puts the saved pixels back.
  TAP_Osd_FillBox(OSDRgn, 170, 193, 380, 190, 0xFF000000);
  sim::clear_screen_calls();
  OSDMenuMessageBoxDestroy();
  EXPECT_GE(Find("Osd_RestoreBox(" + std::to_string(OSDRgn) + ",170,193,380,190)"), 0);
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_TRUE(Matching("EnterNormal").empty()) << "the menu is still open";
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  std::vector<uint32_t> screen = sim::screen();
  EXPECT_EQ(screen[300 * sim::SCREEN_W + 300], 0xFF336699u);
}

TEST_F(Box, AdoptedRegionIsAddressedFromItsOrigin) {
  MyOSDRgn = TAP_Osd_Create(100, 50, 600, 500, 0, 0);
  const unsigned mine = MyOSDRgn;
  ShowOk();
  EXPECT_GE(Find("Osd_SaveBox(" + std::to_string(mine) + ",70,143,380,190)"), 0);
  ASSERT_NE(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(InfoBoxSaveAreaX, 170) << "kept in screen coordinates";
  sim::clear_screen_calls();
  OSDMenuMessageBoxDestroyNoOSDUpdate();
  EXPECT_GE(Find("Osd_RestoreBox(" + std::to_string(mine) + ",70,143,380,190)"), 0);
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(MyOSDRgn, 0) << "the adoption ends with the box";
  EXPECT_EQ(sim::outstanding_blocks(), 0);
}

TEST_F(Box, AdoptedRegionWithoutTheRegionTable) {
  sim::fault(sim::Call::dlsym).always().on("_osdInfo");
  MyOSDRgn = TAP_Osd_Create(100, 50, 600, 500, 0, 0);
  const uint16_t mine = MyOSDRgn;
  ShowOk();
  EXPECT_TRUE(Matching("Osd_SaveBox(" + std::to_string(mine) + ",").empty()) << "nothing can be saved";
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
  sim::clear_screen_calls();
  OSDMenuMessageBoxDestroy();
  EXPECT_TRUE(Matching("Osd_RestoreBox").empty());
  EXPECT_EQ(MyOSDRgn, mine) << "no block was held, so the region stays adopted";
}

TEST_F(Box, InfoBoxTeardown) {
  // Nothing open: only the return to normal mode.
  OSDMenuInfoBoxDestroy();
  EXPECT_EQ(calls(), (std::vector<std::string>{"EnterNormal"}));

  // An info box over a menu region, holding the save area.
  OSDRgn = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  InfoBoxOSDRgn = TAP_Osd_Create(170, 193, 380, 190, 0, 0);
  const unsigned menu = OSDRgn, info = InfoBoxOSDRgn;
  InfoBoxSaveArea = TAP_Osd_SaveBox(OSDRgn, 170, 193, 380, 190);
  InfoBoxSaveAreaX = 170;
  InfoBoxSaveAreaY = 193;
  sim::clear_screen_calls();
  OSDMenuInfoBoxDestroy();
  EXPECT_EQ(calls(), (std::vector<std::string>{"Osd_Delete(" + std::to_string(info) + ")",
                                               "Osd_RestoreBox(" + std::to_string(menu) + ",170,193,380,190)",
                                               "Osd_Sync"}))
      << "the menu stays open: no return to normal mode";
  EXPECT_EQ(InfoBoxOSDRgn, 0);
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(sim::outstanding_blocks(), 0);

  // Adopted region, no region table: nothing restored, the block still released.
  sim::fault(sim::Call::dlsym).always().on("_osdInfo");
  OSDRgn = 0;
  MyOSDRgn = 5;
  InfoBoxOSDRgn = TAP_Osd_Create(170, 193, 380, 190, 0, 0);
  InfoBoxSaveArea = static_cast<uint32_t *>(TAP_MemAlloc(380 * 190 * 4));
  sim::clear_screen_calls();
  OSDMenuInfoBoxDestroyNoOSDUpdate();
  EXPECT_TRUE(Matching("Osd_RestoreBox").empty());
  EXPECT_TRUE(Matching("Osd_Sync").empty());
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(MyOSDRgn, 0);
  EXPECT_EQ(sim::outstanding_blocks(), 0);

  // Only the message box open: the info box's teardown leaves normal mode alone.
  ShowOk();
  sim::clear_screen_calls();
  OSDMenuInfoBoxDestroy();
  EXPECT_TRUE(calls().empty());
  EXPECT_FALSE(sim::in_normal_mode());
}

TEST_F(Box, ABoxWithoutARegionDoesNotLeakItsSaveArea) {
  OSDRgn = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  sim::fault(sim::Call::TAP_Osd_Create).always();
  ShowOk();
  ShowOk();
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_EQ(sim::outstanding_blocks(), 1) << "one saved block at a time";
  sim::clear_faults();
  ShowOk();
  ASSERT_TRUE(OSDMenuMessageBoxIsVisible());
  OSDMenuMessageBoxDestroy();
  EXPECT_EQ(sim::outstanding_blocks(), 0);
}

}  // namespace
