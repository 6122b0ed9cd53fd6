// Forward DCT accuracy, the quantisers' rounding and limits, and the
// coefficient range check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "encode/enc_dct.h"

namespace {

// The transform's target: 8 x s(u) x s(v) x the orthonormal-style DCT.
void reference_fdct(const int16_t in[64], double out[64]) {
  const double pi = std::acos(-1.0);
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          sum += in[8 * y + x] * std::cos((2 * y + 1) * u * pi / 16) * std::cos((2 * x + 1) * v * pi / 16);
      const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
      const double su = u ? std::sqrt(2.0) * std::cos(u * pi / 16) : 1, sv = v ? std::sqrt(2.0) * std::cos(v * pi / 16) : 1;
      out[8 * u + v] = 8 * 0.25 * cu * cv * sum * su * sv;
    }
}

// Largest error of the fixed-point transform over one block, in output
// units (scaled) and in units of the descaled coefficient (the quantisers'
// input divided by its factor).
struct BlockError {
  double scaled = 0, descaled = 0, mean_scaled = 0;
};

BlockError block_error(const int16_t in[64]) {
  int16_t b[64];
  std::memcpy(b, in, sizeof b);
  fdct_8x8(b);
  double ref[64];
  reference_fdct(in, ref);
  BlockError e;
  for (int i = 0; i < 64; ++i) {
    const double d = std::abs(b[i] - ref[i]);
    e.scaled = std::max(e.scaled, d);
    e.descaled = std::max(e.descaled, d * 16384.0 / kAanScale[i] / 8.0);
    e.mean_scaled += d / 64;
  }
  return e;
}

void worst_of(BlockError* w, const BlockError& e) {
  w->scaled = std::max(w->scaled, e.scaled);
  w->descaled = std::max(w->descaled, e.descaled);
  w->mean_scaled += e.mean_scaled;
}

// Within 2 units of the exact transform, both in output units and in
// descaled units (the highest frequencies, whose factors are smallest,
// bound the latter), on sample differences and on the sign patterns that
// drive each basis function to its limit. A wrong constant, a lost
// rounding or a pass without its fraction bits breaks these bounds.
TEST(EncDct, AccuracyAgainstDoublePrecisionOnRandomAndSaturatingBlocks) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> d(-255, 255);
  BlockError random;
  int16_t in[64];
  const int n = 100000;
  for (int k = 0; k < n; ++k) {
    for (int16_t& v : in) v = static_cast<int16_t>(d(rng));
    worst_of(&random, block_error(in));
  }
  EXPECT_LE(random.scaled, 2.0);
  EXPECT_LE(random.descaled, 2.0);
  EXPECT_LE(random.mean_scaled / n, 0.3);
  const double pi = std::acos(-1.0);
  BlockError pattern;
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v)
      for (int sign : {1, -1})
        for (int low : {-255, 0}) {
          for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
              const double c = std::cos((2 * y + 1) * u * pi / 16) * std::cos((2 * x + 1) * v * pi / 16);
              in[8 * y + x] = static_cast<int16_t>(c * sign >= 0 ? 255 : low);
            }
          worst_of(&pattern, block_error(in));
        }
  EXPECT_LE(pattern.scaled, 2.0);
  EXPECT_LE(pattern.descaled, 2.0);
  for (int s : {255, -255, -128, 127}) {
    for (int16_t& v : in) v = static_cast<int16_t>(s);
    EXPECT_LE(block_error(in).scaled, 0.5) << "flat block of " << s;  // DC alone, rounded once
  }
}

TEST(EncDct, AllZeroBlockStaysZeroWithCountZero) {
  int16_t b[65] = {};
  fdct_8x8(b);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(b[i], 0);
  int32_t m[64];
  uint8_t w[64];
  std::memset(w, 16, sizeof w);
  scale_quant_matrix(m, w);
  int16_t out[65];
  EXPECT_EQ(quant_intra(b, m, 8, 0, 2047, out), 1);
  EXPECT_EQ(out[64], 0);
  EXPECT_EQ(quant_non_intra(b, m, 8, 2047, out), 0);
  EXPECT_EQ(out[64], 0);
}

TEST(EncDct, QuantiserExamples) {
  int32_t m[64];
  uint8_t w[64];
  std::memset(w, 16, sizeof w);
  scale_quant_matrix(m, w);
  EXPECT_EQ(m[0], 16 * 16384);
  EXPECT_EQ(m[1], 16 * 22725);
  int16_t src[65] = {}, out[65];
  // intra DC at 8 bits: 100 -> 2, -100 -> -2; at 11 bits: rounded division by 8
  struct DcCase {
    int x, prec, want;
  } dc[] = {{100, 0, 2}, {-100, 0, -2}, {31, 0, 0}, {32, 0, 1}, {-32, 0, -1}, {-33, 0, -1}, {100, 3, 13}, {-100, 3, -13}};
  for (const DcCase& c : dc) {
    src[0] = static_cast<int16_t>(c.x);
    quant_intra(src, m, 2, c.prec, 2047, out);
    EXPECT_EQ(out[0], c.want) << c.x << " at precision " << c.prec;
  }
  src[0] = 0;
  // Non-intra: n = |x| 32768 + w/4 against q = w mquant. Just below the
  // step gives 0, at the step 1.
  const int64_t q = static_cast<int64_t>(m[5]) * 4;
  const int x_at = static_cast<int>((q - (m[5] >> 2) + 32767) / 32768);
  src[5] = static_cast<int16_t>(x_at - 1);
  EXPECT_EQ(quant_non_intra(src, m, 4, 2047, out), 0);
  EXPECT_EQ(out[5], 0);
  src[5] = static_cast<int16_t>(x_at);
  EXPECT_EQ(quant_non_intra(src, m, 4, 2047, out), 1);
  EXPECT_EQ(out[5], 1);
  EXPECT_EQ(out[64], 1);
  src[5] = static_cast<int16_t>(-x_at);
  quant_non_intra(src, m, 4, 2047, out);
  EXPECT_EQ(out[5], -1);
  // Limits: 255 (MPEG-1) and 2047 (MPEG-2).
  src[5] = 32000;
  quant_intra(src, m, 1, 0, 255, out);
  EXPECT_EQ(out[5], 255);
  quant_non_intra(src, m, 1, 2047, out);
  EXPECT_EQ(out[5], std::min<int64_t>(2047, (32000LL * 32768 + (m[5] >> 2)) / m[5]));
  src[5] = -32000;
  quant_intra(src, m, 1, 0, 255, out);
  EXPECT_EQ(out[5], -255);
}

// The prepared steps divide exactly: the same levels as the dividing
// quantisers for every matrix weight, quantiser and numerator range.
TEST(EncDct, PreparedStepsQuantiseLikeTheDivisions) {
  std::mt19937 rng(3);
  for (int n = 0; n < 20000; ++n) {
    uint8_t w[64];
    for (uint8_t& v : w) v = static_cast<uint8_t>(1 + rng() % 255);
    int32_t m[64];
    scale_quant_matrix(m, w);
    const int mq = 1 + static_cast<int>(rng() % 112);
    QuantSteps si, sn;
    ASSERT_TRUE(make_quant_steps(&si, m, mq, true));
    ASSERT_TRUE(make_quant_steps(&sn, m, mq, false));
    int16_t src[65], a[65], b[65];
    for (int i = 0; i < 64; ++i)
      src[i] = static_cast<int16_t>(n & 1 ? static_cast<int>(rng() % 65536) - 32768 : static_cast<int>(rng() % 512) - 256);
    quant_intra(src, m, mq, n & 3, 2047, a);
    quant_intra_steps(src, &si, n & 3, 2047, b);
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << n;
    EXPECT_EQ(quant_non_intra(src, m, mq, 255, a), quant_non_intra_steps(src, &sn, 255, b));
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << n;
  }
}

TEST(EncDct, CoefficientRangeCheckBounds) {
  CoefBlock b[6] = {};
  CoefBlock* p[6] = {&b[0], &b[1], &b[2], &b[3], &b[4], &b[5]};
  struct Case {
    int index, value, want;
  } cases[] = {{1, 5667, 0}, {1, 5668, 1}, {1, -5667, 0}, {1, -5668, 1}, {8, 5676, 0}, {8, 5677, 1}, {8, -5677, 1}};
  for (const Case& c : cases) {
    b[3] = CoefBlock{};
    b[3].c[c.index] = static_cast<int16_t>(c.value);
    EXPECT_EQ(check_coef_range(p), c.want) << c.index << "=" << c.value;
  }
}

}  // namespace
