// Plain prediction kernels and the table of variants.
#include "decode/mc.h"

template <int M>
static inline int sample(const uint8_t* s, int x, int stride) {
  if (M == 0) return s[x];
  if (M == 1) return (s[x] + s[x + 1] + 1) >> 1;
  if (M == 2) return (s[x] + s[x + stride] + 1) >> 1;
  return (s[x] + s[x + 1] + s[x + stride] + s[x + stride + 1] + 2) >> 2;
}

template <int M>
static void pred_single_c(uint8_t* d, const uint8_t* s, int stride, int w, int h) {
  for (int y = 0; y < h; ++y, d += stride, s += stride)
    for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(sample<M>(s, x, stride));
}

template <int M1, int M2>
static void pred_avg_c(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int w, int h) {
  for (int y = 0; y < h; ++y, d += stride, s1 += stride, s2 += stride)
    for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>((sample<M1>(s1, x, stride) + sample<M2>(s2, x, stride) + 1) >> 1);
}

#define AVG_ROW(m2) pred_avg_c<0, m2>, pred_avg_c<1, m2>, pred_avg_c<2, m2>, pred_avg_c<3, m2>
static constexpr PredAvgFn avg_c[16] = {AVG_ROW(0), AVG_ROW(1), AVG_ROW(2), AVG_ROW(3)};
#undef AVG_ROW
static constexpr PredFn single_c[4] = {pred_single_c<0>, pred_single_c<1>, pred_single_c<2>, pred_single_c<3>};

static void pred420_c(const Pred420& p) {
  const int cs = p.stride >> 1, ch = p.height >> 1;
  if (!p.src2[0]) {
    single_c[p.luma_mode[0]](p.dst[0], p.src1[0], p.stride, 16, p.height);
    for (int k = 1; k < 3; ++k) single_c[p.chroma_mode[0]](p.dst[k], p.src1[k], cs, 8, ch);
    return;
  }
  avg_c[4 * p.luma_mode[1] + p.luma_mode[0]](p.dst[0], p.src1[0], p.src2[0], p.stride, 16, p.height);
  for (int k = 1; k < 3; ++k)
    avg_c[4 * p.chroma_mode[1] + p.chroma_mode[0]](p.dst[k], p.src1[k], p.src2[k], cs, 8, ch);
}

extern const McDsp mc_dsp_c;
const McDsp mc_dsp_c = {
    {avg_c[0], avg_c[1], avg_c[2], avg_c[3], avg_c[4], avg_c[5], avg_c[6], avg_c[7], avg_c[8], avg_c[9], avg_c[10],
     avg_c[11], avg_c[12], avg_c[13], avg_c[14], avg_c[15]},
    {single_c[0], single_c[1], single_c[2], single_c[3]},
    pred420_c,
};

#if TAMSEL_X86_SIMD
extern const McDsp mc_dsp_sse2;
#endif

const McDsp* mc_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &mc_dsp_c;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse2: return &mc_dsp_sse2;
#endif
    default: return nullptr;
  }
}

const McDsp& mc_dsp() {
  static const McDsp& dsp = cpu_pick(mc_dsp_for);
  return dsp;
}
