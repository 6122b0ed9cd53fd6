// AVX2 inverse transform: each pass handles all eight lanes of a vector pair
// in one 256-bit multiply-add; bit-exact with idct_c.
#include <immintrin.h>

#include <cstdint>

#include "decode/idct.h"
#include "decode/idct_simd.h"

static inline __m256i pair256(int a, int b) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a)));
}

// Interleaves two vectors of eight 16-bit values into eight 32-bit pairs.
static inline __m256i inter(__m128i a, __m128i b) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)), _mm_unpackhi_epi16(a, b), 1);
}

template <int SHIFT>
static inline void pass(__m128i r[8]) {
  const __m256i rnd = _mm256_set1_epi32(1 << (SHIFT - 1));
  const __m256i p04 = inter(r[0], r[4]), p26 = inter(r[2], r[6]);
  const __m256i p13 = inter(r[1], r[3]), p57 = inter(r[5], r[7]);
  const __m256i t0 = _mm256_add_epi32(_mm256_madd_epi16(p04, pair256(IDCT_C0, IDCT_C0)), rnd);
  const __m256i t1 = _mm256_add_epi32(_mm256_madd_epi16(p04, pair256(IDCT_C0, -IDCT_C0)), rnd);
  const __m256i t3 = _mm256_madd_epi16(p26, pair256(IDCT_E26_0, IDCT_E26_1));
  const __m256i t2 = _mm256_madd_epi16(p26, pair256(IDCT_E26_2, IDCT_E26_3));
  const __m256i e[4] = {_mm256_add_epi32(t0, t3), _mm256_add_epi32(t1, t2), _mm256_sub_epi32(t1, t2),
                        _mm256_sub_epi32(t0, t3)};
  for (int k = 0; k < 4; ++k) {
    const __m256i o = _mm256_add_epi32(_mm256_madd_epi16(p13, pair256(IDCT_O[k][0], IDCT_O[k][1])),
                                       _mm256_madd_epi16(p57, pair256(IDCT_O[k][2], IDCT_O[k][3])));
    // one pack for rows k and 7 - k, then the 64-bit halves put in order
    const __m256i pk = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(e[k], o), SHIFT),
                           _mm256_srai_epi32(_mm256_sub_epi32(e[k], o), SHIFT)),
        0xD8);
    r[k] = _mm256_castsi256_si128(pk);
    r[7 - k] = _mm256_extracti128_si256(pk, 1);
  }
}

static inline void transform(int16_t* b, __m128i r[8]) {
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * k));
  idct_transpose8(r);
  pass<11>(r);
  idct_transpose8(r);
  pass<18>(r);
  for (int k = 0; k < 8; ++k) r[k] = idct_clamp9(r[k]);
}

void idct_avx2(int16_t* b) {
  __m128i r[8];
  transform(b, r);
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * k), r[k]);
}

void idct_put_avx2(int16_t* b, uint8_t* dst, int stride) {
  __m128i r[8];
  transform(b, r);
  for (int k = 0; k < 8; k += 2) {
    const __m128i v = _mm_packus_epi16(idct_put_row(r[k]), idct_put_row(r[k + 1]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k * stride), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (k + 1) * stride), _mm_srli_si128(v, 8));
  }
}

void idct_add_avx2(int16_t* b, uint8_t* dst, int stride) {
  __m128i r[8];
  transform(b, r);
  const __m128i z = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k) {
    uint8_t* d = dst + k * stride;
    const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d)), z);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(_mm_adds_epi16(p, r[k]), z));
  }
}
