// Fixed-point polyphase kernels between 32000, 44100 and 48000 Hz.
//
// A member (output rate <- input rate) walks its input in blocks; each
// output is a weighted sum of up to five input frames in units of 1/1024,
// rounded half away from zero and clamped. Members with 44100 Hz on a side
// run a cycle of 40 blocks (39 normal, the last long) that makes the ratio
// exact; their weights put every output at its exact phase.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/cpu.h"

struct SrcTap {
  int32_t base;  // first input frame, from the block's first frame
  int32_t w[5];
};

struct SrcPlan {
  int out_rate, in_rate;
  int in_block, out_block;       // normal block
  int long_in, long_out;         // the 40th block of a cycle
  int cycle;                     // 40, or 1 without a long block
  bool cycle_by_output;          // the cycle position counts outputs (else inputs)
  int max_out;                   // outputs per block in the table
  std::vector<SrcTap> taps;      // cycle x max_out entries
  const SrcTap* block(int j) const { return &taps[size_t(j) * size_t(max_out)]; }
};

// Plan of a pair of different supported rates, null otherwise.
const SrcPlan* src_plan(int out_rate, int in_rate);

enum class SrcChannels : int { same = 0, mono_to_stereo = 1, stereo_to_mono = 2 };

// Runs whole blocks over `frames` input frames starting at cycle block j0.
// same: one channel, input step in_stride, output step out_stride;
// mono_to_stereo: writes both output channels; stereo_to_mono: reduces each
// input frame to (L + R) / 2 first. Returns output frames written and the
// input frames consumed in *consumed.
using SrcKernelFn = int (*)(const SrcPlan& plan, int16_t* out, int out_stride, const int16_t* in, int in_stride,
                            int frames, int j0, int* consumed);

struct SrcDsp {
  SrcKernelFn run[3];  // by SrcChannels
  // Both channels of interleaved stereo in one pass (strides ignored).
  SrcKernelFn stereo;
};

const SrcDsp* src_dsp_for(CpuLevel level);
const SrcDsp& src_dsp();

int src_kernel_c(const SrcPlan& plan, int16_t* out, int out_stride, const int16_t* in, int in_stride, int frames,
                 int j0, int* consumed);
int src_kernel_m2s_c(const SrcPlan& plan, int16_t* out, int out_stride, const int16_t* in, int in_stride, int frames,
                     int j0, int* consumed);
int src_kernel_s2m_c(const SrcPlan& plan, int16_t* out, int out_stride, const int16_t* in, int in_stride, int frames,
                     int j0, int* consumed);

int src_kernel_stereo_c(const SrcPlan& plan, int16_t* out, int out_stride, const int16_t* in, int in_stride,
                        int frames, int j0, int* consumed);

#if TAMSEL_X86_SIMD
extern const SrcDsp src_dsp_sse2;
#endif

// Walks whole blocks over `frames` input frames from cycle block j0 and
// calls output(first frame of the tap, tap, output index) for each output;
// returns the outputs and the frames consumed in *consumed. Every kernel's
// block and cycle bookkeeping.
template <class Output>
inline int src_walk_blocks(const SrcPlan& plan, int frames, int j0, int* consumed, Output&& output) {
  const int blocks = frames / plan.in_block;
  int at = 0, produced = 0, j = j0;
  for (int b = 0; b < blocks; ++b) {
    const bool is_long = plan.cycle == 40 && j == 39;
    const int outs = is_long ? plan.long_out : plan.out_block;
    const SrcTap* taps = plan.block(plan.cycle == 40 ? j : 0);
    for (int m = 0; m < outs; ++m, ++produced) output(at + taps[m].base, taps[m], produced);
    at += is_long ? plan.long_in : plan.in_block;
    if (plan.cycle == 40) j = j == 39 ? 0 : j + 1;
  }
  *consumed = at;
  return produced;
}

// Rounds s / 1024 half away from zero and clamps to 16 bits.
inline int16_t src_round(int32_t s) {
  int32_t v = s >= 0 ? (s + 512) >> 10 : -((-s + 512) >> 10);
  if ((v + 32768) & ~0xFFFF) v = v < 0 ? -32768 : 32767;
  return static_cast<int16_t>(v);
}
