// panelgen: draws the message-box panel (380 x 190) and the selected-button highlight
// (100 x 25) and writes them, in the module's own image format (lib/osd/panel_image.h), as
// the graphic records of lib/osd/.
//
//   panelgen OUT.cpp
//
// Host tool; its output is committed and the module build never runs it. See tools/README.md.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "lib/osd/panel_image.h"
#include "sim/gd_codec.h"

namespace {

constexpr int kPanelW = 380, kPanelH = 190;
constexpr int kButtonW = 100, kButtonH = 25;
constexpr int kButtonY = 120;  // the row of buttons inside the panel

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

uint32_t Word(Rgb c) {
  auto ch = [](double v) { return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return 0xFF000000u | ch(c.r) << 16 | ch(c.g) << 8 | ch(c.b);
}

Rgb FromWord(uint32_t w) {
  return {static_cast<double>(w >> 16 & 0xFF), static_cast<double>(w >> 8 & 0xFF),
          static_cast<double>(w & 0xFF)};
}

// Panel colours depend on the row only, so a highlight drawn anywhere along a row can blend
// its rounded corners into the panel exactly.
constexpr int kTitleBandEnd = 36;  // title text sits at rows 7..29
Rgb PanelFill(int y) {
  if (y < kTitleBandEnd) return Mix({52, 59, 74}, {40, 46, 58}, y / double(kTitleBandEnd));
  if (y == kTitleBandEnd) return {232, 146, 17};          // thin accent line under the title
  if (y == kTitleBandEnd + 1) return {16, 18, 23};
  return Mix({34, 38, 47}, {20, 22, 28}, (y - kTitleBandEnd) / double(kPanelH - kTitleBandEnd));
}

std::vector<uint32_t> DrawPanel() {
  std::vector<uint32_t> px(kPanelW * kPanelH);
  const Rgb outer{110, 120, 140}, inner{12, 13, 17};
  for (int y = 0; y < kPanelH; ++y)
    for (int x = 0; x < kPanelW; ++x) {
      int edge = std::min({x, y, kPanelW - 1 - x, kPanelH - 1 - y});
      Rgb c = edge == 0 ? outer : edge == 1 ? inner : PanelFill(y);
      // The accent line fades out before the border.
      if (y == kTitleBandEnd && edge >= 2) {
        double fade = std::min(1.0, (std::min(x, kPanelW - 1 - x) - 2) / 60.0);
        c = Mix(PanelFill(kTitleBandEnd - 1), c, fade);
      }
      px[y * kPanelW + x] = Word(c);
    }
  return px;
}

// Coverage of pixel (x, y) by a rounded rectangle of the given size and corner radius,
// sampled 4 x 4 for smooth corners.
double RoundRectCoverage(int x, int y, int w, int h, double radius) {
  int inside = 0;
  for (int sy = 0; sy < 4; ++sy)
    for (int sx = 0; sx < 4; ++sx) {
      double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
      double cx = std::clamp(px, radius, w - radius), cy = std::clamp(py, radius, h - radius);
      double dx = px - cx, dy = py - cy;
      inside += dx * dx + dy * dy <= radius * radius;
    }
  return inside / 16.0;
}

// The highlight carries its rounded edge as alpha, which the module blends over the panel
// (PanelBlend). Each edge pixel gets the alpha nearest its coverage, and the colour, for
// which that blend over the panel gives exactly the pixel of the shape mixed into the panel
// by its coverage; false when some pixel has no such pair.
bool DrawHighlight(std::vector<uint32_t> *out) {
  std::vector<uint32_t> &px = *out;
  px.assign(kButtonW * kButtonH, 0);
  const Rgb top{255, 214, 120}, bottom{226, 150, 40}, rim{150, 92, 12};
  for (int y = 0; y < kButtonH; ++y)
    for (int x = 0; x < kButtonW; ++x) {
      double outerCov = RoundRectCoverage(x, y, kButtonW, kButtonH, 5.0);
      // A one-pixel rim: the part of the shape not covered by the shape inset by one pixel.
      double innerCov = RoundRectCoverage(x - 1, y - 1, kButtonW - 2, kButtonH - 2, 4.0);
      Rgb face = Mix(top, bottom, y / double(kButtonH - 1));
      // Glossy upper half.
      if (y < kButtonH / 2) face = Mix(face, {255, 255, 255}, 0.18);
      Rgb shape = Mix(rim, face, innerCov);
      const uint32_t under = Word(PanelFill(kButtonY + y));
      const uint32_t want = Word(Mix(FromWord(under), shape, outerCov));
      uint32_t &p = px[y * kButtonW + x];
      if (outerCov >= 1.0) {
        p = want;
        continue;
      }
      bool found = false;
      const int nearest = static_cast<int>(std::lround(255 * outerCov));
      for (int step = 0; step <= 16 && !found; ++step)
        for (int a : {nearest - step, nearest + step}) {
          if (found || a < 0 || a > 255) continue;
          uint32_t candidate = static_cast<uint32_t>(a) << 24;
          bool all = true;
          for (int shift = 0; shift <= 16 && all; shift += 8) {
            bool channel = false;
            for (uint32_t s = 0; s < 256 && !channel; ++s) {
              const uint32_t c = s << shift | static_cast<uint32_t>(a) << 24;
              if ((PanelBlend(c, under) >> shift & 0xFF) == (want >> shift & 0xFF)) {
                candidate |= s << shift;
                channel = true;
              }
            }
            all = channel;
          }
          if (all && PanelBlend(candidate, under) == want) {
            // Fully transparent pixels all alike, so that they join runs.
            p = a == 0 ? 0 : candidate;
            found = true;
          }
        }
      if (!found) {
        std::fprintf(stderr, "panelgen: no alpha and colour for highlight pixel %d,%d\n", x, y);
        return false;
      }
    }
  return true;
}

// Where the message box may put the highlight (one to five buttons), the panel's pixels are
// those DrawHighlight blended over, so the box shows the shape mixed into the panel there.
bool CheckPanelUnderButtons(const std::vector<uint32_t> &panel) {
  for (int buttons = 1; buttons <= 5; ++buttons)
    for (int k = 0; k < buttons; ++k) {
      const int left = (k + 1) * (kPanelW / (buttons + 1)) - kButtonW / 2;
      for (int y = 0; y < kButtonH; ++y)
        for (int x = 0; x < kButtonW; ++x) {
          const uint32_t under = panel[(kButtonY + y) * kPanelW + left + x];
          if (under != Word(PanelFill(kButtonY + y))) {
            std::fprintf(stderr, "panelgen: the panel is not even under button %d of %d\n", k, buttons);
            return false;
          }
        }
    }
  return true;
}

bool WriteGraphic(FILE *f, const char *name, const std::vector<uint32_t> &px, int w, int h) {
  std::vector<uint8_t> blob = sim::gd::encode(px.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h));
  // Read back as the module reads it.
  std::vector<uint32_t> back(px.size());
  GraphicRecord gd{{1, 0, 1, 2}, blob.data(), static_cast<uint32_t>(w * h * 4), static_cast<uint16_t>(w),
                   static_cast<uint16_t>(h)};
  PanelImage image;
  if (!PanelImageOpen(&image, gd) || !PanelImageRead(&image, back.data(), static_cast<uint32_t>(back.size())) ||
      image.pixelsLeft != 0 || image.next != image.end || back != px) {
    std::fprintf(stderr, "panelgen: %s does not survive the codec\n", name);
    return false;
  }
  std::fprintf(f, "const uint8_t _%s_Cpm[%zu] = {\n", name, blob.size());
  for (size_t i = 0; i < blob.size(); ++i) {
    std::fprintf(f, "%s%u,", (i % 24 == 0) ? "  " : "", blob[i]);
    if (i % 24 == 23 || i + 1 == blob.size()) std::fprintf(f, "\n");
  }
  std::fprintf(f, "};\n\n");
  std::fprintf(f, "const GraphicRecord _%s_Gd = {{1, 0, 1, 2}, _%s_Cpm, %d * %d * 4, %d, %d};\n\n",
               name, name, w, h, w, h);
  std::printf("%s: %d x %d, %zu bytes compressed\n", name, w, h, blob.size());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: panelgen OUT.cpp\n");
    return 2;
  }
  FILE *f = std::fopen(argv[1], "w");
  if (!f) {
    std::fprintf(stderr, "panelgen: cannot write %s\n", argv[1]);
    return 1;
  }
  std::vector<uint32_t> highlight;
  if (!DrawHighlight(&highlight) || !CheckPanelUnderButtons(DrawPanel())) {
    std::fclose(f);
    return 1;
  }
  std::fprintf(f,
               "// Generated by tools/panelgen: do not edit. The images are in the module's own\n"
               "// format (lib/osd/panel_image.h). Regenerate from the source tree's root:\n"
               "//   cmake -S . -B build/tools -DQUARROW_TOOLS=ON\n"
               "//   cmake --build build/tools --target panelgen\n"
               "//   build/tools/tools/panelgen lib/osd/panel_data.cpp\n"
               "#include \"lib/osd/osd.h\"\n\n");
  bool ok = WriteGraphic(f, "InfoBox", DrawPanel(), kPanelW, kPanelH) &&
            WriteGraphic(f, "MessageBoxSelectedButtonBackground", highlight, kButtonW, kButtonH);
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
