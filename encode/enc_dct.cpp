#include "encode/enc_dct.h"

#include <cstdlib>

const int32_t kAanScale[64] = {
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  22725, 31521, 29692, 26722, 22725, 17855, 12299, 6270,
    21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,  19266, 26722, 25172, 22654, 19266, 15137, 10426, 5315,
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,
    8867,  12299, 11585, 10426, 8867,  6967,  4799,  2446,  4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247,
};

void scale_quant_matrix(int32_t out[64], const uint8_t matrix[64]) {
  for (int i = 0; i < 64; ++i) out[i] = static_cast<int32_t>(matrix[i]) * kAanScale[i];
}

namespace {

// 16-bit wrap of a stored intermediate, and the 8-bit constant products.
inline int w16(int v) { return static_cast<int16_t>(v); }
inline int mul8(int a, int c) { return w16((a * c) >> 8); }

// One 8-point pass over p[0], p[step], ... p[7 step].
inline void aan_pass(int16_t* p, int step) {
  const int d0 = p[0], d1 = p[step], d2 = p[2 * step], d3 = p[3 * step];
  const int d4 = p[4 * step], d5 = p[5 * step], d6 = p[6 * step], d7 = p[7 * step];
  const int t0 = w16(d0 + d7), t7 = w16(d0 - d7), t1 = w16(d1 + d6), t6 = w16(d1 - d6);
  const int t2 = w16(d2 + d5), t5 = w16(d2 - d5), t3 = w16(d3 + d4), t4 = w16(d3 - d4);
  // even part
  const int t10 = w16(t0 + t3), t13 = w16(t0 - t3), t11 = w16(t1 + t2), t12 = w16(t1 - t2);
  p[0] = static_cast<int16_t>(t10 + t11);
  p[4 * step] = static_cast<int16_t>(t10 - t11);
  const int z1 = mul8(w16(t12 + t13), 181);
  p[2 * step] = static_cast<int16_t>(t13 + z1);
  p[6 * step] = static_cast<int16_t>(t13 - z1);
  // odd part
  const int o10 = w16(t4 + t5), o11 = w16(t5 + t6), o12 = w16(t6 + t7);
  const int z5 = mul8(w16(o10 - o12), 98);
  const int z2 = w16(mul8(o10, 139) + z5);
  const int z4 = w16(mul8(o12, 334) + z5);
  const int z3 = mul8(o11, 181);
  const int z11 = w16(t7 + z3), z13 = w16(t7 - z3);
  p[5 * step] = static_cast<int16_t>(z13 + z2);
  p[3 * step] = static_cast<int16_t>(z13 - z2);
  p[1 * step] = static_cast<int16_t>(z11 + z4);
  p[7 * step] = static_cast<int16_t>(z11 - z4);
}

}  // namespace

void fdct_8x8(int16_t* block) {
  for (int r = 0; r < 8; ++r) aan_pass(block + 8 * r, 1);
  for (int c = 0; c < 8; ++c) aan_pass(block + c, 8);
}

namespace {

// Levels of coefficients first..63: (|x| x 32768 + offset) / step, limited
// to max, signed; returns the non-zero count.
int quant_divide(const int16_t* src, const int32_t* matrix, int mquant, int max, int16_t* dst, int first, bool intra) {
  int count = 0;
  for (int i = first; i < 64; ++i) {
    const int x = src[i];
    if (!x) {
      dst[i] = 0;
      continue;
    }
    const int64_t w = matrix[i];
    const int64_t q = w * mquant;
    const int64_t n = static_cast<int64_t>(std::abs(x)) * 32768 + (intra ? (q >> 2) + (q >> 3) : (w >> 2));
    int v = 0;
    if (n >= q) {
      const int64_t d = n / q;
      v = static_cast<int>(d < max ? d : max);
      ++count;
    }
    dst[i] = static_cast<int16_t>(x < 0 ? -v : v);
  }
  return count;
}

// The same from prepared steps, without branches.
int quant_steps(const int16_t* src, const QuantSteps* steps, int max, int16_t* dst, int first) {
  int count = 0;
  for (int i = first; i < 64; ++i) {
    const int x = src[i];
    const uint64_t n = static_cast<uint64_t>(x < 0 ? -x : x) * 32768 + steps->bias[i];
    int d = static_cast<int>((n * steps->magic[i]) >> steps->shift[i]);
    d = x ? (d < max ? d : max) : 0;
    count += d != 0;
    dst[i] = static_cast<int16_t>(x < 0 ? -d : d);
  }
  return count;
}

inline int16_t intra_dc(int x0, int dc_prec) {
  const int k = 6 - dc_prec;
  return static_cast<int16_t>(x0 > 0 ? (x0 + (1 << (k - 1))) >> k : -(((1 << (k - 1)) - x0) >> k));
}

}  // namespace

int quant_intra(const int16_t* src, const int32_t* matrix, int mquant, int dc_prec, int max, int16_t* dst) {
  const int16_t dc = intra_dc(src[0], dc_prec);
  dst[64] = static_cast<int16_t>(quant_divide(src, matrix, mquant, max, dst, 1, true));
  dst[0] = dc;
  return 1;
}

int quant_non_intra(const int16_t* src, const int32_t* matrix, int mquant, int max, int16_t* dst) {
  const int count = quant_divide(src, matrix, mquant, max, dst, 0, false);
  dst[64] = static_cast<int16_t>(count);
  return count != 0;
}

bool make_quant_steps(QuantSteps* out, const int32_t* matrix, int mquant, bool intra) {
  if (mquant < 1) return false;
  for (int i = 0; i < 64; ++i) {
    const uint64_t w = static_cast<uint32_t>(matrix[i]);
    const uint64_t q = w * static_cast<uint64_t>(mquant);
    if (matrix[i] < 1 || q >= (1ull << 30)) return false;
    int l = 0;
    while ((1ull << l) < q) ++l;
    out->shift[i] = static_cast<uint32_t>(31 + l);
    out->magic[i] = static_cast<uint32_t>(((1ull << (31 + l)) + q - 1) / q);
    out->bias[i] = static_cast<uint32_t>(intra ? (q >> 2) + (q >> 3) : (w >> 2));
  }
  return true;
}

int quant_intra_steps(const int16_t* src, const QuantSteps* steps, int dc_prec, int max, int16_t* dst) {
  const int16_t dc = intra_dc(src[0], dc_prec);
  dst[64] = static_cast<int16_t>(quant_steps(src, steps, max, dst, 1));
  dst[0] = dc;
  return 1;
}

int quant_non_intra_steps(const int16_t* src, const QuantSteps* steps, int max, int16_t* dst) {
  const int count = quant_steps(src, steps, max, dst, 0);
  dst[64] = static_cast<int16_t>(count);
  return count != 0;
}

int check_coef_range(CoefBlock* const* blocks) {
  for (int b = 0; b < 6; ++b) {
    const int c1 = blocks[b]->c[1], c8 = blocks[b]->c[8];
    if (c1 < -5667 || c1 > 5667 || c8 < -5676 || c8 > 5676) return 1;
  }
  return 0;
}

#if TAMSEL_X86_SIMD
const EncDctDsp* enc_dct_dsp_sse2();
const EncDctDsp* enc_dct_dsp_avx2();
#endif

namespace {
const EncDctDsp kPlain = {fdct_8x8, quant_intra, quant_non_intra, quant_intra_steps, quant_non_intra_steps};
}


const EncDctDsp* enc_dct_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c:
      return &kPlain;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse2:
      return enc_dct_dsp_sse2();
    case CpuLevel::avx2:
      return enc_dct_dsp_avx2();
#endif
    default:
      return nullptr;
  }
}

const EncDctDsp& enc_dct_dsp() {
  static const EncDctDsp& d = cpu_pick(enc_dct_dsp_for);
  return d;
}
