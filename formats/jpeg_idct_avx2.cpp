// AVX2 form of the JPEG inverse transform: the eight lanes of the plain
// version are the eight 32-bit lanes of one register; same arithmetic,
// same results.
#include <immintrin.h>

#include "formats/jpeg_common.h"
#include "formats/jpeg_idct_kernels.h"

namespace {

constexpr int kDown = Quant::kTableBits - Quant::kDequantBits;
constexpr int kShift = Quant::kDequantBits + 3;

inline __m256i mul(__m256i x, int c) { return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(c)), 8); }

inline void idct_lanes(__m256i* v) {
  const __m256i i0 = v[0], i1 = v[1], i2 = v[2], i3 = v[3], i4 = v[4], i5 = v[5], i6 = v[6], i7 = v[7];
  const __m256i t10 = _mm256_add_epi32(i0, i4), t11 = _mm256_sub_epi32(i0, i4), t13 = _mm256_add_epi32(i2, i6);
  const __m256i t12 = _mm256_sub_epi32(mul(_mm256_sub_epi32(i2, i6), 362), t13);
  const __m256i e0 = _mm256_add_epi32(t10, t13), e3 = _mm256_sub_epi32(t10, t13);
  const __m256i e1 = _mm256_add_epi32(t11, t12), e2 = _mm256_sub_epi32(t11, t12);
  const __m256i z13 = _mm256_add_epi32(i5, i3), z10 = _mm256_sub_epi32(i5, i3);
  const __m256i z11 = _mm256_add_epi32(i1, i7), z12 = _mm256_sub_epi32(i1, i7);
  const __m256i t7 = _mm256_add_epi32(z11, z13);
  const __m256i t11o = mul(_mm256_sub_epi32(z11, z13), 362);
  const __m256i z5 = mul(_mm256_add_epi32(z10, z12), 473);
  const __m256i t10o = _mm256_sub_epi32(mul(z12, 277), z5);
  const __m256i t12o = _mm256_sub_epi32(z5, mul(z10, 669));
  const __m256i t6 = _mm256_sub_epi32(t12o, t7);
  const __m256i t5 = _mm256_sub_epi32(t11o, t6);
  const __m256i t4 = _mm256_add_epi32(t10o, t5);
  v[0] = _mm256_add_epi32(e0, t7);
  v[7] = _mm256_sub_epi32(e0, t7);
  v[1] = _mm256_add_epi32(e1, t6);
  v[6] = _mm256_sub_epi32(e1, t6);
  v[2] = _mm256_add_epi32(e2, t5);
  v[5] = _mm256_sub_epi32(e2, t5);
  v[4] = _mm256_add_epi32(e3, t4);
  v[3] = _mm256_sub_epi32(e3, t4);
}

inline void transpose(__m256i* r) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

void jpeg_idct_put_avx2(const int16_t* c, const int32_t* q, uint8_t* out, int stride) {
  const __m256i clim = _mm256_set1_epi32(1 << 12), ilim = _mm256_set1_epi32(1 << 14);
  const __m256i nclim = _mm256_set1_epi32(-(1 << 12)), nilim = _mm256_set1_epi32(-(1 << 14));
  const __m256i round = _mm256_set1_epi32(1 << (kDown - 1));
  __m256i v[8];
  for (int k = 0; k < 8; ++k) {
    __m256i x = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * k)));
    x = _mm256_min_epi32(_mm256_max_epi32(x, nclim), clim);
    x = _mm256_mullo_epi32(x, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 8 * k)));
    x = _mm256_srai_epi32(_mm256_add_epi32(x, round), kDown);
    v[k] = _mm256_min_epi32(_mm256_max_epi32(x, nilim), ilim);
  }
  idct_lanes(v);  // columns
  transpose(v);
  v[0] = _mm256_add_epi32(v[0], _mm256_set1_epi32(1 << (kShift - 1)));
  idct_lanes(v);  // rows: v[k] lane r = sample (r, k)
  transpose(v);
  const __m256i bias = _mm256_set1_epi32(128);
  for (int r = 0; r < 8; ++r, out += stride) {
    const __m256i s = _mm256_add_epi32(_mm256_srai_epi32(v[r], kShift), bias);
    const __m128i w = _mm_packs_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(w, w));
  }
}

}  // namespace

const JpegIdctDsp jpeg_idct_dsp_avx2 = {jpeg_idct_put_avx2};
