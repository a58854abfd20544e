// Anti-aliased proportional font renderer with five built-in run-length fonts.
#pragma once

#include <cstdint>

struct GlyphInfo {
  uint32_t Width;
  uint32_t Height;
  uint32_t Offset;  // glyph 0: total blob length (non-zero: compressed)
};
static_assert(sizeof(GlyphInfo) == 12, "glyph info is 12 bytes");

struct FontData {
  const uint8_t *Bitmap;
  GlyphInfo Glyph[191];
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FontData) == 2296, "font record is 2296 bytes on the recorder");
#endif

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

extern uint8_t AlphaLUT[256][3];

void OSDMenuPutS(uint16_t region, uint32_t x, uint32_t y, uint32_t maxX, const char *text,
                 uint32_t foreground, uint32_t background, uint8_t fontSize, uint8_t truncation,
                 uint8_t align);
void FM_PutStringAA(uint16_t region, uint32_t x, uint32_t y, uint32_t maxX, const char *text,
                    uint32_t foreground, uint32_t background, const FontData *font,
                    uint8_t truncation, uint8_t align, float AntiAliasFactor);
uint32_t FM_GetStringWidth(const char *text, const FontData *font);
uint32_t FM_GetStringHeight(const char *text, const FontData *font);
bool FM_isValidCharacter(uint8_t c);
uint8_t FM_CharToIndex(uint8_t c);
uint8_t FM_AlphaBlend(uint32_t alpha, uint32_t foreground, uint32_t background, float factor);
uint32_t FM_AlphaBlendRGB(uint32_t alpha, uint32_t foreground, uint32_t background, float factor);
void FM_InitAlphaLUT(uint32_t foreground, uint32_t background, float factor);
uint32_t GetOSDRegionWidth(uint16_t region);
