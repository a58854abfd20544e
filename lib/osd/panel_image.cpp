#include "lib/osd/panel_image.h"

namespace {

constexpr uint32_t kHeaderSize = 12;

uint32_t Get16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

uint32_t Get32(const uint8_t *p) { return Get16(p) | Get16(p + 2) << 16; }

}  // namespace

bool PanelImageOpen(PanelImage *image, const GraphicRecord &gd) {
  const uint8_t *p = gd.data;
  *image = PanelImage{};
  if (p == nullptr || p[0] != 'Q' || p[1] != 'G' || p[2] != 'D' || p[3] != '1') return false;
  if (Get16(p + 4) != gd.width || Get16(p + 6) != gd.height) return false;
  image->next = p + kHeaderSize;
  image->end = image->next + Get32(p + 8);
  image->pixelsLeft = static_cast<uint32_t>(gd.width) * gd.height;
  return true;
}

bool PanelImageRead(PanelImage *image, uint32_t *out, uint32_t count) {
  if (count > image->pixelsLeft) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (image->runLeft == 0) {
      if (image->end - image->next < 2) return false;
      const uint32_t word = Get16(image->next);
      image->next += 2;
      image->runLeft = word & 0x7FFF;
      image->literal = (word & 0x8000) != 0;
      // A run may not be empty nor give more pixels than the image has.
      if (image->runLeft == 0 || image->runLeft > image->pixelsLeft) return false;
      if (!image->literal) {
        if (image->end - image->next < 4) return false;
        image->value = Get32(image->next);
        image->next += 4;
      } else if (static_cast<uint32_t>(image->end - image->next) / 4 < image->runLeft) {
        return false;
      }
    }
    if (image->literal) {
      out[i] = Get32(image->next);
      image->next += 4;
    } else {
      out[i] = image->value;
    }
    --image->runLeft;
    --image->pixelsLeft;
  }
  return true;
}
