#include "sim/gd_codec.h"

#include <cstring>

namespace sim::gd {
namespace {

void put16(std::vector<uint8_t> &out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t get32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

constexpr size_t kMaxRun = 0x7FFF;

}  // namespace

std::vector<uint8_t> encode(const uint32_t *pixels, uint16_t width, uint16_t height) {
  const size_t total = static_cast<size_t>(width) * height;
  std::vector<uint8_t> out = {'Q', 'G', 'D', '1'};
  put16(out, width);
  put16(out, height);
  put32(out, 0);  // payload length, filled in below
  auto run_at = [&](size_t i) {
    size_t r = 1;
    while (i + r < total && r < kMaxRun && pixels[i + r] == pixels[i]) ++r;
    return r;
  };
  size_t i = 0;
  while (i < total) {
    const size_t r = run_at(i);
    if (r >= 2) {
      put16(out, static_cast<uint16_t>(r));
      put32(out, pixels[i]);
      i += r;
      continue;
    }
    size_t n = 1;
    while (i + n < total && n < kMaxRun && run_at(i + n) < 2) ++n;
    put16(out, static_cast<uint16_t>(0x8000 | n));
    for (size_t k = 0; k < n; ++k) put32(out, pixels[i + k]);
    i += n;
  }
  const uint32_t payload = static_cast<uint32_t>(out.size() - HEADER_SIZE);
  for (int k = 0; k < 4; ++k) out[8 + k] = static_cast<uint8_t>(payload >> (8 * k));
  return out;
}

size_t blob_size(const uint8_t *data, size_t avail) {
  if (data == nullptr || avail < HEADER_SIZE || std::memcmp(data, "QGD1", 4) != 0) return 0;
  return HEADER_SIZE + get32(data + 8);
}

bool decode(const uint8_t *data, size_t avail, uint16_t width, uint16_t height, std::vector<uint32_t> *pixels) {
  const size_t size = blob_size(data, avail);
  if (size == 0 || size > avail || get16(data + 4) != width || get16(data + 6) != height) return false;
  const size_t total = static_cast<size_t>(width) * height;
  pixels->assign(total, 0);
  const uint8_t *p = data + HEADER_SIZE;
  const uint8_t *end = data + size;
  size_t i = 0;
  while (i < total) {
    if (end - p < 2) return false;
    const uint16_t word = get16(p);
    p += 2;
    const size_t n = word & 0x7FFF;
    if (n == 0 || n > total - i) return false;
    if ((word & 0x8000) == 0) {
      if (end - p < 4) return false;
      const uint32_t v = get32(p);
      p += 4;
      for (size_t k = 0; k < n; ++k) (*pixels)[i++] = v;
    } else {
      if (static_cast<size_t>(end - p) < 4 * n) return false;
      for (size_t k = 0; k < n; ++k, p += 4) (*pixels)[i++] = get32(p);
    }
  }
  return p == end;
}

}  // namespace sim::gd
