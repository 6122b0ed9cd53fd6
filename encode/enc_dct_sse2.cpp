// SSE2 forward DCT: the plain passes with multiply-add pairs, eight rows
// (or columns) per vector; sums wrap at 32 bits and each pass saturates to
// 16 bits as the plain code does, so the output is bit-exact on any input.
// The quantisers divide and stay plain.
#include <emmintrin.h>

#include "encode/enc_dct.h"
#include "encode/enc_dct_coef.h"

namespace {

// Constant pairs (m[k][2j], m[k][2j + 1]) in every 32-bit lane.
struct PassConsts {
  __m128i pair[8][4];
};

PassConsts make_consts(const int16_t (*m)[8]) {
  PassConsts c;
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 4; ++j)
      c.pair[k][j] = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(m[k][2 * j]) |
                                                         (static_cast<uint32_t>(static_cast<uint16_t>(m[k][2 * j + 1])) << 16)));
  return c;
}

// out[k] = saturate16(round(sum over i of v[i] x m[k][i]) >> shift), lane by lane.
inline void pass(const __m128i v[8], __m128i out[8], const PassConsts& c, int shift) {
  __m128i lo[4], hi[4];
  for (int j = 0; j < 4; ++j) {
    lo[j] = _mm_unpacklo_epi16(v[2 * j], v[2 * j + 1]);
    hi[j] = _mm_unpackhi_epi16(v[2 * j], v[2 * j + 1]);
  }
  const __m128i round = _mm_set1_epi32(1 << (shift - 1));
  const __m128i count = _mm_cvtsi32_si128(shift);
  for (int k = 0; k < 8; ++k) {
    __m128i a = round, b = round;
    for (int j = 0; j < 4; ++j) {
      a = _mm_add_epi32(a, _mm_madd_epi16(lo[j], c.pair[k][j]));
      b = _mm_add_epi32(b, _mm_madd_epi16(hi[j], c.pair[k][j]));
    }
    out[k] = _mm_packs_epi32(_mm_sra_epi32(a, count), _mm_sra_epi32(b, count));
  }
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
  static const PassConsts c1 = make_consts(FDCT_PASS1), c2 = make_consts(FDCT_PASS2);
  __m128i v[8], t[8];
  for (int i = 0; i < 8; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  transpose(v);  // vector x = column x: the first pass runs along the rows
  pass(v, t, c1, FDCT_PASS1_BITS - FDCT_FRACTION);
  transpose(t);  // vector y = row y of the first pass's output
  pass(t, v, c2, FDCT_PASS2_BITS + FDCT_FRACTION);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), v[i]);
}

const EncDctDsp kSse2 = {fdct_sse2, quant_intra, quant_non_intra, quant_intra_steps, quant_non_intra_steps};

}  // namespace

const EncDctDsp* enc_dct_dsp_sse2() { return &kSse2; }
