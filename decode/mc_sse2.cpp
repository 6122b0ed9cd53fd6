// SSE2 predictors for widths 16 and 8; narrower blocks use the plain ones.
// Byte averages round up exactly like (a + b + 1) >> 1; the four-sample mode
// averages two byte averages and takes back the one rounding too many.
#include <emmintrin.h>

#include "decode/mc.h"

extern const McDsp mc_dsp_c;

template <int W>
static inline __m128i load(const uint8_t* p) {
  if (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int W>
static inline void store(uint8_t* p, __m128i v) {
  if (W == 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  else
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// Rows of one reference in one half-sample mode, line by line. The
// vertical modes keep the lower line of each pair (and, for the four-sample
// mode, its horizontal average and the bits that average dropped) for the
// next line, so every reference line is read once.
template <int M, int W>
struct Rows {
  const uint8_t* s;
  int stride;
  __m128i h{}, odd{};  // line below: its (horizontal average of) samples, and a ^ b

  Rows(const uint8_t* src, int st) : s(src), stride(st) {
    if (M == 2) h = load<W>(s);
    if (M == 3) horizontal(s, &h, &odd);
  }
  static inline void horizontal(const uint8_t* p, __m128i* avg, __m128i* x) {
    const __m128i a = load<W>(p), b = load<W>(p + 1);
    *avg = _mm_avg_epu8(a, b);
    *x = _mm_xor_si128(a, b);
  }
  // (a + b + c + d + 2) >> 2 from byte averages: avg(avg(a, b), avg(c, d))
  // rounds up once too often exactly when the low bits say so.
  inline __m128i next() {
    __m128i v;
    if (M == 0) {
      v = load<W>(s);
    } else if (M == 1) {
      v = _mm_avg_epu8(load<W>(s), load<W>(s + 1));
    } else if (M == 2) {
      const __m128i n = load<W>(s + stride);
      v = _mm_avg_epu8(h, n);
      h = n;
    } else {
      __m128i hn, xn;
      horizontal(s + stride, &hn, &xn);
      const __m128i round = _mm_and_si128(_mm_or_si128(odd, xn), _mm_xor_si128(h, hn));
      v = _mm_sub_epi8(_mm_avg_epu8(h, hn), _mm_and_si128(round, _mm_set1_epi8(1)));
      h = hn;
      odd = xn;
    }
    s += stride;
    return v;
  }
};

template <int W, int M>
static inline void single_loop(uint8_t* d, const uint8_t* s, int stride, int h) {
  Rows<M, W> r(s, stride);
  for (int y = 0; y < h; ++y, d += stride) store<W>(d, r.next());
}

template <int W, int M1, int M2>
static inline void avg_loop(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int h) {
  Rows<M1, W> r1(s1, stride);
  Rows<M2, W> r2(s2, stride);
  for (int y = 0; y < h; ++y, d += stride) store<W>(d, _mm_avg_epu8(r1.next(), r2.next()));
}

template <int M>
static void single_sse2(uint8_t* d, const uint8_t* s, int stride, int w, int h) {
  if (w == 16) {
    single_loop<16, M>(d, s, stride, h);
  } else if (w == 8) {
    single_loop<8, M>(d, s, stride, h);
  } else {
    mc_dsp_c.single[M](d, s, stride, w, h);
  }
}

template <int M1, int M2>
static void avg_sse2(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int w, int h) {
  if (w == 16) {
    avg_loop<16, M1, M2>(d, s1, s2, stride, h);
  } else if (w == 8) {
    avg_loop<8, M1, M2>(d, s1, s2, stride, h);
  } else {
    mc_dsp_c.avg[4 * M2 + M1](d, s1, s2, stride, w, h);
  }
}

// The fused 4:2:0 predictor: each plane's loop is chosen by a switch on its
// modes, so one indirect call serves three blocks.
template <int W>
static inline void single_any(uint8_t* d, const uint8_t* s, int stride, int h, int m) {
  switch (m) {
    case 0: single_loop<W, 0>(d, s, stride, h); break;
    case 1: single_loop<W, 1>(d, s, stride, h); break;
    case 2: single_loop<W, 2>(d, s, stride, h); break;
    default: single_loop<W, 3>(d, s, stride, h); break;
  }
}

template <int W, int M1>
static inline void avg_any2(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int h, int m2) {
  switch (m2) {
    case 0: avg_loop<W, M1, 0>(d, s1, s2, stride, h); break;
    case 1: avg_loop<W, M1, 1>(d, s1, s2, stride, h); break;
    case 2: avg_loop<W, M1, 2>(d, s1, s2, stride, h); break;
    default: avg_loop<W, M1, 3>(d, s1, s2, stride, h); break;
  }
}

template <int W>
static inline void avg_any(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int h, int m1, int m2) {
  switch (m1) {
    case 0: avg_any2<W, 0>(d, s1, s2, stride, h, m2); break;
    case 1: avg_any2<W, 1>(d, s1, s2, stride, h, m2); break;
    case 2: avg_any2<W, 2>(d, s1, s2, stride, h, m2); break;
    default: avg_any2<W, 3>(d, s1, s2, stride, h, m2); break;
  }
}

static void pred420_sse2(const Pred420& p) {
  const int cs = p.stride >> 1, ch = p.height >> 1;
  if (!p.src2[0]) {
    single_any<16>(p.dst[0], p.src1[0], p.stride, p.height, p.luma_mode[0]);
    single_any<8>(p.dst[1], p.src1[1], cs, ch, p.chroma_mode[0]);
    single_any<8>(p.dst[2], p.src1[2], cs, ch, p.chroma_mode[0]);
    return;
  }
  avg_any<16>(p.dst[0], p.src1[0], p.src2[0], p.stride, p.height, p.luma_mode[0], p.luma_mode[1]);
  avg_any<8>(p.dst[1], p.src1[1], p.src2[1], cs, ch, p.chroma_mode[0], p.chroma_mode[1]);
  avg_any<8>(p.dst[2], p.src1[2], p.src2[2], cs, ch, p.chroma_mode[0], p.chroma_mode[1]);
}

#define AVG_ROW(m2) avg_sse2<0, m2>, avg_sse2<1, m2>, avg_sse2<2, m2>, avg_sse2<3, m2>
extern const McDsp mc_dsp_sse2;
const McDsp mc_dsp_sse2 = {
    {AVG_ROW(0), AVG_ROW(1), AVG_ROW(2), AVG_ROW(3)},
    {single_sse2<0>, single_sse2<1>, single_sse2<2>, single_sse2<3>},
    pred420_sse2,
};
