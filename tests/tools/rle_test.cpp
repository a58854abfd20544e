// The run-length fitting of the font generator: never leaves a pixel's allowed range, the
// code it chooses decodes to what it chose, and no other choice is shorter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/rle.h"

namespace {

using quarrow_tools::DecodeRuns;
using quarrow_tools::EncodeRuns;
using quarrow_tools::FitRuns;

struct Ranges {
  std::vector<uint8_t> lo, hi;
};

Ranges OneStep(const std::vector<uint8_t> &px) {
  Ranges r;
  for (uint8_t v : px) {
    r.lo.push_back(static_cast<uint8_t>(v == 0 ? 0 : v - 1));
    r.hi.push_back(static_cast<uint8_t>(v == 255 ? 255 : v + 1));
  }
  return r;
}

// Shortest code over every choice of values inside the ranges.
size_t BruteForceShortest(const Ranges &r, size_t i, std::vector<uint8_t> &pick) {
  if (i == pick.size()) return EncodeRuns(pick).size();
  size_t best = SIZE_MAX;
  for (int v = r.lo[i]; v <= r.hi[i]; ++v) {
    pick[i] = static_cast<uint8_t>(v);
    best = std::min(best, BruteForceShortest(r, i + 1, pick));
  }
  return best;
}

TEST(FitRuns, ShortestCodeInsideTheRangesForEverySmallImage) {
  std::mt19937 random(7);
  const uint8_t values[] = {0, 1, 2, 128, 253, 254, 255};
  for (int round = 0; round < 1000; ++round) {
    std::vector<uint8_t> px(1 + random() % 7);
    for (uint8_t &v : px) v = values[random() % 7];
    const Ranges r = OneStep(px);
    const std::vector<uint8_t> fit = FitRuns(px, r.lo, r.hi);
    ASSERT_EQ(fit.size(), px.size());
    for (size_t i = 0; i < px.size(); ++i) {
      ASSERT_GE(fit[i], r.lo[i]) << "round " << round << " pixel " << i;
      ASSERT_LE(fit[i], r.hi[i]) << "round " << round << " pixel " << i;
    }
    const std::vector<uint8_t> code = EncodeRuns(fit);
    std::vector<uint8_t> back;
    ASSERT_TRUE(DecodeRuns(code, px.size(), back));
    EXPECT_EQ(back, fit);
    std::vector<uint8_t> pick(px.size());
    EXPECT_EQ(code.size(), BruteForceShortest(r, 0, pick)) << "round " << round;
  }
}

TEST(FitRuns, ChangesOnlyWhatShortensTheCode) {
  // A lone 0x00 and a lone 0xFF inside an edge become 0x01 and 0xFE; the pair of zeros,
  // which costs two bytes either way, stays.
  const std::vector<uint8_t> edge = {90, 0, 90, 255, 90, 0, 0, 90};
  Ranges r = OneStep(edge);
  EXPECT_EQ(FitRuns(edge, r.lo, r.hi), (std::vector<uint8_t>{90, 1, 90, 254, 90, 0, 0, 90}));
  // 256 zeros need two runs (4 bytes); one pixel at 0x01 makes it 3 bytes.
  std::vector<uint8_t> blank(256, 0);
  r = OneStep(blank);
  const std::vector<uint8_t> fit = FitRuns(blank, r.lo, r.hi);
  EXPECT_EQ(EncodeRuns(fit).size(), 3u);
  EXPECT_EQ(std::count(fit.begin(), fit.end(), 1), 1);
  // With no room to move, nothing moves.
  EXPECT_EQ(FitRuns(edge, edge, edge), edge);
}

TEST(DecodeRuns, RejectsMalformedCode) {
  std::vector<uint8_t> px;
  EXPECT_FALSE(DecodeRuns({0x00, 0}, 1, px)) << "count 0";
  EXPECT_FALSE(DecodeRuns({0xFF, 3}, 2, px)) << "run past the end of the glyph";
  EXPECT_FALSE(DecodeRuns({0x00}, 1, px)) << "count missing";
  EXPECT_FALSE(DecodeRuns({7, 8, 9}, 2, px)) << "bytes left over";
  EXPECT_TRUE(DecodeRuns({7, 0xFF, 2}, 3, px));
  EXPECT_EQ(px, (std::vector<uint8_t>{7, 255, 255}));
}

}  // namespace
