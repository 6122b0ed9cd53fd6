// AVX2 colour conversion: 32 pixels of each of two rows per step; the same
// arithmetic as the SSE4.1 kernels, lanes rearranged once at the store.
#include <immintrin.h>

#include "picture/yuv2rgb_kernels.h"

namespace {

struct Terms {
  __m256i r, g, b;  // 16 chroma positions, 16-bit, in order
};

inline Terms chroma_terms(const uint8_t* cb, const uint8_t* cr) {
  const __m128i lo = _mm_set1_epi8(16), hi = _mm_set1_epi8(static_cast<char>(240));
  const __m256i c128 = _mm256_set1_epi16(128);
  const __m128i u8 = _mm_min_epu8(_mm_max_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb)), lo), hi);
  const __m128i v8 = _mm_min_epu8(_mm_max_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr)), lo), hi);
  const __m256i u = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(u8), c128), 6);
  const __m256i v = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(v8), c128), 6);
  Terms t;
  t.r = _mm256_mulhrs_epi16(v, _mm256_set1_epi16(817));
  t.g = _mm256_add_epi16(_mm256_mulhrs_epi16(u, _mm256_set1_epi16(-200)),
                         _mm256_mulhrs_epi16(v, _mm256_set1_epi16(-416)));
  t.b = _mm256_mulhrs_epi16(u, _mm256_set1_epi16(1033));
  return t;
}

template <int Bits>
inline void row32(const uint8_t* y, const Terms& t, uint8_t* d) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  yv = _mm256_sub_epi8(
      _mm256_min_epu8(_mm256_max_epu8(yv, _mm256_set1_epi8(16)), _mm256_set1_epi8(static_cast<char>(235))),
      _mm256_set1_epi8(16));
  const __m256i ky = _mm256_set1_epi16(596);
  // Lane halves: lo = pixels 0-7 | 16-23, hi = 8-15 | 24-31, matching the
  // in-lane duplication of the chroma terms below.
  const __m256i ylo = _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(yv, zero), 6), ky);
  const __m256i yhi = _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_unpackhi_epi8(yv, zero), 6), ky);
  const __m256i R = _mm256_packus_epi16(_mm256_add_epi16(ylo, _mm256_unpacklo_epi16(t.r, t.r)),
                                        _mm256_add_epi16(yhi, _mm256_unpackhi_epi16(t.r, t.r)));
  const __m256i G = _mm256_packus_epi16(_mm256_add_epi16(ylo, _mm256_unpacklo_epi16(t.g, t.g)),
                                        _mm256_add_epi16(yhi, _mm256_unpackhi_epi16(t.g, t.g)));
  const __m256i B = _mm256_packus_epi16(_mm256_add_epi16(ylo, _mm256_unpacklo_epi16(t.b, t.b)),
                                        _mm256_add_epi16(yhi, _mm256_unpackhi_epi16(t.b, t.b)));
  if constexpr (Bits == 24) {
    const __m256i b0 = _mm256_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5,
                                        0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
    const __m256i g0 = _mm256_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1,
                                        -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m256i r0 = _mm256_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
                                        -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m256i b1 = _mm256_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1,
                                        -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
    const __m256i g1 = _mm256_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10,
                                        5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m256i r1 = _mm256_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1,
                                        -1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
    const __m256i b2 = _mm256_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1,
                                        -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
    const __m256i g2 = _mm256_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1,
                                        -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m256i r2 = _mm256_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15,
                                        10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
    const __m256i o0 = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(B, b0), _mm256_shuffle_epi8(G, g0)),
                                       _mm256_shuffle_epi8(R, r0));
    const __m256i o1 = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(B, b1), _mm256_shuffle_epi8(G, g1)),
                                       _mm256_shuffle_epi8(R, r1));
    const __m256i o2 = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(B, b2), _mm256_shuffle_epi8(G, g2)),
                                       _mm256_shuffle_epi8(R, r2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_permute2x128_si256(o0, o1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32), _mm256_permute2x128_si256(o2, o0, 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 64), _mm256_permute2x128_si256(o1, o2, 0x31));
  } else if constexpr (Bits == 32) {
    const __m256i bg_lo = _mm256_unpacklo_epi8(B, G), bg_hi = _mm256_unpackhi_epi8(B, G);
    const __m256i r_lo = _mm256_unpacklo_epi8(R, zero), r_hi = _mm256_unpackhi_epi8(R, zero);
    const __m256i w0 = _mm256_unpacklo_epi16(bg_lo, r_lo), w1 = _mm256_unpackhi_epi16(bg_lo, r_lo);
    const __m256i w2 = _mm256_unpacklo_epi16(bg_hi, r_hi), w3 = _mm256_unpackhi_epi16(bg_hi, r_hi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_permute2x128_si256(w0, w1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32), _mm256_permute2x128_si256(w2, w3, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 64), _mm256_permute2x128_si256(w0, w1, 0x31));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 96), _mm256_permute2x128_si256(w2, w3, 0x31));
  } else {
    auto words = [](__m128i r8, __m128i g8, __m128i b8) {
      const __m256i r = _mm256_cvtepu8_epi16(r8), g = _mm256_cvtepu8_epi16(g8), b = _mm256_cvtepu8_epi16(b8);
      return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_srli_epi16(r, 3), 10),
                                             _mm256_slli_epi16(_mm256_srli_epi16(g, 3), 5)),
                             _mm256_srli_epi16(b, 3));
    };
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), words(_mm256_castsi256_si128(R), _mm256_castsi256_si128(G),
                                                             _mm256_castsi256_si128(B)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32),
                        words(_mm256_extracti128_si256(R, 1), _mm256_extracti128_si256(G, 1),
                              _mm256_extracti128_si256(B, 1)));
  }
}

template <int Bits>
void pair_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb0, const uint8_t* cr0, const uint8_t* cb1,
               const uint8_t* cr1, uint8_t* d0, uint8_t* d1, int width) {
  constexpr int px = Bits / 8;
  int x = 0;
  const bool shared = cb0 == cb1 && cr0 == cr1;
  for (; x + 32 <= width; x += 32) {
    const Terms t0 = chroma_terms(cb0 + x / 2, cr0 + x / 2);
    row32<Bits>(y0 + x, t0, d0 + x * px);
    if (shared) {
      row32<Bits>(y1 + x, t0, d1 + x * px);
    } else {
      const Terms t1 = chroma_terms(cb1 + x / 2, cr1 + x / 2);
      row32<Bits>(y1 + x, t1, d1 + x * px);
    }
  }
  if (x < width) {
    const Yuv2RgbDsp& c = *yuv2rgb_dsp_for(CpuLevel::c);
    const Yuv2RgbPairFn fn = Bits == 16 ? c.pair16 : (Bits == 24 ? c.pair24 : c.pair32);
    fn(y0 + x, y1 + x, cb0 + x / 2, cr0 + x / 2, cb1 + x / 2, cr1 + x / 2, d0 + x * px, d1 + x * px, width - x);
  }
}

}  // namespace

const Yuv2RgbDsp yuv2rgb_dsp_avx2 = {pair_avx2<16>, pair_avx2<24>, pair_avx2<32>};
