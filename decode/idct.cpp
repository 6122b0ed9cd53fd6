// Plain inverse transforms, the store/add steps and the table of variants.
//
// The full transform is the integer Loeffler-Ligtenberg-Moschytz IDCT with
// 13-bit constants, written as exact integer dot products: each output of a
// pass is a sum of the inputs times combined constants, so any evaluation
// order (the SIMD variants use multiply-add pairs) gives the same integers.
// Rows: (sum + 1024) >> 11, saturated to 16 bits; columns: (sum + 2^17) >> 18,
// clamped to -256..255.
#include "decode/idct.h"

#include <cmath>
#include <cstring>

#include "decode/idct_coef.h"
#include "foundation/cpu.h"

static inline uint8_t clip8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One 8-point pass; in and out strided by `step`.
template <int SHIFT, bool COLUMN>
static inline void idct_1d(int16_t* p, int step) {
  const int x0 = p[0], x1 = p[step], x2 = p[2 * step], x3 = p[3 * step];
  const int x4 = p[4 * step], x5 = p[5 * step], x6 = p[6 * step], x7 = p[7 * step];
  constexpr int R = 1 << (SHIFT - 1);
  int out[8];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int v = (x0 * IDCT_C0 + R) >> SHIFT;
    for (int i = 0; i < 8; ++i) out[i] = v;
  } else {
    const int t0 = x0 * IDCT_C0 + x4 * IDCT_C0;
    const int t1 = x0 * IDCT_C0 - x4 * IDCT_C0;
    const int t3 = x2 * IDCT_E26_0 + x6 * IDCT_E26_1;
    const int t2 = x2 * IDCT_E26_2 + x6 * IDCT_E26_3;
    const int e0 = t0 + t3 + R, e3 = t0 - t3 + R, e1 = t1 + t2 + R, e2 = t1 - t2 + R;
    const int o0 = x1 * IDCT_O[0][0] + x3 * IDCT_O[0][1] + x5 * IDCT_O[0][2] + x7 * IDCT_O[0][3];
    const int o1 = x1 * IDCT_O[1][0] + x3 * IDCT_O[1][1] + x5 * IDCT_O[1][2] + x7 * IDCT_O[1][3];
    const int o2 = x1 * IDCT_O[2][0] + x3 * IDCT_O[2][1] + x5 * IDCT_O[2][2] + x7 * IDCT_O[2][3];
    const int o3 = x1 * IDCT_O[3][0] + x3 * IDCT_O[3][1] + x5 * IDCT_O[3][2] + x7 * IDCT_O[3][3];
    out[0] = (e0 + o0) >> SHIFT;
    out[7] = (e0 - o0) >> SHIFT;
    out[1] = (e1 + o1) >> SHIFT;
    out[6] = (e1 - o1) >> SHIFT;
    out[2] = (e2 + o2) >> SHIFT;
    out[5] = (e2 - o2) >> SHIFT;
    out[3] = (e3 + o3) >> SHIFT;
    out[4] = (e3 - o3) >> SHIFT;
  }
  for (int i = 0; i < 8; ++i) {
    int v = out[i];
    if (COLUMN) {
      v = v < -256 ? -256 : v > 255 ? 255 : v;
    } else {
      v = v < -32768 ? -32768 : v > 32767 ? 32767 : v;
    }
    p[i * step] = static_cast<int16_t>(v);
  }
}

static void idct_c(int16_t* b) {
  for (int r = 0; r < 8; ++r) idct_1d<11, false>(b + 8 * r, 1);
  for (int c = 0; c < 8; ++c) idct_1d<18, true>(b + c, 8);
}

static void idct_put_c(int16_t* b, uint8_t* dst, int stride) {
  idct_c(b);
  for (int y = 0; y < 8; ++y, dst += stride)
    for (int x = 0; x < 8; ++x) dst[x] = clip8(b[8 * y + x] + 128);
  std::memset(b, 0, 64 * sizeof(int16_t));
}

static void idct_add_c(int16_t* b, uint8_t* dst, int stride) {
  idct_c(b);
  for (int y = 0; y < 8; ++y, dst += stride)
    for (int x = 0; x < 8; ++x) dst[x] = clip8(dst[x] + b[8 * y + x]);
  std::memset(b, 0, 64 * sizeof(int16_t));
}

static void idct_put_dc_c(uint8_t* dst, int stride, int v) {
  const uint8_t p = clip8(v + 128);
  for (int y = 0; y < 8; ++y, dst += stride) std::memset(dst, p, 8);
}

static void idct_add_dc_c(uint8_t* dst, int stride, int v) {
  for (int y = 0; y < 8; ++y, dst += stride)
    for (int x = 0; x < 8; ++x) dst[x] = clip8(dst[x] + v);
}

static const IdctDsp idct_dsp_c = {idct_c,        idct_put_c,    idct_add_c, idct_put_c,
                                   idct_add_c,    idct_put_dc_c, idct_add_dc_c, idct_dc63};

#if TAMSEL_X86_SIMD
extern const IdctDsp idct_dsp_sse2;
extern const IdctDsp idct_dsp_avx2;
#endif

const IdctDsp* idct_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &idct_dsp_c;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse2: return &idct_dsp_sse2;
    case CpuLevel::avx2: return &idct_dsp_avx2;
#endif
    default: return nullptr;
  }
}

const IdctDsp& idct_dsp() {
  static const IdctDsp& dsp = cpu_pick(idct_dsp_for);
  return dsp;
}

void idct_dispatch(int16_t* block, uint8_t* dst, int stride, int mode) {
  if (mode)
    idct_dsp().add(block, dst, stride);
  else
    idct_dsp().put(block, dst, stride);
}

// Row 0 holds only the DC, 4 x dc after the row pass; row 7 only c63, whose
// row pass gives the odd terms r7[x]. Each column then has inputs 0 and 7
// alone, so output (y, x) = (E +- r7[x] x IDCT_O[k][3]) >> 18 with
// E = 4 dc x IDCT_C0 + rounding: the full transform's own integers.
void idct_dc63_values(int dc, int c63, int16_t out[64]) {
  int r7[8];
  for (int k = 0; k < 4; ++k) {
    const int o = c63 * IDCT_O[k][3];
    r7[k] = (1024 + o) >> 11;
    r7[7 - k] = (1024 - o) >> 11;
  }
  const int e = 4 * dc * IDCT_C0 + (1 << 17);
  for (int y = 0; y < 8; ++y) {
    const int k = y < 4 ? y : 7 - y;
    const int c = y < 4 ? IDCT_O[k][3] : -IDCT_O[k][3];
    for (int x = 0; x < 8; ++x) {
      const int v = (e + r7[x] * c) >> 18;
      out[8 * y + x] = static_cast<int16_t>(v < -256 ? -256 : v > 255 ? 255 : v);
    }
  }
}

// With c63 = +-1 the odd terms r7[x] x IDCT_O[k][3] stay below 2^17 in
// magnitude, so output (y, x) is (dc + 4) >> 3 plus -1, 0 or 1, set by
// (dc + 4) & 7 and the position: eight small tables per sign make the
// block without a multiplication.
const int16_t* idct_dc63_pattern(int c63, int phase) {
  struct Patterns {
    int16_t v[2][8][64];  // [c63 == -1][(dc + 4) & 7]
    Patterns() {
      for (int s = 0; s < 2; ++s)
        for (int r = 0; r < 8; ++r) idct_dc63_values(r - 4, s ? -1 : 1, v[s][r]);  // (dc + 4) >> 3 is 0 here
    }
  };
  static const Patterns patterns;
  return patterns.v[c63 < 0][phase & 7];
}

namespace {
template <bool ADD>
inline void dc63_unit(const int16_t* adj, int base, uint8_t* dst, int stride) {
  // bytes saturate: no need to clamp the transform's output to -256..255 first
  for (int y = 0; y < 8; ++y, dst += stride, adj += 8)
    for (int x = 0; x < 8; ++x) {
      const int v = (ADD ? dst[x] : 128) + base + adj[x];
      dst[x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}
}  // namespace

void idct_dc63(int dc, int c63, uint8_t* dst, int stride, int mode) {
  if (c63 == 1 || c63 == -1) {
    const int q = dc + 4;
    const int16_t* adj = idct_dc63_pattern(c63, q & 7);
    if (mode)
      dc63_unit<true>(adj, q >> 3, dst, stride);
    else
      dc63_unit<false>(adj, q >> 3, dst, stride);
    return;
  }
  int16_t v[64];
  idct_dc63_values(dc, c63, v);
  for (int y = 0; y < 8; ++y, dst += stride)
    for (int x = 0; x < 8; ++x) dst[x] = mode ? clip8(dst[x] + v[8 * y + x]) : clip8(v[8 * y + x] + 128);
}

// 65536 x sqrt(2) x cos((2k + 1) pi / 16) / 8
static const int K_RED[4] = {11363, 9633, 6436, 2260};

static void idct_reduced_do(const int16_t* b, uint8_t* dst, int stride, int add) {
  const int base = ((b[0] + 4) >> 3) + (add ? 0 : 128);
  int h[8] = {}, v[8] = {};
  if (b[1])
    for (int k = 0; k < 4; ++k) {
      h[k] = (b[1] * K_RED[k]) >> 16;
      h[7 - k] = -h[k];
    }
  if (b[8])
    for (int k = 0; k < 4; ++k) {
      v[k] = (b[8] * K_RED[k]) >> 16;
      v[7 - k] = -v[k];
    }
  for (int y = 0; y < 8; ++y, dst += stride)
    for (int x = 0; x < 8; ++x) dst[x] = clip8(base + h[x] + v[y] + (add ? dst[x] : 0));
}

void idct_reduced(int16_t* b, uint8_t* dst, int stride, int mode) { idct_reduced_do(b, dst, stride, mode); }

// Reduced sizes: the full transform averaged over n x n squares is a
// separable map of the coefficients; frequencies 4..7 add little (4 adds
// nothing at all to 2x2 averages), so the 4x4 low-frequency square is used.
// A[x][u] = C(u) / 2 x mean of cos((2k + 1) u pi / 16) over the square's
// samples k, in units of 2^14.
struct ReducedTable {
  int a[4][4];
};

static ReducedTable reduced_table(int n) {
  ReducedTable t{};
  for (int x = 0; x < 8 / n; ++x)
    for (int u = 0; u < 4; ++u) {
      double m = 0;
      for (int k = x * n; k < (x + 1) * n; ++k) m += std::cos((2 * k + 1) * u * M_PI / 16);
      const double c = (u ? 0.5 : 0.5 / std::sqrt(2.0)) * m / n;
      t.a[x][u] = static_cast<int>(std::lround(c * 16384));
    }
  return t;
}

static void idct_reduced_square(const int16_t* b, uint8_t* dst, int stride, int mode, int n) {
  static const ReducedTable half = reduced_table(2), quarter = reduced_table(4);
  const ReducedTable& t = n == 2 ? half : quarter;
  const int m = 8 / n;
  int rows[4][4];  // rows[v][x]: 2^6 units
  for (int v = 0; v < 4; ++v)
    for (int x = 0; x < m; ++x) {
      int s = 0;
      for (int u = 0; u < 4; ++u) s += b[8 * v + u] * t.a[x][u];
      rows[v][x] = (s + 128) >> 8;
    }
  for (int y = 0; y < m; ++y, dst += stride)
    for (int x = 0; x < m; ++x) {
      int64_t s = 0;
      for (int v = 0; v < 4; ++v) s += static_cast<int64_t>(rows[v][x]) * t.a[y][v];
      const int val = static_cast<int>((s + (1 << 19)) >> 20);
      dst[x] = mode ? clip8(dst[x] + val) : clip8(val + 128);
    }
}

void idct_half(int16_t* b, uint8_t* dst, int stride, int mode) { idct_reduced_square(b, dst, stride, mode, 2); }
void idct_quarter(int16_t* b, uint8_t* dst, int stride, int mode) { idct_reduced_square(b, dst, stride, mode, 4); }
