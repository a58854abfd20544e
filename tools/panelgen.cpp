// panelgen: draws the message-box panel (380 x 190) and the selected-button highlight
// (100 x 25) and writes them, in the simulator's compressed graphic format, as the graphic
// records of lib/osd/.
//
//   panelgen OUT.cpp
//
// Host tool; its output is committed and the module build never runs it. See tools/README.md.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

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

std::vector<uint32_t> DrawHighlight() {
  std::vector<uint32_t> px(kButtonW * kButtonH);
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
      Rgb under = FromWord(Word(PanelFill(kButtonY + y)));
      px[y * kButtonW + x] = Word(Mix(under, shape, outerCov));
    }
  return px;
}

bool WriteGraphic(FILE *f, const char *name, const std::vector<uint32_t> &px, int w, int h) {
  std::vector<uint8_t> blob = sim::gd::encode(px.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h));
  std::vector<uint32_t> back;
  if (!sim::gd::decode(blob.data(), blob.size(), static_cast<uint16_t>(w), static_cast<uint16_t>(h), &back) ||
      back != px) {
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
  std::fprintf(f,
               "// Generated by tools/panelgen: do not edit. The images are in the simulator's\n"
               "// compressed graphic format (sim/README.md). Regenerate from the source tree's root:\n"
               "//   cmake -S . -B build/tools -DQUARROW_TOOLS=ON\n"
               "//   cmake --build build/tools --target panelgen\n"
               "//   build/tools/tools/panelgen lib/osd/panel_data.cpp\n"
               "#include \"lib/osd/osd.h\"\n\n");
  bool ok = WriteGraphic(f, "InfoBox", DrawPanel(), kPanelW, kPanelH) &&
            WriteGraphic(f, "MessageBoxSelectedButtonBackground", DrawHighlight(), kButtonW, kButtonH);
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
