// The string renderer on a region of the simulator: blend arithmetic, glyph decoding, fitting,
// alignment and the one read-back / one write-back per string.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/tap.h"
#include "lib/font/font.h"
#include "sim/sim.h"

namespace {

// ---- a small font whose every pixel is known --------------------------------------------
// Default glyph: 1 x 2, fully painted. Special glyphs below. Built compressed or raw.
struct TestGlyph {
  uint32_t w, h;
  std::vector<uint8_t> px;
  std::vector<uint8_t> code;  // compressed form, written out by hand
};

std::map<unsigned char, TestGlyph> TestGlyphs() {
  return {
      // Coverage 128 three times, then 255, 0 and 64: the worked blend example lives here.
      {'A', {3, 2, {128, 128, 128, 255, 0, 64}, {128, 128, 128, 0xFF, 1, 0x00, 1, 64}}},
      // A run of 0xFF that continues from row 0 into row 1.
      {'B', {2, 2, {0, 255, 255, 255}, {0x00, 1, 0xFF, 3}}},
      {'W', {10, 2, std::vector<uint8_t>(20, 255), {0xFF, 20}}},
      {'.', {1, 2, {0, 255}, {0x00, 1, 0xFF, 1}}},
      {' ', {2, 2, {0, 0, 0, 0}, {0x00, 4}}},
  };
}

struct BuiltFont {
  std::vector<uint8_t> blob;
  FontData font{};
};

void BuildFont(BuiltFont &out, bool compressed) {
  auto glyphs = TestGlyphs();
  out.blob.clear();
  for (int g = 0; g < 191; ++g) {
    unsigned char c = static_cast<unsigned char>(g < 95 ? g + 32 : g + 65);
    TestGlyph tg{1, 2, {255, 255}, {0xFF, 2}};
    if (auto it = glyphs.find(c); it != glyphs.end()) tg = it->second;
    out.font.Glyph[g] = {tg.w, tg.h, static_cast<uint32_t>(out.blob.size())};
    const auto &bytes = compressed ? tg.code : tg.px;
    out.blob.insert(out.blob.end(), bytes.begin(), bytes.end());
  }
  out.font.Glyph[0].Offset = compressed ? static_cast<uint32_t>(out.blob.size()) : 0;
  out.font.Bitmap = out.blob.data();
}

// ---- a region of the simulator, and the renderer's screen calls ----------------------------
constexpr uint32_t kCanvasW = 700, kCanvasH = 60;
constexpr uint32_t kBlack = 0xFF000000;

struct Rect {
  uint16_t region;
  uint32_t x, y, w, h;
  uint32_t colour = 0;  // of a fill
  bool operator==(const Rect &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Rect &r) {
  return os << "(" << r.region << ": " << r.x << "," << r.y << " " << r.w << "x" << r.h << " " << r.colour << ")";
}

// The logged screen calls of one kind ("Osd_SaveBox", "Osd_RestoreBox", "Osd_FillBox").
std::vector<Rect> Logged(const std::string &kind) {
  std::vector<Rect> out;
  for (const std::string &c : sim::screen_calls()) {
    Rect r{};
    if (c.compare(0, kind.size() + 1, kind + "(") == 0 &&
        std::sscanf(c.c_str() + kind.size(), "(%hu,%u,%u,%u,%u,0x%X", &r.region, &r.x, &r.y, &r.w, &r.h, &r.colour) >= 5)
      out.push_back(r);
  }
  return out;
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(TAP_Osd_Create(0, 0, kCanvasW, kCanvasH, 0, 0), 1);
    Clear();
    BuildFont(tf, true);
  }
  void TearDown() override { EXPECT_EQ(sim::outstanding_blocks(), 0) << "the read-back buffer is released"; }
  // Region 1 black again, the log empty.
  void Clear() { Paint(0, 0, kBlack, kCanvasW, kCanvasH); }
  void Paint(uint32_t x, uint32_t y, uint32_t colour, uint32_t w = 1, uint32_t h = 1) {
    TAP_Osd_FillBox(1, x, y, w, h, colour);
    sim::clear_screen_calls();
  }
  std::vector<uint32_t> Canvas() const {
    std::vector<uint32_t> px;
    sim::region(1, nullptr, nullptr, nullptr, nullptr, &px);
    return px;
  }
  uint32_t At(uint32_t x, uint32_t y) const { return Canvas().at(y * kCanvasW + x); }
  std::vector<Rect> Saves() const { return Logged("Osd_SaveBox"); }
  std::vector<Rect> Restores() const { return Logged("Osd_RestoreBox"); }
  std::vector<Rect> Fills() const { return Logged("Osd_FillBox"); }

  void Put(uint32_t x, uint32_t y, uint32_t maxX, const char *text, uint32_t fg = 0xFFE89211,
           uint32_t bg = 0, uint8_t trunc = TruncCut, uint8_t align = AlignLeft,
           float factor = 1.0f, const FontData *font = nullptr) {
    FM_PutStringAA(1, x, y, maxX, text, fg, bg, font ? font : &tf.font, trunc, align, factor);
  }
  bool NothingDrawn() const { return sim::screen_calls().empty(); }
  // The screen drawn so far equals `text` drawn whole, with room to spare.
  void ExpectScreenShows(const char *text) {
    const std::vector<uint32_t> got = Canvas();
    Clear();
    Put(0, 0, 100, text);
    const std::vector<uint32_t> want = Canvas();
    ASSERT_EQ(got.size(), want.size());
    size_t differ = 0;
    for (size_t i = 0; i < got.size(); ++i) differ += got[i] != want[i];
    EXPECT_EQ(differ, 0u);
  }

  BuiltFont tf;
};

// ---- blend arithmetic --------------------------------------------------------------------

TEST(Blend, ChannelArithmeticToTheBit) {
  // The worked example: foreground 0xE89211 at coverage 128 over black.
  EXPECT_EQ(FM_AlphaBlend(128, 0xE8, 0x00, 1.0f), 116);
  EXPECT_EQ(FM_AlphaBlend(128, 0x92, 0x00, 1.0f), 73);
  EXPECT_EQ(FM_AlphaBlend(128, 0x11, 0x00, 1.0f), 8);
  EXPECT_EQ(FM_AlphaBlendRGB(128, 0xFFE89211, 0xFF000000, 1.0f), 0x744908u);
  // The shift divides by 256: equal channels come out one darker.
  EXPECT_EQ(FM_AlphaBlend(128, 255, 255, 1.0f), 254);
  // Coverage 0 and 255 pass the channel through, the factor not applied.
  EXPECT_EQ(FM_AlphaBlend(0, 200, 17, 3.0f), 17);
  EXPECT_EQ(FM_AlphaBlend(255, 200, 17, 0.25f), 200);
  // Byte arguments are taken modulo 256.
  EXPECT_EQ(FM_AlphaBlend(0x100 + 128, 0x1E8, 0x300, 1.0f), 116);
  EXPECT_EQ(FM_AlphaBlend(0x1FF, 0x42, 0x99, 1.0f), 0x42);
}

TEST(Blend, FactorScalesPartialCoverageAndSaturates) {
  const uint32_t t = (127 * 40 + 128 * 200) >> 8;
  EXPECT_EQ(FM_AlphaBlend(128, 200, 40, 0.5f), t / 2);
  EXPECT_EQ(FM_AlphaBlend(128, 200, 40, 2.0f), 2 * t);
  EXPECT_EQ(FM_AlphaBlend(128, 200, 40, 2.2f), 255) << "above 255 saturates";
  EXPECT_EQ(FM_AlphaBlend(128, 200, 40, -1.0f), 255) << "negative saturates";
  EXPECT_EQ(FM_AlphaBlend(128, 200, 40, -0.001f), 0) << "truncated toward zero first";
  EXPECT_EQ(FM_AlphaBlend(128, 200, 40, 1e30f), 255);
  EXPECT_EQ(FM_AlphaBlendRGB(128, 0xFFFFFFFF, 0xFFFFFFFF, 1.0f) >> 24, 0u) << "no alpha byte";
}

TEST(Blend, LookupTableHoldsEntriesUpTo254Only) {
  std::memset(AlphaLUT, 0xAB, sizeof AlphaLUT);
  FM_InitAlphaLUT(0xFF102030, 0xFFF0E0D0, 1.0f);
  for (uint32_t a = 0; a < 255; ++a) {
    uint32_t rgb = FM_AlphaBlendRGB(a, 0xFF102030, 0xFFF0E0D0, 1.0f);
    ASSERT_EQ(AlphaLUT[a][0], rgb >> 16 & 0xFF) << a;
    ASSERT_EQ(AlphaLUT[a][1], rgb >> 8 & 0xFF) << a;
    ASSERT_EQ(AlphaLUT[a][2], rgb & 0xFF) << a;
  }
  EXPECT_EQ(AlphaLUT[255][0], 0xAB);
}

// ---- character set and metrics -----------------------------------------------------------

TEST(Metrics, CharacterSetAndIndex) {
  int valid = 0;
  for (int c = 0; c < 256; ++c) valid += FM_isValidCharacter(static_cast<uint8_t>(c));
  EXPECT_EQ(valid, 191);
  EXPECT_FALSE(FM_isValidCharacter(0x1F));
  EXPECT_FALSE(FM_isValidCharacter(0x7F));
  EXPECT_FALSE(FM_isValidCharacter(0x9F));
  EXPECT_EQ(FM_CharToIndex(0x20), 0);
  EXPECT_EQ(FM_CharToIndex(0x7E), 94);
  EXPECT_EQ(FM_CharToIndex(0xA0), 95);
  EXPECT_EQ(FM_CharToIndex(0xFF), 190);
  EXPECT_EQ(FM_CharToIndex(0x85), 0);
}

TEST(Metrics, WidthAndHeightCountValidCharactersOnly) {
  BuiltFont tf;
  BuildFont(tf, true);
  EXPECT_EQ(FM_GetStringWidth("AB\x85W\n", &tf.font), 3u + 2u + 10u);
  EXPECT_EQ(FM_GetStringHeight("AB", &tf.font), 2u);
  EXPECT_EQ(FM_GetStringHeight("\n\x85", &tf.font), 0u);
  EXPECT_EQ(FM_GetStringWidth(nullptr, &tf.font), 0u);
  EXPECT_EQ(FM_GetStringWidth("A", nullptr), 0u);
  EXPECT_EQ(FM_GetStringWidth("", &tf.font), 0u);
  FontData empty = tf.font;
  empty.Bitmap = nullptr;
  EXPECT_EQ(FM_GetStringWidth("A", &empty), 0u);
  EXPECT_EQ(FM_GetStringHeight("A", &empty), 0u);
  // The built-in fonts: "..." in font 14 is 15 pixels wide.
  EXPECT_EQ(FM_GetStringWidth("...", &Calibri_14_FontData),
            3 * Calibri_14_FontData.Glyph[FM_CharToIndex('.')].Width);
  EXPECT_EQ(FM_GetStringHeight("Qj", &Calibri_20_FontData), 33u);
}

// ---- compositing -------------------------------------------------------------------------

TEST_F(Render, OneReadBackOneWriteBackAndTheWorkedExample) {
  Paint(13, 5, 0xFF123456);  // the spare column right of the text
  Paint(10, 7, 0xFF654321);  // the spare row below it
  Put(10, 5, 100, "A");
  ASSERT_EQ(Saves().size(), 1u);
  ASSERT_EQ(Restores().size(), 1u);
  EXPECT_EQ(Saves()[0], (Rect{1, 10, 5, 4, 3})) << "one wider and one taller than the text";
  EXPECT_EQ(Restores(), Saves());
  EXPECT_TRUE(Fills().empty()) << "transparent background: no fill";
  EXPECT_EQ(At(10, 5), 0xFF744908u);
  EXPECT_EQ(At(11, 5), 0xFF744908u);
  EXPECT_EQ(At(12, 5), 0xFF744908u);
  EXPECT_EQ(At(10, 6), 0xFFE89211u) << "coverage 255 paints the foreground word";
  EXPECT_EQ(At(11, 6), kBlack) << "coverage 0 leaves the pixel";
  EXPECT_EQ(At(12, 6), 0xFF000000u | FM_AlphaBlendRGB(64, 0xFFE89211, kBlack, 1.0f));
  EXPECT_EQ(At(13, 5), 0xFF123456u) << "the spare column is written back unchanged";
  EXPECT_EQ(At(10, 7), 0xFF654321u) << "the spare row is written back unchanged";
  EXPECT_EQ(At(9, 5), kBlack);
}

// The compressed blob and the raw one (every byte one pixel) draw the same pixels.
TEST_F(Render, RunsContinueAcrossRowsAndGlyphsFollowEdgeToEdge) {
  BuiltFont raw;
  BuildFont(raw, false);
  for (const FontData *font : {&tf.font, &raw.font}) {
    SCOPED_TRACE(font == &raw.font ? "raw" : "compressed");
    Clear();
    Put(0, 0, 100, "BAB", 0xFFE89211, 0, TruncCut, AlignLeft, 1.0f, font);
    // B: row 0 = (0, 255), row 1 = (255, 255), compressed from one run that crosses the row end.
    EXPECT_EQ(At(0, 0), kBlack);
    EXPECT_EQ(At(1, 0), 0xFFE89211u);
    EXPECT_EQ(At(0, 1), 0xFFE89211u);
    EXPECT_EQ(At(1, 1), 0xFFE89211u);
    // A starts at column 2, the second B at 5.
    EXPECT_EQ(At(2, 0), 0xFF744908u);
    EXPECT_EQ(At(2, 1), 0xFFE89211u);
    EXPECT_EQ(At(3, 1), kBlack);
    EXPECT_EQ(At(5, 0), kBlack);
    EXPECT_EQ(At(6, 0), 0xFFE89211u);
    ASSERT_EQ(Saves().size(), 1u);
    EXPECT_EQ(Saves()[0].w, 8u);
  }
}

TEST_F(Render, TransparentBlendUsesEachPixelsOwnBackground) {
  // Equal coverage over three different backgrounds, then two equal ones.
  const uint32_t under[] = {0xFF000000, 0xFF808080, 0xFFFFFFFF};
  for (uint32_t i = 0; i < 3; ++i) Paint(i, 0, under[i]);
  for (uint32_t i = 3; i < 9; ++i) Paint(i, 0, 0xFF204060);
  Put(0, 0, 100, "AAA", 0x80E89211);
  for (uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(At(i, 0), 0x80000000u | FM_AlphaBlendRGB(128, 0x80E89211, under[i], 1.0f)) << i;
  for (uint32_t i = 3; i < 6; ++i)
    EXPECT_EQ(At(i, 0), 0x80000000u | FM_AlphaBlendRGB(128, 0x80E89211, 0xFF204060, 1.0f)) << i;
}

TEST_F(Render, OpaqueBackgroundFillsTheFieldAndBlendsAgainstIt) {
  Put(0, 20, 50, "A", 0xFFE89211, 0xFF303030);
  ASSERT_EQ(Fills(), (std::vector<Rect>{{1, 0, 20, 50, 3, 0xFF303030}})) << "x to maxX, text height + 1";
  EXPECT_EQ(At(49, 22), 0xFF303030u);
  EXPECT_EQ(At(50, 20), kBlack);

  // With a fill that does nothing the screen under the text stays black: partial coverage
  // blends against the background colour, not against the screen.
  Clear();
  Paint(1, 21, 0xFF0000FF);  // under a coverage-0 pixel
  sim::fault(sim::Call::TAP_Osd_FillBox);
  Put(0, 20, 50, "A", 0xFFE89211, 0xFF303030);
  EXPECT_EQ(At(0, 20), 0xFF000000u | FM_AlphaBlendRGB(128, 0xFFE89211, 0xFF303030, 1.0f));
  EXPECT_EQ(At(1, 21), 0xFF0000FFu) << "coverage 0 never changes a pixel";
  EXPECT_EQ(At(0, 21), 0xFFE89211u);
}

TEST_F(Render, FactorNeverTouchesFullCoverage) {
  Put(0, 0, 100, "A", 0xFFE89211, 0, TruncCut, AlignLeft, 0.5f);
  EXPECT_EQ(At(0, 1), 0xFFE89211u);
  EXPECT_EQ(At(0, 0), 0xFF000000u | FM_AlphaBlendRGB(128, 0xFFE89211, kBlack, 0.5f));
  EXPECT_NE(At(0, 0), 0xFF744908u);
}

TEST_F(Render, InvalidOnlyTextReadsBackOnePixel) {
  Paint(7, 3, 0xFF445566);
  Put(7, 3, 40, "\n");
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0], (Rect{1, 7, 3, 1, 1}));
  EXPECT_EQ(Restores().size(), 1u);
  EXPECT_EQ(At(7, 3), 0xFF445566u);
  EXPECT_TRUE(Fills().empty());

  Put(7, 3, 40, "\n", 0xFFFFFFFF, 0xFF101010);
  ASSERT_EQ(Fills().size(), 1u);
  EXPECT_EQ(Fills()[0], (Rect{1, 7, 3, 33, 1, 0xFF101010}));
}

TEST_F(Render, NothingHappensForAbsentInputsOrAnEmptyField) {
  Put(0, 0, 100, nullptr);
  Put(0, 0, 100, "");
  Put(10, 0, 10, "A");
  Put(11, 0, 10, "A");
  FontData noBitmap = tf.font;
  noBitmap.Bitmap = nullptr;
  Put(0, 0, 100, "A", 0xFFFFFFFF, 0, TruncCut, AlignLeft, 1.0f, &noBitmap);
  FM_PutStringAA(1, 0, 0, 100, "A", 0xFFFFFFFF, 0, nullptr, TruncCut, AlignLeft, 1.0f);
  EXPECT_TRUE(NothingDrawn());
}

TEST_F(Render, FailedReadBackEndsTheCallAfterTheFill) {
  sim::fault(sim::Call::TAP_Osd_SaveBox);
  Put(0, 0, 100, "AB", 0xFFFFFFFF, 0xFF202020);
  EXPECT_EQ(sim::calls(sim::Call::TAP_Osd_SaveBox), 1u);
  EXPECT_EQ(Fills().size(), 1u);
  EXPECT_TRUE(Restores().empty());
}

// ---- fitting -----------------------------------------------------------------------------

TEST_F(Render, CutRemovesCharactersFromTheEnd) {
  Put(0, 0, 7, "AAAA");  // 12 wide, room for 7
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].w, 6u + 1u);

  // Every character removed: the empty rest fits and only one pixel is read back.
  Clear();
  Put(0, 0, 2, "AAA");
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0], (Rect{1, 0, 0, 1, 1}));
}

TEST_F(Render, CutStopsAtATrailingCharacterWithoutWidth) {
  Put(0, 0, 7, "AAAA\x85");
  Put(0, 0, 7, "AAAA\n");
  EXPECT_TRUE(NothingDrawn()) << "too wide and ending in an invalid character: not drawn";
  // An invalid character after a valid one is removed on the way.
  Put(0, 0, 7, "AAA\nA");
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].w, 7u);
}

TEST_F(Render, TextThatFitsIsDrawnUnchangedInEveryMode) {
  for (int mode : {0, 1, 2, 3, 200}) {
    Clear();
    Put(0, 0, 7, "AB", 0xFFE89211, 0, static_cast<uint8_t>(mode));
    ASSERT_EQ(Saves().size(), 1u) << int(mode);
    EXPECT_EQ(Saves()[0].w, 6u) << int(mode);
  }
  // An unknown mode draws nothing when the text is one pixel too wide.
  Clear();
  Put(0, 0, 4, "AB", 0xFFE89211, 0, 3);
  EXPECT_TRUE(NothingDrawn());
}

TEST_F(Render, DotsReplaceTheCutCharacters) {
  const struct {
    const char *text;
    uint32_t maxX;
    uint8_t mode;
    const char *shown;
    uint32_t readBack;
  } cases[] = {
      {"AAAAAA", 12, TruncDotsEnd, "AAA...", 9 + 3 + 1},
      {"BBAAB", 10, TruncDotsStart, "...AB", 3 + 5 + 1},  // 12 + 3 wide, room for 10
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.shown);
    Clear();
    Put(0, 0, c.maxX, c.text, 0xFFE89211, 0, c.mode);
    ASSERT_EQ(Saves().size(), 1u);
    EXPECT_EQ(Saves()[0].w, c.readBack);
    ExpectScreenShows(c.shown);
  }
}

TEST_F(Render, DotsAloneMustFit) {
  const FontData *f14 = &Calibri_14_FontData;
  const uint32_t dots = FM_GetStringWidth("...", f14);
  Put(20, 0, 20 + dots - 1, "Quarrow", 0xFFFFFFFF, 0, TruncDotsEnd, AlignLeft, 1.0f, f14);
  Put(20, 0, 20 + dots - 1, "Quarrow", 0xFFFFFFFF, 0, TruncDotsStart, AlignLeft, 1.0f, f14);
  EXPECT_TRUE(NothingDrawn());
  Put(20, 0, 20 + dots, "Quarrow", 0xFFFFFFFF, 0, TruncDotsEnd, AlignLeft, 1.0f, f14);
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].w, dots + 1);
  EXPECT_EQ(Saves()[0].h, 24u);
}

TEST_F(Render, LongTextsAreCutTo255CharactersAndKeepRoomForTheDots) {
  std::string text(300, 'A');
  Put(0, 0, 690, text.c_str(), 0xFFE89211, 0, 3);  // 255 * 3 = 765: too wide, mode 3
  EXPECT_TRUE(NothingDrawn());
  text.assign(300, 'a');  // default glyph: 1 pixel
  Put(0, 0, 690, text.c_str());
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].w, 256u) << "only the first 255 characters";

  // 254 narrow characters and one wide one, one removal short of fitting: the result
  // (254 characters and "...") is longer than 255 characters.
  std::string end(254, 'a');
  end += 'W';
  Clear();
  Put(0, 0, 263, end.c_str(), 0xFFE89211, 0, TruncDotsEnd);
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].w, 254u + 3u + 1u);
  EXPECT_EQ(At(254, 0), kBlack) << "first dot: empty top row";
  EXPECT_EQ(At(256, 1), 0xFFE89211u) << "third dot";

  std::string start = "W" + std::string(254, 'a');
  Clear();
  Put(0, 0, 263, start.c_str(), 0xFFE89211, 0, TruncDotsStart);
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].w, 3u + 254u + 1u);
  EXPECT_EQ(At(0, 0), kBlack);
  EXPECT_EQ(At(0, 1), 0xFFE89211u);
}

// ---- alignment and the region's width ----------------------------------------------------

TEST_F(Render, AlignmentPlacesTheTextInsideTheField) {
  Put(10, 0, 10 + 3 + 101, "A", 0xFFE89211, 0, TruncCut, AlignCenter);
  Put(10, 0, 10 + 3 + 101, "A", 0xFFE89211, 0, TruncCut, AlignRight);
  Put(10, 0, 10 + 3 + 101, "A", 0xFFE89211, 0, TruncCut, 9);
  ASSERT_EQ(Saves().size(), 3u);
  EXPECT_EQ(Saves()[0].x, 60u) << "centred: 50 from x";
  EXPECT_EQ(Saves()[1].x, 111u) << "right: ends at maxX";
  EXPECT_EQ(Saves()[2].x, 10u) << "unknown: left";
  EXPECT_EQ(At(60, 0), 0xFF744908u);
}

TEST_F(Render, FieldIsClampedToTheRegionWidth) {
  const uint16_t narrow = TAP_Osd_Create(0, 100, 100, 10, 0, 0);
  auto put = [&](uint32_t x, uint32_t maxX) { FM_PutStringAA(narrow, x, 0, maxX, "A", 0xFFE89211, 0, &tf.font, TruncCut, AlignRight, 1.0f); };
  // Without the region table maxX is used as given (then not found again).
  sim::fault(sim::Call::dlsym).always().on("_osdInfo");
  EXPECT_EQ(GetOSDRegionWidth(narrow), 0u);
  put(0, 500);
  EXPECT_EQ(Saves().back().x, 497u) << "no table: maxX used as given";
  sim::clear_faults();
  sim::clear_screen_calls();

  EXPECT_EQ(GetOSDRegionWidth(narrow), 100u);
  put(0, 500);
  ASSERT_EQ(Saves().size(), 1u);
  EXPECT_EQ(Saves()[0].x, 99u - 3u) << "maxX becomes width - 1";
  EXPECT_LE(Saves()[0].x + Saves()[0].w, 100u) << "the read-back stays inside";
  // A field that ends inside the region is left alone.
  put(0, 50);
  EXPECT_EQ(Saves()[1].x, 47u);
  // Clamping can leave x past the field: the text then does not fit.
  put(150, 500);
  EXPECT_EQ(Saves().size(), 2u);
}

// ---- the entry the boxes use -------------------------------------------------------------

TEST_F(Render, PutSChoosesTheFontBySizeAndRaisesTheText) {
  const struct {
    uint8_t size;
    const FontData *font;
  } sizes[] = {{10, &Calibri_10_FontData},
               {12, &Calibri_12_FontData},
               {14, &Calibri_14_FontData},
               {16, &Calibri_16_FontData},
               {20, &Calibri_20_FontData}};
  for (const auto &s : sizes) {
    Clear();
    OSDMenuPutS(1, 5, 20, 600, "Hy", 0xFFFFFFFF, 0, s.size, TruncCut, AlignLeft);
    ASSERT_EQ(Saves().size(), 1u) << int(s.size);
    EXPECT_EQ(Saves()[0], (Rect{1, 5, 17, FM_GetStringWidth("Hy", s.font) + 1,
                                   s.font->Glyph[FM_CharToIndex('H')].Height + 1}))
        << int(s.size);
  }
  Clear();
  OSDMenuPutS(1, 5, 20, 600, "Hy", 0xFFFFFFFF, 0, 11, TruncCut, AlignLeft);
  OSDMenuPutS(1, 5, 20, 600, "Hy", 0xFFFFFFFF, 0, 18, TruncCut, AlignLeft);
  EXPECT_TRUE(NothingDrawn());
}

}  // namespace
