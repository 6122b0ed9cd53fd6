#include "audio/codec/src_kernels.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// Weights of the 32/48 kHz members, output by output of one block.
struct FixedOut {
  int base;
  int w[5];
};

const FixedOut k48from32[6] = {{2, {1024}},           {1, {-24, 325, 791, -65}}, {2, {-65, 791, 325, -24}},
                               {4, {1024}},           {3, {-24, 325, 791, -65}}, {4, {-65, 791, 325, -24}}};

const FixedOut k32from48[8] = {{0, {-12, 161, 720, 161, -12}}, {3, {515, 515}}, {3, {-12, 161, 720, 161, -12}},
                               {6, {515, 515}},                {6, {-12, 161, 720, 161, -12}}, {9, {515, 515}},
                               {9, {-12, 161, 720, 161, -12}}, {12, {515, 515}}};

void put_fixed(SrcPlan& p, int j, const FixedOut* outs, int count, int shift) {
  for (int m = 0; m < count; ++m) {
    SrcTap& t = p.taps[size_t(j) * size_t(p.max_out) + size_t(m)];
    t.base = outs[m].base + shift;
    for (int k = 0; k < 5; ++k) t.w[k] = outs[m].w[k];
  }
}

SrcPlan fixed_plan(int out_rate, int in_rate, int in_block, const FixedOut* outs, int out_block) {
  SrcPlan p{out_rate, in_rate, in_block, out_block, in_block, out_block, 1, false, out_block, {}};
  p.taps.resize(size_t(out_block));
  put_fixed(p, 0, outs, out_block, 0);
  return p;
}

double integral_cos(double c, double w) { return c == 0.0 ? w : std::sin(c * w) / c; }

// Four taps at frames -1..2 around position f (in [0, 1), or [1, 2) at a
// cycle's edge): the least-squares fit of a delay by f over 0..8700 Hz,
// gain 1 at DC.
void phase_weights(double f, double band, int32_t w[4]) {
  double a[4][5];
  for (int n = 0; n < 4; ++n) {
    for (int m = 0; m < 4; ++m) a[n][m] = integral_cos(double(n - m), band);
    a[n][4] = integral_cos(double(n - 1) - f, band);
  }
  for (int c = 0; c < 4; ++c) {
    int piv = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    for (int k = 0; k < 5; ++k) std::swap(a[c][k], a[piv][k]);
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      const double q = a[r][c] / a[c][c];
      for (int k = c; k < 5; ++k) a[r][k] -= q * a[c][k];
    }
  }
  double h[4], sum = 0.0;
  for (int n = 0; n < 4; ++n) sum += h[n] = a[n][4] / a[n][n];
  for (int n = 0; n < 4; ++n) w[n] = static_cast<int32_t>(std::lround(h[n] / sum * 1024.0));
}

// A 44.1 kHz member: output k of a cycle sits at input frame
// origin + k x in_cycle / out_cycle from the cycle's first frame.
SrcPlan cycle_plan(int out_rate, int in_rate, int in_block, int out_block, int long_in, int long_out,
                   bool by_output, double origin) {
  const int in_cycle = 39 * in_block + long_in, out_cycle = 39 * out_block + long_out;
  SrcPlan p{out_rate, in_rate, in_block, out_block, long_in, long_out, 40, by_output,
            std::max(out_block, long_out), {}};
  p.taps.resize(size_t(40) * size_t(p.max_out));
  const double band = 2.0 * M_PI * 8700.0 / in_rate;
  for (int j = 0; j < 40; ++j) {
    const int outs = j == 39 ? long_out : out_block;
    for (int m = 0; m < outs; ++m) {
      const int k = j * out_block + m;
      // Exact rational position, kept in integers until the fraction.
      const long num = long(k) * in_cycle;
      const long whole = num / out_cycle;
      const double pos = origin + double(whole) + double(num - whole * out_cycle) / out_cycle - double(j * in_block);
      // Four frames around the position, moved back when the last would
      // pass the look-ahead (then the position falls on the third tap).
      const int consumed = j == 39 ? long_in : in_block;
      const int first = std::min(int(std::floor(pos)) - 1, consumed);
      SrcTap& t = p.taps[size_t(j) * size_t(p.max_out) + size_t(m)];
      t = SrcTap{first, {0, 0, 0, 0, 0}};
      phase_weights(pos - first - 1, band, t.w);
    }
  }
  return p;
}

struct Plans {
  SrcPlan p[6];
  Plans()
      : p{fixed_plan(48000, 32000, 4, k48from32, 6), fixed_plan(32000, 48000, 12, k32from48, 8),
          cycle_plan(44100, 32000, 8, 11, 8, 12, false, 2.0), cycle_plan(32000, 44100, 11, 8, 12, 8, true, 2.0),
          // Frame 2 cannot start these two cycles (their taps would reach past
          // the look-ahead); one output later or earlier keeps the outputs on
          // the exact grid of the input's timing.
          cycle_plan(44100, 48000, 12, 11, 12, 12, false, 2.0 + 480.0 / 441.0),
          cycle_plan(48000, 44100, 11, 12, 12, 12, true, 2.0 - 441.0 / 480.0)} {}
};

template <SrcChannels C>
inline int32_t sample_at(const int16_t* in, int stride, int frame) {
  if constexpr (C == SrcChannels::stereo_to_mono) {
    return (int32_t(in[2 * frame]) + int32_t(in[2 * frame + 1])) / 2;
  } else {
    return in[frame * stride];
  }
}

template <SrcChannels C>
int run_plan(const SrcPlan& plan, int16_t* out, int out_stride, const int16_t* in, int in_stride, int frames, int j0,
             int* consumed) {
  return src_walk_blocks(plan, frames, j0, consumed, [&](int f, const SrcTap& t, int produced) {
    int32_t s = t.w[0] * sample_at<C>(in, in_stride, f) + t.w[1] * sample_at<C>(in, in_stride, f + 1) +
                t.w[2] * sample_at<C>(in, in_stride, f + 2) + t.w[3] * sample_at<C>(in, in_stride, f + 3);
    if (t.w[4]) s += t.w[4] * sample_at<C>(in, in_stride, f + 4);
    const int16_t v = src_round(s);
    if constexpr (C == SrcChannels::mono_to_stereo) {
      out[2 * produced] = out[2 * produced + 1] = v;
    } else {
      out[produced * out_stride] = v;
    }
  });
}

}  // namespace

int src_kernel_stereo_c(const SrcPlan& p, int16_t* o, int, const int16_t* i, int, int f, int j, int* c) {
  run_plan<SrcChannels::same>(p, o, 2, i, 2, f, j, c);
  return run_plan<SrcChannels::same>(p, o + 1, 2, i + 1, 2, f, j, c);
}

namespace {

const SrcDsp kPlain = {{run_plan<SrcChannels::same>, run_plan<SrcChannels::mono_to_stereo>,
                        run_plan<SrcChannels::stereo_to_mono>},
                       src_kernel_stereo_c};

}  // namespace

int src_kernel_c(const SrcPlan& p, int16_t* o, int os, const int16_t* i, int is, int f, int j, int* c) {
  return run_plan<SrcChannels::same>(p, o, os, i, is, f, j, c);
}
int src_kernel_m2s_c(const SrcPlan& p, int16_t* o, int os, const int16_t* i, int is, int f, int j, int* c) {
  return run_plan<SrcChannels::mono_to_stereo>(p, o, os, i, is, f, j, c);
}
int src_kernel_s2m_c(const SrcPlan& p, int16_t* o, int os, const int16_t* i, int is, int f, int j, int* c) {
  return run_plan<SrcChannels::stereo_to_mono>(p, o, os, i, is, f, j, c);
}

const SrcPlan* src_plan(int out_rate, int in_rate) {
  static const Plans plans;
  for (const SrcPlan& p : plans.p)
    if (p.out_rate == out_rate && p.in_rate == in_rate) return &p;
  return nullptr;
}

const SrcDsp* src_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &kPlain;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse2: return &src_dsp_sse2;
#endif
    default: return nullptr;
  }
}

const SrcDsp& src_dsp() {
  static const SrcDsp& d = cpu_pick(src_dsp_for);
  return d;
}
