// Whole-screen pictures compared pixel for pixel with committed references: the message box
// as the user sees it, and a sheet of all five fonts with every character.
//
// Regenerate the references after an intended change of the look (then view them!):
//   QUARROW_UPDATE_SCREENSHOTS=1 build/<dir>/tests/osd/osd_screen_tests
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/tap.h"
#include "lib/font/font.h"
#include "lib/osd/osd.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace {

const std::string kReferenceDir = QUARROW_SOURCE_DIR "/tests/osd/";

bool UpdateRequested() {
  const char *v = std::getenv("QUARROW_UPDATE_SCREENSHOTS");
  return v && std::strcmp(v, "1") == 0;
}

bool ReadPng(const std::string &path, std::vector<uint8_t> *rgb, unsigned *w, unsigned *h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb->resize(PNG_IMAGE_SIZE(image));
  *w = image.width;
  *h = image.height;
  return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}

// Compares the simulator's screen with the reference picture (writing it first when asked).
void ExpectScreenMatches(const std::string &name) {
  const std::string path = kReferenceDir + name;
  if (UpdateRequested()) {
    ASSERT_TRUE(sim::save_png(path)) << "cannot write " << path;
  }

  std::vector<uint8_t> ref;
  unsigned w = 0, h = 0;
  ASSERT_TRUE(ReadPng(path, &ref, &w, &h)) << "cannot read the reference " << path;
  ASSERT_EQ(w, static_cast<unsigned>(sim::SCREEN_W));
  ASSERT_EQ(h, static_cast<unsigned>(sim::SCREEN_H));
  const std::vector<uint32_t> px = sim::screen();
  size_t differ = 0, first = 0;
  for (size_t i = 0; i < px.size(); ++i) {
    const uint32_t want = static_cast<uint32_t>(ref[i * 3]) << 16 |
                          static_cast<uint32_t>(ref[i * 3 + 1]) << 8 | ref[i * 3 + 2];
    if ((px[i] & 0xFFFFFF) != want && differ++ == 0) first = i;
  }
  EXPECT_EQ(differ, 0u) << "pixels differ from " << path << ", the first at x "
                        << first % sim::SCREEN_W << " y " << first / sim::SCREEN_W;
}

class Screenshot : public SimDiskTest {
 protected:
  Screenshot() : SimDiskTest("quarrow-shot-") {}
  void SetUp() override {
    if (!sim::png_supported()) {
      GTEST_SKIP() << "the simulator was built without libpng";
    }
    SimDiskTest::SetUp();
  }
  void TearDown() override { EXPECT_TRUE(RemoveRoot()) << root_; }
};

TEST_F(Screenshot, MessageBox) {
  OSDMenuMessageBoxInitialize("Quarrow", "Dateien gefunden und verschoben");
  OSDMenuMessageBoxButtonAdd("OK");
  OSDMenuMessageBoxButtonSelect(0);
  OSDMenuMessageBoxShow();
  ASSERT_TRUE(OSDMenuMessageBoxIsVisible());

  // Independent of the reference: the box covers exactly its rectangle, the title shows its
  // colour at full coverage, the highlight is brighter than the panel around it. Full
  // coverage includes one step below it (at most 2 per channel): the fonts store a lone
  // 0xFF pixel as 0xFE, whose code is one byte shorter.
  const std::vector<uint32_t> px = sim::screen();
  const std::vector<uint32_t> &bg = sim::background();
  auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * sim::SCREEN_W + x]; };
  auto lum = [](uint32_t c) { return (c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF); };
  auto full = [](uint32_t c, uint32_t colour) {
    for (int shift : {16, 8, 0}) {
      const int d = static_cast<int>(c >> shift & 0xFF) - static_cast<int>(colour >> shift & 0xFF);
      if (d < -2 || d > 2) return false;
    }
    return true;
  };
  size_t outside = 0, outsideSame = 0, titlePixels = 0, bodyPixels = 0;
  for (int y = 0; y < sim::SCREEN_H; ++y)
    for (int x = 0; x < sim::SCREEN_W; ++x) {
      const bool inBox = x >= 170 && x < 550 && y >= 193 && y < 383;
      if (!inBox) {
        ++outside;
        outsideSame += at(x, y) == bg[static_cast<size_t>(y) * sim::SCREEN_W + x];
      } else if (y < 193 + 36) {
        titlePixels += full(at(x, y), 0xE89211);
      } else if (y >= 193 + 60 && y < 193 + 90) {
        bodyPixels += full(at(x, y), 0xC0C0C0);
      }
    }
  EXPECT_EQ(outsideSame, outside);
  EXPECT_GT(titlePixels, 20u);
  EXPECT_GT(bodyPixels, 60u);
  EXPECT_GT(lum(at(170 + 145, 193 + 122)), lum(at(170 + 120, 193 + 122)) + 200);
  EXPECT_EQ(at(170 + 190, 193 + 115), at(170 + 20, 193 + 115)) << "panel rows are even";

  ExpectScreenMatches("messagebox.png");

  // Two buttons, the second selected: the unselected one's field and caption as well.
  OSDMenuMessageBoxButtonAdd("Abbrechen");
  OSDMenuMessageBoxButtonSelect(1);
  ExpectScreenMatches("messagebox-two-buttons.png");
}

TEST_F(Screenshot, CharacterSheet) {
  const uint16_t rgn = TAP_Osd_Create(0, 0, sim::SCREEN_W, sim::SCREEN_H, 0, 0);
  ASSERT_NE(rgn, 0);
  TAP_Osd_FillBox(rgn, 0, 0, sim::SCREEN_W, sim::SCREEN_H, 0xFF14181F);
  const struct {
    uint8_t size;
    const FontData *font;
  } fonts[] = {{10, &Calibri_10_FontData},
               {12, &Calibri_12_FontData},
               {14, &Calibri_14_FontData},
               {16, &Calibri_16_FontData},
               {20, &Calibri_20_FontData}};
  const int ranges[][2] = {{0x20, 0x4F}, {0x50, 0x7E}, {0xA0, 0xCF}, {0xD0, 0xFF}};
  uint32_t y = 8;
  for (const auto &f : fonts) {
    const uint32_t height = f.font->Glyph[0].Height;
    for (const auto &range : ranges) {
      char line[64];
      int n = 0;
      for (int c = range[0]; c <= range[1]; ++c) line[n++] = static_cast<char>(c);
      line[n] = '\0';
      ASSERT_LE(FM_GetStringWidth(line, f.font), 700u) << "line fits the sheet";
      // OSDMenuPutS draws three pixels above the y it is given.
      OSDMenuPutS(rgn, 10, y + 3, 710, line, 0xFFF0F0F0, 0, f.size, TruncCut, AlignLeft);
      y += height + 2;
    }
    y += 6;
  }
  ASSERT_LE(y, static_cast<uint32_t>(sim::SCREEN_H));
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  ExpectScreenMatches("charset.png");
}

}  // namespace
