// Run-length code of the glyph images: 0x00 and 0xFF come as (value, count 1-255) pairs,
// every other coverage value as one byte. A glyph's code never runs into the next glyph.
#pragma once

#include <cstdint>
#include <limits>
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

// Inverse of EncodeRuns for one glyph of `count` pixels; false on a malformed code.
inline bool DecodeRuns(const std::vector<uint8_t> &code, size_t count, std::vector<uint8_t> &pixels) {
  pixels.clear();
  size_t i = 0;
  while (pixels.size() < count) {
    if (i >= code.size()) return false;
    uint8_t v = code[i++];
    size_t n = 1;
    if (v == 0x00 || v == 0xFF) {
      if (i >= code.size() || code[i] == 0) return false;
      n = code[i++];
    }
    if (pixels.size() + n > count) return false;
    pixels.insert(pixels.end(), n, v);
  }
  return i == code.size();
}

// Chooses for every pixel a value in [lo[i], hi[i]] such that EncodeRuns gives the
// shortest code; among the shortest, the one that changes fewest pixels from `wanted`.
// Only the kind of value matters to the code (0x00, 0xFF or one of the others), so a
// changed pixel takes the value of its new kind nearest to the wanted one.
inline std::vector<uint8_t> FitRuns(const std::vector<uint8_t> &wanted, const std::vector<uint8_t> &lo,
                                    const std::vector<uint8_t> &hi) {
  // State after a pixel: 0 when it was a one-byte value, else the open run of 0x00
  // (1..255, its length) or of 0xFF (256..510).
  constexpr int kStates = 511;
  struct Cost {
    long bytes = std::numeric_limits<long>::max() / 2;
    long changes = 0;
    bool operator<(const Cost &o) const { return bytes != o.bytes ? bytes < o.bytes : changes < o.changes; }
  };
  const size_t n = wanted.size();
  std::vector<Cost> cost(kStates), next(kStates);
  std::vector<int16_t> from(n * kStates, -1);  // state before pixel i, per state after it
  std::vector<uint8_t> value(n * kStates, 0);  // value pixel i took to reach that state
  cost[0] = Cost{0, 0};
  for (size_t i = 0; i < n; ++i) {
    const uint8_t w = wanted[i];
    uint8_t options[3];
    int count = 0;
    options[count++] = w;
    if (w != 0x00 && lo[i] == 0x00) options[count++] = 0x00;
    if (w != 0xFF && hi[i] == 0xFF) options[count++] = 0xFF;
    if (w == 0x00 && hi[i] >= 1) options[count++] = 1;
    if (w == 0xFF && lo[i] <= 254) options[count++] = 254;
    std::fill(next.begin(), next.end(), Cost{});
    for (int s = 0; s < kStates; ++s) {
      if (cost[s].bytes >= std::numeric_limits<long>::max() / 2) continue;
      for (int k = 0; k < count; ++k) {
        const uint8_t v = options[k];
        Cost c = cost[s];
        c.changes += v != w;
        int t = 0;
        if (v == 0x00 || v == 0xFF) {
          const int base = v == 0x00 ? 0 : 255;
          const bool extends = s > base && s <= base + 254;  // same run, room for one more
          t = extends ? s + 1 : base + 1;
          if (!extends) c.bytes += 2;
        } else {
          c.bytes += 1;
        }
        if (c < next[t]) {
          next[t] = c;
          from[i * kStates + t] = static_cast<int16_t>(s);
          value[i * kStates + t] = v;
        }
      }
    }
    cost.swap(next);
  }
  int best = 0;
  for (int s = 1; s < kStates; ++s)
    if (cost[s] < cost[best]) best = s;
  std::vector<uint8_t> out(n);
  for (size_t i = n; i-- > 0;) {
    out[i] = value[i * kStates + best];
    best = from[i * kStates + best];
  }
  return out;
}

}  // namespace quarrow_tools
