// Plain distortion, prediction-error and search kernels, and the table of
// processor variants.
#include "encode/me_kernels.h"

#include <algorithm>
#include <cstdlib>

#include "picture/image.h"

namespace {

template <int M, bool Square>
uint32_t dist_c(const uint8_t* src, const uint8_t* ref, int stride, int height) {
  uint32_t sum = 0;
  for (int y = 0; y < height; ++y, src += stride, ref += stride)
    for (int x = 0; x < 16; ++x) {
      const int d = src[x] - half_pel_sample<M>(ref, x, stride);
      sum += Square ? static_cast<uint32_t>(d * d) : static_cast<uint32_t>(std::abs(d));
    }
  return sum;
}

template <int M1, int M2, bool Square>
uint32_t dist_bi_c(const uint8_t* src, const uint8_t* f, const uint8_t* b, int stride, int height) {
  uint32_t sum = 0;
  for (int y = 0; y < height; ++y, src += stride, f += stride, b += stride)
    for (int x = 0; x < 16; ++x) {
      const int d = src[x] - ((half_pel_sample<M1>(f, x, stride) + half_pel_sample<M2>(b, x, stride) + 1) >> 1);
      sum += Square ? static_cast<uint32_t>(d * d) : static_cast<uint32_t>(std::abs(d));
    }
  return sum;
}

template <int M>
int pred_err_c(const uint8_t* src, const uint8_t* ref, int stride, int16_t* out) {
  for (int y = 0; y < 8; ++y, src += stride, ref += stride)
    for (int x = 0; x < 8; ++x) *out++ = static_cast<int16_t>(src[x] - half_pel_sample<M>(ref, x, stride));
  return 0;
}

template <int M1, int M2>
int pred_err_bi_c(const uint8_t* src, const uint8_t* f, const uint8_t* b, int stride, int16_t* out) {
  for (int y = 0; y < 8; ++y, src += stride, f += stride, b += stride)
    for (int x = 0; x < 8; ++x)
      *out++ = static_cast<int16_t>(src[x] - ((half_pel_sample<M1>(f, x, stride) + half_pel_sample<M2>(b, x, stride) + 1) >> 1));
  return 0;
}

#define BI_ROW(fn, m2, sq) fn<0, m2, sq>, fn<1, m2, sq>, fn<2, m2, sq>, fn<3, m2, sq>
constexpr DistortionKernels kDistortion = {
    {BI_ROW(dist_bi_c, 0, false), BI_ROW(dist_bi_c, 1, false), BI_ROW(dist_bi_c, 2, false),
     BI_ROW(dist_bi_c, 3, false)},
    {dist_c<0, false>, dist_c<1, false>, dist_c<2, false>, dist_c<3, false>},
    {BI_ROW(dist_bi_c, 0, true), BI_ROW(dist_bi_c, 1, true), BI_ROW(dist_bi_c, 2, true), BI_ROW(dist_bi_c, 3, true)},
    {dist_c<0, true>, dist_c<1, true>, dist_c<2, true>, dist_c<3, true>},
};
#undef BI_ROW
#define PE_ROW(m2) pred_err_bi_c<0, m2>, pred_err_bi_c<1, m2>, pred_err_bi_c<2, m2>, pred_err_bi_c<3, m2>
constexpr PredictionErrorKernels kPredictionError = {
    {PE_ROW(0), PE_ROW(1), PE_ROW(2), PE_ROW(3)},
    {pred_err_c<0>, pred_err_c<1>, pred_err_c<2>, pred_err_c<3>},
};
#undef PE_ROW

// W-wide SAD over `height` lines, stopping after the line that reaches
// the limit.
template <int W>
uint32_t sad_limit_c(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t limit) {
  uint32_t sum = 0;
  for (int y = 0; y < height; ++y, src += stride, ref += stride) {
    for (int x = 0; x < W; ++x) sum += static_cast<uint32_t>(std::abs(src[x] - ref[x]));
    if (sum >= limit) break;
  }
  return sum;
}

// W-wide sums of line pairs: even lines, odd lines and both; every
// column, or every second one.
template <int W, int Step = 1>
FieldSums fields_c(const uint8_t* src, const uint8_t* ref, int stride, int height, FieldSums limit) {
  FieldSums s{0, 0, 0};
  for (int y = 0; y + 1 < height; y += 2, src += 2 * stride, ref += 2 * stride) {
    for (int x = 0; x < W; x += Step) {
      s.even += static_cast<uint32_t>(std::abs(src[x] - ref[x]));
      s.odd += static_cast<uint32_t>(std::abs(src[x + stride] - ref[x + stride]));
    }
    s.total = s.even + s.odd;
    if (s.total >= limit.total && s.even >= limit.even && s.odd >= limit.odd) break;
  }
  return s;
}

uint32_t sad16_checker_limit_c(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t limit) {
  uint32_t sum = 0;
  for (int y = 0; y < height; ++y, src += stride, ref += stride) {
    for (int x = y & 1; x < 16; x += 2) sum += static_cast<uint32_t>(std::abs(src[x] - ref[x]));
    if (sum >= limit) break;
  }
  return sum;
}

uint32_t match_8x8_c(const uint8_t* src, const uint8_t* ref, int stride, uint32_t limit) {
  return sad_limit_c<8>(src, ref, stride, 8, limit);
}

FieldSums match_8x8_fields_c(const uint8_t* src, const uint8_t* ref, int stride, FieldSums limit) {
  return fields_c<8>(src, ref, stride, 8, limit);
}

}  // namespace

uint32_t match_4x4_plain(const uint8_t* src, const uint8_t* ref, int stride, uint32_t limit) {
  uint32_t sum = 0;
  for (int y = 0; y < 4; ++y, src += stride, ref += stride) {
    if (y == 2 && sum >= limit) break;
    for (int x = 0; x < 4; ++x) sum += static_cast<uint32_t>(std::abs(src[x] - ref[x]));
  }
  return sum;
}

namespace {

void match_8x8_row8_c(const uint8_t* src, const uint8_t* ref, int stride, uint32_t out[8]) {
  for (int k = 0; k < 8; ++k) out[k] = match_8x8_c(src, ref + k, stride, UINT32_MAX);
}

// One pass over the block and the line below it and the column right of
// it: every candidate's sample comes from the same four neighbours.
void sad_half9_c(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t out[9]) {
  static constexpr int kDx[9] = {0, -1, 0, 1, -1, 1, -1, 0, 1}, kDy[9] = {0, -1, -1, -1, 0, 0, 1, 1, 1};
  for (int k = 0; k < 9; ++k) {
    const int m = (kDx[k] & 1) | ((kDy[k] & 1) << 1);
    out[k] = kDistortion.sad[m](src, vector_base(ref, stride, kDx[k], kDy[k]), stride, height);
  }
}

uint32_t mb_variance_c(const uint8_t* p, int stride) {
  uint32_t s = 0, q = 0;
  for (int y = 0; y < 16; ++y, p += stride)
    for (int x = 0; x < 16; ++x) {
      s += p[x];
      q += static_cast<uint32_t>(p[x] * p[x]);
    }
  const uint32_t m = s >> 4;
  return q - m * m;
}

}  // namespace

const DistortionKernels& distortion_kernels() { return kDistortion; }
const PredictionErrorKernels& prediction_error_kernels() { return kPredictionError; }
void init_distortion_kernels() {}

uint32_t sad_at(const uint8_t* src, const uint8_t* ref, int stride, int x, int y, int height) {
  return (me_dsp().*kSad[vector_flags(x, y)])(src, vector_base(ref, stride, x, y), stride, height);
}
uint32_t sse_at(const uint8_t* src, const uint8_t* ref, int stride, int x, int y, int height) {
  return (me_dsp().*kSse[vector_flags(x, y)])(src, vector_base(ref, stride, x, y), stride, height);
}
uint32_t sad_bidir_at(const uint8_t* src, const uint8_t* fwd, const uint8_t* bwd, int stride, int fx, int fy, int bx,
                      int by, int height) {
  return me_dsp().sad_bi[vector_flags(fx, fy) | vector_flags(bx, by) << 2](
      src, vector_base(fwd, stride, fx, fy), vector_base(bwd, stride, bx, by), stride, height);
}
uint32_t sse_bidir_at(const uint8_t* src, const uint8_t* fwd, const uint8_t* bwd, int stride, int fx, int fy, int bx,
                      int by, int height) {
  return me_dsp().sse_bi[vector_flags(fx, fy) | vector_flags(bx, by) << 2](
      src, vector_base(fwd, stride, fx, fy), vector_base(bwd, stride, bx, by), stride, height);
}

uint32_t scan_4x4_row(const uint8_t* src, const uint8_t* ref, int stride, int count, int* offset) {
  uint32_t best = UINT32_MAX;
  *offset = 0;
  for (int i = 0; i < (count & ~3); ++i) {
    const uint32_t s = match_4x4_plain(src, ref + i, stride, UINT32_MAX);
    if (s < best) {
      best = s;
      *offset = i;
    }
  }
  return best;
}

uint32_t match_8x8_three(const uint8_t* src, const uint8_t* ref, int stride, int* which) {
  const uint32_t a = match_8x8_c(src, ref, stride, UINT32_MAX), b = match_8x8_c(src, ref + 1, stride, UINT32_MAX),
                 c = match_8x8_c(src, ref + 2, stride, UINT32_MAX);
  uint32_t best = a;
  *which = 0;
  if (b <= best) {
    best = b;
    *which = 1;
  }
  if (c < a && c < b) {
    best = c;
    *which = 2;
  }
  return best;
}

uint32_t match_8x8_two(const uint8_t* src, const uint8_t* ref, int stride, int* which) {
  const uint32_t a = match_8x8_c(src, ref, stride, UINT32_MAX), b = match_8x8_c(src, ref + 1, stride, UINT32_MAX);
  *which = b < a ? 1 : 0;
  return std::min(a, b);
}

int block_variance_8x8(const uint8_t* p, int stride) {
  int s = 0, q = 0;
  for (int y = 0; y < 8; ++y, p += stride)
    for (int x = 0; x < 8; ++x) {
      s += p[x];
      q += p[x] * p[x];
    }
  const int m = s >> 6;
  return std::max(q >> 6, m * m) - m * m;
}

namespace {
void error_blocks(const PlaneSet& pic, int mx, int my, int16_t blocks[6][64], const PlaneSet* refs[2], const int* vx,
                  const int* vy) {
  const int ys = pic.stride, cs = pic.stride / 2;
  const uint8_t* src[6];
  long off[6];
  for (int b = 0; b < 4; ++b) off[b] = static_cast<long>(my + (b >> 1) * 8) * ys + mx + (b & 1) * 8;
  off[4] = off[5] = static_cast<long>(my / 2) * cs + mx / 2;
  src[0] = src[1] = src[2] = src[3] = pic.y;
  src[4] = pic.cb;
  src[5] = pic.cr;
  for (int b = 0; b < 6; ++b) {
    const int stride = b < 4 ? ys : cs;
    const uint8_t* r[2] = {nullptr, nullptr};
    int flags[2] = {0, 0};
    for (int n = 0; n < 2 && refs[n]; ++n) {
      const int x = b < 4 ? vx[n] : chroma_vector(vx[n]), y = b < 4 ? vy[n] : chroma_vector(vy[n]);
      const uint8_t* plane = b < 4 ? refs[n]->y : b == 4 ? refs[n]->cb : refs[n]->cr;
      r[n] = vector_base(plane + off[b], stride, x, y);
      flags[n] = vector_flags(x, y);
    }
    if (refs[1])
      kPredictionError.bi[flags[0] | flags[1] << 2](src[b] + off[b], r[0], r[1], stride, blocks[b]);
    else
      kPredictionError.single[flags[0]](src[b] + off[b], r[0], stride, blocks[b]);
  }
}
}  // namespace

void predict_error_single(const PlaneSet& picture, int mx, int my, int16_t blocks[6][64], const PlaneSet& ref, int vx,
                          int vy) {
  const PlaneSet* refs[2] = {&ref, nullptr};
  const int x[2] = {vx, 0}, y[2] = {vy, 0};
  error_blocks(picture, mx, my, blocks, refs, x, y);
}

void predict_error_bidir(const PlaneSet& picture, int mx, int my, int16_t blocks[6][64], const PlaneSet& fwd,
                         const PlaneSet& bwd, int fx, int fy, int bx, int by) {
  const PlaneSet* refs[2] = {&fwd, &bwd};
  const int x[2] = {fx, bx}, y[2] = {fy, by};
  error_blocks(picture, mx, my, blocks, refs, x, y);
}

void intra_blocks(const PlaneSet& pic, int mx, int my, int16_t blocks[6][64]) {
  const int ys = pic.stride, cs = pic.stride / 2;
  for (int b = 0; b < 6; ++b) {
    const uint8_t* p = b < 4 ? pic.y + static_cast<long>(my + (b >> 1) * 8) * ys + mx + (b & 1) * 8
                             : (b == 4 ? pic.cb : pic.cr) + static_cast<long>(my / 2) * cs + mx / 2;
    const int stride = b < 4 ? ys : cs;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) blocks[b][y * 8 + x] = static_cast<int16_t>(p[y * stride + x] - 128);
  }
}

namespace {
// Weight of the target sample by the difference: small differences are
// noise and follow the other picture, 40 and more are detail and stay.
constexpr uint16_t temporal_weight(int d) {
  constexpr uint16_t first[13] = {0, 64, 146, 192, 216, 229, 236, 241, 245, 247, 249, 250, 251};
  if (d < 13) return first[d];
  if (d < 15) return 252;
  if (d < 18) return 253;
  if (d < 23) return 254;
  if (d < 40) return 255;
  return 256;
}
}  // namespace

void filter_luma_temporal(Image* target, const Image* other) {
  if (!target || !other || !target->buffer || !other->buffer || target->padded_width != other->padded_width ||
      target->padded_height != other->padded_height)
    return;
  uint8_t* a = target->get_y();
  const uint8_t* b = other->get_y();
  for (size_t i = 0, n = target->y_size(); i < n; ++i) {
    const int w = temporal_weight(std::abs(a[i] - b[i]));
    a[i] = static_cast<uint8_t>(((256 - w) * b[i] + w * a[i] + 128) >> 8);
  }
}

extern const MeDsp me_dsp_c;
const MeDsp me_dsp_c = {
    dist_c<0, false>, dist_c<1, false>, dist_c<2, false>, dist_c<3, false>,
    dist_c<0, true>,  dist_c<1, true>,  dist_c<2, true>,  dist_c<3, true>,
    {kDistortion.sse_bi[0], kDistortion.sse_bi[1], kDistortion.sse_bi[2], kDistortion.sse_bi[3],
     kDistortion.sse_bi[4], kDistortion.sse_bi[5], kDistortion.sse_bi[6], kDistortion.sse_bi[7],
     kDistortion.sse_bi[8], kDistortion.sse_bi[9], kDistortion.sse_bi[10], kDistortion.sse_bi[11],
     kDistortion.sse_bi[12], kDistortion.sse_bi[13], kDistortion.sse_bi[14], kDistortion.sse_bi[15]},
    {kDistortion.sad_bi[0], kDistortion.sad_bi[1], kDistortion.sad_bi[2], kDistortion.sad_bi[3],
     kDistortion.sad_bi[4], kDistortion.sad_bi[5], kDistortion.sad_bi[6], kDistortion.sad_bi[7],
     kDistortion.sad_bi[8], kDistortion.sad_bi[9], kDistortion.sad_bi[10], kDistortion.sad_bi[11],
     kDistortion.sad_bi[12], kDistortion.sad_bi[13], kDistortion.sad_bi[14], kDistortion.sad_bi[15]},
    sad_limit_c<16>,  sad16_checker_limit_c, fields_c<16>, fields_c<16, 2>,
    match_8x8_c,      match_8x8_fields_c,    match_4x4_plain, match_8x8_row8_c,
    sad_half9_c,      mb_variance_c,
};

#if TAMSEL_X86_SIMD
extern const MeDsp me_dsp_sse2;
void match_8x8_row8_sse41(const uint8_t* src, const uint8_t* ref, int stride, uint32_t out[8]);
void me_dsp_fill_avx2(MeDsp* d);
#endif

const MeDsp* me_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &me_dsp_c;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse2: return &me_dsp_sse2;
    case CpuLevel::sse41: {
      // The SSE2 table with the kernels SSE4.1 does better, built on first use.
      static const MeDsp t = [] {
        MeDsp d = me_dsp_sse2;
        d.match_8x8_row8 = match_8x8_row8_sse41;
        return d;
      }();
      return &t;
    }
    case CpuLevel::avx2: {
      static const MeDsp t = [] {
        MeDsp d = *me_dsp_for(CpuLevel::sse41);
        me_dsp_fill_avx2(&d);
        return d;
      }();
      return &t;
    }
#endif
    default: return nullptr;
  }
}

const MeDsp& me_dsp() {
  static const MeDsp& dsp = cpu_pick(me_dsp_for);
  return dsp;
}
