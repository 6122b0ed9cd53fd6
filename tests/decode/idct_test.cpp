// Inverse transforms: IEEE 1180-1990 accuracy for every variant, bit-exact
// SIMD against plain (random, saturating, guard bytes), store/add rules and
// the reduced transforms against the averaged full transform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decode/idct.h"

namespace {

// Generator of the accuracy procedure.
struct Ieee1180Rand {
  long randx = 1;
  long next(long lo, long hi) {
    randx = (randx * 1103515245 + 12345) & 0xffffffffL;
    const long i = randx & 0x7ffffffe;
    const double x = static_cast<double>(i) / static_cast<double>(0x7fffffff) * (lo + hi + 1);
    return static_cast<long>(x) - lo;
  }
};

double cosine(int k, int n) { return (k ? 0.5 : std::sqrt(0.125)) * std::cos((2 * n + 1) * k * M_PI / 16); }

// Separable double-precision transforms of the accuracy procedure.
void fdct_ref(const double in[64], double out[64]) {
  double tmp[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += in[8 * y + x] * cosine(u, x);
      tmp[8 * y + u] = s;
    }
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += tmp[8 * y + u] * cosine(v, y);
      out[8 * v + u] = s;
    }
}

void idct_ref(const int16_t in[64], double out[64]) {
  double tmp[64];
  for (int v = 0; v < 8; ++v)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int u = 0; u < 8; ++u) s += in[8 * v + u] * cosine(u, x);
      tmp[8 * v + x] = s;
    }
  for (int x = 0; x < 8; ++x)
    for (int y = 0; y < 8; ++y) {
      double s = 0;
      for (int v = 0; v < 8; ++v) s += tmp[8 * v + x] * cosine(v, y);
      out[8 * y + x] = s;
    }
}

using InPlace = void (*)(int16_t*);

struct Variant {
  const char* name;
  const IdctDsp* dsp;
};

// Every table this processor runs, plain first.
std::vector<Variant> variants() {
  std::vector<Variant> out;
  for (int l = 0; l <= static_cast<int>(cpu_level_supported()); ++l)
    if (const IdctDsp* d = idct_dsp_for(static_cast<CpuLevel>(l)))
      out.push_back({cpu_level_name(static_cast<CpuLevel>(l)), d});
  return out;
}

const IdctDsp& plain() { return *idct_dsp_for(CpuLevel::c); }

void accuracy(InPlace fn, long lo, long hi, int sign) {
  Ieee1180Rand rng;
  double err_sum[64] = {}, err_sq[64] = {};
  int peak = 0;
  const int blocks = 10000;
  for (int b = 0; b < blocks; ++b) {
    double pix[64], coef[64];
    for (int i = 0; i < 64; ++i) pix[i] = static_cast<double>(rng.next(lo, hi) * sign);
    fdct_ref(pix, coef);
    int16_t in[64], test[64];
    for (int i = 0; i < 64; ++i) {
      double c = std::floor(coef[i] + 0.5);
      c = c < -2048 ? -2048 : c > 2047 ? 2047 : c;
      in[i] = static_cast<int16_t>(c);
    }
    double ref[64];
    idct_ref(in, ref);
    std::memcpy(test, in, sizeof in);
    fn(test);
    for (int i = 0; i < 64; ++i) {
      double r = std::floor(ref[i] + 0.5);
      r = r < -256 ? -256 : r > 255 ? 255 : r;
      const int e = test[i] - static_cast<int>(r);
      peak = std::max(peak, std::abs(e));
      err_sum[i] += e;
      err_sq[i] += e * e;
    }
  }
  double total_sq = 0, total_sum = 0;
  for (int i = 0; i < 64; ++i) {
    EXPECT_LE(err_sq[i] / blocks, 0.06) << "position " << i;
    EXPECT_LE(std::fabs(err_sum[i]) / blocks, 0.015) << "position " << i;
    total_sq += err_sq[i];
    total_sum += err_sum[i];
  }
  EXPECT_LE(peak, 1);
  EXPECT_LE(total_sq / (64.0 * blocks), 0.02);
  EXPECT_LE(std::fabs(total_sum) / (64.0 * blocks), 0.0015);
}

TEST(Idct, Ieee1180Accuracy) {
  const long ranges[3][2] = {{256, 255}, {5, 5}, {300, 300}};
  for (const Variant& v : variants()) {
    for (const auto& r : ranges)
      for (int sign : {1, -1}) {
        SCOPED_TRACE(testing::Message() << v.name << " range " << r[0] << " sign " << sign);
        accuracy(v.dsp->transform, r[0], r[1], sign);
      }
    int16_t zero[64] = {};
    v.dsp->transform(zero);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(zero[i], 0) << v.name;
  }
}

TEST(Idct, StoreAndAddRules) {
  for (const Variant& v : variants()) {
    struct {
      int dc;
      int mode;
      uint8_t before;
      uint8_t after;
    } cases[] = {{-1024, 0, 9, 0}, {1016, 0, 9, 255}, {0, 0, 9, 128}, {80, 1, 100, 110}, {-2048, 1, 200, 0}};
    for (const auto& c : cases) {
      int16_t blk[64] = {};
      blk[0] = static_cast<int16_t>(c.dc);
      uint8_t dst[8 * 8];
      std::memset(dst, c.before, sizeof dst);
      if (c.mode)
        v.dsp->add(blk, dst, 8);
      else
        v.dsp->put(blk, dst, 8);
      for (uint8_t x : dst) ASSERT_EQ(x, c.after) << v.name << " dc " << c.dc;
    }
  }
  for (int dc = -2048; dc < 2048; ++dc) {
    int16_t blk[64] = {};
    blk[0] = static_cast<int16_t>(dc);
    plain().transform(blk);
    ASSERT_EQ(blk[63], idct_dc_value(dc)) << dc;
  }
}

// The constant-block kernels against the full transform of a DC-only block,
// for every DC and destination byte pattern, inside guard bytes.
TEST(Idct, DcKernelsMatchFullTransform) {
  std::mt19937 rng(3);
  const int stride = 24;
  for (const Variant& v : variants()) {
    SCOPED_TRACE(v.name);
    for (int dc = -2048; dc < 2048; ++dc)
      for (int add = 0; add < 2; ++add) {
        std::vector<uint8_t> want(stride * 12), got;
        for (auto& x : want) x = static_cast<uint8_t>(dc & 1 ? rng() : (rng() & 1) * 255);
        got = want;
        int16_t blk[64] = {};
        blk[0] = static_cast<int16_t>(dc);
        uint8_t* w = want.data() + 2 * stride + 8;
        uint8_t* g = got.data() + 2 * stride + 8;
        if (add) {
          plain().add(blk, w, stride);
          v.dsp->add_dc(g, stride, idct_dc_value(dc));
        } else {
          plain().put(blk, w, stride);
          v.dsp->put_dc(g, stride, idct_dc_value(dc));
        }
        ASSERT_EQ(want, got) << "dc " << dc << " add " << add;
      }
  }
}

// idct_dc63 must give the full transform's bytes exactly: every DC with
// every small coefficient-63 value (the decoder's mismatch control sets it
// to 1; the rest take the general path) and a sweep of the whole range,
// stored and added.
TEST(Idct, Dc63PathIsExactForEveryDcAndLastCoefficient) {
  std::vector<int> last;
  for (int c63 = -2048; c63 < 2048; ++c63)
    if ((c63 >= -64 && c63 <= 64) || c63 % 7 == 0 || c63 == -2048 || c63 == 2047) last.push_back(c63);
  for (int c63 : last)
    for (int dc = -2048; dc < 2048; ++dc) {
      int16_t full[64] = {};
      full[0] = static_cast<int16_t>(dc);
      full[63] = static_cast<int16_t>(c63);
      plain().transform(full);
      int16_t v[64];
      idct_dc63_values(dc, c63, v);
      if (std::memcmp(full, v, sizeof v) != 0) {
        for (int i = 0; i < 64; ++i) ASSERT_EQ(v[i], full[i]) << "dc " << dc << " c63 " << c63 << " at " << i;
      }
    }
  // the byte paths of every variant (table-driven for c63 = +-1) on random
  // destinations
  std::mt19937 rng(9);
  for (const Variant& var : variants())
    for (int c63 : {1, -1, 2, -2, 7, 2047, -2048})
      for (int dc = -2048; dc < 2048; ++dc)
        for (int add = 0; add < 2; ++add) {
        uint8_t want[8 * 16], got[8 * 16];
        for (auto& x : want) x = static_cast<uint8_t>(rng());
        std::memcpy(got, want, sizeof got);
        int16_t blk[64] = {};
        blk[0] = static_cast<int16_t>(dc);
        blk[63] = static_cast<int16_t>(c63);
        if (add)
          plain().add(blk, want, 16);
        else
          plain().put(blk, want, 16);
        var.dsp->dc63(dc, c63, got, 16, add);
        ASSERT_EQ(0, std::memcmp(want, got, sizeof got))
            << var.name << " dc " << dc << " c63 " << c63 << " add " << add;
      }
}

// Reference for the reduced transforms: full-precision IDCT of the kept
// coefficients averaged over n x n squares.
void averaged(const int16_t* blk, int n, double* out) {
  double full[64];
  idct_ref(blk, full);
  const int m = 8 / n;
  for (int y = 0; y < m; ++y)
    for (int x = 0; x < m; ++x) {
      double s = 0;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) s += full[(y * n + j) * 8 + x * n + i];
      out[y * m + x] = s / (n * n);
    }
}

TEST(Idct, ReducedTransformsMatchAveragedFull) {
  std::mt19937 rng(3);
  static const int half_set[6] = {0, 1, 8, 16, 9, 2};
  static const int quarter_set[4] = {0, 1, 8, 9};
  for (int n = 0; n < 2000; ++n) {
    int16_t blk[64] = {};
    for (int p : half_set) blk[p] = static_cast<int16_t>(static_cast<int>(rng() % 801) - 400);
    double ref[16];
    averaged(blk, 2, ref);
    uint8_t out[4 * 4];
    int16_t copy[64];
    std::memcpy(copy, blk, sizeof copy);
    idct_half(copy, out, 4, 0);
    for (int i = 0; i < 16; ++i) {
      const double r = std::min(255.0, std::max(0.0, ref[i] + 128));
      ASSERT_NEAR(out[i], r, 1.01) << "half " << i;
    }
    int16_t q[64] = {};
    for (int p : quarter_set) q[p] = blk[p];
    averaged(q, 4, ref);
    uint8_t qo[2 * 2];
    idct_quarter(q, qo, 2, 0);
    for (int i = 0; i < 4; ++i) {
      const double r = std::min(255.0, std::max(0.0, ref[i] + 128));
      ASSERT_NEAR(qo[i], r, 1.01) << "quarter " << i;
    }
    // Three-coefficient transform: each term truncated on its own (floor of three terms), within 2.5.
    int16_t t[64] = {};
    t[0] = blk[0];
    t[1] = blk[1];
    t[8] = blk[8];
    double full[64];
    idct_ref(t, full);
    uint8_t ro[64];
    idct_reduced(t, ro, 8, 0);
    for (int i = 0; i < 64; ++i) {
      const double r = std::min(255.0, std::max(0.0, full[i] + 128));
      ASSERT_NEAR(ro[i], r, 2.51) << "reduced " << i;
    }
  }
}

TEST(Idct, SelectorHonoursPlainRequest) {
  const char* env = std::getenv("TAMSEL_CPU");
  if (env && std::string(env) == "c") {
    EXPECT_EQ(&idct_dsp(), idct_dsp_for(CpuLevel::c));
  } else if (cpu_level() >= CpuLevel::avx2 && idct_dsp_for(CpuLevel::avx2)) {
    EXPECT_EQ(&idct_dsp(), idct_dsp_for(CpuLevel::avx2));
  }
}

}  // namespace
