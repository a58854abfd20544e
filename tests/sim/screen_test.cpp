// Regions, drawing calls, compositing, the call log and the graphic format.
#include <array>

#include "sim/gd_codec.h"
#include "sim_fixture.h"

namespace {

uint32_t at(const std::vector<uint32_t> &px, int x, int y) { return px[static_cast<size_t>(y) * sim::SCREEN_W + x]; }

GraphicRecord record_for(const std::vector<uint8_t> &blob, uint16_t w, uint16_t h) {
  GraphicRecord gd{};
  gd.format[0] = 1;
  gd.format[2] = 1;
  gd.format[3] = 2;
  gd.data = blob.data();
  gd.size = static_cast<uint32_t>(w) * h * 4;
  gd.width = w;
  gd.height = h;
  return gd;
}

}  // namespace

using ScreenTest = SimTest;

TEST_F(ScreenTest, RegionsStartTransparentAndBlendOverTheBackground) {
  const auto &bg = sim::background();
  ASSERT_EQ(bg.size(), static_cast<size_t>(sim::SCREEN_W) * sim::SCREEN_H);
  // The background is a picture, not one colour, and fully opaque.
  EXPECT_NE(at(bg, 10, 10), at(bg, 10, 500));
  EXPECT_EQ(at(bg, 300, 300) >> 24, 0xFFu);

  const uint16_t r = TAP_Osd_Create(100, 50, 200, 100, 0, 0);
  ASSERT_NE(r, 0);
  EXPECT_EQ(sim::screen(), bg);  // nothing drawn yet
  TAP_Osd_FillBox(r, 10, 10, 20, 20, 0xFFFF0000);
  TAP_Osd_FillBox(r, 40, 10, 20, 20, 0x80000000);
  auto px = sim::screen();
  EXPECT_EQ(at(px, 115, 65), 0xFFFF0000u);
  const uint32_t under = at(bg, 145, 65);
  const uint32_t half = at(px, 145, 65);
  for (int shift : {0, 8, 16}) {
    const int expect = static_cast<int>((under >> shift) & 0xFF) * 127 / 255;
    EXPECT_NEAR(static_cast<int>((half >> shift) & 0xFF), expect, 1) << "channel " << shift;
  }
  EXPECT_EQ(at(px, 99, 49), at(bg, 99, 49));

  // A later region lies on top of an earlier one.
  const uint16_t top = TAP_Osd_Create(110, 60, 10, 10, 0, 0);
  TAP_Osd_FillBox(top, 0, 0, 10, 10, 0xFF00FF00);
  EXPECT_EQ(at(sim::screen(), 115, 65), 0xFF00FF00u);
  EXPECT_EQ(sim::open_regions(), 2);
  TAP_Osd_Delete(top);
  EXPECT_EQ(at(sim::screen(), 115, 65), 0xFFFF0000u);
  EXPECT_EQ(TAP_Osd_Delete(top), -1);

  // Regions must lie on the screen.
  EXPECT_EQ(TAP_Osd_Create(600, 0, 121, 10, 0, 0), 0);
  EXPECT_EQ(TAP_Osd_Create(0, 0, 0, 10, 0, 0), 0);
}

TEST_F(ScreenTest, SaveBoxAndRestoreBoxMoveWordsRowByRow) {
  const uint16_t r = TAP_Osd_Create(0, 0, 50, 40, 0, 0);
  TAP_Osd_FillBox(r, 0, 0, 50, 40, 0xFF111111);
  TAP_Osd_FillBox(r, 12, 6, 1, 1, 0xFF222222);
  TAP_Osd_FillBox(r, 10, 7, 1, 1, 0xFF333333);
  const long blocks = sim::outstanding_blocks();
  uint32_t *box = TAP_Osd_SaveBox(r, 10, 5, 4, 3);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(sim::outstanding_blocks(), blocks + 1);
  EXPECT_EQ(box[1 * 4 + 2], 0xFF222222u);
  EXPECT_EQ(box[2 * 4 + 0], 0xFF333333u);
  EXPECT_EQ(box[0], 0xFF111111u);
  box[0] = 0x12345678;
  TAP_Osd_RestoreBox(r, 20, 20, 4, 3, box);
  TAP_MemFree(box);
  std::vector<uint32_t> px;
  ASSERT_TRUE(sim::region(r, nullptr, nullptr, nullptr, nullptr, &px));
  EXPECT_EQ(px[20 * 50 + 20], 0x12345678u);
  EXPECT_EQ(px[21 * 50 + 22], 0xFF222222u);

  EXPECT_EQ(TAP_Osd_SaveBox(r, 47, 0, 4, 1), nullptr);  // reaches past the region
  EXPECT_EQ(TAP_Osd_SaveBox(99, 0, 0, 1, 1), nullptr);
  sim::fault(sim::Call::TAP_MemAlloc).nth(1);
  EXPECT_EQ(TAP_Osd_SaveBox(r, 0, 0, 1, 1), nullptr);
  EXPECT_EQ(sim::outstanding_blocks(), blocks);
}

TEST_F(ScreenTest, PutGdDecodesTheGraphicFormatAndRejectsBadRecords) {
  std::vector<uint32_t> img(30 * 20);
  for (size_t i = 0; i < img.size(); ++i) img[i] = i < 300 ? 0xFF0000FFu : 0xFF000000u + static_cast<uint32_t>(i);
  const auto blob = sim::gd::encode(img.data(), 30, 20);
  GraphicRecord gd = record_for(blob, 30, 20);
  const uint16_t r = TAP_Osd_Create(0, 0, 40, 40, 0, 0);
  EXPECT_EQ(TAP_Osd_PutGd(r, 5, 25, &gd, 0), 0);  // clipped at the bottom
  std::vector<uint32_t> px;
  ASSERT_TRUE(sim::region(r, nullptr, nullptr, nullptr, nullptr, &px));
  EXPECT_EQ(px[25 * 40 + 5], img[0]);
  EXPECT_EQ(px[39 * 40 + 34], img[14 * 30 + 29]);
  EXPECT_EQ(px[24 * 40 + 5], 0u);  // untouched, still transparent

  GraphicRecord wrong = gd;
  wrong.width = 31;
  EXPECT_NE(TAP_Osd_PutGd(r, 0, 0, &wrong, 0), 0);
  wrong = gd;
  wrong.format[3] = 0;
  EXPECT_NE(TAP_Osd_PutGd(r, 0, 0, &wrong, 0), 0);
  EXPECT_NE(TAP_Osd_PutGd(r, 0, 0, nullptr, 0), 0);
}

TEST_F(ScreenTest, EveryCallIsLoggedAndNormalModeFollowsTheModule) {
  EXPECT_TRUE(sim::in_normal_mode());
  const uint16_t r = TAP_Osd_Create(170, 193, 380, 190, 0, 0);
  TAP_ExitNormal();
  EXPECT_FALSE(sim::in_normal_mode());
  TAP_Osd_FillBox(r, 90, 120, 100, 25, 0xFF242424);
  uint32_t *b = TAP_Osd_SaveBox(r, 0, 10, 381, 24);  // one column too wide
  EXPECT_EQ(b, nullptr);
  b = TAP_Osd_SaveBox(r, 0, 10, 380, 24);
  TAP_Osd_RestoreBox(r, 0, 10, 380, 24, b);
  TAP_MemFree(b);
  TAP_Osd_Sync();
  TAP_Osd_Delete(r);
  TAP_EnterNormal();
  EXPECT_TRUE(sim::in_normal_mode());
  EXPECT_EQ(sim::screen_calls(),
            (std::vector<std::string>{"Osd_Create(170,193,380,190,0,0)=1", "ExitNormal",
                                      "Osd_FillBox(1,90,120,100,25,0xFF242424)", "Osd_SaveBox(1,0,10,381,24)=null",
                                      "Osd_SaveBox(1,0,10,380,24)", "Osd_RestoreBox(1,0,10,380,24)", "Osd_Sync",
                                      "Osd_Delete(1)", "EnterNormal"}));
  sim::clear_screen_calls();
  EXPECT_TRUE(sim::screen_calls().empty());
}

TEST_F(ScreenTest, ScreenshotIsAPngOfTheScreen) {
  if (!sim::png_supported()) GTEST_SKIP() << "simulator built without libpng";
  const std::string path = root_ + "/shot.png";
  ASSERT_TRUE(sim::save_png(path));
  const std::string png = testfiles::ReadFile(path);
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  auto be32 = [&](size_t o) {
    return static_cast<uint32_t>(static_cast<uint8_t>(png[o])) << 24 | static_cast<uint8_t>(png[o + 1]) << 16 |
           static_cast<uint8_t>(png[o + 2]) << 8 | static_cast<uint8_t>(png[o + 3]);
  };
  EXPECT_EQ(be32(16), 720u);
  EXPECT_EQ(be32(20), 576u);
  EXPECT_FALSE(sim::save_png(root_ + "/no/such/folder/shot.png"));
}

TEST(GdCodec, RoundTripsRunsLiteralsAndLongRuns) {
  std::vector<uint32_t> img(380 * 190, 0xFF202020u);
  for (int x = 0; x < 380; ++x) img[static_cast<size_t>(100 * 380 + x)] = 0xFF000000u | static_cast<uint32_t>(x);
  img[0] = 1;  // a single pixel, then a run crossing many rows (longer than one run word)
  const auto blob = sim::gd::encode(img.data(), 380, 190);
  EXPECT_EQ(sim::gd::blob_size(blob.data(), blob.size()), blob.size());
  EXPECT_LT(blob.size(), img.size() * 4 / 10);
  std::vector<uint32_t> back;
  ASSERT_TRUE(sim::gd::decode(blob.data(), blob.size(), 380, 190, &back));
  EXPECT_EQ(back, img);

  const uint32_t one = 0xDEADBEEF;
  const auto tiny = sim::gd::encode(&one, 1, 1);
  ASSERT_TRUE(sim::gd::decode(tiny.data(), tiny.size(), 1, 1, &back));
  EXPECT_EQ(back, std::vector<uint32_t>{one});
}

TEST(GdCodec, RejectsBlobsThatDoNotAddUp) {
  std::vector<uint32_t> img(8 * 4, 0xFF00FF00u);
  img[5] = 7;
  const auto blob = sim::gd::encode(img.data(), 8, 4);
  std::vector<uint32_t> out;
  EXPECT_FALSE(sim::gd::decode(blob.data(), blob.size(), 8, 5, &out));      // other size
  EXPECT_FALSE(sim::gd::decode(blob.data(), blob.size() - 1, 8, 4, &out));  // cut short
  auto bad = blob;
  bad[0] = 'X';
  EXPECT_FALSE(sim::gd::decode(bad.data(), bad.size(), 8, 4, &out));
  bad = blob;
  bad[sim::gd::HEADER_SIZE] = 0;  // a run of zero pixels
  bad[sim::gd::HEADER_SIZE + 1] = 0;
  EXPECT_FALSE(sim::gd::decode(bad.data(), bad.size(), 8, 4, &out));
  bad = blob;
  bad[sim::gd::HEADER_SIZE] = 0xFF;  // a run longer than the image
  bad[sim::gd::HEADER_SIZE + 1] = 0x7F;
  EXPECT_FALSE(sim::gd::decode(bad.data(), bad.size(), 8, 4, &out));
  bad = blob;
  bad.push_back(0);  // payload longer than its runs
  bad[8] = static_cast<uint8_t>(bad[8] + 1);
  EXPECT_FALSE(sim::gd::decode(bad.data(), bad.size(), 8, 4, &out));
}
