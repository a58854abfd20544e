// The module's own compressed image format for its panel graphics, read a few pixels at a
// time. The firmware never sees this data: the box writes the decoded ARGB words with
// TAP_Osd_RestoreBox, the one pixel format the platform defines.
//
//   header (12 bytes, little-endian): "QGD1", width u16, height u16, payload length u32
//   payload: runs until width * height pixels are given, each starting with a u16 word n:
//     bit 15 clear: n (1..32767) copies of the ARGB u32 that follows
//     bit 15 set:   n & 0x7FFF (1..32767) ARGB u32 pixels follow as they are
//   Pixels go row by row, top to bottom; a run may continue into the next row.
//
// tools/panelgen writes it (the simulator's codec uses the same run code) and checks that
// this reader gives its pictures back.
#pragma once

#include <cstdint>

#include "host/tap.h"

struct PanelImage {
  const uint8_t *next;  // the next run's word, or inside a literal run
  const uint8_t *end;   // end of the payload
  uint32_t runLeft;     // pixels left in the current run
  uint32_t value;       // the repeated pixel of a repeat run
  bool literal;
  uint32_t pixelsLeft;  // pixels left in the whole image
};

// Starts reading the image of `gd`; false when its data is not an image of the record's
// width and height.
bool PanelImageOpen(PanelImage *image, const GraphicRecord &gd);

// The next `count` pixels, row by row, into `out`; false when the data ends before them or
// is malformed (what was read up to there is in `out`).
bool PanelImageRead(PanelImage *image, uint32_t *out, uint32_t count);

// `src` over `dst` by src's alpha a: each colour channel (s * a + d * (255 - a)) / 255
// rounded, alpha a + d * (255 - a) / 255 alike; so alpha 255 gives src and alpha 0 dst
// exactly, and over an opaque pixel the result is opaque.
constexpr uint32_t PanelBlend(uint32_t src, uint32_t dst) {
  const uint32_t a = src >> 24;
  uint32_t out = 0;
  for (uint32_t shift = 0; shift < 32; shift += 8) {
    const uint32_t s = shift == 24 ? 255 : (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
  }
  return out;
}
