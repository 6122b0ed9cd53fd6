// SSE4.1 colour conversion: 16 pixels of each of two rows per step, channel
// terms by multiply-high-round so they equal the table entries exactly.
#include <immintrin.h>

#include "picture/yuv2rgb_kernels.h"

namespace {

struct Terms {
  __m128i r, g, b;  // 8 chroma positions, 16-bit
};

inline Terms chroma_terms(const uint8_t* cb, const uint8_t* cr) {
  const __m128i lo = _mm_set1_epi8(16), hi = _mm_set1_epi8(static_cast<char>(240));
  const __m128i c128 = _mm_set1_epi16(128);
  __m128i u = _mm_min_epu8(_mm_max_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), lo), hi);
  __m128i v = _mm_min_epu8(_mm_max_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), lo), hi);
  u = _mm_slli_epi16(_mm_sub_epi16(_mm_cvtepu8_epi16(u), c128), 6);
  v = _mm_slli_epi16(_mm_sub_epi16(_mm_cvtepu8_epi16(v), c128), 6);
  Terms t;
  t.r = _mm_mulhrs_epi16(v, _mm_set1_epi16(817));
  t.g = _mm_add_epi16(_mm_mulhrs_epi16(u, _mm_set1_epi16(-200)), _mm_mulhrs_epi16(v, _mm_set1_epi16(-416)));
  t.b = _mm_mulhrs_epi16(u, _mm_set1_epi16(1033));
  return t;
}

template <int Bits>
inline void row16(const uint8_t* y, const Terms& t, uint8_t* d) {
  const __m128i zero = _mm_setzero_si128();
  __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  yv = _mm_sub_epi8(_mm_min_epu8(_mm_max_epu8(yv, _mm_set1_epi8(16)), _mm_set1_epi8(static_cast<char>(235))),
                    _mm_set1_epi8(16));
  const __m128i ky = _mm_set1_epi16(596);
  const __m128i ylo = _mm_mulhrs_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(yv, zero), 6), ky);
  const __m128i yhi = _mm_mulhrs_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(yv, zero), 6), ky);
  const __m128i R = _mm_packus_epi16(_mm_add_epi16(ylo, _mm_unpacklo_epi16(t.r, t.r)),
                                     _mm_add_epi16(yhi, _mm_unpackhi_epi16(t.r, t.r)));
  const __m128i G = _mm_packus_epi16(_mm_add_epi16(ylo, _mm_unpacklo_epi16(t.g, t.g)),
                                     _mm_add_epi16(yhi, _mm_unpackhi_epi16(t.g, t.g)));
  const __m128i B = _mm_packus_epi16(_mm_add_epi16(ylo, _mm_unpacklo_epi16(t.b, t.b)),
                                     _mm_add_epi16(yhi, _mm_unpackhi_epi16(t.b, t.b)));
  if constexpr (Bits == 24) {
    // Byte n of the 48 comes from pixel n / 3, channel n % 3 (B, G, R).
    const __m128i b0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
    const __m128i g0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m128i r0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i b1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
    const __m128i g1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m128i r1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
    const __m128i b2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
    const __m128i g2 = _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m128i r2 = _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
    const __m128i o0 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(B, b0), _mm_shuffle_epi8(G, g0)), _mm_shuffle_epi8(R, r0));
    const __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(B, b1), _mm_shuffle_epi8(G, g1)), _mm_shuffle_epi8(R, r1));
    const __m128i o2 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(B, b2), _mm_shuffle_epi8(G, g2)), _mm_shuffle_epi8(R, r2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), o0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), o1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), o2);
  } else if constexpr (Bits == 32) {
    const __m128i bg_lo = _mm_unpacklo_epi8(B, G), bg_hi = _mm_unpackhi_epi8(B, G);
    const __m128i r_lo = _mm_unpacklo_epi8(R, zero), r_hi = _mm_unpackhi_epi8(R, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(bg_lo, r_lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(bg_lo, r_lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(bg_hi, r_hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(bg_hi, r_hi));
  } else {
    auto words = [&](__m128i r8, __m128i g8, __m128i b8) {
      const __m128i r5 = _mm_slli_epi16(_mm_srli_epi16(r8, 3), 10);
      const __m128i g5 = _mm_slli_epi16(_mm_srli_epi16(g8, 3), 5);
      return _mm_or_si128(_mm_or_si128(r5, g5), _mm_srli_epi16(b8, 3));
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     words(_mm_unpacklo_epi8(R, zero), _mm_unpacklo_epi8(G, zero), _mm_unpacklo_epi8(B, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16),
                     words(_mm_unpackhi_epi8(R, zero), _mm_unpackhi_epi8(G, zero), _mm_unpackhi_epi8(B, zero)));
  }
}

template <int Bits>
void pair_sse41(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb0, const uint8_t* cr0, const uint8_t* cb1,
                const uint8_t* cr1, uint8_t* d0, uint8_t* d1, int width) {
  constexpr int px = Bits / 8;
  int x = 0;
  const bool shared = cb0 == cb1 && cr0 == cr1;
  for (; x + 16 <= width; x += 16) {
    const Terms t0 = chroma_terms(cb0 + x / 2, cr0 + x / 2);
    row16<Bits>(y0 + x, t0, d0 + x * px);
    if (shared) {
      row16<Bits>(y1 + x, t0, d1 + x * px);
    } else {
      const Terms t1 = chroma_terms(cb1 + x / 2, cr1 + x / 2);
      row16<Bits>(y1 + x, t1, d1 + x * px);
    }
  }
  if (x < width) {
    const Yuv2RgbDsp& c = *yuv2rgb_dsp_for(CpuLevel::c);
    const Yuv2RgbPairFn fn = Bits == 16 ? c.pair16 : (Bits == 24 ? c.pair24 : c.pair32);
    fn(y0 + x, y1 + x, cb0 + x / 2, cr0 + x / 2, cb1 + x / 2, cr1 + x / 2, d0 + x * px, d1 + x * px, width - x);
  }
}

}  // namespace

const Yuv2RgbDsp yuv2rgb_dsp_sse41 = {pair_sse41<16>, pair_sse41<24>, pair_sse41<32>};
