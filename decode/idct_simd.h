// Building blocks of the SSE2 and AVX2 inverse transforms (header-only so
// each variant compiles them with its own target flags).
#pragma once

#include <emmintrin.h>

#include "decode/idct.h"
#include "decode/idct_coef.h"

#define IDCT_PAIR(a, b) _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a)))

static inline void idct_transpose8(__m128i r[8]) {
  __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Clamp of the final pass to -256..255.
static inline __m128i idct_clamp9(__m128i v) {
  return _mm_min_epi16(_mm_max_epi16(v, _mm_set1_epi16(-256)), _mm_set1_epi16(255));
}

static inline __m128i idct_put_row(__m128i v) { return _mm_adds_epi16(v, _mm_set1_epi16(128)); }

// Saturating byte adds give exactly clip(dst + v) for v in -256..255.
static inline void idct_put_dc_simd(uint8_t* dst, int stride, int v) {
  const int p = v + 128 < 0 ? 0 : v + 128 > 255 ? 255 : v + 128;
  const __m128i b = _mm_set1_epi8(static_cast<char>(p));
  for (int y = 0; y < 8; ++y, dst += stride) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), b);
}

static inline void idct_add_dc_simd(uint8_t* dst, int stride, int v) {
  const __m128i up = _mm_set1_epi8(static_cast<char>(v > 0 ? (v > 255 ? 255 : v) : 0));
  const __m128i down = _mm_set1_epi8(static_cast<char>(v < 0 ? (-v > 255 ? 255 : -v) : 0));
  for (int y = 0; y < 8; ++y, dst += stride) {
    const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_subs_epu8(_mm_adds_epu8(d, up), down));
  }
}


// DC+63 blocks with c63 = +-1: (dc + 4) >> 3 plus the pattern, in 16-bit
// lanes; saturating packs give the bytes. Other c63 values take the plain
// path.
static inline void idct_dc63_simd(int dc, int c63, uint8_t* dst, int stride, int mode) {
  if (c63 != 1 && c63 != -1) {
    idct_dc63(dc, c63, dst, stride, mode);
    return;
  }
  const int q = dc + 4;
  const int16_t* adj = idct_dc63_pattern(c63, q & 7);
  const __m128i z = _mm_setzero_si128();
  const __m128i base = _mm_set1_epi16(static_cast<int16_t>((q >> 3) + (mode ? 0 : 128)));
  for (int y = 0; y < 8; ++y, dst += stride) {
    __m128i v = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(adj + 8 * y)), base);
    if (mode) v = _mm_add_epi16(v, _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, z));
  }
}
