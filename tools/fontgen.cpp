// fontgen: renders the 191 printable ISO 8859-1 characters of a TrueType font at the five
// built-in sizes and writes them as run-length compressed FontData records (one C++ source
// file per size) for lib/font/.
//
//   fontgen FONT.ttf OUTDIR
//
// Host tool: uses the C++ library and FreeType freely; its output is committed and the
// module build never runs it. See tools/README.md for the full regeneration command.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/rle.h"

namespace {

struct SizeInfo {
  int nominal;  // the size OSDMenuPutS selects it by
  int height;   // every glyph of the font is this tall
  int minWidth;
  int maxWidth;
};

constexpr SizeInfo kFonts[] = {
    {10, 15, 3, 12}, {12, 19, 4, 14}, {14, 23, 4, 17}, {16, 26, 5, 19}, {20, 33, 6, 24},
};

// Coverage from FreeType is linear; the module blends in gamma space, which makes light text
// on the dark panel look thin and broken at small sizes. A mild lift of partial coverage keeps
// stems solid without filling the counters.
uint8_t LiftCoverage(uint8_t v) {
  if (v == 0 || v == 255) return v;
  double c = std::pow(v / 255.0, 1.0 / 1.35);
  int r = static_cast<int>(std::lround(c * 255.0));
  return static_cast<uint8_t>(std::clamp(r, 1, 254));
}

struct Glyph {
  int width = 0;
  std::vector<uint8_t> exact;   // width * height coverage values as FreeType rendered them
  std::vector<uint8_t> pixels;  // what is stored: lifted, then fitted to the run-length code
};

bool RenderFont(FT_Face face, const SizeInfo &size, std::vector<Glyph> &glyphs) {
  const TT_OS2 *os2 = static_cast<TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  double ascent = os2 ? os2->usWinAscent : face->ascender;
  double descent = os2 ? os2->usWinDescent : -face->descender;
  // The line box (ascent + descent) is exactly the glyph height.
  double pixelSize = size.height * face->units_per_EM / (ascent + descent);
  int baseline = static_cast<int>(std::lround(size.height * ascent / (ascent + descent)));
  if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(pixelSize * 64.0)), 72, 72))
    return false;

  glyphs.clear();
  for (int code = 0x20; code <= 0xFF; ++code) {
    if (code > 0x7E && code < 0xA0) continue;
    // A character the font lacks would come out as the font's "missing" box; the no-break
    // space is drawn as a space and the soft hyphen as a hyphen.
    FT_ULong ch = static_cast<FT_ULong>(code);
    if (FT_Get_Char_Index(face, ch) == 0) {
      if (code == 0xA0) ch = 0x20;
      if (code == 0xAD) ch = 0x2D;
      if (ch == static_cast<FT_ULong>(code))
        std::fprintf(stderr, "size %d: 0x%02X is not in the font\n", size.nominal, code);
    }
    if (FT_Load_Char(face, ch, FT_LOAD_TARGET_LIGHT)) return false;
    FT_GlyphSlot slot = face->glyph;
    Glyph g;
    int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    // Glyphs sit edge to edge in cells that cannot overlap, so the ink of each glyph must lie
    // inside its cell: widen the cell to the ink where needed, then move the outline by the
    // least sub-pixel amount that brings it inside. Shapes stay whole; no column is cut.
    FT_BBox box{};
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_Outline_Get_CBox(&slot->outline, &box);
    long ink = box.xMax - box.xMin;
    int cell = std::max(advance, static_cast<int>((ink + 63) / 64));
    g.width = std::clamp(cell, size.minWidth, size.maxWidth);
    if (g.width != advance)
      std::fprintf(stderr, "size %d: 0x%02X advance %d, cell %d\n", size.nominal, code, advance,
                   g.width);
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
      long dx = 0;
      long room = static_cast<long>(g.width) * 64;
      if (box.xMin < 0) dx = -box.xMin;
      else if (box.xMax > room) dx = std::max(room - box.xMax, -box.xMin);
      FT_Outline_Translate(&slot->outline, dx, 0);
    }
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return false;
    g.exact.assign(static_cast<size_t>(g.width * size.height), 0);

    const FT_Bitmap &bm = slot->bitmap;
    int bw = static_cast<int>(bm.width);
    int bh = static_cast<int>(bm.rows);
    int left = slot->bitmap_left;
    if (left < 0 || left + bw > g.width)
      std::fprintf(stderr, "size %d: 0x%02X columns %d..%d cut to the cell\n", size.nominal, code,
                   left, left + bw - 1);
    int top = baseline - slot->bitmap_top;
    if (top < 0 || top + bh > size.height)
      std::fprintf(stderr, "size %d: 0x%02X rows %d..%d cut to the line\n", size.nominal, code, top,
                   top + bh - 1);
    for (int r = 0; r < bh; ++r) {
      int y = top + r;
      if (y < 0 || y >= size.height) continue;
      const uint8_t *row = bm.buffer + static_cast<ptrdiff_t>(r) * bm.pitch;
      for (int c = 0; c < bw; ++c) {
        int x = left + c;
        if (x < 0 || x >= g.width) continue;
        g.exact[static_cast<size_t>(y * g.width + x)] = row[c];
      }
    }
    glyphs.push_back(std::move(g));
  }
  return glyphs.size() == 191;
}

// The stored image: the lifted coverage, where a lone 0x00 or 0xFF (two bytes of code) may
// become its one-byte neighbour 0x01 or 0xFE and a 0xFE or 0x01 may join a run, whichever
// gives the shortest code. No pixel moves by more than one coverage step.
constexpr int kMaxStep = 1;

void FitGlyph(Glyph &g) {
  const size_t n = g.exact.size();
  std::vector<uint8_t> lifted(n), lo(n), hi(n);
  for (size_t i = 0; i < n; ++i) {
    lifted[i] = LiftCoverage(g.exact[i]);
    lo[i] = static_cast<uint8_t>(std::max(lifted[i] - kMaxStep, 0));
    hi[i] = static_cast<uint8_t>(std::min(lifted[i] + kMaxStep, 255));
  }
  g.pixels = quarrow_tools::FitRuns(lifted, lo, hi);
}

// Checks a fitted glyph against its exact render: its code decodes to the stored image and
// no pixel is more than kMaxStep away. Adds the changed pixels to *changed.
bool CheckGlyph(const Glyph &g, size_t *changed) {
  std::vector<uint8_t> decoded;
  if (!quarrow_tools::DecodeRuns(quarrow_tools::EncodeRuns(g.pixels), g.exact.size(), decoded) ||
      decoded != g.pixels)
    return false;
  for (size_t i = 0; i < g.exact.size(); ++i) {
    const int step = std::abs(g.pixels[i] - LiftCoverage(g.exact[i]));
    if (step > kMaxStep) return false;
    *changed += step != 0;
  }
  return true;
}

bool WriteFont(const std::string &path, const std::string &fontFile, const SizeInfo &size,
               const std::vector<Glyph> &glyphs, size_t *blobSize) {
  std::vector<uint8_t> blob;
  std::vector<uint32_t> offsets;
  for (const Glyph &g : glyphs) {
    offsets.push_back(static_cast<uint32_t>(blob.size()));
    std::vector<uint8_t> code = quarrow_tools::EncodeRuns(g.pixels);
    blob.insert(blob.end(), code.begin(), code.end());
  }
  *blobSize = blob.size();

  FILE *f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  const int n = size.nominal;
  std::fprintf(f,
               "// Generated by tools/fontgen from %s (glyph height %d): do not edit.\n"
               "// Regenerate all five fonts from the source tree's root:\n"
               "//   cmake -S . -B build/tools -DQUARROW_TOOLS=ON\n"
               "//   cmake --build build/tools --target fontgen\n"
               "//   build/tools/tools/fontgen "
               "/usr/share/fonts/truetype/crosextra/Carlito-Regular.ttf lib/font\n"
               "#include \"lib/font/font.h\"\n\n",
               fontFile.c_str(), size.height);
  std::fprintf(f, "const uint8_t Calibri_%d_Bitmap_compressed[%zu] = {\n", n, blob.size());
  for (size_t i = 0; i < blob.size(); ++i) {
    std::fprintf(f, "%s%u,", (i % 24 == 0) ? "  " : "", blob[i]);
    if (i % 24 == 23 || i + 1 == blob.size()) std::fprintf(f, "\n");
  }
  std::fprintf(f, "};\n\n");
  std::fprintf(f, "const FontData Calibri_%d_FontData = {\n  Calibri_%d_Bitmap_compressed,\n  {\n",
               n, n);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    int code = static_cast<int>(i) < 95 ? static_cast<int>(i) + 0x20 : static_cast<int>(i) + 65;
    // Glyph 0 starts at byte 0; its Offset field carries the blob length instead.
    uint32_t off = i == 0 ? static_cast<uint32_t>(blob.size()) : offsets[i];
    std::fprintf(f, "    {%d, %d, %u},  // 0x%02X\n", glyphs[i].width, size.height, off, code);
  }
  std::fprintf(f, "  },\n};\n");
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fontgen FONT.ttf OUTDIR\n");
    return 2;
  }
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], 0, &face)) {
    std::fprintf(stderr, "fontgen: cannot open %s\n", argv[1]);
    return 1;
  }
  std::string fontFile = argv[1];
  fontFile = fontFile.substr(fontFile.find_last_of('/') + 1);
  size_t total = 0;
  for (const SizeInfo &size : kFonts) {
    std::vector<Glyph> glyphs;
    if (!RenderFont(face, size, glyphs)) {
      std::fprintf(stderr, "fontgen: rendering size %d failed\n", size.nominal);
      return 1;
    }
    size_t changed = 0;
    for (size_t i = 0; i < glyphs.size(); ++i) {
      FitGlyph(glyphs[i]);
      if (!CheckGlyph(glyphs[i], &changed)) {
        std::fprintf(stderr, "fontgen: size %d, glyph %zu: fitted image is wrong\n", size.nominal, i);
        return 1;
      }
    }
    std::string out = std::string(argv[2]) + "/font" + std::to_string(size.nominal) + "_data.cpp";
    size_t blobSize = 0;
    if (!WriteFont(out, fontFile, size, glyphs, &blobSize)) {
      std::fprintf(stderr, "fontgen: cannot write %s\n", out.c_str());
      return 1;
    }
    auto [mn, mx] = std::minmax_element(glyphs.begin(), glyphs.end(),
                                        [](const Glyph &a, const Glyph &b) { return a.width < b.width; });
    std::printf("size %d: height %d, widths %d-%d, blob %zu bytes, %zu pixels one step off -> %s\n",
                size.nominal, size.height, mn->width, mx->width, blobSize, changed, out.c_str());
    total += blobSize;
  }
  std::printf("all five blobs: %zu bytes\n", total);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return 0;
}
