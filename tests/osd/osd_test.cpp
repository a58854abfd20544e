// Message box and info-box teardown: geometry of every call, the normal-mode rule and the
// save area under a menu or adopted region.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "host/tap.h"
#include "lib/font/font.h"
#include "lib/osd/osd.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"
#include "tests/osd/osd_calls.h"

namespace {

using osdtest::calls;
using osdtest::Find;
using osdtest::Matching;

std::string PutS(unsigned rgn, unsigned x, unsigned y, unsigned maxX, const std::string &text,
                 uint32_t colour) {
  char line[400];
  std::snprintf(line, sizeof line, "PutS(%u,%u,%u,%u,'%s',0x%08X,0,14,0,1)", rgn, x, y, maxX,
                text.c_str(), colour);
  return line;
}

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
    osdtest::haveRegionTable = false;
    std::memset(osdtest::regionTable, 0, sizeof osdtest::regionTable);
    osdtest::InstallRecorders();
  }
  void TearDown() override {
    osdtest::RemoveRecorders();
    EXPECT_TRUE(RemoveRoot()) << root_;
  }
  // The calling order of the application.
  void ShowOk(const char *text = "Dateien gefunden und verschoben") {
    OSDMenuMessageBoxInitialize("Quarrow", text);
    OSDMenuMessageBoxButtonAdd("OK");
    OSDMenuMessageBoxButtonSelect(0);
    calls.clear();
    OSDMenuMessageBoxShow();
  }
};

TEST_F(Box, OneButtonGeometry) {
  ShowOk();
  ASSERT_TRUE(OSDMenuMessageBoxIsVisible());
  const unsigned r = MessageBoxOSDRgn;
  const std::string expected[] = {
      "Create(170,193,380,190,0,0)=" + std::to_string(r),
      "ExitNormal",
      "PutGd(" + std::to_string(r) + ",0,0,panel,0)",
      PutS(r, 0, 10, 380, "Quarrow", 0xFFE89211),
      PutS(r, 0, 67, 380, "Dateien gefunden und verschoben", 0xFFC0C0C0),
      "PutGd(" + std::to_string(r) + ",140,120,highlight,0)",
      PutS(r, 140, 124, 240, "OK", 0xFF282828),
      "Sync",
  };
  // The box-level calls, in order, with the renderer's own calls in between.
  int at = 0;
  for (const std::string &e : expected) {
    int found = Find(e, static_cast<size_t>(at));
    ASSERT_GE(found, 0) << "missing or out of order: " << e;
    at = found + 1;
  }
  EXPECT_TRUE(Matching("FillBox").empty()) << "no unselected buttons";
  EXPECT_EQ(Matching("ExitNormal").size(), 1u);
  EXPECT_FALSE(sim::in_normal_mode());

  // The simulator saw the same region, and the texts were drawn with one read-back each at
  // the renderer's raised position.
  bool created = false;
  for (const std::string &c : sim::screen_calls()) created |= c.rfind("Osd_Create(170,193,380,190)", 0) == 0;
  EXPECT_TRUE(created);
  const uint32_t titleWidth = FM_GetStringWidth("Quarrow", &Calibri_14_FontData);
  char title[100];
  std::snprintf(title, sizeof title, "SaveBox(%u,%u,7,%u,24)", r, (380 - titleWidth) / 2, titleWidth + 1);
  EXPECT_GE(Find(title), 0) << title;
  EXPECT_EQ(Matching("SaveBox").size(), 3u);
  EXPECT_EQ(Matching("RestoreBox").size(), 3u);
}

TEST_F(Box, NoButtonsNoBox) {
  OSDMenuMessageBoxInitialize("Quarrow", "text");
  calls.clear();
  OSDMenuMessageBoxShow();
  EXPECT_TRUE(calls.empty());
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
  int fill = Find("FillBox(" + std::to_string(r) + ",202,120,100,25,0xFF242424)");
  int unselected = Find(PutS(r, 202, 124, 302, "Nein", 0xFFE6E6FA));
  int highlight = Find("PutGd(" + std::to_string(r) + ",76,120,highlight,0)");
  int selected = Find(PutS(r, 76, 124, 176, "Ja", 0xFF282828));
  ASSERT_GE(fill, 0);
  ASSERT_GE(unselected, 0);
  ASSERT_GE(highlight, 0);
  ASSERT_GE(selected, 0);
  EXPECT_LT(fill, unselected);
  EXPECT_LT(unselected, highlight);
  EXPECT_LT(highlight, selected);

  // Selecting while visible repaints the whole box with the other highlight.
  calls.clear();
  OSDMenuMessageBoxButtonSelect(1);
  EXPECT_TRUE(Matching("Create").empty());
  EXPECT_GE(Find("PutGd(" + std::to_string(r) + ",0,0,panel,0)"), 0);
  EXPECT_GE(Find("PutGd(" + std::to_string(r) + ",202,120,highlight,0)"), 0);
  EXPECT_GE(Find("FillBox(" + std::to_string(r) + ",76,120,100,25,0xFF242424)"), 0);
  EXPECT_EQ(calls.back(), "Sync");
}

TEST_F(Box, AtMostFiveButtonsAndValidSelections) {
  OSDMenuMessageBoxInitialize("T", "x");
  for (const char *c : {"1", "2", "3", "4", "5", "6"}) OSDMenuMessageBoxButtonAdd(c);
  EXPECT_EQ(MessageBox.NrButtons, 5u);
  OSDMenuMessageBoxButtonSelect(5);
  EXPECT_EQ(MessageBox.CurrentButton, 0u);
  // Selecting before the box is shown only records the choice.
  calls.clear();
  OSDMenuMessageBoxButtonSelect(4);
  EXPECT_EQ(MessageBox.CurrentButton, 4u);
  EXPECT_TRUE(calls.empty());
  OSDMenuMessageBoxShow();
  const unsigned r = MessageBoxOSDRgn;
  // 380 / 6 = 63: centres 63, 126, ..., 315; the fifth is the selected one.
  EXPECT_EQ(Matching("FillBox(" + std::to_string(r) + ",").size(), 4u);
  EXPECT_GE(Find("FillBox(" + std::to_string(r) + ",13,120,100,25,0xFF242424)"), 0);
  EXPECT_GE(Find("PutGd(" + std::to_string(r) + ",265,120,highlight,0)"), 0);
  EXPECT_GE(Find(PutS(r, 265, 124, 365, "5", 0xFF282828)), 0);

  // Adding a button while visible changes the record without drawing.
  OSDMenuMessageBoxInitialize("T", "x");
  OSDMenuMessageBoxButtonAdd("1");
  OSDMenuMessageBoxShow();
  calls.clear();
  OSDMenuMessageBoxButtonAdd("2");
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(MessageBox.NrButtons, 2u);
}

TEST_F(Box, BodyLinesAreCentredOnTheMiddleRow) {
  ShowOk("a\r\nb");
  unsigned r = MessageBoxOSDRgn;
  EXPECT_GE(Find(PutS(r, 0, 47, 380, "a", 0xFFC0C0C0)), 0);
  EXPECT_GE(Find(PutS(r, 0, 67, 380, "", 0xFFC0C0C0)), 0);
  EXPECT_GE(Find(PutS(r, 0, 87, 380, "b", 0xFFC0C0C0)), 0);
  EXPECT_EQ(Matching("PutS(" + std::to_string(r) + ",0,").size(), 4u) << "title and three lines";

  ShowOk("eins\nzwei\n");
  r = MessageBoxOSDRgn;
  EXPECT_GE(Find(PutS(r, 0, 57, 380, "eins", 0xFFC0C0C0)), 0);
  EXPECT_GE(Find(PutS(r, 0, 77, 380, "zwei", 0xFFC0C0C0)), 0);
  EXPECT_EQ(Matching("PutS(" + std::to_string(r) + ",0,").size(), 3u) << "no empty last line";

  ShowOk("");
  EXPECT_EQ(Matching("PutS(" + std::to_string(MessageBoxOSDRgn) + ",0,").size(), 1u) << "title only";
}

TEST_F(Box, LinesOutsideThePanelAreLeftOut) {
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += std::string(1, char('a' + i)) + "\n";
  ShowOk(nine.c_str());
  unsigned r = MessageBoxOSDRgn;
  // Nine lines: the first would start at 77 - 90 = -13.
  EXPECT_EQ(Matching("PutS(" + std::to_string(r) + ",0,").size(), 1u + 8u);
  EXPECT_GE(Find(PutS(r, 0, 7, 380, "b", 0xFFC0C0C0)), 0);
  for (const std::string &c : Matching("PutS(" + std::to_string(r) + ",0,"))
    EXPECT_EQ(c.find("'a'"), std::string::npos) << c;

  // Thirty lines: only those starting inside the panel (rows 0..189) are drawn.
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "x\n";
  ShowOk(thirty.c_str());
  r = MessageBoxOSDRgn;
  size_t bodyLines = 0;
  for (int i = 0; i < 30; ++i) {
    int y = 77 - 10 * 30 + 20 * i;
    bool inside = y >= 0 && y < 190;
    bool drawn = Find(PutS(r, 0, static_cast<unsigned>(y), 380, "x", 0xFFC0C0C0)) >= 0;
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
  calls.clear();
  OSDMenuMessageBoxDestroyNoOSDUpdate();
  EXPECT_EQ(calls, (std::vector<std::string>{"Delete(" + std::to_string(r) + ")"}));
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_FALSE(sim::in_normal_mode()) << "the plain teardown keeps the host out of normal mode";
  EXPECT_EQ(std::string(MessageBox.Title), "Quarrow") << "content kept";

  calls.clear();
  OSDMenuMessageBoxDestroy();  // nothing visible any more, still back to normal mode
  EXPECT_EQ(calls, (std::vector<std::string>{"EnterNormal"}));
  EXPECT_TRUE(sim::in_normal_mode());

  OSDMenuMessageBoxShow();
  const unsigned again = MessageBoxOSDRgn;
  calls.clear();
  OSDMenuMessageBoxDestroy();
  EXPECT_EQ(calls, (std::vector<std::string>{"Delete(" + std::to_string(again) + ")", "Sync",
                                             "EnterNormal"}));
  EXPECT_EQ(sim::open_regions(), 0);

  // Another element open: the host stays out of normal mode.
  for (uint16_t *other : {&OSDRgn, &InfoBoxOSDRgn, &ProgressBarOSDRgn, &ColorPickerOSDRgn}) {
    *other = 9;
    calls.clear();
    OSDMenuMessageBoxDestroy();
    EXPECT_TRUE(Matching("EnterNormal").empty());
    *other = 0;
  }
}

TEST_F(Box, InitializeTakesAVisibleBoxDown) {
  ShowOk();
  const unsigned r = MessageBoxOSDRgn;
  calls.clear();
  OSDMenuMessageBoxInitialize("Neu", "anders");
  EXPECT_FALSE(OSDMenuMessageBoxIsVisible());
  EXPECT_GE(Find("Delete(" + std::to_string(r) + ")"), 0);
  EXPECT_GE(Find("Sync"), 0);
  EXPECT_TRUE(sim::in_normal_mode());
  EXPECT_TRUE(Matching("PutS").empty()) << "the new content waits for the next show";
  EXPECT_EQ(MessageBox.NrButtons, 0u);
  OSDMenuMessageBoxButtonAdd("OK");
  OSDMenuMessageBoxShow();
  EXPECT_GE(Find(PutS(MessageBoxOSDRgn, 0, 10, 380, "Neu", 0xFFE89211)), 0);
}

TEST_F(Box, PixelsUnderAMenuRegionAreSavedAndPutBack) {
  OSDRgn = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  TAP_Osd_FillBox(OSDRgn, 0, 0, 720, 576, 0xFF336699);
  ShowOk();
  const unsigned menu = OSDRgn;
  ASSERT_GE(Find("SaveBox(" + std::to_string(menu) + ",170,193,380,190)"), 0);
  EXPECT_LT(Find("SaveBox(" + std::to_string(menu) + ",170,193,380,190)"), Find("Create(170,193,380,190,0,0)=" + std::to_string(MessageBoxOSDRgn)));
  ASSERT_NE(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(InfoBoxSaveAreaX, 170);
  EXPECT_EQ(InfoBoxSaveAreaY, 193);
  EXPECT_EQ(InfoBoxSaveArea[0], 0xFF336699u);

  // Something drew into the menu under the box meanwhile; closing puts the saved pixels back.
  TAP_Osd_FillBox(OSDRgn, 170, 193, 380, 190, 0xFF000000);
  calls.clear();
  OSDMenuMessageBoxDestroy();
  EXPECT_GE(Find("RestoreBox(" + std::to_string(menu) + ",170,193,380,190)"), 0);
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_TRUE(Matching("EnterNormal").empty()) << "the menu is still open";
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  std::vector<uint32_t> screen = sim::screen();
  EXPECT_EQ(screen[300 * sim::SCREEN_W + 300], 0xFF336699u);
}

TEST_F(Box, AdoptedRegionIsAddressedFromItsOrigin) {
  MyOSDRgn = TAP_Osd_Create(100, 50, 600, 500, 0, 0);
  osdtest::haveRegionTable = true;
  osdtest::regionTable[MyOSDRgn] = {100, 50, 600, {}};
  const unsigned mine = MyOSDRgn;
  ShowOk();
  EXPECT_GE(Find("SaveBox(" + std::to_string(mine) + ",70,143,380,190)"), 0);
  ASSERT_NE(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(InfoBoxSaveAreaX, 170) << "kept in screen coordinates";
  calls.clear();
  OSDMenuMessageBoxDestroyNoOSDUpdate();
  EXPECT_GE(Find("RestoreBox(" + std::to_string(mine) + ",70,143,380,190)"), 0);
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(MyOSDRgn, 0) << "the adoption ends with the box";
  EXPECT_EQ(sim::outstanding_blocks(), 0);
}

TEST_F(Box, AdoptedRegionWithoutTheRegionTable) {
  MyOSDRgn = TAP_Osd_Create(100, 50, 600, 500, 0, 0);
  const uint16_t mine = MyOSDRgn;
  ShowOk();
  EXPECT_TRUE(Matching("SaveBox(" + std::to_string(mine)).empty()) << "nothing can be saved";
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_TRUE(OSDMenuMessageBoxIsVisible());
  calls.clear();
  OSDMenuMessageBoxDestroy();
  EXPECT_TRUE(Matching("RestoreBox").empty());
  EXPECT_EQ(MyOSDRgn, mine) << "no block was held, so the region stays adopted";
}

TEST_F(Box, InfoBoxTeardown) {
  // Nothing open: only the return to normal mode.
  OSDMenuInfoBoxDestroy();
  EXPECT_EQ(calls, (std::vector<std::string>{"EnterNormal"}));

  // An info box over a menu region, holding the save area.
  OSDRgn = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  InfoBoxOSDRgn = TAP_Osd_Create(170, 193, 380, 190, 0, 0);
  const unsigned menu = OSDRgn, info = InfoBoxOSDRgn;
  InfoBoxSaveArea = TAP_Osd_SaveBox(OSDRgn, 170, 193, 380, 190);
  InfoBoxSaveAreaX = 170;
  InfoBoxSaveAreaY = 193;
  calls.clear();
  OSDMenuInfoBoxDestroy();
  EXPECT_EQ(calls, (std::vector<std::string>{"Delete(" + std::to_string(info) + ")",
                                             "RestoreBox(" + std::to_string(menu) + ",170,193,380,190)",
                                             "Sync"}))
      << "the menu stays open: no return to normal mode";
  EXPECT_EQ(InfoBoxOSDRgn, 0);
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(sim::outstanding_blocks(), 0);

  // Adopted region, no region table: nothing restored, the block still released.
  OSDRgn = 0;
  MyOSDRgn = 5;
  InfoBoxOSDRgn = TAP_Osd_Create(170, 193, 380, 190, 0, 0);
  InfoBoxSaveArea = static_cast<uint32_t *>(TAP_MemAlloc(380 * 190 * 4));
  calls.clear();
  OSDMenuInfoBoxDestroyNoOSDUpdate();
  EXPECT_TRUE(Matching("RestoreBox").empty());
  EXPECT_TRUE(Matching("Sync").empty());
  EXPECT_EQ(InfoBoxSaveArea, nullptr);
  EXPECT_EQ(MyOSDRgn, 0);
  EXPECT_EQ(sim::outstanding_blocks(), 0);

  // Only the message box open: the info box's teardown leaves normal mode alone.
  ShowOk();
  calls.clear();
  OSDMenuInfoBoxDestroy();
  EXPECT_TRUE(calls.empty());
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
