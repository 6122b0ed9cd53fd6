// AVX2 inverse transform, bit-exact with idct_c, without transposes.
//
// Rows: two rows per register, each row turned into the pairs (x0,x4),
// (x2,x6), (x1,x3), (x5,x7) by byte shuffles, then one multiply-add per pair
// gives the four even and four odd sums of the row.
// Columns: the rows are kept as [r0|r1], [r4|r3], [r2|r5], [r6|r7], so that
// interleaving two registers gives (r0,r4) and (r1,r3) pairs in the two
// halves, and (r2,r6) and (r5,r7): one multiply-add computes an even sum in
// the low half and the matching odd sum in the high half.
#include <immintrin.h>

#include <cstdint>

#include "decode/idct.h"
#include "decode/idct_coef.h"
#include "decode/idct_simd.h"

namespace {

inline int pair(int a, int b) {
  return static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a));
}

// Per-lane constants: four dwords (pairs) per 128-bit half. Written out for
// both halves so that each is one load rather than a load and a broadcast.
inline __m256i k4(int a0, int b0, int a1, int b1, int a2, int b2, int a3, int b3) {
  return _mm256_setr_epi32(pair(a0, b0), pair(a1, b1), pair(a2, b2), pair(a3, b3), pair(a0, b0), pair(a1, b1),
                           pair(a2, b2), pair(a3, b3));
}
inline __m256i halves(int lo_a, int lo_b, int hi_a, int hi_b) {
  return _mm256_setr_epi32(pair(lo_a, lo_b), pair(lo_a, lo_b), pair(lo_a, lo_b), pair(lo_a, lo_b),
                           pair(hi_a, hi_b), pair(hi_a, hi_b), pair(hi_a, hi_b), pair(hi_a, hi_b));
}

inline __m256i row_pass(__m256i x) {
  const __m256i s04 = _mm256_setr_epi8(0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9,
                                       0, 1, 8, 9);
  const __m256i s26 = _mm256_setr_epi8(4, 5, 12, 13, 4, 5, 12, 13, 4, 5, 12, 13, 4, 5, 12, 13, 4, 5, 12, 13, 4, 5, 12,
                                       13, 4, 5, 12, 13, 4, 5, 12, 13);
  const __m256i s13 = _mm256_setr_epi8(2, 3, 6, 7, 2, 3, 6, 7, 2, 3, 6, 7, 2, 3, 6, 7, 2, 3, 6, 7, 2, 3, 6, 7, 2, 3, 6, 7,
                                       2, 3, 6, 7);
  const __m256i s57 = _mm256_setr_epi8(10, 11, 14, 15, 10, 11, 14, 15, 10, 11, 14, 15, 10, 11, 14, 15, 10, 11, 14, 15,
                                       10, 11, 14, 15, 10, 11, 14, 15, 10, 11, 14, 15);
  const int C = IDCT_C0;
  const __m256i k04 = k4(C, C, C, -C, C, -C, C, C);
  const __m256i k26 = k4(IDCT_E26_0, IDCT_E26_1, IDCT_E26_2, IDCT_E26_3, -IDCT_E26_2, -IDCT_E26_3, -IDCT_E26_0,
                         -IDCT_E26_1);
  const __m256i k13 = k4(IDCT_O[0][0], IDCT_O[0][1], IDCT_O[1][0], IDCT_O[1][1], IDCT_O[2][0], IDCT_O[2][1],
                         IDCT_O[3][0], IDCT_O[3][1]);
  const __m256i k57 = k4(IDCT_O[0][2], IDCT_O[0][3], IDCT_O[1][2], IDCT_O[1][3], IDCT_O[2][2], IDCT_O[2][3],
                         IDCT_O[3][2], IDCT_O[3][3]);
  const __m256i e = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(x, s04), k04), _mm256_set1_epi32(1 << 10)),
      _mm256_madd_epi16(_mm256_shuffle_epi8(x, s26), k26));
  const __m256i o = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(x, s13), k13),
                                     _mm256_madd_epi16(_mm256_shuffle_epi8(x, s57), k57));
  const __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(e, o), 11);                             // out 0..3
  const __m256i hi = _mm256_srai_epi32(_mm256_shuffle_epi32(_mm256_sub_epi32(e, o), 0x1B), 11);  // out 4..7
  return _mm256_packs_epi32(lo, hi);
}

// Column outputs k and 7 - k for four columns: [out k | out 7-k] (dwords).
inline __m256i col_pair(__m256i p, __m256i q, __m256i kp, __m256i kq) {
  const __m256i t = _mm256_add_epi32(_mm256_madd_epi16(p, kp), _mm256_madd_epi16(q, kq));  // [e | o]
  const __m256i s = _mm256_permute2x128_si256(t, t, 0x01);                                  // [o | e]
  const __m256i w = _mm256_blend_epi32(_mm256_add_epi32(t, s), _mm256_sub_epi32(s, t), 0xF0);
  return _mm256_srai_epi32(_mm256_add_epi32(w, _mm256_set1_epi32(1 << 17)), 18);
}

// The transform; out[k] holds [row k | row 7 - k], clamped to -256..255.
// The block is zeroed once read.
inline void transform(int16_t* b, __m256i out[4]) {
  const __m256i in01 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
  const __m256i in43 = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 32))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 24)), 1);
  const __m256i in25 = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 40)), 1);
  const __m256i in67 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 48));
  for (int k = 0; k < 4; ++k) _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + 16 * k), _mm256_setzero_si256());
  const __m256i a = row_pass(in01), bb = row_pass(in43), c = row_pass(in25), d = row_pass(in67);
  const int C = IDCT_C0;
  const __m256i kp[4] = {halves(C, C, IDCT_O[0][0], IDCT_O[0][1]), halves(C, -C, IDCT_O[1][0], IDCT_O[1][1]),
                         halves(C, -C, IDCT_O[2][0], IDCT_O[2][1]), halves(C, C, IDCT_O[3][0], IDCT_O[3][1])};
  const __m256i kq[4] = {halves(IDCT_E26_0, IDCT_E26_1, IDCT_O[0][2], IDCT_O[0][3]),
                         halves(IDCT_E26_2, IDCT_E26_3, IDCT_O[1][2], IDCT_O[1][3]),
                         halves(-IDCT_E26_2, -IDCT_E26_3, IDCT_O[2][2], IDCT_O[2][3]),
                         halves(-IDCT_E26_0, -IDCT_E26_1, IDCT_O[3][2], IDCT_O[3][3])};
  const __m256i plo = _mm256_unpacklo_epi16(a, bb), phi = _mm256_unpackhi_epi16(a, bb);
  const __m256i qlo = _mm256_unpacklo_epi16(c, d), qhi = _mm256_unpackhi_epi16(c, d);
  const __m256i lo_clamp = _mm256_set1_epi16(-256), hi_clamp = _mm256_set1_epi16(255);
  for (int k = 0; k < 4; ++k) {
    const __m256i v = _mm256_packs_epi32(col_pair(plo, qlo, kp[k], kq[k]), col_pair(phi, qhi, kp[k], kq[k]));
    out[k] = _mm256_min_epi16(_mm256_max_epi16(v, lo_clamp), hi_clamp);
  }
}

// Blocks with rows 0-3 and c63 (0 or 1) alone: rows 4-6 are zero and row
// 7's row pass is a fixed pattern r7 times c63, so the odd sum of column x
// for output pair k gains c63 x r7[x] x IDCT_O[k][3], a constant that joins
// the rounding term. Each output pair then takes one multiply-add, of
// (r0, r2) for the even sum and (r1, r3) for the odd one, where the full
// transform takes two; and two row passes instead of four.
struct UpperBias {
  alignas(32) int32_t v[2][4][2][8];  // [c63][k][columns 0-3, 4-7][out k | out 7 - k]
  constexpr UpperBias() : v() {
    int r7[8] = {};
    for (int k = 0; k < 4; ++k) {
      r7[k] = (1024 + IDCT_O[k][3]) >> 11;
      r7[7 - k] = (1024 - IDCT_O[k][3]) >> 11;
    }
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 4; ++k)
        for (int h = 0; h < 2; ++h)
          for (int j = 0; j < 8; ++j) {
            const int t = c * r7[4 * h + (j & 3)] * IDCT_O[k][3];
            v[c][k][h][j] = (1 << 17) + (j < 4 ? t : -t);
          }
  }
};
constexpr UpperBias kUpperBias;

inline __m256i col_pair_upper(__m256i p, __m256i kp, const int32_t* bias) {
  const __m256i t = _mm256_madd_epi16(p, kp);          // [e | o]
  const __m256i s = _mm256_permute2x128_si256(t, t, 0x01);  // [o | e]
  const __m256i w = _mm256_blend_epi32(_mm256_add_epi32(t, s), _mm256_sub_epi32(s, t), 0xF0);
  return _mm256_srai_epi32(_mm256_add_epi32(w, _mm256_load_si256(reinterpret_cast<const __m256i*>(bias))), 18);
}

// transform() of such a block, the same integers; reads and clears rows
// 0-3 and coefficient 63.
inline void transform_upper(int16_t* b, __m256i out[4]) {
  const __m256i in01 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
  const __m256i in23 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 16));
  const auto& bias = kUpperBias.v[b[63] & 1];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(b), _mm256_setzero_si256());
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + 16), _mm256_setzero_si256());
  b[63] = 0;
  const __m256i a = row_pass(in01), c = row_pass(in23);  // [r0 | r1], [r2 | r3]
  const __m256i plo = _mm256_unpacklo_epi16(a, c), phi = _mm256_unpackhi_epi16(a, c);  // [(r0, r2) | (r1, r3)]
  const int C = IDCT_C0;
  const __m256i kp[4] = {halves(C, IDCT_E26_0, IDCT_O[0][0], IDCT_O[0][1]),
                         halves(C, IDCT_E26_2, IDCT_O[1][0], IDCT_O[1][1]),
                         halves(C, -IDCT_E26_2, IDCT_O[2][0], IDCT_O[2][1]),
                         halves(C, -IDCT_E26_0, IDCT_O[3][0], IDCT_O[3][1])};
  const __m256i lo_clamp = _mm256_set1_epi16(-256), hi_clamp = _mm256_set1_epi16(255);
  for (int k = 0; k < 4; ++k) {
    const __m256i v =
        _mm256_packs_epi32(col_pair_upper(plo, kp[k], bias[k][0]), col_pair_upper(phi, kp[k], bias[k][1]));
    out[k] = _mm256_min_epi16(_mm256_max_epi16(v, lo_clamp), hi_clamp);
  }
}

// Rows [k | 7 - k] of a transform stored, or added to dst.
inline void store_rows(const __m256i r[4], uint8_t* dst, int stride) {
  const __m256i bias = _mm256_set1_epi16(128);
  for (int k = 0; k < 4; ++k) {
    const __m256i p = _mm256_adds_epi16(r[k], bias);
    const __m256i v = _mm256_packus_epi16(p, p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k * stride), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (7 - k) * stride), _mm256_extracti128_si256(v, 1));
  }
}

inline void add_rows(const __m256i r[4], uint8_t* dst, int stride) {
  const __m256i z = _mm256_setzero_si256();
  for (int k = 0; k < 4; ++k) {
    uint8_t* d0 = dst + k * stride;
    uint8_t* d1 = dst + (7 - k) * stride;
    const __m256i d = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d0))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d1)), 1);
    const __m256i s = _mm256_adds_epi16(_mm256_unpacklo_epi8(d, z), r[k]);
    const __m256i v = _mm256_packus_epi16(s, s);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d0), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d1), _mm256_extracti128_si256(v, 1));
  }
}

}  // namespace

static void idct_avx2(int16_t* b) {
  __m256i r[4];
  transform(b, r);
  for (int k = 0; k < 4; ++k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * k), _mm256_castsi256_si128(r[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * (7 - k)), _mm256_extracti128_si256(r[k], 1));
  }
}

// A transform, then its rows stored or added.
template <void (*TRANSFORM)(int16_t*, __m256i*), bool ADD>
static void idct_store_avx2(int16_t* b, uint8_t* dst, int stride) {
  __m256i r[4];
  TRANSFORM(b, r);
  if (ADD)
    add_rows(r, dst, stride);
  else
    store_rows(r, dst, stride);
}

// Constant blocks gain nothing from 256-bit registers.
extern const IdctDsp idct_dsp_avx2;
const IdctDsp idct_dsp_avx2 = {idct_avx2,
                                idct_store_avx2<transform, false>,
                                idct_store_avx2<transform, true>,
                                idct_store_avx2<transform_upper, false>,
                                idct_store_avx2<transform_upper, true>,
                                idct_put_dc_simd,
                                idct_add_dc_simd,
                                idct_dc63_simd};
