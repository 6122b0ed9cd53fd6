// AVX2 quantisers from prepared steps: eight coefficients at a time, the
// 32 x 32 -> 64-bit products of the even and odd lanes shifted per lane,
// bit-exact with the plain loops. The transform is the SSE2 one.
#include <immintrin.h>

#include "encode/enc_dct.h"

const EncDctDsp* enc_dct_dsp_sse2();

namespace {

// Eight quotients of |src| with their signs; a zero source gives 0 (its
// numerator is the bias alone, always below the step).
inline __m256i quotients(const int16_t* src, const QuantSteps* s, int i, __m256i max, __m256i* x_out) {
  const __m256i x = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
  const __m256i n = _mm256_add_epi32(_mm256_slli_epi32(_mm256_abs_epi32(x), 15),
                                     _mm256_load_si256(reinterpret_cast<const __m256i*>(s->bias + i)));
  const __m256i m = _mm256_load_si256(reinterpret_cast<const __m256i*>(s->magic + i));
  const __m256i sh = _mm256_load_si256(reinterpret_cast<const __m256i*>(s->shift + i));
  const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
  const __m256i even = _mm256_srlv_epi64(_mm256_mul_epu32(n, m), _mm256_and_si256(sh, low32));
  const __m256i odd = _mm256_srlv_epi64(_mm256_mul_epu32(_mm256_srli_epi64(n, 32), _mm256_srli_epi64(m, 32)),
                                        _mm256_srli_epi64(sh, 32));
  __m256i d = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
  d = _mm256_min_epi32(d, max);
  *x_out = x;
  return _mm256_sign_epi32(d, x);
}

// Stores 16 results and returns how many are non-zero.
inline int store16(int16_t* dst, __m256i a, __m256i b) {
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), packed);
  const __m256i zero = _mm256_cmpeq_epi16(packed, _mm256_setzero_si256());
  return 16 - __builtin_popcount(static_cast<unsigned>(_mm256_movemask_epi8(zero))) / 2;
}

int quant_all(const int16_t* src, const QuantSteps* s, int max, int16_t* dst) {
  const __m256i mx = _mm256_set1_epi32(max);
  int count = 0;
  __m256i x;
  for (int i = 0; i < 64; i += 16) {
    const __m256i a = quotients(src, s, i, mx, &x);
    const __m256i b = quotients(src, s, i + 8, mx, &x);
    count += store16(dst + i, a, b);
  }
  return count;
}

int quant_intra_steps_avx2(const int16_t* src, const QuantSteps* steps, int dc_prec, int max, int16_t* dst) {
  const int k = 6 - dc_prec;
  const int x0 = src[0];
  const int16_t dc = static_cast<int16_t>(x0 > 0 ? (x0 + (1 << (k - 1))) >> k : -(((1 << (k - 1)) - x0) >> k));
  int count = quant_all(src, steps, max, dst);
  count -= dst[0] != 0;
  dst[0] = dc;
  dst[64] = static_cast<int16_t>(count);
  return 1;
}

int quant_non_intra_steps_avx2(const int16_t* src, const QuantSteps* steps, int max, int16_t* dst) {
  const int count = quant_all(src, steps, max, dst);
  dst[64] = static_cast<int16_t>(count);
  return count != 0;
}

EncDctDsp make() {
  EncDctDsp d = *enc_dct_dsp_sse2();
  d.quant_intra_steps = quant_intra_steps_avx2;
  d.quant_non_intra_steps = quant_non_intra_steps_avx2;
  return d;
}

}  // namespace

const EncDctDsp* enc_dct_dsp_avx2() {
  static const EncDctDsp d = make();
  return &d;
}
