#include "picture/scale_kernels.h"

#include <algorithm>
#include <cstddef>

#include "foundation/cpu.h"

namespace {

inline int clamp_index(int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }
// Whole-sample mirror about the end samples: x[-j] = x[j], x[n-1+j] = x[n-1-j].
inline int mirror_whole(int i, int n) {
  if (i < 0) i = -i;
  if (i > n - 1) i = 2 * (n - 1) - i;
  return clamp_index(i, n);
}
// Half-sample mirror across the ends: x[-1-j] = x[j], x[n+j] = x[n-1-j].
inline int mirror_half(int i, int n) {
  if (i < 0) i = -1 - i;
  if (i >= n) i = 2 * n - 1 - i;
  return clamp_index(i, n);
}

inline uint8_t clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

int scale_out_count(ScaleKernel k, int n) {
  if (n <= 0) return 0;
  switch (k) {
    case SK_DEC2_H:
    case SK_DEC2_V: return (n + 1) / 2;
    case SK_DEC32: return 2 * (n / 3) + n % 3;
    case SK_DEC4: return n >= 2 ? ((n - 2) >> 2) + 1 : 1;
    case SK_INT2: return 2 * n;
    case SK_INT23: return (3 * n) / 2;
    case SK_INT4: return 4 * n;
    default: return n;
  }
}

void build_taps(ScaleKernel k, int n, TapTable& t) {
  static const int ntaps_of[] = {1, 5, 4, 2, 12, 4, 5, 6};
  t.out_count = scale_out_count(k, n);
  t.ntaps = ntaps_of[k];
  t.index.assign(static_cast<size_t>(t.out_count) * t.ntaps, 0);
  t.tap.assign(static_cast<size_t>(t.out_count) * t.ntaps, 0);
  for (int o = 0; o < t.out_count; ++o) {
    int* ix = &t.index[static_cast<size_t>(o) * t.ntaps];
    int16_t* tp = &t.tap[static_cast<size_t>(o) * t.ntaps];
    switch (k) {
      case SK_NONE:
        ix[0] = o;
        tp[0] = 256;
        break;
      case SK_DEC2_H: {  // (-29, 0, 88, 138, 88, 0, -29) centred on the even samples
        static const int off[5] = {-3, -1, 0, 1, 3};
        static const int16_t w[5] = {-29, 88, 138, 88, -29};
        for (int i = 0; i < 5; ++i) {
          ix[i] = mirror_whole(2 * o + off[i], n);
          tp[i] = w[i];
        }
        break;
      }
      case SK_DEC2_V: {  // (1, 7, 7, 1) / 16 between the pair
        if ((n & 1) && o == t.out_count - 1) {
          ix[0] = clamp_index(n - 1, n);
          tp[0] = 224;
          ix[1] = clamp_index(n - 2, n);
          tp[1] = 32;
          break;
        }
        auto at = [n](int i) {
          if (i == -1) i = 2;
          if (i == n) i = n - 3;
          return clamp_index(i, n);
        };
        ix[0] = at(2 * o - 1), tp[0] = 16;
        ix[1] = at(2 * o), tp[1] = 112;
        ix[2] = at(2 * o + 1), tp[2] = 112;
        ix[3] = at(2 * o + 2), tp[3] = 16;
        break;
      }
      case SK_DEC32: {
        const int m = o / 2, groups = n / 3;
        if (m < groups) {
          if ((o & 1) == 0) {
            ix[0] = 3 * m, tp[0] = 256;
            ix[1] = 3 * m, tp[1] = 0;
          } else {
            ix[0] = 3 * m + 1, tp[0] = 128;
            ix[1] = 3 * m + 2, tp[1] = 128;
          }
        } else {  // remainder copied unchanged
          const int i = 3 * groups + (o - 2 * groups);
          ix[0] = clamp_index(i, n), tp[0] = 256;
          ix[1] = ix[0], tp[1] = 0;
        }
        break;
      }
      case SK_DEC4: {
        static const int16_t w[12] = {-2, -3, 5, 21, 43, 64, 64, 43, 21, 5, -3, -2};
        for (int i = 0; i < 12; ++i) {
          ix[i] = mirror_half(4 * o - 4 + i, n);
          tp[i] = w[i];
        }
        break;
      }
      case SK_INT2: {
        const int kk = o / 2;
        if ((o & 1) == 0) {
          ix[0] = kk, tp[0] = 256;
          for (int i = 1; i < 4; ++i) ix[i] = kk, tp[i] = 0;
          break;
        }
        auto at = [n](int i) {
          if (i == -1) i = 2;
          if (i == n) i = n - 1;
          if (i == n + 1) i = n - 2;
          return clamp_index(i, n);
        };
        ix[0] = at(kk - 1), tp[0] = 16;
        ix[1] = at(kk), tp[1] = 112;
        ix[2] = at(kk + 1), tp[2] = 112;
        ix[3] = at(kk + 2), tp[3] = 16;
        break;
      }
      case SK_INT23: {
        const int m = o / 3, ph = o % 3, j = 2 * m;
        static const int16_t w1[5] = {-10, 86, 200, -22, 2};
        static const int16_t w2[5] = {2, -22, 200, 86, -10};
        for (int i = 0; i < 5; ++i) {
          ix[i] = mirror_half(j - 1 + i, n);
          tp[i] = ph == 0 ? (i == 1 ? 256 : 0) : (ph == 1 ? w1[i] : w2[i]);
        }
        break;
      }
      case SK_INT4: {
        // Output m lies at input position (m - 2) / 4; each phase sums to 256.
        const int kk = o / 4, ph = o % 4;
        static const int16_t half[6] = {3, -27, 152, 152, -27, 3};      // x[k-3] .. x[k+2]
        static const int16_t qa[6] = {0, -13, 62, 229, -27, 5};         // k - 1/4
        static const int16_t qb[6] = {0, 5, -27, 229, 62, -13};         // k + 1/4
        for (int i = 0; i < 6; ++i) {
          ix[i] = mirror_half(kk - 3 + i, n);
          int16_t w = 0;
          if (ph == 0) w = half[i];
          else if (ph == 1) w = qa[i];
          else if (ph == 2) w = (i == 3) ? 256 : 0;
          else w = qb[i];
          tp[i] = w;
        }
        break;
      }
    }
  }
}

namespace {

void vfilter_row_c(const uint8_t* const* rows, const int16_t* taps, int ntaps, uint8_t* dst, int width) {
  for (int c = 0; c < width; ++c) {
    int s = 128;
    for (int i = 0; i < ntaps; ++i) s += taps[i] * rows[i][c];
    dst[c] = clamp255(s >> 8);
  }
}

const ScaleDsp scale_dsp_c = {vfilter_row_c};

}  // namespace

const ScaleDsp* scale_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &scale_dsp_c;
#if TAMSEL_X86_SIMD
    case CpuLevel::avx2: return &scale_dsp_avx2;
#endif
    default: return nullptr;
  }
}

const ScaleDsp& scale_dsp() {
  static const ScaleDsp& dsp = cpu_pick(scale_dsp_for);
  return dsp;
}

namespace {

// Row filter with the tap count known at compile time.
template <int NT>
void filter_rows(const TapTable& t, const uint8_t* src, int src_stride, int rows, uint8_t* dst, int dst_stride,
                 int outs) {
  for (int r = 0; r < rows; ++r) {
    const uint8_t* x = src + static_cast<ptrdiff_t>(r) * src_stride;
    uint8_t* y = dst + static_cast<ptrdiff_t>(r) * dst_stride;
    const int* ix = t.index.data();
    const int16_t* tp = t.tap.data();
    for (int o = 0; o < outs; ++o, ix += NT, tp += NT) {
      int s = 128;
      for (int i = 0; i < NT; ++i) s += tp[i] * x[ix[i]];
      y[o] = clamp255(s >> 8);
    }
  }
}

}  // namespace

void scale_plane_h(ScaleKernel k, const uint8_t* src, int src_stride, int n_in, int rows, uint8_t* dst,
                   int dst_stride, int n_out) {
  if (n_in <= 0 || rows <= 0 || n_out <= 0) return;
  TapTable t;
  build_taps(k, n_in, t);
  const int outs = std::min(n_out, t.out_count);
  const ScaleDsp& dsp = scale_dsp();
  const VFilterRowFn fn = dsp.vfilter_row;
  // Turning rows on their side pays only with a vector column filter.
  if (rows < 8 || &dsp == &scale_dsp_c) {
    switch (t.ntaps) {
      case 1: filter_rows<1>(t, src, src_stride, rows, dst, dst_stride, outs); break;
      case 2: filter_rows<2>(t, src, src_stride, rows, dst, dst_stride, outs); break;
      case 4: filter_rows<4>(t, src, src_stride, rows, dst, dst_stride, outs); break;
      case 5: filter_rows<5>(t, src, src_stride, rows, dst, dst_stride, outs); break;
      case 6: filter_rows<6>(t, src, src_stride, rows, dst, dst_stride, outs); break;
      default: filter_rows<12>(t, src, src_stride, rows, dst, dst_stride, outs); break;
    }
    return;
  }
  // Blocks of 32 rows turned on their side, so that the column kernel
  // filters 32 rows of one output sample at once; same arithmetic.
  constexpr int B = 32;
  std::vector<uint8_t> tin(static_cast<size_t>(n_in) * B), tout(static_cast<size_t>(outs) * B);
  const int nt = t.ntaps;
  for (int r0 = 0; r0 < rows; r0 += B) {
    const int nb = std::min(B, rows - r0);
    for (int r = 0; r < nb; ++r) {
      const uint8_t* s = src + static_cast<ptrdiff_t>(r0 + r) * src_stride;
      uint8_t* d = tin.data() + r;
      for (int c = 0; c < n_in; ++c) d[static_cast<size_t>(c) * B] = s[c];
    }
    const uint8_t* ptr[12];
    int16_t taps[12];
    for (int o = 0; o < outs; ++o) {
      int used = 0;
      for (int i = 0; i < nt; ++i) {
        const int16_t w = t.tap[static_cast<size_t>(o) * nt + i];
        if (w == 0) continue;
        ptr[used] = tin.data() + static_cast<size_t>(t.index[static_cast<size_t>(o) * nt + i]) * B;
        taps[used++] = w;
      }
      fn(ptr, taps, used, tout.data() + static_cast<size_t>(o) * B, nb);
    }
    for (int r = 0; r < nb; ++r) {
      uint8_t* d = dst + static_cast<ptrdiff_t>(r0 + r) * dst_stride;
      const uint8_t* s = tout.data() + r;
      for (int o = 0; o < outs; ++o) d[o] = s[static_cast<size_t>(o) * B];
    }
  }
}

void scale_plane_v(ScaleKernel k, const uint8_t* src, int src_stride, int n_in, int columns, uint8_t* dst,
                   int dst_stride, int n_out) {
  if (n_in <= 0 || columns <= 0 || n_out <= 0) return;
  TapTable t;
  build_taps(k, n_in, t);
  const int outs = std::min(n_out, t.out_count);
  const int nt = t.ntaps;
  const VFilterRowFn fn = scale_dsp().vfilter_row;
  const uint8_t* rows[12];
  for (int o = 0; o < outs; ++o) {
    // Drop zero taps so copies and two-tap phases cost no more than needed.
    int16_t taps[12];
    int used = 0;
    for (int i = 0; i < nt; ++i) {
      const int16_t w = t.tap[static_cast<size_t>(o) * nt + i];
      if (w == 0) continue;
      rows[used] = src + static_cast<ptrdiff_t>(t.index[static_cast<size_t>(o) * nt + i]) * src_stride;
      taps[used++] = w;
    }
    uint8_t* d = dst + static_cast<ptrdiff_t>(o) * dst_stride;
    fn(rows, taps, used, d, columns);
  }
}
