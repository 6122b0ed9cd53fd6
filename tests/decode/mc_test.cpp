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
  std::vector<const McDsp*> tables;
  for (int l = 0; l <= static_cast<int>(cpu_level_supported()); ++l)
    if (const McDsp* d = mc_dsp_for(static_cast<CpuLevel>(l))) tables.push_back(d);
  ASSERT_EQ(tables.front(), mc_dsp_for(CpuLevel::c));
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
          for (const McDsp* t : tables) {
            std::vector<uint8_t> got = guard;
            if (entry >= 16)
              t->single[entry - 16](&got[off], &s1[off], stride, w, h);
            else
              t->avg[entry](&got[off], &s1[off], &s2[off], stride, w, h);
            ASSERT_EQ(got, want) << "entry " << entry << " " << w << "x" << h
                                 << (t == tables.front() ? " c" : " simd");
          }
        }
  }
}

}  // namespace

namespace {

// The fused 4:2:0 predictor against the plain per-plane kernels, every mode
// pair, one and two references, full and half heights, inside guard bytes.
TEST(MotionCompensation, Fused420MatchesPerPlaneKernels) {
  std::mt19937 rng(17);
  const int stride = 64, cs = stride / 2;
  std::vector<uint8_t> ref1(stride * 24 * 3), ref2(stride * 24 * 3);
  for (auto& v : ref1) v = static_cast<uint8_t>(rng());
  for (auto& v : ref2) v = static_cast<uint8_t>(rng());
  const McDsp& plain = *mc_dsp_for(CpuLevel::c);
  for (int l = 0; l <= static_cast<int>(cpu_level_supported()); ++l) {
    const McDsp* t = mc_dsp_for(static_cast<CpuLevel>(l));
    if (!t) continue;
    SCOPED_TRACE(cpu_level_name(static_cast<CpuLevel>(l)));
    for (int two = 0; two < 2; ++two)
      for (int h : {16, 8})
        for (int lm = 0; lm < 16; ++lm)
          for (int cm = 0; cm < 16; ++cm) {
            std::vector<uint8_t> want(stride * 24 * 3), got;
            for (auto& v : want) v = static_cast<uint8_t>(rng());
            got = want;
            const size_t plane = stride * 24, at = 2 * stride + 8, cat = 2 * cs + 4;
            auto args = [&](std::vector<uint8_t>& dst) {
              Pred420 p;
              p.dst[0] = dst.data() + at;
              p.dst[1] = dst.data() + plane + cat;
              p.dst[2] = dst.data() + 2 * plane + cat;
              p.src1[0] = ref1.data() + at + 1;
              p.src1[1] = ref1.data() + plane + cat + 1;
              p.src1[2] = ref1.data() + 2 * plane + cat;
              p.src2[0] = two ? ref2.data() + at : nullptr;
              p.src2[1] = two ? ref2.data() + plane + cat : nullptr;
              p.src2[2] = two ? ref2.data() + 2 * plane + cat + 1 : nullptr;
              p.stride = stride;
              p.luma_mode[0] = lm & 3;
              p.luma_mode[1] = lm >> 2;
              p.chroma_mode[0] = cm & 3;
              p.chroma_mode[1] = cm >> 2;
              p.height = h;
              return p;
            };
            const Pred420 pw = args(want);
            if (two) {
              plain.avg[4 * (lm >> 2) + (lm & 3)](pw.dst[0], pw.src1[0], pw.src2[0], stride, 16, h);
              for (int k = 1; k < 3; ++k)
                plain.avg[4 * (cm >> 2) + (cm & 3)](pw.dst[k], pw.src1[k], pw.src2[k], cs, 8, h / 2);
            } else {
              plain.single[lm & 3](pw.dst[0], pw.src1[0], stride, 16, h);
              for (int k = 1; k < 3; ++k) plain.single[cm & 3](pw.dst[k], pw.src1[k], cs, 8, h / 2);
            }
            t->pred420(args(got));
            ASSERT_EQ(want, got) << "two " << two << " h " << h << " modes " << lm << "/" << cm;
            if (!two && lm > 3) break;  // one reference: the second mode is unused
          }
  }
}

}  // namespace
