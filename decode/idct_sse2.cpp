// SSE2 inverse transform: the plain transform's dot products as 16-bit
// multiply-add pairs in 32-bit lanes; bit-exact with idct_c.
#include <emmintrin.h>

#include <cstdint>

#include "decode/idct.h"
#include "decode/idct_simd.h"

// One pass over eight vectors: lane i of r[k] is input k of transform i.
template <int SHIFT>
static inline void pass(__m128i r[8]) {
  const __m128i rnd = _mm_set1_epi32(1 << (SHIFT - 1));
  const __m128i k04p = IDCT_PAIR(IDCT_C0, IDCT_C0), k04m = IDCT_PAIR(IDCT_C0, -IDCT_C0);
  const __m128i k26a = IDCT_PAIR(IDCT_E26_0, IDCT_E26_1), k26b = IDCT_PAIR(IDCT_E26_2, IDCT_E26_3);
  __m128i res[2][8];
  for (int h = 0; h < 2; ++h) {
    const __m128i p04 = h ? _mm_unpackhi_epi16(r[0], r[4]) : _mm_unpacklo_epi16(r[0], r[4]);
    const __m128i p26 = h ? _mm_unpackhi_epi16(r[2], r[6]) : _mm_unpacklo_epi16(r[2], r[6]);
    const __m128i p13 = h ? _mm_unpackhi_epi16(r[1], r[3]) : _mm_unpacklo_epi16(r[1], r[3]);
    const __m128i p57 = h ? _mm_unpackhi_epi16(r[5], r[7]) : _mm_unpacklo_epi16(r[5], r[7]);
    const __m128i t0 = _mm_add_epi32(_mm_madd_epi16(p04, k04p), rnd);
    const __m128i t1 = _mm_add_epi32(_mm_madd_epi16(p04, k04m), rnd);
    const __m128i t3 = _mm_madd_epi16(p26, k26a);
    const __m128i t2 = _mm_madd_epi16(p26, k26b);
    const __m128i e[4] = {_mm_add_epi32(t0, t3), _mm_add_epi32(t1, t2), _mm_sub_epi32(t1, t2), _mm_sub_epi32(t0, t3)};
    for (int k = 0; k < 4; ++k) {
      const __m128i o = _mm_add_epi32(_mm_madd_epi16(p13, IDCT_PAIR(IDCT_O[k][0], IDCT_O[k][1])),
                                      _mm_madd_epi16(p57, IDCT_PAIR(IDCT_O[k][2], IDCT_O[k][3])));
      res[h][k] = _mm_srai_epi32(_mm_add_epi32(e[k], o), SHIFT);
      res[h][7 - k] = _mm_srai_epi32(_mm_sub_epi32(e[k], o), SHIFT);
    }
  }
  for (int k = 0; k < 8; ++k) r[k] = _mm_packs_epi32(res[0][k], res[1][k]);
}

static inline void transform(int16_t* b, __m128i r[8]) {
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * k));
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * k), _mm_setzero_si128());
  idct_transpose8(r);
  pass<11>(r);
  idct_transpose8(r);
  pass<18>(r);
  for (int k = 0; k < 8; ++k) r[k] = idct_clamp9(r[k]);
}

static void idct_sse2(int16_t* b) {
  __m128i r[8];
  transform(b, r);
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * k), r[k]);
}

static void idct_put_sse2(int16_t* b, uint8_t* dst, int stride) {
  __m128i r[8];
  transform(b, r);
  for (int k = 0; k < 8; k += 2) {
    const __m128i v = _mm_packus_epi16(idct_put_row(r[k]), idct_put_row(r[k + 1]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k * stride), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (k + 1) * stride), _mm_srli_si128(v, 8));
  }
}

static void idct_add_sse2(int16_t* b, uint8_t* dst, int stride) {
  __m128i r[8];
  transform(b, r);
  const __m128i z = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k) {
    uint8_t* d = dst + k * stride;
    const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d)), z);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(_mm_adds_epi16(p, r[k]), z));
  }
}

extern const IdctDsp idct_dsp_sse2;
const IdctDsp idct_dsp_sse2 = {idct_sse2,     idct_put_sse2,    idct_add_sse2,    idct_put_sse2,
                                idct_add_sse2, idct_put_dc_simd, idct_add_dc_simd, idct_dc63_simd};
