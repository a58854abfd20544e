// Font renderer: arbitrary text, field, colours, font, truncation and alignment into a
// region of arbitrary size. Nothing outside the field may change, and the read-back
// buffer always goes back to the host.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "harness.h"
#include "host/tap.h"
#include "lib/font/font.h"

namespace {

const FontData *const kFonts[] = {&Calibri_10_FontData, &Calibri_12_FontData, &Calibri_14_FontData,
                                  &Calibri_16_FontData, &Calibri_20_FontData};
const uint8_t kSizes[] = {10, 12, 14, 16, 20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::reset();
  FuzzedDataProvider in(data, size);
  const uint32_t w = in.ConsumeIntegralInRange<uint32_t>(1, sim::SCREEN_W);
  const uint32_t h = in.ConsumeIntegralInRange<uint32_t>(1, 80);
  const uint16_t region = TAP_Osd_Create(0, 0, w, h, 0, 0);
  FUZZ_CHECK(region != 0);
  const uint32_t paper = 0xFF102030u;
  TAP_Osd_FillBox(region, 0, 0, w, h, paper);

  // Coordinates mostly near the region, sometimes anywhere.
  auto coord = [&in](uint32_t span) {
    return in.ConsumeIntegralInRange(0, 15) == 0 ? in.ConsumeIntegral<uint32_t>()
                                                 : in.ConsumeIntegralInRange<uint32_t>(0, span + 8);
  };
  const uint32_t x = coord(w);
  const uint32_t y = coord(h);
  const uint32_t maxX = coord(w);
  const uint32_t fg = in.ConsumeIntegral<uint32_t>();
  const uint32_t bg = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
  const uint8_t trunc = in.ConsumeIntegralInRange<uint8_t>(0, 4);
  const uint8_t align = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  const size_t font = in.ConsumeIntegralInRange<size_t>(0, 4);
  const bool viaPutS = in.ConsumeBool();
  const float factor = viaPutS ? 1.0f : in.ConsumeFloatingPoint<float>();
  const bool unknownSize = viaPutS && in.ConsumeIntegralInRange(0, 7) == 0;
  std::string text = in.ConsumeRemainingBytesAsString();
  text = text.substr(0, text.find('\0'));

  if (viaPutS) {
    const uint8_t sizeCode = unknownSize ? static_cast<uint8_t>(kSizes[font] + 1) : kSizes[font];
    OSDMenuPutS(region, x, y, maxX, text.c_str(), fg, bg, sizeCode, trunc, align);
  } else {
    FM_PutStringAA(region, x, y, maxX, text.c_str(), fg, bg, kFonts[font], trunc, align, factor);
  }

  FUZZ_CHECK(sim::outstanding_blocks() == 0);

  // Only the field may change: columns x .. maxX (maxX cut to the region) and the rows of
  // one line of text below the top edge.
  int rx, ry, rw, rh;
  std::vector<uint32_t> px;
  FUZZ_CHECK(sim::region(region, &rx, &ry, &rw, &rh, &px));
  const uint64_t top = viaPutS ? static_cast<uint64_t>(static_cast<uint32_t>(y - 3)) : y;
  const uint64_t right = maxX >= w ? w - 1 : maxX;
  const uint64_t height = kFonts[font]->Glyph[0].Height + 1;
  for (uint32_t row = 0; row < h; ++row) {
    for (uint32_t col = 0; col < w; ++col) {
      if (px[static_cast<size_t>(row) * w + col] == paper) continue;
      FUZZ_CHECK(!unknownSize);  // an unknown size draws nothing
      FUZZ_CHECK(col >= x && col <= right && row >= top && row < top + height);
    }
  }
  TAP_Osd_Delete(region);
  return 0;
}
