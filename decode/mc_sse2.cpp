// SSE2 predictors for widths 16 and 8; narrower blocks use the plain ones.
// Byte averages round up exactly like (a + b + 1) >> 1; the four-sample mode
// is computed in 16-bit lanes (two chained byte averages would be off by one).
#include <emmintrin.h>

#include "decode/mc.h"

template <int W>
static inline __m128i load(const uint8_t* p) {
  if (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int W>
static inline void store(uint8_t* p, __m128i v) {
  if (W == 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  else
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

static inline __m128i avg4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)),
                             _mm_add_epi16(_mm_unpacklo_epi8(c, z), _mm_unpacklo_epi8(d, z)));
  __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z)),
                             _mm_add_epi16(_mm_unpackhi_epi8(c, z), _mm_unpackhi_epi8(d, z)));
  lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
  hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
  return _mm_packus_epi16(lo, hi);
}

template <int M, int W>
static inline __m128i pred(const uint8_t* s, int stride) {
  if (M == 0) return load<W>(s);
  if (M == 1) return _mm_avg_epu8(load<W>(s), load<W>(s + 1));
  if (M == 2) return _mm_avg_epu8(load<W>(s), load<W>(s + stride));
  return avg4(load<W>(s), load<W>(s + 1), load<W>(s + stride), load<W>(s + stride + 1));
}

template <int M>
static void single_sse2(uint8_t* d, const uint8_t* s, int stride, int w, int h) {
  if (w == 16) {
    for (int y = 0; y < h; ++y, d += stride, s += stride) store<16>(d, pred<M, 16>(s, stride));
  } else if (w == 8) {
    for (int y = 0; y < h; ++y, d += stride, s += stride) store<8>(d, pred<M, 8>(s, stride));
  } else {
    prediction_table_c.single[M](d, s, stride, w, h);
  }
}

template <int M1, int M2>
static void avg_sse2(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int w, int h) {
  if (w == 16) {
    for (int y = 0; y < h; ++y, d += stride, s1 += stride, s2 += stride)
      store<16>(d, _mm_avg_epu8(pred<M1, 16>(s1, stride), pred<M2, 16>(s2, stride)));
  } else if (w == 8) {
    for (int y = 0; y < h; ++y, d += stride, s1 += stride, s2 += stride)
      store<8>(d, _mm_avg_epu8(pred<M1, 8>(s1, stride), pred<M2, 8>(s2, stride)));
  } else {
    prediction_table_c.avg[4 * M2 + M1](d, s1, s2, stride, w, h);
  }
}

#define AVG_ROW(m2) avg_sse2<0, m2>, avg_sse2<1, m2>, avg_sse2<2, m2>, avg_sse2<3, m2>
const PredictionTable prediction_table_sse2 = {
    {AVG_ROW(0), AVG_ROW(1), AVG_ROW(2), AVG_ROW(3)},
    {single_sse2<0>, single_sse2<1>, single_sse2<2>, single_sse2<3>},
};
