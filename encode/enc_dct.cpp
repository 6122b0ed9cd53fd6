#include "encode/enc_dct.h"

#include <cstdlib>
#include <cstring>

#include "encode/enc_dct_coef.h"

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

inline int16_t saturate16(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }

// out[k * out_step] for k = 0..7: the dot products of in[0], in[in_step], ...
// with the rows of m, summed modulo 2^32 (as multiply-add lanes do, so that
// any 16-bit input gives the same result everywhere), rounded, shifted and
// saturated to 16 bits.
inline void fdct_pass(const int16_t* in, int in_step, int16_t* out, int out_step, const int16_t (*m)[8], int shift) {
  for (int k = 0; k < 8; ++k) {
    uint32_t s = 1u << (shift - 1);
    for (int i = 0; i < 8; ++i) s += static_cast<uint32_t>(in[i * in_step] * m[k][i]);
    out[k * out_step] = saturate16(static_cast<int32_t>(s) >> shift);
  }
}

}  // namespace

void fdct_8x8(int16_t* block) {
  int16_t rows[64];  // rows[8 y + u]: horizontal frequency u of row y, 3 fraction bits
  for (int y = 0; y < 8; ++y)
    fdct_pass(block + 8 * y, 1, rows + 8 * y, 1, FDCT_PASS1, FDCT_PASS1_BITS - FDCT_FRACTION);
  for (int u = 0; u < 8; ++u) fdct_pass(rows + u, 8, block + u, 8, FDCT_PASS2, FDCT_PASS2_BITS + FDCT_FRACTION);
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

void QuantStepTable::prepare(const int32_t* matrix, bool intra) {
  if (!state_.empty() && intra == intra_ && std::memcmp(matrix, matrix_, sizeof matrix_) == 0) return;
  std::memcpy(matrix_, matrix, sizeof matrix_);
  intra_ = intra;
  steps_.resize(113);
  state_.assign(113, 0);
}

const QuantSteps* QuantStepTable::get(int mquant) {
  if (mquant < 1 || mquant > 112 || state_.empty()) return nullptr;
  int8_t& st = state_[static_cast<size_t>(mquant)];
  QuantSteps* s = &steps_[static_cast<size_t>(mquant)];
  if (!st) st = make_quant_steps(s, matrix_, mquant, intra_) ? 1 : -1;
  return st > 0 ? s : nullptr;
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
