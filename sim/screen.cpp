// The screen: regions composited in creation order over a background picture, and the
// firmware's region table.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "host/firmware.h"
#include "sim/gd_codec.h"
#include "sim/internal.h"

#ifdef QUARROW_SIM_HAVE_PNG
#include <png.h>
#endif

namespace {
constexpr int REGION_SLOTS = 32;  // _osdInfo entries; region handles 1 .. REGION_SLOTS-1
}  // namespace

// The firmware's region table, indexed by handle.
extern "C" {
OSDRegionEntry _osdInfo[REGION_SLOTS];
}

namespace sim::detail {
namespace {

struct Region {
  int x = 0, y = 0, w = 0, h = 0;
  uint64_t order = 0;  // creation order, compositing order
  std::vector<uint32_t> px;
};

struct Screen {
  std::map<uint16_t, Region> regions;
  uint64_t region_order = 0;
  bool normal_mode = true;
  std::vector<std::string> calls;
} osd;

// The call as the log shows it; `suffix` marks a refusal.
__attribute__((format(printf, 2, 3))) void log_call(const char *suffix, const char *format, ...) {
  char text[160];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  osd.calls.push_back(std::string(text) + suffix);
}

Region *find_region(uint16_t handle) {
  auto it = osd.regions.find(handle);
  return it == osd.regions.end() ? nullptr : &it->second;
}

uint32_t blend(uint32_t src, uint32_t dst) {
  const uint32_t a = src >> 24;
  if (a == 255) return src | 0xFF000000u;
  if (a == 0) return dst;
  uint32_t out = 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
  }
  return out;
}

std::vector<uint32_t> make_background() {
  std::vector<uint32_t> px(static_cast<size_t>(SCREEN_W) * SCREEN_H);
  auto rgb = [](double r, double g, double b) {
    auto c = [](double v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return 0xFF000000u | c(r) << 16 | c(g) << 8 | c(b);
  };
  for (int y = 0; y < SCREEN_H; ++y) {
    for (int x = 0; x < SCREEN_W; ++x) {
      const double t = static_cast<double>(y) / static_cast<double>(SCREEN_H);
      uint32_t c = rgb(40 + 120 * t, 80 + 110 * t, 160 + 80 * t);  // sky
      const double dx = x - 560.0, dy = y - 110.0;
      if (dx * dx + dy * dy < 55.0 * 55.0) c = rgb(250, 220 - dy * 0.3, 90);  // sun
      const double hill = 400 + 40 * std::sin(x / 90.0) + 25 * std::sin(x / 37.0 + 1.0);
      if (y > hill) c = rgb(40 + 30 * std::sin(x / 13.0), 120 - (y - hill) * 0.15, 50);  // meadow
      if (x >= 90 && x < 250 && y >= 300 && y < 430) c = rgb(170, 60, 50);             // house
      if (x >= 140 && x < 190 && y >= 370 && y < 430) c = rgb(70, 40, 30);             // door
      if (y >= 250 && y < 300 && std::abs(x - 170) < (y - 250) * 1.6)
        c = rgb(90, 40, 40);  // roof
      px[static_cast<size_t>(y) * SCREEN_W + x] = c;
    }
  }
  return px;
}

}  // namespace

void reset_screen() {
  osd = Screen{};
  std::memset(_osdInfo, 0, sizeof _osdInfo);
}

uint16_t impl_TAP_Osd_Create(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t lut, int flag) {
  if (const Verdict v = decide(Call::TAP_Osd_Create)) return v.result<uint16_t>(0);
  Screen &s = osd;
  uint16_t handle = 0;
  if (w > 0 && h > 0 && x < SCREEN_W && y < SCREEN_H && w <= SCREEN_W - x && h <= SCREEN_H - y) {
    for (uint16_t i = 1; i < REGION_SLOTS; ++i) {
      if (s.regions.count(i) == 0) {
        handle = i;
        break;
      }
    }
  }
  if (handle != 0) {
    // Content fully transparent; the region table holds its place.
    s.regions[handle] = Region{static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h),
                               ++s.region_order, std::vector<uint32_t>(static_cast<size_t>(w) * h, 0)};
    _osdInfo[handle] = OSDRegionEntry{static_cast<uint16_t>(x), static_cast<uint16_t>(y), static_cast<uint16_t>(w), {}};
  }
  log_call("", "Osd_Create(%u,%u,%u,%u,%u,%d)=%u", x, y, w, h, lut, flag, handle);
  return handle;
}

int impl_TAP_Osd_Delete(uint16_t region) {
  if (const Verdict v = decide(Call::TAP_Osd_Delete)) return v.result(-1);
  log_call("", "Osd_Delete(%u)", region);
  if (osd.regions.erase(region) == 0) return -1;
  _osdInfo[region] = OSDRegionEntry{};
  return 0;
}

int impl_TAP_Osd_FillBox(uint16_t region, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t color) {
  if (const Verdict v = decide(Call::TAP_Osd_FillBox)) return v.result(-1);
  log_call("", "Osd_FillBox(%u,%u,%u,%u,%u,0x%08X)", region, x, y, w, h, color);
  Region *r = find_region(region);
  if (r == nullptr) return -1;
  // Clipped to the region.
  const uint64_t x1 = std::min<uint64_t>(static_cast<uint64_t>(x) + w, static_cast<uint64_t>(r->w));
  const uint64_t y1 = std::min<uint64_t>(static_cast<uint64_t>(y) + h, static_cast<uint64_t>(r->h));
  for (uint64_t yy = y; yy < y1; ++yy)
    for (uint64_t xx = x; xx < x1; ++xx) r->px[yy * static_cast<uint64_t>(r->w) + xx] = color;
  return 0;
}

int impl_TAP_Osd_PutGd(uint16_t region, int x, int y, const GraphicRecord *gd, int sprite) {
  if (const Verdict v = decide(Call::TAP_Osd_PutGd)) return v.result(-1);
  Region *r = find_region(region);
  std::vector<uint32_t> pixels;
  const bool good =
      gd != nullptr && gd->format[0] == 1 && gd->format[1] == 0 && gd->format[2] == 1 && gd->format[3] == 2 &&
      gd->size == static_cast<uint32_t>(gd->width) * gd->height * 4 &&
      gd::decode(gd->data, gd::blob_size(gd->data, gd::HEADER_SIZE), gd->width, gd->height, &pixels);
  log_call(r == nullptr || !good ? "=error" : "", "Osd_PutGd(%u,%d,%d,%ux%u,%d)", region, x, y,
           gd != nullptr ? gd->width : 0u, gd != nullptr ? gd->height : 0u, sprite);
  if (r == nullptr || !good) return -1;
  for (int gy = 0; gy < gd->height; ++gy) {
    const int ry = y + gy;
    if (ry < 0 || ry >= r->h) continue;
    for (int gx = 0; gx < gd->width; ++gx) {
      const int rx = x + gx;
      if (rx < 0 || rx >= r->w) continue;
      const uint32_t p = pixels[static_cast<size_t>(gy) * gd->width + gx];
      uint32_t &dst = r->px[static_cast<size_t>(ry) * r->w + rx];
      // A sprite blends over what is there; otherwise the pixels are copied.
      if (sprite == 0) {
        dst = p;
      } else if ((p >> 24) != 0) {
        const uint32_t keep = dst >> 24;
        dst = (blend(p, dst) & 0x00FFFFFFu) | ((std::max(keep, p >> 24)) << 24);
      }
    }
  }
  return 0;
}

uint32_t *impl_TAP_Osd_SaveBox(uint16_t region, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  if (const Verdict v = decide(Call::TAP_Osd_SaveBox)) return reinterpret_cast<uint32_t *>(v.result<uintptr_t>(0));
  Region *r = find_region(region);
  // The whole box must lie inside the region.
  const bool inside = r != nullptr && w != 0 && h != 0 && static_cast<uint64_t>(x) + w <= static_cast<uint64_t>(r->w) &&
                      static_cast<uint64_t>(y) + h <= static_cast<uint64_t>(r->h);
  auto *block = inside ? static_cast<uint32_t *>(counted_alloc(w * h * 4)) : nullptr;
  log_call(block == nullptr ? "=null" : "", "Osd_SaveBox(%u,%u,%u,%u,%u)", region, x, y, w, h);
  if (block == nullptr) return nullptr;
  for (uint32_t row = 0; row < h; ++row)
    std::memcpy(block + static_cast<size_t>(row) * w, &r->px[static_cast<size_t>(y + row) * r->w + x], w * 4u);
  return block;
}

void impl_TAP_Osd_RestoreBox(uint16_t region, uint32_t x, uint32_t y, uint32_t w, uint32_t h, const void *data) {
  if (decide(Call::TAP_Osd_RestoreBox)) return;
  log_call("", "Osd_RestoreBox(%u,%u,%u,%u,%u)", region, x, y, w, h);
  Region *r = find_region(region);
  if (r == nullptr || data == nullptr) return;
  const auto *src = static_cast<const uint32_t *>(data);
  // Pixels falling outside the region are dropped.
  for (uint64_t row = 0; row < h && y + row < static_cast<uint64_t>(r->h); ++row)
    for (uint64_t col = 0; col < w && x + col < static_cast<uint64_t>(r->w); ++col)
      r->px[(y + row) * static_cast<uint64_t>(r->w) + x + col] = src[row * w + col];
}

int impl_TAP_Osd_Sync(void) {
  if (const Verdict v = decide(Call::TAP_Osd_Sync)) return v.result(0);
  log_call("", "Osd_Sync");
  return 0;
}

int impl_TAP_ExitNormal(void) {
  if (const Verdict v = decide(Call::TAP_ExitNormal)) return v.result(0);
  log_call("", "ExitNormal");
  osd.normal_mode = false;
  return 0;
}

int impl_TAP_EnterNormal(void) {
  if (const Verdict v = decide(Call::TAP_EnterNormal)) return v.result(0);
  log_call("", "EnterNormal");
  osd.normal_mode = true;
  return 0;
}

}  // namespace sim::detail

namespace sim {
using namespace sim::detail;

std::vector<uint32_t> screen() {
  std::vector<uint32_t> px = background();
  std::vector<const Region *> order;
  for (const auto &kv : osd.regions) order.push_back(&kv.second);
  std::sort(order.begin(), order.end(), [](const Region *a, const Region *b) { return a->order < b->order; });
  for (const Region *r : order)
    for (int y = 0; y < r->h; ++y)
      for (int x = 0; x < r->w; ++x) {
        uint32_t &dst = px[static_cast<size_t>(r->y + y) * SCREEN_W + r->x + x];
        dst = blend(r->px[static_cast<size_t>(y) * r->w + x], dst);
      }
  return px;
}

bool save_png(const std::string &path) {
#ifdef QUARROW_SIM_HAVE_PNG
  const std::vector<uint32_t> px = screen();
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, SCREEN_W, SCREEN_H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(SCREEN_W * 3);
  for (int y = 0; y < SCREEN_H; ++y) {
    for (int x = 0; x < SCREEN_W; ++x) {
      const uint32_t p = px[static_cast<size_t>(y) * SCREEN_W + x];
      row[x * 3] = static_cast<png_byte>(p >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
#else
  (void)path;
  return false;
#endif
}

bool png_supported() {
#ifdef QUARROW_SIM_HAVE_PNG
  return true;
#else
  return false;
#endif
}

bool in_normal_mode() { return osd.normal_mode; }
int open_regions() { return static_cast<int>(osd.regions.size()); }
const std::vector<std::string> &screen_calls() { return osd.calls; }
void clear_screen_calls() { osd.calls.clear(); }

bool region(uint16_t handle, int *x, int *y, int *w, int *h, std::vector<uint32_t> *pixels) {
  const Region *r = find_region(handle);
  if (r == nullptr) return false;
  if (x) *x = r->x;
  if (y) *y = r->y;
  if (w) *w = r->w;
  if (h) *h = r->h;
  if (pixels) *pixels = r->px;
  return true;
}

const std::vector<uint32_t> &background() {
  static const std::vector<uint32_t> bg = make_background();
  return bg;
}

}  // namespace sim
