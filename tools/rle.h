// Run-length code of the glyph images: 0x00 and 0xFF come as (value, count 1-255) pairs,
// every other coverage value as one byte. A glyph's code never runs into the next glyph.
#pragma once

#include <cstdint>
#include <vector>

namespace quarrow_tools {

inline std::vector<uint8_t> EncodeRuns(const std::vector<uint8_t> &pixels) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < pixels.size()) {
    uint8_t v = pixels[i];
    if (v != 0x00 && v != 0xFF) {
      out.push_back(v);
      ++i;
      continue;
    }
    size_t n = 1;
    while (i + n < pixels.size() && pixels[i + n] == v && n < 255) ++n;
    out.push_back(v);
    out.push_back(static_cast<uint8_t>(n));
    i += n;
  }
  return out;
}

}  // namespace quarrow_tools
