// Anti-aliased text into an OSD region: one read-back, compositing in memory, one write-back.
#include "lib/font/font.h"

#include <cstring>

#include "host/firmware.h"
#include "host/fis.h"
#include "host/tap.h"
#include "lib/text/text.h"

uint8_t AlphaLUT[256][3];

namespace {

constexpr uint32_t kMaxChars = 255;
// Room for the text, "..." added after a cut that removed fewer than three characters, and
// the terminator.
constexpr uint32_t kCopySize = kMaxChars + 3 + 1;
constexpr char kDots[] = "...";

bool IsOpaque(uint32_t colour) { return (colour & 0xFF000000u) != 0; }

uint32_t CharWidth(uint8_t c, const FontData *font) {
  return FM_isValidCharacter(c) ? font->Glyph[FM_CharToIndex(c)].Width : 0;
}

// Removes characters from the end of the copy until E <= maxX, a character without width
// stops the walk, or nothing is left.
void CutFromEnd(char *copy, uint64_t &E, uint64_t maxX, const FontData *font) {
  uint32_t lastWidth = 0;
  for (size_t i = strlen(copy); i-- > 0;) {
    uint8_t c = static_cast<uint8_t>(copy[i]);
    if (FM_isValidCharacter(c)) {
      lastWidth = CharWidth(c, font);
      E -= lastWidth;
    }
    copy[i] = '\0';
    if (E <= maxX || lastWidth == 0) return;
  }
}

// The same walk from the front, without changing the copy; returns how many characters it
// examined, the one it stopped at included.
int CountFromStart(const char *copy, uint64_t &E, uint64_t maxX, const FontData *font) {
  uint32_t lastWidth = 0;
  int examined = 0;
  for (const char *p = copy; *p; ++p) {
    uint8_t c = static_cast<uint8_t>(*p);
    if (FM_isValidCharacter(c)) {
      lastWidth = CharWidth(c, font);
      E -= lastWidth;
    }
    ++examined;
    if (E <= maxX || lastWidth == 0) break;
  }
  return examined;
}

// Decodes one glyph's coverage values in row order and hands each to the sink.
template <typename Sink>
void DecodeGlyph(const FontData *font, uint8_t index, Sink &&sink) {
  const GlyphInfo &glyph = font->Glyph[index];
  const uint8_t *src = font->Bitmap + (index == 0 ? 0 : glyph.Offset);
  const bool compressed = font->Glyph[0].Offset != 0;
  uint32_t run = 0;
  uint8_t value = 0;
  for (uint32_t r = 0; r < glyph.Height; ++r) {
    for (uint32_t c = 0; c < glyph.Width; ++c) {
      if (run > 0) {
        --run;
      } else {
        value = *src++;
        if (compressed && (value == 0x00 || value == 0xFF)) {
          uint8_t count = *src++;
          run = count > 0 ? count - 1u : 0u;
        }
      }
      sink(r, c, value);
    }
  }
}

}  // namespace

bool FM_isValidCharacter(uint8_t c) { return (c >= 0x20 && c <= 0x7E) || c >= 0xA0; }

uint8_t FM_CharToIndex(uint8_t c) {
  if (c >= 0x20 && c <= 0x7E) return static_cast<uint8_t>(c - 32);
  if (c >= 0xA0) return static_cast<uint8_t>(c - 65);
  return 0;
}

uint8_t FM_AlphaBlend(uint32_t alpha, uint32_t foreground, uint32_t background, float factor) {
  const uint32_t a = alpha & 0xFF, f = foreground & 0xFF, b = background & 0xFF;
  if (a == 0) return static_cast<uint8_t>(b);
  if (a == 255) return static_cast<uint8_t>(f);
  const uint32_t t = ((255 - a) * b + a * f) >> 8;
  const float r = static_cast<float>(t) * factor;
  // Truncation toward zero maps (-1, 256) onto 0..255; anything else (negative, too bright,
  // not a number) saturates, and is never converted, which would be undefined.
  if (!(r > -1.0f && r < 256.0f)) return 255;
  return static_cast<uint8_t>(static_cast<int32_t>(r));
}

uint32_t FM_AlphaBlendRGB(uint32_t alpha, uint32_t foreground, uint32_t background, float factor) {
  const uint32_t red = FM_AlphaBlend(alpha, foreground >> 16, background >> 16, factor);
  const uint32_t green = FM_AlphaBlend(alpha, foreground >> 8, background >> 8, factor);
  const uint32_t blue = FM_AlphaBlend(alpha, foreground, background, factor);
  return red << 16 | green << 8 | blue;
}

void FM_InitAlphaLUT(uint32_t foreground, uint32_t background, float factor) {
  for (uint32_t a = 0; a < 255; ++a) {
    AlphaLUT[a][0] = FM_AlphaBlend(a, foreground >> 16, background >> 16, factor);
    AlphaLUT[a][1] = FM_AlphaBlend(a, foreground >> 8, background >> 8, factor);
    AlphaLUT[a][2] = FM_AlphaBlend(a, foreground, background, factor);
  }
}

uint32_t GetOSDRegionWidth(uint16_t region) {
  const auto *table = static_cast<const OSDRegionEntry *>(FIS_vOsdMap());
  return table ? table[region].width : 0;
}

uint32_t FM_GetStringWidth(const char *text, const FontData *font) {
  if (!text || !font || !font->Bitmap) return 0;
  uint32_t width = 0;
  for (const char *p = text; *p; ++p) width += CharWidth(static_cast<uint8_t>(*p), font);
  return width;
}

uint32_t FM_GetStringHeight(const char *text, const FontData *font) {
  if (!text || !font || !font->Bitmap) return 0;
  uint32_t height = 0;
  for (const char *p = text; *p; ++p) {
    uint8_t c = static_cast<uint8_t>(*p);
    if (FM_isValidCharacter(c) && font->Glyph[FM_CharToIndex(c)].Height > height)
      height = font->Glyph[FM_CharToIndex(c)].Height;
  }
  return height;
}

namespace {

// Shortens the copy by `truncation` when the text drawn from x would end beyond `limit`.
// Returns where the (shortened) text ends; still beyond `limit` when it cannot fit.
uint64_t FitText(char *copy, uint32_t x, uint64_t limit, const FontData *font, uint8_t truncation) {
  // 64-bit so that a field near the end of the coordinate range cannot wrap round.
  uint64_t E = static_cast<uint64_t>(x) + FM_GetStringWidth(copy, font);
  if (E <= limit) return E;
  const uint32_t dotsWidth = FM_GetStringWidth(kDots, font);
  switch (truncation) {
    case TruncCut:
      CutFromEnd(copy, E, limit, font);
      break;
    case TruncDotsEnd:
      E += dotsWidth;
      CutFromEnd(copy, E, limit, font);
      strncat(copy, kDots, kCopySize - 1 - strlen(copy));
      break;
    case TruncDotsStart:
      E += dotsWidth;
      DeleteAt(copy, 0, CountFromStart(copy, E, limit, font));
      InsertAt(copy, 0, kDots, kCopySize);
      break;
    default:
      break;
  }
  return E;
}

// Composites the glyphs of `text` onto `pixels` (the read-back, `stride` pixels a row).
// Over an opaque background the prepared AlphaLUT gives the colours; over a transparent
// one each pixel is blended with what it holds, the last blend remembered for runs.
void BlendGlyphs(uint32_t *pixels, uint32_t stride, const char *text, const FontData *font,
                 uint32_t foreground, bool opaque, float factor) {
  const uint32_t fgAlpha = foreground & 0xFF000000u;
  uint32_t memoAlpha = 0, memoBackground = 0, memoResult = 0;
  uint32_t pen = 0;
  for (const char *p = text; *p; ++p) {
    const uint8_t ch = static_cast<uint8_t>(*p);
    if (!FM_isValidCharacter(ch)) continue;
    const uint8_t index = FM_CharToIndex(ch);
    DecodeGlyph(font, index, [&](uint32_t r, uint32_t c, uint8_t a) {
      if (a == 0) return;
      uint32_t &pixel = pixels[r * stride + pen + c];
      if (a == 255) {
        pixel = foreground;
      } else if (opaque) {
        pixel = fgAlpha | static_cast<uint32_t>(AlphaLUT[a][0]) << 16 |
                static_cast<uint32_t>(AlphaLUT[a][1]) << 8 | AlphaLUT[a][2];
      } else if (a == memoAlpha && pixel == memoBackground) {
        pixel = memoResult;
      } else {
        memoAlpha = a;
        memoBackground = pixel;
        memoResult = fgAlpha | FM_AlphaBlendRGB(a, foreground, pixel, factor);
        pixel = memoResult;
      }
    });
    pen += font->Glyph[index].Width;
  }
}

}  // namespace

void FM_PutStringAA(uint16_t region, uint32_t x, uint32_t y, uint32_t maxX, const char *text,
                    uint32_t foreground, uint32_t background, const FontData *font,
                    uint8_t truncation, uint8_t align, float AntiAliasFactor) {
  if (!text || !*text || !font || !font->Bitmap || x >= maxX) return;

  // Keep the read-back inside the region.
  const uint32_t regionWidth = GetOSDRegionWidth(region);
  if (regionWidth != 0 && maxX >= regionWidth) maxX = regionWidth - 1;

  char copy[kCopySize];
  CopyText(copy, kMaxChars + 1, text);
  const uint64_t limit = maxX;
  const uint64_t E = FitText(copy, x, limit, font, truncation);
  if (E > limit) return;

  const uint32_t H = FM_GetStringHeight(copy, font);
  const uint32_t W = static_cast<uint32_t>(E - x);
  uint32_t D = x;
  if (align == AlignCenter)
    D = x + static_cast<uint32_t>((limit - E) / 2);
  else if (align == AlignRight)
    D = maxX - W;

  const bool opaque = IsOpaque(background);
  if (opaque) {
    TAP_Osd_FillBox(region, x, y, maxX - x, H + 1, background);
    FM_InitAlphaLUT(foreground, background, AntiAliasFactor);
  }

  uint32_t *pixels = TAP_Osd_SaveBox(region, D, y, W + 1, H + 1);
  if (!pixels) return;
  BlendGlyphs(pixels, W + 1, copy, font, foreground, opaque, AntiAliasFactor);
  TAP_Osd_RestoreBox(region, D, y, W + 1, H + 1, pixels);
  TAP_MemFree(pixels);
}

void OSDMenuPutS(uint16_t region, uint32_t x, uint32_t y, uint32_t maxX, const char *text,
                 uint32_t foreground, uint32_t background, uint8_t fontSize, uint8_t truncation,
                 uint8_t align) {
  const FontData *font = nullptr;
  switch (fontSize) {
    case 10: font = &Calibri_10_FontData; break;
    case 12: font = &Calibri_12_FontData; break;
    case 14: font = &Calibri_14_FontData; break;
    case 16: font = &Calibri_16_FontData; break;
    case 20: font = &Calibri_20_FontData; break;
    default: return;
  }
  FM_PutStringAA(region, x, y - 3, maxX, text, foreground, background, font, truncation, align,
                 1.0f);
}
