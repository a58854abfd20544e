// Anti-aliased proportional font renderer with five built-in run-length fonts.
#pragma once

#include <cstdint>

// Glyphs of the characters 0x20-0x7E and 0xA0-0xFF, in that order (FM_CharToIndex).
struct GlyphInfo {
  uint32_t Width;
  uint32_t Height;
  uint32_t Offset;  // glyph 0: total blob length (non-zero: compressed)
};
static_assert(sizeof(GlyphInfo) == 12, "glyph info is 12 bytes");

struct FontData {
  const uint8_t *Bitmap;  // coverage bytes of every glyph; run-length coded when compressed
  GlyphInfo Glyph[191];
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FontData) == 2296, "font record is 2296 bytes on the recorder");
#endif

// The five built-in fonts (constant data), by nominal size; OSDMenuPutS selects them.
extern const FontData Calibri_10_FontData;
extern const FontData Calibri_12_FontData;
extern const FontData Calibri_14_FontData;
extern const FontData Calibri_16_FontData;
extern const FontData Calibri_20_FontData;
extern const uint8_t Calibri_10_Bitmap_compressed[];
extern const uint8_t Calibri_12_Bitmap_compressed[];
extern const uint8_t Calibri_14_Bitmap_compressed[];
extern const uint8_t Calibri_16_Bitmap_compressed[];
extern const uint8_t Calibri_20_Bitmap_compressed[];

enum : uint8_t { TruncCut = 0, TruncDotsEnd = 1, TruncDotsStart = 2 };
enum : uint8_t { AlignLeft = 0, AlignCenter = 1, AlignRight = 2 };

// Red, green, blue of the foreground over an opaque background at coverage 0-254 (255 is
// never written); rebuilt by each draw on an opaque background, valid only during it.
extern uint8_t AlphaLUT[256][3];

// FM_PutStringAA with the font of nominal size 10, 12, 14, 16 or 20 (any other draws
// nothing), y - 3 for y (unsigned: wraps below 3) and factor 1.0.
void OSDMenuPutS(uint16_t region, uint32_t x, uint32_t y, uint32_t maxX, const char *text,
                 uint32_t foreground, uint32_t background, uint8_t fontSize, uint8_t truncation,
                 uint8_t align);
// Draws the first 255 characters of `text` anti-aliased between x and maxX (kept inside the
// region), cut or dotted to fit and aligned; an opaque background fills the field first.
// Draws nothing, unreported, for no text or font, x >= maxX, a text that cannot be fitted,
// or a failed read-back of the region's pixels.
void FM_PutStringAA(uint16_t region, uint32_t x, uint32_t y, uint32_t maxX, const char *text,
                    uint32_t foreground, uint32_t background, const FontData *font,
                    uint8_t truncation, uint8_t align, float AntiAliasFactor);
// Sum of the glyph widths, resp. the tallest glyph's height; invalid characters count 0,
// and so does a missing text or font.
uint32_t FM_GetStringWidth(const char *text, const FontData *font);
uint32_t FM_GetStringHeight(const char *text, const FontData *font);
// True for a character that has a glyph: 0x20-0x7E and 0xA0-0xFF.
bool FM_isValidCharacter(uint8_t c);
// The glyph index of a valid character; 0 (the blank's) for any other.
uint8_t FM_CharToIndex(uint8_t c);
// One channel (low bytes) of foreground over background at coverage `alpha`, scaled by
// `factor` except at coverage 0 and 255; 256 or more, -1 or less, or no number gives 255.
uint8_t FM_AlphaBlend(uint32_t alpha, uint32_t foreground, uint32_t background, float factor);
// FM_AlphaBlend on red, green and blue; the alpha byte of the result is 0.
uint32_t FM_AlphaBlendRGB(uint32_t alpha, uint32_t foreground, uint32_t background, float factor);
// Fills AlphaLUT entries 0-254 for these colours.
void FM_InitAlphaLUT(uint32_t foreground, uint32_t background, float factor);
// The region's width from the firmware's region table; 0 when the table cannot be found.
uint32_t GetOSDRegionWidth(uint16_t region);
