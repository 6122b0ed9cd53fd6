// AVX2 column filter: 32 output samples per step, pairs of taps through
// 16-bit multiply-add; bit-exact with the plain one.
#include <immintrin.h>

#include "picture/scale_kernels.h"

namespace {

void vfilter_row_avx2(const uint8_t* const* rows, const int16_t* taps, int ntaps, uint8_t* dst, int width) {
  int c = 0;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i round = _mm256_set1_epi32(128);
  for (; c + 32 <= width; c += 32) {
    __m256i acc0 = round, acc1 = round, acc2 = round, acc3 = round;
    for (int i = 0; i < ntaps; i += 2) {
      const bool pair = i + 1 < ntaps;
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[i] + c));
      const __m256i b = pair ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[i + 1] + c)) : zero;
      const int16_t tb = pair ? taps[i + 1] : 0;
      const __m256i w = _mm256_set1_epi32(static_cast<int>(static_cast<uint16_t>(taps[i])) |
                                          (static_cast<int>(static_cast<uint16_t>(tb)) << 16));
      // Bytes to 16 bits (within 128-bit lanes), then interleave a and b.
      const __m256i alo = _mm256_unpacklo_epi8(a, zero), ahi = _mm256_unpackhi_epi8(a, zero);
      const __m256i blo = _mm256_unpacklo_epi8(b, zero), bhi = _mm256_unpackhi_epi8(b, zero);
      acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi16(alo, blo), w));
      acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi16(alo, blo), w));
      acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi16(ahi, bhi), w));
      acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi16(ahi, bhi), w));
    }
    acc0 = _mm256_srai_epi32(acc0, 8);
    acc1 = _mm256_srai_epi32(acc1, 8);
    acc2 = _mm256_srai_epi32(acc2, 8);
    acc3 = _mm256_srai_epi32(acc3, 8);
    // packs/packus work within 128-bit lanes, undoing the unpack order.
    const __m256i lo = _mm256_packs_epi32(acc0, acc1);
    const __m256i hi = _mm256_packs_epi32(acc2, acc3);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + c), _mm256_packus_epi16(lo, hi));
  }
  if (c < width) {
    const uint8_t* rest[12];
    for (int i = 0; i < ntaps; ++i) rest[i] = rows[i] + c;
    scale_dsp_for(CpuLevel::c)->vfilter_row(rest, taps, ntaps, dst + c, width - c);
  }
}

}  // namespace

const ScaleDsp scale_dsp_avx2 = {vfilter_row_avx2};
