// SSE2 forward DCT: the plain transform's arithmetic on eight lanes, the
// 16-bit wraps of the stored intermediates included; the 8-bit products
// are rebuilt from the low and high halves of the 32-bit product, so the
// output is bit-exact. The quantisers divide and stay plain.
#include <emmintrin.h>

#include "encode/enc_dct.h"

namespace {

inline __m128i mul8(__m128i a, int c) {
  const __m128i k = _mm_set1_epi16(static_cast<int16_t>(c));
  const __m128i lo = _mm_mullo_epi16(a, k), hi = _mm_mulhi_epi16(a, k);
  return _mm_or_si128(_mm_srli_epi16(lo, 8), _mm_slli_epi16(hi, 8));
}

// One 8-point pass across the eight vectors (lane by lane).
inline void pass(__m128i v[8]) {
  const __m128i t0 = _mm_add_epi16(v[0], v[7]), t7 = _mm_sub_epi16(v[0], v[7]);
  const __m128i t1 = _mm_add_epi16(v[1], v[6]), t6 = _mm_sub_epi16(v[1], v[6]);
  const __m128i t2 = _mm_add_epi16(v[2], v[5]), t5 = _mm_sub_epi16(v[2], v[5]);
  const __m128i t3 = _mm_add_epi16(v[3], v[4]), t4 = _mm_sub_epi16(v[3], v[4]);
  const __m128i t10 = _mm_add_epi16(t0, t3), t13 = _mm_sub_epi16(t0, t3);
  const __m128i t11 = _mm_add_epi16(t1, t2), t12 = _mm_sub_epi16(t1, t2);
  v[0] = _mm_add_epi16(t10, t11);
  v[4] = _mm_sub_epi16(t10, t11);
  const __m128i z1 = mul8(_mm_add_epi16(t12, t13), 181);
  v[2] = _mm_add_epi16(t13, z1);
  v[6] = _mm_sub_epi16(t13, z1);
  const __m128i o10 = _mm_add_epi16(t4, t5), o11 = _mm_add_epi16(t5, t6), o12 = _mm_add_epi16(t6, t7);
  const __m128i z5 = mul8(_mm_sub_epi16(o10, o12), 98);
  const __m128i z2 = _mm_add_epi16(mul8(o10, 139), z5);
  const __m128i z4 = _mm_add_epi16(mul8(o12, 334), z5);
  const __m128i z3 = mul8(o11, 181);
  const __m128i z11 = _mm_add_epi16(t7, z3), z13 = _mm_sub_epi16(t7, z3);
  v[5] = _mm_add_epi16(z13, z2);
  v[3] = _mm_sub_epi16(z13, z2);
  v[1] = _mm_add_epi16(z11, z4);
  v[7] = _mm_sub_epi16(z11, z4);
}

inline void transpose(__m128i v[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4);
  v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5);
  v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6);
  v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7);
  v[7] = _mm_unpackhi_epi64(b3, b7);
}

void fdct_sse2(int16_t* block) {
  __m128i v[8];
  for (int i = 0; i < 8; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  transpose(v);  // vector i = column i: the pass runs along the rows
  pass(v);
  transpose(v);
  pass(v);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), v[i]);
}

const EncDctDsp kSse2 = {fdct_sse2, quant_intra, quant_non_intra, quant_intra_steps, quant_non_intra_steps};

}  // namespace

const EncDctDsp* enc_dct_dsp_sse2() { return &kSse2; }
