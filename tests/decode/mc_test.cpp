// Prediction kernels: every table entry against the rounding rules, for every
// block size, SIMD bit-exact with plain, nothing written outside the block.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decode/mc.h"

namespace {

int sample(const uint8_t* s, int x, int stride, int m) {
  switch (m) {
    case 0: return s[x];
    case 1: return (s[x] + s[x + 1] + 1) >> 1;
    case 2: return (s[x] + s[x + stride] + 1) >> 1;
    default: return (s[x] + s[x + 1] + s[x + stride] + s[x + stride + 1] + 2) >> 2;
  }
}

TEST(MotionCompensation, EveryPredictorEverySize) {
  std::mt19937 rng(5);
  const int stride = 48;
  const int widths[] = {16, 8, 4, 2};
  const int heights[] = {16, 8, 4, 2, 1};
  const PredictionTable* tables[] = {&prediction_table_c, &prediction_table_sse2};
  for (int round = 0; round < 6; ++round) {
    std::vector<uint8_t> s1(stride * 20), s2(stride * 20);
    for (size_t i = 0; i < s1.size(); ++i) {
      // rounds 0-1 saturate: all 255 or alternating extremes
      s1[i] = round == 0 ? 255 : round == 1 ? ((i & 1) ? 255 : 0) : static_cast<uint8_t>(rng());
      s2[i] = round == 0 ? 255 : round == 1 ? ((i & 2) ? 0 : 255) : static_cast<uint8_t>(rng());
    }
    for (int w : widths)
      for (int h : heights)
        for (int entry = 0; entry < 20; ++entry) {
          std::vector<uint8_t> want(stride * 20);
          for (auto& x : want) x = static_cast<uint8_t>(rng());
          const std::vector<uint8_t> guard = want;
          const int off = 2 * stride + 8;
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
              int v;
              if (entry >= 16) {
                v = sample(&s1[off + y * stride], x, stride, entry - 16);
              } else {
                v = (sample(&s1[off + y * stride], x, stride, entry & 3) +
                     sample(&s2[off + y * stride], x, stride, entry >> 2) + 1) >> 1;
              }
              want[off + y * stride + x] = static_cast<uint8_t>(v);
            }
          for (const PredictionTable* t : tables) {
            std::vector<uint8_t> got = guard;
            if (entry >= 16)
              t->single[entry - 16](&got[off], &s1[off], stride, w, h);
            else
              t->avg[entry](&got[off], &s1[off], &s2[off], stride, w, h);
            ASSERT_EQ(got, want) << "entry " << entry << " " << w << "x" << h
                                 << (t == &prediction_table_c ? " c" : " sse2");
          }
        }
  }
}

}  // namespace
