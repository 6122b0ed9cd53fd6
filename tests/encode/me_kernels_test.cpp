// Distortion and prediction-error kernels against naive references for
// every flag combination, the rounding examples, and the search operations'
// tie and early-exit rules.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <random>
#include <vector>

#include "encode/me_kernels.h"
#include "picture/image.h"

namespace {

// The prediction of one sample, written out.
int naive_pred(const uint8_t* r, int stride, int x, int y, int flags) {
  const int a = r[y * stride + x];
  switch (flags) {
    case 0: return a;
    case 1: return (a + r[y * stride + x + 1] + 1) >> 1;
    case 2: return (a + r[(y + 1) * stride + x] + 1) >> 1;
    default:
      return (a + r[y * stride + x + 1] + r[(y + 1) * stride + x] + r[(y + 1) * stride + x + 1] + 2) >> 2;
  }
}

struct Planes {
  static constexpr int kStride = 48;
  std::vector<uint8_t> src, f, b;
  explicit Planes(uint32_t seed, int lo = 0, int hi = 255) : src(kStride * 20), f(kStride * 20), b(kStride * 20) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    for (auto* v : {&src, &f, &b})
      for (auto& x : *v) x = static_cast<uint8_t>(d(rng));
  }
};

TEST(MeKernels, DistortionEntriesEqualNaiveSumsForEveryFlagCombination) {
  const DistortionKernels& k = distortion_kernels();
  for (uint32_t seed : {1u, 2u, 3u})
    for (auto range : {std::pair{0, 255}, std::pair{0, 0}, std::pair{255, 255}, std::pair{120, 136}}) {
      Planes p(seed, range.first, range.second);
      const int s = Planes::kStride;
      for (int height : {16, 8}) {
        for (int fl = 0; fl < 4; ++fl) {
          uint32_t sad = 0, sse = 0;
          for (int y = 0; y < height; ++y)
            for (int x = 0; x < 16; ++x) {
              const int d = p.src[y * s + x] - naive_pred(p.f.data(), s, x, y, fl);
              sad += std::abs(d);
              sse += d * d;
            }
          EXPECT_EQ(k.sad[fl](p.src.data(), p.f.data(), s, height), sad) << fl;
          EXPECT_EQ(k.sse[fl](p.src.data(), p.f.data(), s, height), sse) << fl;
          EXPECT_EQ((me_dsp().*kSad[fl])(p.src.data(), p.f.data(), s, height), sad);
          EXPECT_EQ((me_dsp().*kSse[fl])(p.src.data(), p.f.data(), s, height), sse);
        }
        for (int pair = 0; pair < 16; ++pair) {
          uint32_t sad = 0, sse = 0;
          for (int y = 0; y < height; ++y)
            for (int x = 0; x < 16; ++x) {
              const int pr = (naive_pred(p.f.data(), s, x, y, pair & 3) + naive_pred(p.b.data(), s, x, y, pair >> 2) + 1) >> 1;
              const int d = p.src[y * s + x] - pr;
              sad += std::abs(d);
              sse += d * d;
            }
          EXPECT_EQ(k.sad_bi[pair](p.src.data(), p.f.data(), p.b.data(), s, height), sad) << pair;
          EXPECT_EQ(k.sse_bi[pair](p.src.data(), p.f.data(), p.b.data(), s, height), sse) << pair;
          // Swap rule: flags (f, g) equal flags (g, f) with the references exchanged.
          const int swapped = (pair >> 2) | (pair & 3) << 2;
          EXPECT_EQ(k.sad_bi[swapped](p.src.data(), p.b.data(), p.f.data(), s, height), sad) << pair;
          EXPECT_EQ(k.sse_bi[swapped](p.src.data(), p.b.data(), p.f.data(), s, height), sse) << pair;
        }
      }
    }
}

TEST(MeKernels, PredictionErrorEntriesEqualNaiveDifferences) {
  const PredictionErrorKernels& k = prediction_error_kernels();
  Planes p(7);
  const int s = Planes::kStride;
  int16_t out[64];
  for (int fl = 0; fl < 4; ++fl) {
    k.single[fl](p.src.data(), p.f.data(), s, out);
    for (int i = 0; i < 64; ++i)
      ASSERT_EQ(out[i], p.src[(i / 8) * s + i % 8] - naive_pred(p.f.data(), s, i % 8, i / 8, fl)) << fl;
  }
  for (int pair = 0; pair < 16; ++pair) {
    k.bi[pair](p.src.data(), p.f.data(), p.b.data(), s, out);
    for (int i = 0; i < 64; ++i) {
      const int x = i % 8, y = i / 8;
      const int pr = (naive_pred(p.f.data(), s, x, y, pair & 3) + naive_pred(p.b.data(), s, x, y, pair >> 2) + 1) >> 1;
      ASSERT_EQ(out[i], p.src[y * s + x] - pr) << pair;
    }
  }
}

// The rounding examples: diagonal 1,2,2,2 is 2; horizontal 1,2 is 2; a
// bidirectional full-pel pair of 10 and 11 is 11.
TEST(MeKernels, RoundingExamples) {
  const int s = 32;
  std::vector<uint8_t> src(s * 17, 0), ref(s * 17, 2), ref2(s * 17, 11);
  for (int y = 0; y < 17; ++y) ref[y * s] = 1;  // column 0: 1, the rest 2
  ref[0] = 1;
  int16_t out[64];
  // Diagonal at (0,0) reads 1, 2 / 1, 2 -> (6 + 2) >> 2 = 2; with 1,2,2,2 the
  // sample above-left only is 1.
  std::vector<uint8_t> d(s * 17, 2);
  d[0] = 1;
  prediction_error_kernels().single[3](src.data(), d.data(), s, out);
  EXPECT_EQ(out[0], -2);
  prediction_error_kernels().single[1](src.data(), ref.data(), s, out);
  EXPECT_EQ(out[0], -2);  // (1 + 2 + 1) >> 1
  std::vector<uint8_t> ten(s * 17, 10);
  prediction_error_kernels().bi[0](src.data(), ten.data(), ref2.data(), s, out);
  EXPECT_EQ(out[0], -11);
  EXPECT_EQ(chroma_vector(-3), -1);
  EXPECT_EQ(chroma_vector(3), 1);
  EXPECT_EQ(vector_flags(chroma_vector(-3), 0), 1);
}

TEST(MeKernels, VarianceExamples) {
  std::vector<uint8_t> flat(16 * 16, 77), half(16 * 16, 0);
  for (int i = 128; i < 256; ++i) half[i] = 2;
  EXPECT_EQ(me_dsp().mb_variance(flat.data(), 16), 0u);
  EXPECT_EQ(me_dsp().mb_variance(half.data(), 16), 256u);
  EXPECT_EQ(me_dsp_for(CpuLevel::c)->mb_variance(half.data(), 16), 256u);
  EXPECT_EQ(block_variance_8x8(flat.data(), 16), 0);
  // Half 0, half 2: q >> 6 = 2, m = 1.
  EXPECT_EQ(block_variance_8x8(half.data() + 64, 16), 1);
}

TEST(MeKernels, TemporalFilterWeights) {
  Image a(16, 16, 1, 0), b(16, 16, 1, 0), other_size(32, 16, 1, 0);
  std::fill(a.get_y(), a.get_y() + a.y_size(), 100);
  std::fill(b.get_y(), b.get_y() + b.y_size(), 101);
  b.get_y()[1] = 140;
  filter_luma_temporal(&a, &b);
  EXPECT_EQ(a.get_y()[0], 101);  // (192 * 101 + 64 * 100 + 128) >> 8
  EXPECT_EQ(a.get_y()[1], 100);  // 40 apart: detail, kept
  std::fill(other_size.get_y(), other_size.get_y() + other_size.y_size(), 0);
  filter_luma_temporal(&a, &other_size);
  EXPECT_EQ(a.get_y()[0], 101);
}

TEST(MeKernels, SearchOperationTiesAndEarlyExits) {
  const int s = 32;
  std::vector<uint8_t> src(s * 8, 10), ref(s * 9, 10);
  int which = -1;
  // Equal sums at c, c+1, c+2: c+1 wins a tie with c, c+2 never on a tie.
  EXPECT_EQ(match_8x8_three(src.data(), ref.data(), s, &which), 0u);
  EXPECT_EQ(which, 1);
  EXPECT_EQ(match_8x8_two(src.data(), ref.data(), s, &which), 0u);
  EXPECT_EQ(which, 0);
  std::vector<uint8_t> r2(s * 9, 12);
  for (int y = 0; y < 8; ++y)
    for (int x = 2; x < 10; ++x) r2[y * s + x] = 10;  // exact at c+2
  EXPECT_EQ(match_8x8_three(src.data(), r2.data(), s, &which), 0u);
  EXPECT_EQ(which, 2);
  // Leftmost smallest along a row, run rounded down to a multiple of 4.
  std::vector<uint8_t> row(s * 4, 50), blk(s * 4, 10);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) row[y * s + 5 + x] = 10;
  int off = -1;
  // Seven positions test four: the best of 0-3 is 3, two columns inside.
  EXPECT_EQ(scan_4x4_row(blk.data(), row.data(), s, 7, &off), 2u * 4 * 40);
  EXPECT_EQ(off, 3);
  EXPECT_EQ(scan_4x4_row(blk.data(), row.data(), s, 8, &off), 0u);
  EXPECT_EQ(off, 5);
  // Early exits: 8x8 stops after the line that reaches the limit; 4x4 adds
  // lines 3-4 only below the limit.
  std::vector<uint8_t> zero(s * 8, 0), one(s * 8, 1);
  EXPECT_EQ(me_dsp().match_8x8(zero.data(), one.data(), s, 20), 24u);
  EXPECT_EQ(me_dsp().match_4x4(zero.data(), one.data(), s, 8), 8u);
  EXPECT_EQ(me_dsp().match_4x4(zero.data(), one.data(), s, 9), 16u);
  EXPECT_EQ(me_dsp().sad16_limit(zero.data(), one.data(), s, 8, 33), 48u);
  EXPECT_EQ(me_dsp().sad16_checker_limit(zero.data(), one.data(), s, 8, UINT32_MAX), 64u);
  for (const MeDsp* d : {me_dsp_for(CpuLevel::c), &me_dsp()}) {
    const FieldSums all = d->sad16_fields(zero.data(), one.data(), s, 8, {~0u, ~0u, ~0u});
    const FieldSums sub = d->sad16_fields_sub(zero.data(), one.data(), s, 8, {~0u, ~0u, ~0u});
    EXPECT_EQ(all.total, 128u);
    EXPECT_EQ(all.even, 64u);
    EXPECT_EQ(sub.total, 64u);  // every second column
    EXPECT_EQ(sub.odd, 32u);
    // Stops after the line pair at which every sum has reached its limit.
    EXPECT_EQ(d->sad16_fields(zero.data(), one.data(), s, 8, {32, 16, 16}).total, 32u);
    EXPECT_EQ(d->sad16_fields(zero.data(), one.data(), s, 8, {32, 17, 16}).total, 64u);
  }
}

}  // namespace

namespace {

// A 4:2:0 picture of random samples with its plane set.
struct Picture420 {
  static constexpr int kW = 64, kH = 48;
  std::vector<uint8_t> y, cb, cr;
  explicit Picture420(uint32_t seed) : y(kW * kH), cb(kW * kH / 4), cr(kW * kH / 4) {
    std::mt19937 rng(seed);
    for (auto* v : {&y, &cb, &cr})
      for (auto& s : *v) s = static_cast<uint8_t>(rng());
  }
  PlaneSet planes() const { return {y.data(), cb.data(), cr.data(), kW}; }
  // Sample of plane 0-2 at a half-pel position.
  int at(int plane, int hx, int hy) const {
    const std::vector<uint8_t>& p = plane == 0 ? y : plane == 1 ? cb : cr;
    const int stride = plane == 0 ? kW : kW / 2;
    return naive_pred(p.data(), stride, hx >> 1, hy >> 1, (hx & 1) | (hy & 1) << 1);
  }
};

// Every block of a macroblock's prediction error, one and two references,
// chroma vectors halved towards zero (-3 gives -1), against the samples
// written out.
TEST(MeKernels, MacroblockPredictionErrorAndIntraBlocks) {
  const Picture420 pic(1), fwd(2), bwd(3);
  const int mx = 16, my = 16;
  for (const auto& v : {std::array<int, 4>{-3, 5, 2, -7}, std::array<int, 4>{0, 0, 1, 1}, std::array<int, 4>{7, -3, -1, 0}}) {
    int16_t single[6][64], both[6][64], intra[6][64];
    predict_error_single(pic.planes(), mx, my, single, fwd.planes(), v[0], v[1]);
    predict_error_bidir(pic.planes(), mx, my, both, fwd.planes(), bwd.planes(), v[0], v[1], v[2], v[3]);
    intra_blocks(pic.planes(), mx, my, intra);
    for (int b = 0; b < 6; ++b)
      for (int k = 0; k < 64; ++k) {
        const int plane = b < 4 ? 0 : b - 3;
        const int x = (b < 4 ? mx + (b & 1) * 8 : mx / 2) + k % 8, yy = (b < 4 ? my + (b >> 1) * 8 : my / 2) + k / 8;
        const int vx = b < 4 ? v[0] : v[0] / 2, vy = b < 4 ? v[1] : v[1] / 2;
        const int wx = b < 4 ? v[2] : v[2] / 2, wy = b < 4 ? v[3] : v[3] / 2;
        const int s = pic.at(plane, 2 * x, 2 * yy);
        const int f = fwd.at(plane, 2 * x + vx, 2 * yy + vy), g = bwd.at(plane, 2 * x + wx, 2 * yy + wy);
        ASSERT_EQ(single[b][k], s - f) << b << " " << k;
        ASSERT_EQ(both[b][k], s - ((f + g + 1) >> 1)) << b << " " << k;
        ASSERT_EQ(intra[b][k], s - 128);
      }
  }
}

}  // namespace
