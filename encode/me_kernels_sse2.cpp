// SSE2 search kernels. Byte averages round up exactly like (a + b + 1) >> 1;
// the four-sample mode averages two byte averages and takes back the one
// rounding too many. psadbw sums one line at a time, so the early exits
// stop after the same line as the plain code.
#include <emmintrin.h>

#include "encode/me_kernels.h"


namespace {

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline uint32_t fold(__m128i v) {
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v) + _mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
}

// (a + b + c + d + 2) >> 2 with a, b the upper pair and c, d the lower.
inline __m128i quad(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i ab = _mm_avg_epu8(a, b), cd = _mm_avg_epu8(c, d);
  const __m128i round = _mm_and_si128(_mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d)), _mm_xor_si128(ab, cd));
  return _mm_sub_epi8(_mm_avg_epu8(ab, cd), _mm_and_si128(round, _mm_set1_epi8(1)));
}

template <int M>
inline __m128i predict(const uint8_t* r, int stride) {
  if (M == 0) return load16(r);
  if (M == 1) return _mm_avg_epu8(load16(r), load16(r + 1));
  if (M == 2) return _mm_avg_epu8(load16(r), load16(r + stride));
  return quad(load16(r), load16(r + 1), load16(r + stride), load16(r + stride + 1));
}

// Squared differences of 16 bytes as four 32-bit partial sums.
inline __m128i squares(__m128i a, __m128i b) {
  const __m128i z = _mm_setzero_si128();
  const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z));
  const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z));
  return _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
}
inline uint32_t fold32(__m128i v) {
  v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
  v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// |d| or d * d summed over 16 x height, d = source - prediction from one
// reference (M2 < 0) or the average of two.
template <bool Square, int M1, int M2>
uint32_t dist_sse2(const uint8_t* src, const uint8_t* f, const uint8_t* b, int stride, int height) {
  __m128i acc = _mm_setzero_si128();
  for (int y = 0; y < height; ++y, src += stride, f += stride, b += stride) {
    __m128i p = predict<M1>(f, stride);
    if constexpr (M2 >= 0) p = _mm_avg_epu8(p, predict<M2>(b, stride));
    acc = Square ? _mm_add_epi32(acc, squares(load16(src), p)) : _mm_add_epi64(acc, _mm_sad_epu8(load16(src), p));
  }
  return Square ? fold32(acc) : fold(acc);
}

template <bool Square, int M>
uint32_t dist1_sse2(const uint8_t* src, const uint8_t* ref, int stride, int height) {
  return dist_sse2<Square, M, -1>(src, ref, nullptr, stride, height);
}

uint32_t sad16_limit_sse2(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t limit) {
  uint32_t sum = 0;
  for (int y = 0; y < height; ++y, src += stride, ref += stride) {
    sum += fold(_mm_sad_epu8(load16(src), load16(ref)));
    if (sum >= limit) break;
  }
  return sum;
}

uint32_t sad16_checker_limit_sse2(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t limit) {
  const __m128i even = _mm_set1_epi16(0x00FF), odd = _mm_set1_epi16(static_cast<short>(0xFF00));
  uint32_t sum = 0;
  for (int y = 0; y < height; ++y, src += stride, ref += stride) {
    const __m128i mask = (y & 1) ? odd : even;  // zeroed columns match
    sum += fold(_mm_sad_epu8(_mm_and_si128(load16(src), mask), _mm_and_si128(load16(ref), mask)));
    if (sum >= limit) break;
  }
  return sum;
}

// Sub: the odd columns zeroed on both sides, so they add nothing.
template <bool Sub>
FieldSums sad16_fields_sse2(const uint8_t* src, const uint8_t* ref, int stride, int height, FieldSums limit) {
  const __m128i keep = Sub ? _mm_set1_epi16(0x00FF) : _mm_set1_epi8(-1);
  auto line = [&](const uint8_t* a, const uint8_t* b) {
    return fold(_mm_sad_epu8(_mm_and_si128(load16(a), keep), _mm_and_si128(load16(b), keep)));
  };
  FieldSums s{0, 0, 0};
  for (int y = 0; y + 1 < height; y += 2, src += 2 * stride, ref += 2 * stride) {
    s.even += line(src, ref);
    s.odd += line(src + stride, ref + stride);
    s.total = s.even + s.odd;
    if (s.total >= limit.total && s.even >= limit.even && s.odd >= limit.odd) break;
  }
  return s;
}

uint32_t match_8x8_sse2(const uint8_t* src, const uint8_t* ref, int stride, uint32_t limit) {
  uint32_t sum = 0;
  for (int y = 0; y < 8; ++y, src += stride, ref += stride) {
    sum += static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_sad_epu8(load8(src), load8(ref))));
    if (sum >= limit) break;
  }
  return sum;
}

FieldSums match_8x8_fields_sse2(const uint8_t* src, const uint8_t* ref, int stride, FieldSums limit) {
  FieldSums s{0, 0, 0};
  for (int y = 0; y < 8; y += 2, src += 2 * stride, ref += 2 * stride) {
    // Even line in the low half, odd line in the high half.
    const __m128i a = _mm_unpacklo_epi64(load8(src), load8(src + stride));
    const __m128i b = _mm_unpacklo_epi64(load8(ref), load8(ref + stride));
    const __m128i d = _mm_sad_epu8(a, b);
    s.even += static_cast<uint32_t>(_mm_cvtsi128_si32(d));
    s.odd += static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(d, 8)));
    s.total = s.even + s.odd;
    if (s.total >= limit.total && s.even >= limit.even && s.odd >= limit.odd) break;
  }
  return s;
}

template <int K>
inline __m128i pair_at(__m128i r) {  // columns K .. K+7 low, K+1 .. K+8 high
  return _mm_unpacklo_epi64(_mm_srli_si128(r, K), _mm_srli_si128(r, K + 1));
}

void match_8x8_row8_sse2(const uint8_t* src, const uint8_t* ref, int stride, uint32_t out[8]) {
  __m128i acc[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  for (int y = 0; y < 8; ++y, src += stride, ref += stride) {
    const __m128i s = _mm_unpacklo_epi64(load8(src), load8(src));
    const __m128i r = load16(ref);
    acc[0] = _mm_add_epi64(acc[0], _mm_sad_epu8(s, pair_at<0>(r)));
    acc[1] = _mm_add_epi64(acc[1], _mm_sad_epu8(s, pair_at<2>(r)));
    acc[2] = _mm_add_epi64(acc[2], _mm_sad_epu8(s, pair_at<4>(r)));
    acc[3] = _mm_add_epi64(acc[3], _mm_sad_epu8(s, pair_at<6>(r)));
  }
  for (int k = 0; k < 4; ++k) {
    out[2 * k] = static_cast<uint32_t>(_mm_cvtsi128_si32(acc[k]));
    out[2 * k + 1] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(acc[k], 8)));
  }
}

// The block's rows at columns -1, 0 and +1 of one reference line.
struct Trio {
  __m128i l, c, r;
  explicit Trio(const uint8_t* p) : l(load16(p - 1)), c(load16(p)), r(load16(p + 1)) {}
};

void sad_half9_sse2(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t out[9]) {
  __m128i acc[9];
  for (__m128i& a : acc) a = _mm_setzero_si128();
  Trio up(ref - stride), mid(ref);
  for (int y = 0; y < height; ++y, src += stride, ref += stride) {
    const Trio down(ref + stride);
    const __m128i s = load16(src);
    const __m128i pred[9] = {
        mid.c,
        quad(up.l, up.c, mid.l, mid.c),
        _mm_avg_epu8(up.c, mid.c),
        quad(up.c, up.r, mid.c, mid.r),
        _mm_avg_epu8(mid.l, mid.c),
        _mm_avg_epu8(mid.c, mid.r),
        quad(mid.l, mid.c, down.l, down.c),
        _mm_avg_epu8(mid.c, down.c),
        quad(mid.c, mid.r, down.c, down.r),
    };
    for (int k = 0; k < 9; ++k) acc[k] = _mm_add_epi64(acc[k], _mm_sad_epu8(s, pred[k]));
    up = mid;
    mid = down;
  }
  for (int k = 0; k < 9; ++k) out[k] = fold(acc[k]);
}

uint32_t mb_variance_sse2(const uint8_t* p, int stride) {
  const __m128i z = _mm_setzero_si128();
  __m128i sum = z, sq = z;
  for (int y = 0; y < 16; ++y, p += stride) {
    const __m128i v = load16(p);
    sum = _mm_add_epi64(sum, _mm_sad_epu8(v, z));
    const __m128i lo = _mm_unpacklo_epi8(v, z), hi = _mm_unpackhi_epi8(v, z);
    sq = _mm_add_epi32(sq, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
  }
  const uint32_t m = fold(sum) >> 4;
  return fold32(sq) - m * m;
}

}  // namespace

extern const MeDsp me_dsp_sse2;
const MeDsp me_dsp_sse2 = {
    dist1_sse2<false, 0>, dist1_sse2<false, 1>, dist1_sse2<false, 2>, dist1_sse2<false, 3>,
    dist1_sse2<true, 0>,  dist1_sse2<true, 1>,  dist1_sse2<true, 2>,  dist1_sse2<true, 3>,
#define BI_ROW(sq, m2) dist_sse2<sq, 0, m2>, dist_sse2<sq, 1, m2>, dist_sse2<sq, 2, m2>, dist_sse2<sq, 3, m2>
    {BI_ROW(true, 0), BI_ROW(true, 1), BI_ROW(true, 2), BI_ROW(true, 3)},
    {BI_ROW(false, 0), BI_ROW(false, 1), BI_ROW(false, 2), BI_ROW(false, 3)},
#undef BI_ROW
    sad16_limit_sse2,  sad16_checker_limit_sse2, sad16_fields_sse2<false>, sad16_fields_sse2<true>,
    match_8x8_sse2,    match_8x8_fields_sse2, match_4x4_plain, match_8x8_row8_sse2,
    sad_half9_sse2,    mb_variance_sse2,
};
