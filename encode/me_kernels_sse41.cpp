// SSE4.1 search kernels: mpsadbw sums four bytes against eight shifted
// positions at once, so one 8-wide line needs two of them for all eight
// columns; an 8x8 sum (at most 16320) fits its 16-bit lanes.
#include <smmintrin.h>

#include <cstdint>

void match_8x8_row8_sse41(const uint8_t* src, const uint8_t* ref, int stride, uint32_t out[8]) {
  __m128i acc = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y, src += stride, ref += stride) {
    const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ref));
    // Bytes 0-3 of the block against columns k .. k+3, bytes 4-7 against
    // columns k+4 .. k+7.
    acc = _mm_add_epi16(acc, _mm_mpsadbw_epu8(r, s, 0));
    acc = _mm_add_epi16(acc, _mm_mpsadbw_epu8(r, s, 5));
  }
  const __m128i lo = _mm_cvtepu16_epi32(acc), hi = _mm_cvtepu16_epi32(_mm_srli_si128(acc, 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), hi);
}
