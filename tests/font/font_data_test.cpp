// The generated fonts: metrics inside their ranges, run-length code that decodes to exactly
// one glyph image per glyph, and glyphs that share one baseline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/font/font.h"

namespace {

struct FontCase {
  const char *name;
  const FontData *font;
  uint32_t height;
  uint32_t minWidth;
  uint32_t maxWidth;
};

const FontCase kFonts[] = {
    {"10", &Calibri_10_FontData, 15, 3, 12}, {"12", &Calibri_12_FontData, 19, 4, 14},
    {"14", &Calibri_14_FontData, 23, 4, 17}, {"16", &Calibri_16_FontData, 26, 5, 19},
    {"20", &Calibri_20_FontData, 33, 6, 24},
};

// Glyph index of a printable character (worked out here, not taken from the renderer, so that
// this test needs only the data).
uint8_t Index(unsigned char c) { return static_cast<uint8_t>(c <= 0x7E ? c - 32 : c - 65); }

// Decodes one glyph strictly: fails when a run would run past the glyph's last pixel or a
// count byte is 0. Returns the number of blob bytes consumed.
size_t DecodeStrict(const uint8_t *src, uint32_t pixels, std::vector<uint8_t> &out,
                    std::string &error) {
  out.clear();
  size_t used = 0;
  while (out.size() < pixels) {
    uint8_t v = src[used++];
    uint32_t n = 1;
    if (v == 0x00 || v == 0xFF) {
      n = src[used++];
      if (n == 0) {
        error = "run with count 0";
        return used;
      }
    }
    if (out.size() + n > pixels) {
      error = "run crosses the end of the glyph";
      return used;
    }
    out.insert(out.end(), n, v);
  }
  return used;
}

// Lowest and highest row holding ink, or -1 when the glyph is blank.
std::pair<int, int> InkRows(const std::vector<uint8_t> &px, uint32_t w, uint32_t h) {
  int top = -1, bottom = -1;
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c)
      if (px[r * w + c] >= 128) {
        if (top < 0) top = static_cast<int>(r);
        bottom = static_cast<int>(r);
      }
  return {top, bottom};
}

std::vector<uint8_t> Glyph(const FontData &f, unsigned char ch) {
  uint8_t g = Index(ch);
  std::vector<uint8_t> px;
  std::string error;
  DecodeStrict(f.Bitmap + (g == 0 ? 0 : f.Glyph[g].Offset), f.Glyph[g].Width * f.Glyph[g].Height,
               px, error);
  return px;
}

TEST(FontData, MetricsAreInsideTheirRanges) {
  for (const FontCase &fc : kFonts) {
    SCOPED_TRACE(fc.name);
    ASSERT_NE(fc.font->Bitmap, nullptr);
    uint32_t narrowest = UINT32_MAX, widest = 0;
    for (int g = 0; g < 191; ++g) {
      const GlyphInfo &gi = fc.font->Glyph[g];
      EXPECT_EQ(gi.Height, fc.height) << "glyph " << g;
      EXPECT_GE(gi.Width, fc.minWidth) << "glyph " << g;
      EXPECT_LE(gi.Width, fc.maxWidth) << "glyph " << g;
      narrowest = std::min(narrowest, gi.Width);
      widest = std::max(widest, gi.Width);
    }
    // A proportional font: the sizes must actually vary.
    EXPECT_LT(narrowest, widest);
  }
}

TEST(FontData, RunLengthCodeDecodesGlyphByGlyphAndGlyphZeroCarriesTheLength) {
  for (const FontCase &fc : kFonts) {
    SCOPED_TRACE(fc.name);
    const FontData &f = *fc.font;
    const uint32_t blobLength = f.Glyph[0].Offset;
    ASSERT_NE(blobLength, 0u) << "fonts are compressed";
    size_t pos = 0;
    std::vector<uint8_t> px;
    for (int g = 0; g < 191; ++g) {
      // Glyphs lie back to back in index order, each starting with a fresh code.
      if (g > 0) {
        EXPECT_EQ(f.Glyph[g].Offset, pos) << "glyph " << g;
      }
      ASSERT_LT(pos, blobLength) << "glyph " << g << " starts past the blob";
      std::string error;
      pos += DecodeStrict(f.Bitmap + pos, f.Glyph[g].Width * f.Glyph[g].Height, px, error);
      ASSERT_EQ(error, "") << "glyph " << g;
      ASSERT_LE(pos, blobLength) << "glyph " << g << " ends past the blob";
    }
    EXPECT_EQ(pos, blobLength) << "the last glyph ends where the blob ends";
  }
}

TEST(FontData, FiveImagesTogetherStayWithinTheirBudget) {
  // The generator fits each image to the code (a lone 0x00 or 0xFF stored as 0x01 or 0xFE
  // saves a byte); coded plainly the same render takes 93,030 bytes.
  constexpr uint32_t kBudget = 85057;
  uint32_t total = 0;
  for (const FontCase &fc : kFonts) total += fc.font->Glyph[0].Offset;
  EXPECT_LE(total, kBudget);
}

TEST(FontData, EveryVisibleCharacterHasInkAndSpacesHaveNone) {
  for (const FontCase &fc : kFonts) {
    SCOPED_TRACE(fc.name);
    for (int c = 0x20; c <= 0xFF; ++c) {
      if (c > 0x7E && c < 0xA0) continue;
      std::vector<uint8_t> px = Glyph(*fc.font, static_cast<unsigned char>(c));
      bool ink = false;
      for (uint8_t v : px) ink = ink || v != 0;
      const bool space = c == 0x20 || c == 0xA0;
      EXPECT_EQ(ink, !space) << "character " << c;
    }
  }
}

TEST(FontData, GlyphsShareOneBaselineAndCapHeight) {
  for (const FontCase &fc : kFonts) {
    SCOPED_TRACE(fc.name);
    const FontData &f = *fc.font;
    const uint32_t h = fc.height;
    auto rows = [&](unsigned char c) { return InkRows(Glyph(f, c), f.Glyph[Index(c)].Width, h); };
    auto [hTop, hBottom] = rows('H');
    for (unsigned char c : {'E', 'x', 'n', 'z', 'L', '\xC4' /* A diaeresis */}) {
      EXPECT_EQ(rows(c).second, hBottom) << "baseline of " << c;
    }
    EXPECT_EQ(rows('E').first, hTop);
    // Descenders go below the baseline, accents above the capitals, all inside the line.
    EXPECT_GT(rows('g').second, hBottom);
    EXPECT_LT(rows(0xC4u).first, hTop);
    EXPECT_GT(hTop, 0);
    EXPECT_LT(rows('g').second, static_cast<int>(h));
    // The line grows with the nominal size.
    if (&fc != &kFonts[0]) {
      const FontCase &smaller = (&fc)[-1];
      EXPECT_GT(f.Glyph[Index('M')].Width, smaller.font->Glyph[Index('M')].Width);
    }
  }
}

}  // namespace
