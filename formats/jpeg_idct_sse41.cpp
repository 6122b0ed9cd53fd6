// SSE4.1 form of the JPEG inverse transform: each set of eight lanes of the
// plain version is two registers of four; same arithmetic, same results.
#include <smmintrin.h>

#include "formats/jpeg_common.h"
#include "formats/jpeg_idct_kernels.h"

namespace {

constexpr int kDown = Quant::kTableBits - Quant::kDequantBits;
constexpr int kShift = Quant::kDequantBits + 3;

inline __m128i mul(__m128i x, int c) { return _mm_srai_epi32(_mm_mullo_epi32(x, _mm_set1_epi32(c)), 8); }

// Four lanes of the one-dimensional transform: v[k] holds input k.
inline void idct_lanes(__m128i* v) {
  const __m128i i0 = v[0], i1 = v[1], i2 = v[2], i3 = v[3], i4 = v[4], i5 = v[5], i6 = v[6], i7 = v[7];
  const __m128i t10 = _mm_add_epi32(i0, i4), t11 = _mm_sub_epi32(i0, i4), t13 = _mm_add_epi32(i2, i6);
  const __m128i t12 = _mm_sub_epi32(mul(_mm_sub_epi32(i2, i6), 362), t13);
  const __m128i e0 = _mm_add_epi32(t10, t13), e3 = _mm_sub_epi32(t10, t13);
  const __m128i e1 = _mm_add_epi32(t11, t12), e2 = _mm_sub_epi32(t11, t12);
  const __m128i z13 = _mm_add_epi32(i5, i3), z10 = _mm_sub_epi32(i5, i3);
  const __m128i z11 = _mm_add_epi32(i1, i7), z12 = _mm_sub_epi32(i1, i7);
  const __m128i t7 = _mm_add_epi32(z11, z13);
  const __m128i t11o = mul(_mm_sub_epi32(z11, z13), 362);
  const __m128i z5 = mul(_mm_add_epi32(z10, z12), 473);
  const __m128i t10o = _mm_sub_epi32(mul(z12, 277), z5);
  const __m128i t12o = _mm_sub_epi32(z5, mul(z10, 669));
  const __m128i t6 = _mm_sub_epi32(t12o, t7);
  const __m128i t5 = _mm_sub_epi32(t11o, t6);
  const __m128i t4 = _mm_add_epi32(t10o, t5);
  v[0] = _mm_add_epi32(e0, t7);
  v[7] = _mm_sub_epi32(e0, t7);
  v[1] = _mm_add_epi32(e1, t6);
  v[6] = _mm_sub_epi32(e1, t6);
  v[2] = _mm_add_epi32(e2, t5);
  v[5] = _mm_sub_epi32(e2, t5);
  v[4] = _mm_add_epi32(e3, t4);
  v[3] = _mm_sub_epi32(e3, t4);
}

inline void transpose4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
  const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
  a = _mm_unpacklo_epi64(t0, t2);
  b = _mm_unpackhi_epi64(t0, t2);
  c = _mm_unpacklo_epi64(t1, t3);
  d = _mm_unpackhi_epi64(t1, t3);
}

// 8 x 8 of int32: lo[r] holds columns 0-3 of row r, hi[r] columns 4-7.
inline void transpose(__m128i* lo, __m128i* hi) {
  transpose4(lo[0], lo[1], lo[2], lo[3]);
  transpose4(hi[4], hi[5], hi[6], hi[7]);
  transpose4(hi[0], hi[1], hi[2], hi[3]);
  transpose4(lo[4], lo[5], lo[6], lo[7]);
  for (int i = 0; i < 4; ++i) {  // swap the off-diagonal 4 x 4 quarters
    const __m128i t = hi[i];
    hi[i] = lo[4 + i];
    lo[4 + i] = t;
  }
}

void jpeg_idct_put_sse41(const int16_t* c, const int32_t* q, uint8_t* out, int stride) {
  const __m128i clim = _mm_set1_epi32(1 << 12), ilim = _mm_set1_epi32(1 << 14);
  const __m128i nclim = _mm_set1_epi32(-(1 << 12)), nilim = _mm_set1_epi32(-(1 << 14));
  const __m128i round = _mm_set1_epi32(1 << (kDown - 1));
  __m128i lo[8], hi[8];
  auto dequant = [&](__m128i x, const int32_t* qq) {
    x = _mm_min_epi32(_mm_max_epi32(x, nclim), clim);
    x = _mm_mullo_epi32(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(qq)));
    x = _mm_srai_epi32(_mm_add_epi32(x, round), kDown);
    return _mm_min_epi32(_mm_max_epi32(x, nilim), ilim);
  };
  for (int k = 0; k < 8; ++k) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * k));
    lo[k] = dequant(_mm_cvtepi16_epi32(row), q + 8 * k);
    hi[k] = dequant(_mm_cvtepi16_epi32(_mm_srli_si128(row, 8)), q + 8 * k + 4);
  }
  idct_lanes(lo);  // columns 0-3
  idct_lanes(hi);  // columns 4-7
  transpose(lo, hi);
  lo[0] = _mm_add_epi32(lo[0], _mm_set1_epi32(1 << (kShift - 1)));
  hi[0] = _mm_add_epi32(hi[0], _mm_set1_epi32(1 << (kShift - 1)));
  idct_lanes(lo);  // rows 0-3
  idct_lanes(hi);  // rows 4-7
  transpose(lo, hi);
  const __m128i bias = _mm_set1_epi32(128);
  for (int r = 0; r < 8; ++r, out += stride) {
    const __m128i a = _mm_add_epi32(_mm_srai_epi32(lo[r], kShift), bias);
    const __m128i b = _mm_add_epi32(_mm_srai_epi32(hi[r], kShift), bias);
    const __m128i w = _mm_packs_epi32(a, b);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(w, w));
  }
}

}  // namespace

const JpegIdctDsp jpeg_idct_dsp_sse41 = {jpeg_idct_put_sse41};
