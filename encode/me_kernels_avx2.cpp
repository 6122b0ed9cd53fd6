// AVX2 search kernels: two block lines per 256-bit register (line y in the
// low lane, y + 1 in the high one), otherwise the arithmetic of the SSE2
// kernels. An odd last line is summed by plain code.
#include <immintrin.h>

#include <cstdlib>

#include "encode/me_kernels.h"

namespace {

inline __m256i load2(const uint8_t* p, int stride) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), 1);
}

inline uint32_t fold(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
}
inline uint32_t fold32(__m256i v) {
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_add_epi32(s, _mm_srli_si128(s, 8));
  s = _mm_add_epi32(s, _mm_srli_si128(s, 4));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(s));
}

// (a + b + c + d + 2) >> 2 from byte averages, less the one rounding too many.
inline __m256i quad(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i ab = _mm256_avg_epu8(a, b), cd = _mm256_avg_epu8(c, d);
  const __m256i round =
      _mm256_and_si256(_mm256_or_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d)), _mm256_xor_si256(ab, cd));
  return _mm256_sub_epi8(_mm256_avg_epu8(ab, cd), _mm256_and_si256(round, _mm256_set1_epi8(1)));
}

template <int M>
inline __m256i predict2(const uint8_t* r, int stride) {
  if (M == 0) return load2(r, stride);
  if (M == 1) return _mm256_avg_epu8(load2(r, stride), load2(r + 1, stride));
  if (M == 2) return _mm256_avg_epu8(load2(r, stride), load2(r + stride, stride));
  return quad(load2(r, stride), load2(r + 1, stride), load2(r + stride, stride), load2(r + stride + 1, stride));
}

inline __m256i squares(__m256i a, __m256i b) {
  const __m256i z = _mm256_setzero_si256();
  const __m256i lo = _mm256_sub_epi16(_mm256_unpacklo_epi8(a, z), _mm256_unpacklo_epi8(b, z));
  const __m256i hi = _mm256_sub_epi16(_mm256_unpackhi_epi8(a, z), _mm256_unpackhi_epi8(b, z));
  return _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi));
}

// |d| or d * d summed over 16 x height, d = source - prediction from one
// reference (M2 < 0) or the average of two.
template <bool Square, int M1, int M2>
uint32_t dist_avx2(const uint8_t* src, const uint8_t* f, const uint8_t* b, int stride, int height) {
  __m256i acc = _mm256_setzero_si256();
  int y = 0;
  for (; y + 1 < height; y += 2, src += 2 * stride, f += 2 * stride, b += 2 * stride) {
    __m256i p = predict2<M1>(f, stride);
    if constexpr (M2 >= 0) p = _mm256_avg_epu8(p, predict2<M2>(b, stride));
    const __m256i s = load2(src, stride);
    acc = Square ? _mm256_add_epi32(acc, squares(s, p)) : _mm256_add_epi64(acc, _mm256_sad_epu8(s, p));
  }
  uint32_t sum = Square ? fold32(acc) : fold(acc);
  if (y < height)
    for (int x = 0; x < 16; ++x) {
      int p = half_pel_sample<M1>(f, x, stride);
      if constexpr (M2 >= 0) p = (p + half_pel_sample<M2>(b, x, stride) + 1) >> 1;
      const int d = src[x] - p;
      sum += static_cast<uint32_t>(Square ? d * d : std::abs(d));
    }
  return sum;
}

template <bool Square, int M>
uint32_t dist1_avx2(const uint8_t* src, const uint8_t* ref, int stride, int height) {
  return dist_avx2<Square, M, -1>(src, ref, nullptr, stride, height);
}

// Two reference lines at columns -1, 0, +1.
struct Trio {
  __m256i l, c, r;
  Trio(const uint8_t* p, int stride) : l(load2(p - 1, stride)), c(load2(p, stride)), r(load2(p + 1, stride)) {}
};

void sad_half9_avx2(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t out[9]) {
  if (height & 1) {  // never asked for: blocks are 16 or 8 lines
    static constexpr int kDx[9] = {0, -1, 0, 1, -1, 1, -1, 0, 1}, kDy[9] = {0, -1, -1, -1, 0, 0, 1, 1, 1};
    for (int k = 0; k < 9; ++k) out[k] = sad_at(src, ref, stride, kDx[k], kDy[k], height);
    return;
  }
  __m256i acc[9];
  for (__m256i& a : acc) a = _mm256_setzero_si256();
  for (int y = 0; y < height; y += 2, src += 2 * stride, ref += 2 * stride) {
    const Trio up(ref - stride, stride), mid(ref, stride), down(ref + stride, stride);
    const __m256i s = load2(src, stride);
    const __m256i pred[9] = {
        mid.c,
        quad(up.l, up.c, mid.l, mid.c),
        _mm256_avg_epu8(up.c, mid.c),
        quad(up.c, up.r, mid.c, mid.r),
        _mm256_avg_epu8(mid.l, mid.c),
        _mm256_avg_epu8(mid.c, mid.r),
        quad(mid.l, mid.c, down.l, down.c),
        _mm256_avg_epu8(mid.c, down.c),
        quad(mid.c, mid.r, down.c, down.r),
    };
    for (int k = 0; k < 9; ++k) acc[k] = _mm256_add_epi64(acc[k], _mm256_sad_epu8(s, pred[k]));
  }
  for (int k = 0; k < 9; ++k) out[k] = fold(acc[k]);
}

uint32_t mb_variance_avx2(const uint8_t* p, int stride) {
  const __m256i z = _mm256_setzero_si256();
  __m256i sum = z, sq = z;
  for (int y = 0; y < 16; y += 2, p += 2 * stride) {
    const __m256i v = load2(p, stride);
    sum = _mm256_add_epi64(sum, _mm256_sad_epu8(v, z));
    const __m256i lo = _mm256_unpacklo_epi8(v, z), hi = _mm256_unpackhi_epi8(v, z);
    sq = _mm256_add_epi32(sq, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
  }
  const uint32_t m = fold(sum) >> 4;
  return fold32(sq) - m * m;
}

}  // namespace

// The kernels AVX2 does better, laid over the table of the level below.
void me_dsp_fill_avx2(MeDsp* d) {
  d->sad_full = dist1_avx2<false, 0>, d->sad_h = dist1_avx2<false, 1>;
  d->sad_v = dist1_avx2<false, 2>, d->sad_hv = dist1_avx2<false, 3>;
  d->sse_full = dist1_avx2<true, 0>, d->sse_h = dist1_avx2<true, 1>;
  d->sse_v = dist1_avx2<true, 2>, d->sse_hv = dist1_avx2<true, 3>;
#define BI_ROW(sq, m2) dist_avx2<sq, 0, m2>, dist_avx2<sq, 1, m2>, dist_avx2<sq, 2, m2>, dist_avx2<sq, 3, m2>
  const DistBiFn sse[16] = {BI_ROW(true, 0), BI_ROW(true, 1), BI_ROW(true, 2), BI_ROW(true, 3)};
  const DistBiFn sad[16] = {BI_ROW(false, 0), BI_ROW(false, 1), BI_ROW(false, 2), BI_ROW(false, 3)};
#undef BI_ROW
  for (int i = 0; i < 16; ++i) d->sse_bi[i] = sse[i], d->sad_bi[i] = sad[i];
  d->sad_half9 = sad_half9_avx2;
  d->mb_variance = mb_variance_avx2;
}
