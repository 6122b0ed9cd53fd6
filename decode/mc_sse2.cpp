// SSE2 predictors for widths 16 and 8; narrower blocks use the plain ones.
// Byte averages round up exactly like (a + b + 1) >> 1; the four-sample mode
// averages two byte averages and takes back the one rounding too many.
#include <emmintrin.h>

#include "decode/mc.h"

extern const McDsp mc_dsp_c;

// W: the width, 16 or 8, or kPair for two 8-wide blocks at once (the two
// chroma planes of a 4:2:0 region: the same offsets and modes in both), one
// in each half of a register.
constexpr int kPair = 2;

template <int W>
static inline __m128i load(const uint8_t* p, const uint8_t* q) {
  if (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  if (W == 8) return lo;
  return _mm_unpacklo_epi64(lo, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)));
}
template <int W>
static inline void store(uint8_t* p, uint8_t* q, __m128i v) {
  if (W == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    return;
  }
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  if (W == kPair) _mm_storel_epi64(reinterpret_cast<__m128i*>(q), _mm_unpackhi_epi64(v, v));
}

// Rows of one reference in one half-sample mode, line by line. The
// vertical modes keep the lower line of each pair (and, for the four-sample
// mode, its horizontal average and the bits that average dropped) for the
// next line, so every reference line is read once. t: the second block of
// a pair (unused otherwise).
template <int M, int W>
struct Rows {
  const uint8_t* s;
  const uint8_t* t;
  int stride;
  __m128i h{}, odd{};  // line below: its (horizontal average of) samples, and a ^ b

  Rows(const uint8_t* src, const uint8_t* src2, int st) : s(src), t(src2), stride(st) {
    if (M == 2) h = load<W>(s, t);
    if (M == 3) horizontal(0, &h, &odd);
  }
  inline __m128i at(int off) const { return load<W>(s + off, t + off); }
  inline void horizontal(int off, __m128i* avg, __m128i* x) const {
    const __m128i a = at(off), b = at(off + 1);
    *avg = _mm_avg_epu8(a, b);
    *x = _mm_xor_si128(a, b);
  }
  // (a + b + c + d + 2) >> 2 from byte averages: avg(avg(a, b), avg(c, d))
  // rounds up once too often exactly when the low bits say so.
  inline __m128i next() {
    __m128i v;
    if (M == 0) {
      v = at(0);
    } else if (M == 1) {
      v = _mm_avg_epu8(at(0), at(1));
    } else if (M == 2) {
      const __m128i n = at(stride);
      v = _mm_avg_epu8(h, n);
      h = n;
    } else {
      __m128i hn, xn;
      horizontal(stride, &hn, &xn);
      const __m128i round = _mm_and_si128(_mm_or_si128(odd, xn), _mm_xor_si128(h, hn));
      v = _mm_sub_epi8(_mm_avg_epu8(h, hn), _mm_and_si128(round, _mm_set1_epi8(1)));
      h = hn;
      odd = xn;
    }
    // The next cache line of this reference line: macroblocks to the right
    // mostly read it a few calls later, and reference lines a frame's width
    // apart are too far apart for the hardware to fetch them ahead.
    _mm_prefetch(reinterpret_cast<const char*>(s) + 64, _MM_HINT_T0);
    if (W == kPair) _mm_prefetch(reinterpret_cast<const char*>(t) + 64, _MM_HINT_T0);
    s += stride;
    if (W == kPair) t += stride;
    return v;
  }
};

// d2, s2, t2: the second block of a pair (W == kPair), else unused.
template <int W, int M>
static inline void single_loop(uint8_t* d, uint8_t* d2, const uint8_t* s, const uint8_t* s2, int stride, int h) {
  Rows<M, W> r(s, s2, stride);
  for (int y = 0; y < h; ++y, d += stride, d2 += stride) store<W>(d, d2, r.next());
}

template <int W, int M1, int M2>
static inline void avg_loop(uint8_t* d, uint8_t* d2, const uint8_t* s1, const uint8_t* t1, const uint8_t* s2,
                            const uint8_t* t2, int stride, int h) {
  Rows<M1, W> r1(s1, t1, stride);
  Rows<M2, W> r2(s2, t2, stride);
  for (int y = 0; y < h; ++y, d += stride, d2 += stride) store<W>(d, d2, _mm_avg_epu8(r1.next(), r2.next()));
}

template <int M>
static void single_sse2(uint8_t* d, const uint8_t* s, int stride, int w, int h) {
  if (w == 16) {
    single_loop<16, M>(d, d, s, s, stride, h);
  } else if (w == 8) {
    single_loop<8, M>(d, d, s, s, stride, h);
  } else {
    mc_dsp_c.single[M](d, s, stride, w, h);
  }
}

template <int M1, int M2>
static void avg_sse2(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int w, int h) {
  if (w == 16) {
    avg_loop<16, M1, M2>(d, d, s1, s1, s2, s2, stride, h);
  } else if (w == 8) {
    avg_loop<8, M1, M2>(d, d, s1, s1, s2, s2, stride, h);
  } else {
    mc_dsp_c.avg[4 * M2 + M1](d, s1, s2, stride, w, h);
  }
}

// The fused 4:2:0 predictor: each plane's loop is chosen by a switch on its
// modes, so one indirect call serves three blocks, and the two chroma
// blocks share their registers.
template <int W>
static inline void single_any(uint8_t* d, uint8_t* d2, const uint8_t* s, const uint8_t* s2, int stride, int h, int m) {
  switch (m) {
    case 0: single_loop<W, 0>(d, d2, s, s2, stride, h); break;
    case 1: single_loop<W, 1>(d, d2, s, s2, stride, h); break;
    case 2: single_loop<W, 2>(d, d2, s, s2, stride, h); break;
    default: single_loop<W, 3>(d, d2, s, s2, stride, h); break;
  }
}

struct AvgArgs {
  uint8_t* d;
  uint8_t* d2;
  const uint8_t* s1;
  const uint8_t* t1;
  const uint8_t* s2;
  const uint8_t* t2;
  int stride, h;
};

template <int W, int M1>
static inline void avg_any2(const AvgArgs& a, int m2) {
  switch (m2) {
    case 0: avg_loop<W, M1, 0>(a.d, a.d2, a.s1, a.t1, a.s2, a.t2, a.stride, a.h); break;
    case 1: avg_loop<W, M1, 1>(a.d, a.d2, a.s1, a.t1, a.s2, a.t2, a.stride, a.h); break;
    case 2: avg_loop<W, M1, 2>(a.d, a.d2, a.s1, a.t1, a.s2, a.t2, a.stride, a.h); break;
    default: avg_loop<W, M1, 3>(a.d, a.d2, a.s1, a.t1, a.s2, a.t2, a.stride, a.h); break;
  }
}

template <int W>
static inline void avg_any(const AvgArgs& a, int m1, int m2) {
  switch (m1) {
    case 0: avg_any2<W, 0>(a, m2); break;
    case 1: avg_any2<W, 1>(a, m2); break;
    case 2: avg_any2<W, 2>(a, m2); break;
    default: avg_any2<W, 3>(a, m2); break;
  }
}

static void pred420_sse2(const Pred420& p) {
  const int cs = p.stride >> 1, ch = p.height >> 1;
  if (!p.src2[0]) {
    single_any<16>(p.dst[0], p.dst[0], p.src1[0], p.src1[0], p.stride, p.height, p.luma_mode[0]);
    single_any<kPair>(p.dst[1], p.dst[2], p.src1[1], p.src1[2], cs, ch, p.chroma_mode[0]);
    return;
  }
  avg_any<16>({p.dst[0], p.dst[0], p.src1[0], p.src1[0], p.src2[0], p.src2[0], p.stride, p.height}, p.luma_mode[0],
              p.luma_mode[1]);
  avg_any<kPair>({p.dst[1], p.dst[2], p.src1[1], p.src1[2], p.src2[1], p.src2[2], cs, ch}, p.chroma_mode[0],
                 p.chroma_mode[1]);
}

#define AVG_ROW(m2) avg_sse2<0, m2>, avg_sse2<1, m2>, avg_sse2<2, m2>, avg_sse2<3, m2>
extern const McDsp mc_dsp_sse2;
const McDsp mc_dsp_sse2 = {
    {AVG_ROW(0), AVG_ROW(1), AVG_ROW(2), AVG_ROW(3)},
    {single_sse2<0>, single_sse2<1>, single_sse2<2>, single_sse2<3>},
    pred420_sse2,
};
